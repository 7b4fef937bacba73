// Error reporting of the console program.
#include "converter/error_handler.h"

#include <cstdio>

#include "TK/tk_log.h"

namespace {
thread_local console_capture* t_capture = nullptr;
}  // namespace

void console_capture::add(bool error_stream, const tk_string& text) {
  if (!m_parts.empty() && m_parts.back().first == error_stream)
    m_parts.back().second += text;
  else
    m_parts.emplace_back(error_stream, text);
}

void console_capture::replay() const {
  for (const auto& [error_stream, text] : m_parts) {
    if (error_stream)
      console_err(text);
    else
      console_out(text);
  }
}

void console_capture_install(console_capture* capture) { t_capture = capture; }

void console_out(const tk_string& text) {
  if (t_capture != nullptr) {
    t_capture->add(false, text);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void console_err(const tk_string& text) {
  if (t_capture != nullptr) {
    t_capture->add(true, text);
    return;
  }
  // Keep the order of the two streams on a shared terminal or pipe.
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
}

void front_end_log(const tk_string& text) {
  const error_handler* handler = error_handler::get();
  if (handler != nullptr && handler->front_end != nullptr) handler->front_end->write_log(text);
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
  if (e.level() == 2) {
    log_message(3, "Internal error:\n%s", e.text().c_str());
    if (front_end != nullptr) {
      front_end->internal_error(e.text());
    } else {
      console_out("Internal error: " + e.text() + "\n");
      std::fflush(stdout);
    }
    throw error_exit{TALVEX_EXIT_FAILURE};
  }
  const tk_string message = report(e);
  if (e.level() == 0) {
    log_message(1, "Got 0-level error");
    if (m_record_context)
      ++records_skipped;
    else
      ++tables_skipped;
    ask_front_end(message, outside_loop);
    return;
  }
  log_message(1, "Got 1-level error");
  // The wizard shows the error and ends the run, not the program: the files
  // written so far stay and its finish page lists the error.
  if (front_end != nullptr) silent = front_end->show_error(message, 1, silent).silence || silent;
  std::fflush(stdout);
  throw error_exit{TALVEX_EXIT_FAILURE};
}

void error_handler::handle_value(const tk_exception& e) {
  log_message(2, "error_handler::handle_value");
  const tk_string message = report(e);
  ++values_failed;
  ask_front_end(message, 0);
}

void error_handler::ask_front_end(const tk_string& message, int outside_loop) {
  if (front_end == nullptr) return;
  const talvex_front_end::answer a = front_end->show_error(message, 0, silent);
  if (a.silence) silent = true;
  if (a.abort && outside_loop == 0) throw tk_final_exception();
}

tk_string error_handler::report(const tk_exception& e) {
  tk_string message =
      m_conversion_context.empty() ? e.text() : m_conversion_context + ": " + e.text();
  log_message(3, "Error:\n%s", message.c_str());
  // One console line per error; the log keeps the line feeds.
  for (char& c : message)
    if (c == '\n') c = ' ';
  if (!silent && front_end == nullptr) console_out("Error:\n" + message + "\n");
  return message;
}
