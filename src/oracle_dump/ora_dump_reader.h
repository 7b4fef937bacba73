// Entry point of the dump reader: opens an Oracle export dump, recognises the
// classic (exp) or Data Pump (expdp) format, reads its header, finds its tables
// and returns the dump database the conversion driver reads from.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "TK/tk_singl.h"
#include "TK/tk_utils.h"
#include "oracle_dump/ora_charset.h"

class ora_dump_file;
class ora_dump_stream;

class ora_dump_reader : public tk_singleton<ora_dump_reader> {
 public:
  ora_dump_reader();
  ~ora_dump_reader();

  // Opens the dump and scans its catalogue. Returns the new dump database,
  // owned by the caller. Raises tk_exception (level 1) when the file cannot be
  // read as a dump or is refused (non-leading part, compressed, encrypted).
  std::unique_ptr<ora_dump_file> open(const tk_wstring& path);
  // Same, over a stream the caller opened (a dump in memory); `path` names
  // the dump in messages and the catalogue.
  std::unique_ptr<ora_dump_file> open(const tk_wstring& path,
                                      std::shared_ptr<ora_dump_stream> stream);

  void set_progress(int64_t position, int64_t size);
  void set_local_progress(int64_t start, int64_t end, int64_t current);
  // Where the Data Pump scan's last search stopped (its progress).
  void set_cur_pos(int64_t pos) {
    std::lock_guard<std::mutex> lock(m_cs_progress);
    m_ui_cur_pos = pos;
  }
  void set_progress_value(int value) {
    std::lock_guard<std::mutex> lock(m_cs_progress);
    m_ui_progress = value;
  }
  int get_progress() const;
  int get_local_progress() const;

  const ora_charsets& charsets() const { return m_charsets; }
  ora_charsets& charsets() { return m_charsets; }

  int64_t m_dump_size = 0;
  bool m_b_first_part = false;
  bool m_datapump = false;
  // Qualify classic table names with the user of the last CONNECT statement.
  bool m_b_qualify_names = false;

 private:
  std::unique_ptr<ora_dump_file> open_classic(const tk_wstring& path,
                                              std::shared_ptr<ora_dump_stream> stream, int version,
                                              const tk_string& version_word);
  std::unique_ptr<ora_dump_file> open_datapump(const tk_wstring& path,
                                               std::shared_ptr<ora_dump_stream> stream);

  mutable std::mutex m_cs_progress;
  mutable std::mutex m_cs_local_progress;
  int m_ui_progress = 0;
  int64_t m_ui_cur_pos = 0;
  int m_local_progress = 0;
  ora_charsets m_charsets;
};
