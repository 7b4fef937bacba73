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

constexpr int TALVEX_EXIT_FAILURE = 255;  // -1 of the original, as a Linux status

class error_handler : public tk_singleton<error_handler> {
 public:
  error_handler();

  void set_context(const tk_wstring& table);
  // "%s, record #%llu": the table name and the 1-based record number.
  void set_context(const tk_wstring& table, uint64_t record);
  void clear_context() { m_conversion_context.clear(); }

  // Reports e. Returns for level 0; throws error_exit for other levels.
  // outside_loop tells whether the call comes from the outermost handler of
  // the operation (1) or from inside the table and record loops (0).
  void handle(const tk_exception& e, int outside_loop);

  tk_string m_conversion_context;
  bool silent = false;
};

// Console output of the programs: text goes out unchanged (UTF-8).
void console_out(const tk_string& text);
void console_err(const tk_string& text);
