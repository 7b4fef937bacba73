// Error reporting of a conversion: turns a caught tk_exception into the trace
// log and console report, and decides by its level whether the run goes on
// (0), ends (1) or ends as an internal error (2).
#pragma once

#include <cstdint>
#include <string>

#include "TK/tk_exc.h"
#include "TK/tk_singl.h"
#include "TK/tk_utils.h"

// Thrown to end the process with a status once every open object has been
// unwound: CSV files written so far are flushed and closed by their
// destructors on the way out. Deliberately not a std::exception, so that no
// handler of the conversion loop takes it for an error of its own.
struct error_exit {
  int status;
};

// Exit statuses of the console program: every table complete; a partial run
// (records or tables skipped with errors, a listed table not found); a fatal
// error (-1 of the original, as a Linux status).
constexpr int TALVEX_EXIT_SUCCESS = 0;
constexpr int TALVEX_EXIT_PARTIAL = 1;
constexpr int TALVEX_EXIT_FAILURE = 255;

class error_handler : public tk_singleton<error_handler> {
 public:
  error_handler();

  void set_context(const tk_wstring& table);
  // "%s, record #%llu": the table name and the 1-based record number.
  void set_context(const tk_wstring& table, uint64_t record);
  void clear_context() {
    m_conversion_context.clear();
    m_record_context = false;
  }

  // Reports e. Returns for level 0; throws error_exit for other levels.
  // outside_loop tells whether the call comes from the outermost handler of
  // the operation (1) or from inside the table and record loops (0).
  // Every level-0 error is counted here, whoever reports it, so that a run
  // that lost anything never ends as a complete one.
  void handle(const tk_exception& e, int outside_loop);

  // Level-0 errors reported since the last reset_counts(): with a record
  // context (a record skipped), or with a table context or none (a table
  // skipped or cut short).
  uint64_t records_skipped = 0;
  uint64_t tables_skipped = 0;
  // A value that could not be written: its field was left empty and its row
  // kept. Reported like a level-0 error and counted apart.
  void handle_value(const tk_exception& e);
  uint64_t values_failed = 0;
  bool had_errors() const {
    return records_skipped != 0 || tables_skipped != 0 || values_failed != 0;
  }
  void reset_counts() { records_skipped = tables_skipped = values_failed = 0; }

  tk_string m_conversion_context;
  bool silent = false;

 private:
  void report(const tk_exception& e);
  bool m_record_context = false;
};

// Console output of the programs: text goes out unchanged (UTF-8). Standard
// output is flushed after every text, so progress reaches a terminal or pipe
// as it is printed.
void console_out(const tk_string& text);
void console_err(const tk_string& text);
