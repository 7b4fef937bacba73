// The trace log. Every message is its own open-append-close of the file, so
// the log survives a crash of the process and can be read while a run goes on;
// nothing is locked, as the two threads of the wizard only ever append.
#include "TK/tk_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

void tk_logger::protect(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return;
  m_protected.emplace_back(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino));
}

bool tk_logger::is_protected(const std::string& path) const {
  struct stat st {};
  if (m_protected.empty() || ::stat(path.c_str(), &st) != 0) return false;
  for (const auto& [dev, ino] : m_protected)
    if (dev == static_cast<uint64_t>(st.st_dev) && ino == static_cast<uint64_t>(st.st_ino))
      return true;
  return false;
}

void tk_logger::report_failure(int err) {
  if (m_failed) return;
  m_failed = true;
  if (m_reporter != nullptr)
    m_reporter("Cannot write the log file '" + m_file_name + "': " + std::strerror(err) +
               ". The conversion goes on without it.");
}

void tk_logger::truncate() {
  m_truncated = true;
  if (is_protected(m_file_name)) {
    // The log named an input of the run: it is never touched.
    m_enabled = false;
    return;
  }
  // A second run with the same log name starts from an empty file.
  FILE* f = fopen(m_file_name.c_str(), "wb");
  if (f == nullptr) {
    report_failure(errno);
    return;
  }
  if (fclose(f) != 0) report_failure(errno);
}

bool tk_logger::accepts(int level) {
  if (!m_enabled || level < m_min_level) return false;
  if (!m_truncated) truncate();
  return m_enabled;
}

void tk_logger::write(int level, const char* text, size_t len) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (!accepts(level)) return;
  FILE* f = fopen(m_file_name.c_str(), "ab");
  if (f == nullptr) {
    report_failure(errno);  // the run goes on; the user is told once
    return;
  }
  if (m_time_stamps) write_time_stamp(f);
  if (len > 0 && text != nullptr) fwrite(text, 1, len, f);
  if (m_line_end) fwrite("\r\n", 1, 2, f);
  const bool failed = ferror(f) != 0;
  const int err = errno;
  if (fclose(f) != 0 || failed) report_failure(failed ? err : errno);
}

void tk_logger::write_v(int level, const char* format, va_list args) {
  std::lock_guard<std::mutex> lock(m_lock);
  if (!accepts(level)) return;
  FILE* f = fopen(m_file_name.c_str(), "ab");
  if (f == nullptr) {
    report_failure(errno);
    return;
  }
  if (m_time_stamps) write_time_stamp(f);
  vfprintf(f, format, args);
  if (m_line_end) fwrite("\r\n", 1, 2, f);
  const bool failed = ferror(f) != 0;
  const int err = errno;
  if (fclose(f) != 0 || failed) report_failure(failed ? err : errno);
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
