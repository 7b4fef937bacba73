// The trace log. Every message is its own open-append-close of the file, so
// the log survives a crash of the process and can be read while a run goes on;
// nothing is locked, as the two threads of the wizard only ever append.
#include "TK/tk_log.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {

// The program's own path with ".log" added; empty when /proc is unavailable
// (then an enabled log without a name simply fails to open, silently).
std::string default_log_name() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return std::string();
  return std::string(path, static_cast<size_t>(n)) + ".log";
}

void write_time_stamp(FILE* f) {
  time_t now = time(nullptr);
  struct tm local {};
  if (localtime_r(&now, &local) == nullptr) return;
  fprintf(f, "%02d:%02d:%02d ", local.tm_hour, local.tm_min, local.tm_sec);
}

}  // namespace

tk_logger::tk_logger(const char* name, bool enabled, int min_level, bool time_stamps)
    : m_min_level(min_level),
      m_file_name(name != nullptr ? std::string(name) : default_log_name()),
      m_enabled(enabled),
      m_time_stamps(time_stamps) {
  if (m_enabled) truncate();
}

void tk_logger::set_file(const std::string& name) {
  m_file_name = name;
  m_enabled = true;
}

void tk_logger::truncate() {
  // A second run with the same log name starts from an empty file.
  if (FILE* f = fopen(m_file_name.c_str(), "wb")) fclose(f);
  m_truncated = true;
}

bool tk_logger::accepts(int level) {
  if (!m_enabled) return false;
  if (!m_truncated) truncate();
  return level >= m_min_level;
}

void tk_logger::write(int level, const char* text, size_t len) {
  if (!accepts(level)) return;
  FILE* f = fopen(m_file_name.c_str(), "ab");
  if (f == nullptr) return;  // a lost trace line is not worth failing a run
  if (m_time_stamps) write_time_stamp(f);
  if (len > 0 && text != nullptr) fwrite(text, 1, len, f);
  if (m_line_end) fwrite("\r\n", 1, 2, f);
  fclose(f);
}

void tk_logger::write_v(int level, const char* format, va_list args) {
  if (!accepts(level)) return;
  FILE* f = fopen(m_file_name.c_str(), "ab");
  if (f == nullptr) return;
  if (m_time_stamps) write_time_stamp(f);
  vfprintf(f, format, args);
  if (m_line_end) fwrite("\r\n", 1, 2, f);
  fclose(f);
}

void log_message(int level, const char* format, ...) {
  tk_logger* logger = tk_logger::get();
  if (logger == nullptr || !logger->enabled()) return;
  va_list args;
  va_start(args, format);
  logger->write_v(level, format, args);
  va_end(args);
}

bool log_enabled(int level) noexcept {
  tk_logger* logger = tk_logger::get();
  return logger != nullptr && logger->enabled() && level >= logger->m_min_level;
}
