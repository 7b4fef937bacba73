// The CSV writer: one destination recordset per output file. It fixes the
// bytes of every CSV file: UTF-8 with a byte-order mark, CR LF line ends,
// fields quoted (quotes doubled) only when they hold a quote, CR, LF or the
// delimiter, and values in the exact text form of ole_variant.
#pragma once

#include <string>

#include "UDB/udb_db.h"

class csv_file : public udb_recordset {
 public:
  // Creates (or empties) the file and writes the byte-order mark. Raises
  // tk_exception (level 1) naming the path when the file cannot be created.
  csv_file(const tk_wstring& path, const tk_wstring& delimiter);
  // Same, then writes the names of the schema's columns as the first line.
  csv_file(const tk_wstring& path, const tk_wstring& delimiter, const udb_schema& fields);
  // Flushes what is still buffered; a failure is only logged here, callers
  // that need to know call close() first.
  ~csv_file() override;

  csv_file(const csv_file&) = delete;
  csv_file& operator=(const csv_file&) = delete;

  // Writes one line with the record's fields in order. A record whose value
  // cannot be rendered leaves no partial line behind.
  void append_record(const udb_record& record) override;
  // Writes one field (header name or value) with quoting, no delimiter.
  void write_csv_field(std::u16string_view text);
  // Writes everything buffered and closes the file. Raises tk_exception
  // (level 1) when the data cannot be written completely.
  void close();

  bool is_open() const { return m_fd >= 0; }
  const tk_string& path() const { return m_path; }

 private:
  void open_file();
  void write_header(const udb_schema& fields);
  void put_field(const std::string& utf8);
  void end_line() { m_buf.append("\r\n", 2); }
  void flush_buffer();
  [[noreturn]] void raise_write_error(int err);

  tk_string m_path;          // UTF-8, as the file system takes it
  std::string m_delim;       // UTF-8 form of the delimiter
  bool m_special[256] = {};  // bytes that make a field quoted
  std::string m_buf;         // bytes not yet written
  std::string m_scratch;     // text of the field being written, reused
  int m_fd = -1;
};
