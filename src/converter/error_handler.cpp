// Error reporting of the console program.
#include "converter/error_handler.h"

#include <cstdio>

#include "TK/tk_log.h"

void console_out(const tk_string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void console_err(const tk_string& text) {
  // Keep the order of the two streams on a shared terminal or pipe.
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
}

error_handler::error_handler() { log_message(2, "error_handler::empty ctor"); }

void error_handler::set_context(const tk_wstring& table) {
  m_conversion_context = tk_u8(table);
  m_record_context = false;
}

void error_handler::set_context(const tk_wstring& table, uint64_t record) {
  m_conversion_context =
      tk_u8(table) + tk_format(", record #%llu", static_cast<unsigned long long>(record));
  m_record_context = true;
}

void error_handler::handle(const tk_exception& e, int outside_loop) {
  log_message(2, "error_handler::handle");
  (void)outside_loop;  // only the wizard's dialogs tell the two apart
  if (e.level() == 2) {
    log_message(3, "Internal error:\n%s", e.text().c_str());
    console_out("Internal error: " + e.text() + "\n");
    std::fflush(stdout);
    throw error_exit{TALVEX_EXIT_FAILURE};
  }
  report(e);
  if (e.level() == 0) {
    log_message(1, "Got 0-level error");
    if (m_record_context)
      ++records_skipped;
    else
      ++tables_skipped;
    return;
  }
  log_message(1, "Got 1-level error");
  std::fflush(stdout);
  throw error_exit{TALVEX_EXIT_FAILURE};
}

void error_handler::handle_value(const tk_exception& e) {
  log_message(2, "error_handler::handle_value");
  report(e);
  ++values_failed;
}

void error_handler::report(const tk_exception& e) {
  tk_string message =
      m_conversion_context.empty() ? e.text() : m_conversion_context + ": " + e.text();
  log_message(3, "Error:\n%s", message.c_str());
  // One console line per error; the log keeps the line feeds.
  for (char& c : message)
    if (c == '\n') c = ' ';
  if (!silent) console_out("Error:\n" + message + "\n");
}
