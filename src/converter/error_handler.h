// Error reporting of a conversion: turns a caught tk_exception into the trace
// log and console report, and decides by its level whether the run goes on
// (0), ends (1) or ends as an internal error (2).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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

// The desktop wizard's side of a run: its log panel and its error dialogs.
// The functions are called on the thread that runs the conversion; the
// wizard hands each to its user-interface thread (and waits for the answer
// of a dialog there). The console program has none.
class talvex_front_end {
 public:
  virtual ~talvex_front_end() = default;
  // A progress text of the run ("Reading file '...'").
  virtual void write_log(const tk_string& text) = 0;
  struct answer {
    bool abort = false;    // level 0: the user chose to stop the run
    bool silence = false;  // do not show error dialogs again in this process
  };
  // One error of the run, its context in front. quiet: the user asked for no
  // more dialogs; the error is still to be listed.
  virtual answer show_error(const tk_string& message, int level, bool quiet) = 0;
  // An internal error: the run and the program end after it.
  virtual void internal_error(const tk_string& message) = 0;
};

class error_handler : public tk_singleton<error_handler> {
 public:
  error_handler();

  // The context is the calling thread's: tables converted on several
  // threads report their errors each with its own.
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
  std::atomic<uint64_t> records_skipped{0};
  std::atomic<uint64_t> tables_skipped{0};
  // A value that could not be written: its field was left empty and its row
  // kept. Reported like a level-0 error and counted apart.
  void handle_value(const tk_exception& e);
  std::atomic<uint64_t> values_failed{0};
  bool had_errors() const {
    return records_skipped != 0 || tables_skipped != 0 || values_failed != 0;
  }
  void reset_counts() { records_skipped = tables_skipped = values_failed = 0; }

  static inline thread_local tk_string m_conversion_context;
  bool silent = false;
  // The wizard's dialogs and log panel; null in the console program.
  talvex_front_end* front_end = nullptr;

 private:
  // Logs the error; returns its message with the context and blanks for
  // line feeds.
  tk_string report(const tk_exception& e);
  // Shows a level-0 error in the wizard; raises tk_final_exception when the
  // user aborts a run inside its loops.
  void ask_front_end(const tk_string& message, int outside_loop);
  static inline thread_local bool m_record_context = false;
};

// Console output of the programs: text goes out unchanged (UTF-8). Standard
// output is flushed after every text, so progress reaches a terminal or pipe
// as it is printed.
void console_out(const tk_string& text);
void console_err(const tk_string& text);
// A progress text for the wizard's log panel; nothing in the console program.
void front_end_log(const tk_string& text);

// Console text of a table converted on a worker thread, kept until the
// tables before it are done, so that the lines come out in table order.
// While a thread has one installed, console_out and console_err of that
// thread append to it.
class console_capture {
 public:
  void add(bool error_stream, const tk_string& text);
  // Writes what was captured, in order, to the console.
  void replay() const;
  bool empty() const { return m_parts.empty(); }

 private:
  std::vector<std::pair<bool, tk_string>> m_parts;
};
// Installs the capture for the calling thread (nullptr: the console again).
void console_capture_install(console_capture* capture);
