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
  const tk_string& path() const { return m_path; }
  // Where the data is written until close(); the final path when direct.
  const tk_string& write_path() const { return m_temp_path.empty() ? m_path : m_temp_path; }

 private:
  void open_file();
  void write_header(const udb_schema& fields);
  void put_field(const std::string& utf8);
  void end_line() { m_buf.append("\r\n", 2); }
  void flush_buffer();
  [[noreturn]] void raise_write_error(int err);

  tk_string m_path;          // UTF-8, as the file system takes it
  tk_string m_temp_path;     // empty when the file is written directly
  std::string m_delim;       // UTF-8 form of the delimiter
  bool m_special[256] = {};  // bytes that make a field quoted
  std::string m_buf;         // bytes not yet written
  std::string m_scratch;     // text of the field being written, reused
  int m_fd = -1;
};
