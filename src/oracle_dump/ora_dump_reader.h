// Entry point of the dump reader: opens an Oracle export dump, recognises the
// classic (exp) or Data Pump (expdp) format, reads its header, finds its tables
// and returns the dump database the conversion driver reads from.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "TK/tk_singl.h"
#include "TK/tk_threa.h"
#include "TK/tk_utils.h"
#include "oracle_dump/ora_charset.h"
#include "oracle_dump/ora_dump_file.h"

class ora_dump_set;
class ora_dump_stream;

class ora_dump_reader : public tk_singleton<ora_dump_reader> {
 public:
  ora_dump_reader();
  ~ora_dump_reader();

  // Opens the dump and scans its catalogue. Returns the new dump database,
  // owned by the caller. Raises tk_exception (level 1) when the file cannot be
  // read as a dump or is refused (non-leading part, compressed, encrypted,
  // parts of a multi-file dump missing).
  std::unique_ptr<ora_dump_file> open(const tk_wstring& path);
  // The same for a dump given as several files: the first is the dump (or
  // the first part of a multi-file dump), the others further parts. Names
  // with %U or %L stand for the files they match. The first part of a
  // multi-file dump finds the other parts beside it by their numbering (and,
  // in Data Pump, by the names its master table records).
  std::unique_ptr<ora_dump_file> open(const std::vector<tk_wstring>& paths);
  // Opens the dump over a stream built by the caller (in-memory dumps);
  // path names it in the catalogue.
  std::unique_ptr<ora_dump_file> open_stream(const tk_wstring& path,
                                             std::shared_ptr<ora_dump_stream> stream);

  // The scans report their position here, between two statements or
  // metadata blocks; that is also where a cancelled reading stops
  // (tk_final_exception).
  void set_progress(int64_t position, int64_t size);
  void set_local_progress(int64_t start, int64_t end, int64_t current);
  // Where the Data Pump scan's last search stopped (its progress).
  void set_cur_pos(int64_t pos) {
    check_cancel();
    // Copied: the wizard reads the progress from its own thread while the
    // opening writes m_dump_size. The size first, so that a reader never
    // sees a position without it.
    m_ui_cur_size = m_dump_size;
    m_ui_cur_pos = pos;
  }
  // Asks an opening going on in another thread to stop (the wizard's
  // Cancel); cleared by the caller before the next opening.
  void request_cancel() { m_b_cancel.store(true, std::memory_order_relaxed); }
  void clear_cancel() { m_b_cancel.store(false, std::memory_order_relaxed); }
  bool cancel_requested() const { return m_b_cancel.load(std::memory_order_relaxed); }
  void set_progress_value(int value) { m_ui_progress = value; }
  int get_progress() const;
  int get_local_progress() const;

  const ora_charsets& charsets() const { return m_charsets; }
  ora_charsets& charsets() { return m_charsets; }

  int64_t m_dump_size = 0;
  // Only the first part of a multi-file dump is converted (the others are
  // missing and m_b_allow_partial let it go on).
  bool m_b_first_part = false;
  // Convert a multi-file dump of which parts are missing: what they hold is
  // left out and each missing part is named in m_missing_parts.
  bool m_b_allow_partial = false;
  // After open: the files read as the dump, and the missing parts of a
  // multi-file dump ("part 3 'exp03.dmp'").
  std::vector<tk_string> m_part_paths;
  std::vector<tk_string> m_missing_parts;
  bool m_datapump = false;
  // Qualify classic table names with the user of the last CONNECT statement.
  bool m_b_qualify_names = false;
  // Take the catalogue from the dump's context cache file when it has a
  // usable one, and write it when the database is destroyed. The cache is
  // used only together with qualified names, the converter's naming.
  bool m_b_use_cache = true;
  // Tables opened from now on write spatial values as EWKT (with the SRID).
  bool m_b_ewkt = false;

 private:
  std::unique_ptr<ora_dump_file> open_set(const tk_wstring& path, ora_dump_set& set, int round);
  void check_master_files(ora_dump_file& db, ora_dump_set& set);
  std::unique_ptr<ora_dump_file> open_classic(const tk_wstring& path,
                                              std::shared_ptr<ora_dump_stream> stream, int version,
                                              const tk_string& version_word);
  std::unique_ptr<ora_dump_file> open_datapump(const tk_wstring& path,
                                               std::shared_ptr<ora_dump_stream> stream);
  void scan_classic(ora_dump_stream& s, ora_dump_file::context& ctx);

  void check_cancel() const {
    if (cancel_requested()) throw tk_final_exception();
  }

  std::atomic<bool> m_b_cancel{false};
  // Progress, read by the wizard's UI thread while the opening or the
  // conversion writes it: each value whole, no lock on the hot paths.
  tk_relaxed<int> m_ui_progress{0};
  tk_relaxed<int64_t> m_ui_cur_pos{0};
  tk_relaxed<int64_t> m_ui_cur_size{0};  // 0 until the Data Pump scan reports a position
  tk_relaxed<int> m_local_progress{0};
  ora_charsets m_charsets;
};
