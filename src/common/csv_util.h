// The CSV writer: one destination recordset per output file. It fixes the
// bytes of every CSV file: UTF-8 with a byte-order mark, records ending in
// CR LF, fields quoted (quotes doubled) only when they hold a quote, CR, LF
// or the delimiter, and values in the exact text form of ole_variant.
//
// The file is written under a temporary name next to its final one (the
// final name followed by csv_temp_suffix) and renamed when the table is
// complete, so an interrupted run never leaves a partial file under a final
// name.
#pragma once

#include <string>

#include "UDB/udb_db.h"

// Appended to a CSV file's name while it is being written.
inline constexpr const char* csv_temp_suffix = ".tmp";

class csv_file : public udb_recordset {
 public:
  // Creates the temporary file and writes the byte-order mark. Raises
  // tk_exception naming the path when the file cannot be created (level 0:
  // the table fails, the run goes on). A path that names an existing device
  // or pipe is written directly.
  csv_file(const tk_wstring& path, const tk_wstring& delimiter);
  // Same, then writes the names of the schema's columns as the first line.
  csv_file(const tk_wstring& path, const tk_wstring& delimiter, const udb_schema& fields);
  // A file that was not closed is removed: it never reaches its final name.
  ~csv_file() override;

  csv_file(const csv_file&) = delete;
  csv_file& operator=(const csv_file&) = delete;

  // Writes one line with the record's fields in order. A record whose value
  // cannot be rendered leaves no partial line behind.
  void append_record(const udb_record& record) override;
  // Writes one field (header name or value) with quoting, no delimiter.
  void write_csv_field(std::u16string_view text);
  // Writes everything buffered, closes the file and gives it its final name
  // (replacing a file of that name). Raises tk_exception when the data
  // cannot be written completely: level 1 when the disk is full, level 0
  // for other failures of this one file; the temporary file is removed then.
  void close();
  // Closes and removes the file without giving it its final name.
  void discard() noexcept;

  bool is_open() const { return m_fd >= 0; }

  // The wizard's way with byte arrays (BLOB, RAW): each value goes to a side
  // file of its own beside the CSV file, named after it and numbered over
  // the whole file in record and field order (emp_1, emp_2, ...; no
  // extension), and the field holds that name. Off: "0x" and hex digits.
  bool blob_side_files = false;
  uint32_t side_file_count() const { return m_side_files; }
  const tk_string& path() const { return m_path; }
  // Where the data is written until close(); the final path when direct.
  const tk_string& write_path() const { return m_temp_path.empty() ? m_path : m_temp_path; }

 private:
  void open_file();
  void write_header(const udb_schema& fields);
  void put_field(std::string_view utf8);
  // True when the field holds a byte (or the delimiter) that makes it quoted.
  bool needs_quotes(std::string_view text) const;
  void end_line() { m_buf.append("\r\n", 2); }
  void flush_buffer();
  [[noreturn]] void raise_write_error(int err);
  void write_side_file(const ole_variant& value);
  tk_string side_file_path(uint32_t n) const;
  void remove_side_files(uint32_t from) noexcept;

  tk_string m_path;          // UTF-8, as the file system takes it
  tk_string m_temp_path;     // empty when the file is written directly
  std::string m_delim;       // UTF-8 form of the delimiter
  bool m_special[256] = {};  // bytes that make a field quoted
  // Numbers and dates never hold the delimiter (nor a quote or line break):
  // they go into the buffer without a scan.
  bool m_plain_safe = false;
  std::string m_buf;      // bytes not yet written
  std::string m_scratch;  // text of the field being written, reused
  int m_fd = -1;
  uint32_t m_side_files = 0;  // side files written for this CSV file
};
