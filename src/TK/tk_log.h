// The trace log: a process-wide append-only text file, off unless the user
// names one. Each message is a separate open, append and close, so what was
// written survives an abrupt end and another process may read along.
//
// Levels: 1 detail, 2 function entry, 3 events a user needs. Both programs keep
// the minimum level at 3. Formatting happens only after the enabled and level
// tests, so a disabled log costs two comparisons.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "TK/tk_singl.h"

class tk_logger : public tk_singleton<tk_logger> {
 public:
  // name may be null: the program's own path with ".log" is used then.
  tk_logger(const char* name, bool enabled, int min_level, bool time_stamps);

  bool enabled() const noexcept { return m_enabled; }
  const std::string& file_name() const noexcept { return m_file_name; }
  void set_file(const std::string& name);  // enables logging, keeps `truncated`

  void write(int level, const char* text, size_t len);
  // The enabled and level tests of a message, in that order; empties the file
  // first when this is the first message written since logging was switched
  // on (a message below the minimum level touches nothing).
  bool accepts(int level);
  // Formats straight into the file (no buffer); what log_message calls.
  void write_v(int level, const char* format, va_list args);

  // Files the log must never be: the program's inputs (the dump, the table
  // list). A log file that is one of them (same device and inode, whatever
  // the name) is neither emptied nor written.
  void protect(const std::string& path);
  bool is_protected(const std::string& path) const;

  // Called once, with a message, when the log file cannot be written (a full
  // disk, a vanished folder); the program goes on without its log.
  using failure_reporter = void (*)(const std::string& message);
  void set_failure_reporter(failure_reporter reporter) { m_reporter = reporter; }
  bool failed() const noexcept { return m_failed; }

  // Public, as the driver resets it after each table. Threads that convert
  // tables at once write messages too: one message at a time goes out.
  std::atomic<int> m_min_level{3};

 private:
  void truncate();
  void report_failure(int err);

  std::mutex m_lock;  // around every write
  std::string m_file_name;
  bool m_line_end = true;
  std::atomic<bool> m_enabled{false};
  bool m_truncated = false;
  bool m_time_stamps = false;
  bool m_failed = false;
  failure_reporter m_reporter = nullptr;
  std::vector<std::pair<uint64_t, uint64_t>> m_protected;  // device, inode
};

// printf-style; text is UTF-8. Wide texts are passed converted (tk_u8()).
void log_message(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Cheap test callers can use to skip building costly arguments.
bool log_enabled(int level) noexcept;
