// Start and end lines of a conversion run in the trace log.
#include "converter/init_conversion.h"

#include <ctime>

#include "TK/tk_log.h"

namespace {

// Day/month/year, local time.
void init_conversion_log_time(bool started) {
  if (!log_enabled(3)) return;
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  if (started)
    log_message(3, "Conversion started on %02d/%02d/%04d at %02d:%02d:%02d", t.tm_mday,
                t.tm_mon + 1, t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  else
    log_message(3, "Conversion ended on %02d/%02d/%04d at %02d:%02d:%02d", t.tm_mday, t.tm_mon + 1,
                t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
}

}  // namespace

init_conversion::init_conversion(bool* finished, bool leave_com)
    : m_finished(finished), m_leave_com(leave_com) {
  log_message(2, "init_conversion::ctor");
  init_conversion_log_time(true);
}

init_conversion::~init_conversion() {
  log_message(2, "init_conversion::dtor");
  (void)m_leave_com;
  try {
    init_conversion_log_time(false);
  } catch (...) {
    // A destructor that runs during unwinding must not throw.
  }
  if (m_finished != nullptr) *m_finished = true;
}
