// The exception family: message texts, system error capture (errno and its
// strerror text) and the encoded source location of internal errors.
#include "TK/tk_exc.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "TK/tk_log.h"
#include "TK/tk_utils.h"

namespace {

const char k_unknown[] = "Unknown exception";

}  // namespace

tk_exception::tk_exception(int level) : m_text(k_unknown), m_level(level) {}

tk_exception::tk_exception(std::string text, int level) : m_text(std::move(text)), m_level(level) {
  if (m_text.empty()) m_text = k_unknown;
}

tk_exception::tk_exception(const std::u16string& text, int level)
    : m_text(tk_ucs2_to_utf8(text)), m_level(level) {
  if (m_text.empty()) m_text = k_unknown;
}

tk_exception_ex::tk_exception_ex() : tk_exception_ex(std::string(), 1, errno) {}

tk_exception_ex::tk_exception_ex(const std::string& prefix, int level)
    : tk_exception_ex(prefix, level, errno) {}

tk_exception_ex::tk_exception_ex(const std::string& prefix, int level, int err)
    : tk_exception(level) {
  m_code = static_cast<uint32_t>(err);
  // errno 0 has no message worth showing ("Success" would read as a lie).
  if (err == 0) {
    if (!prefix.empty()) m_text = prefix + k_unknown;
    return;
  }
  char buffer[256];
  // GNU strerror_r: returns the message, which may or may not live in buffer.
  const char* message = strerror_r(err, buffer, sizeof buffer);
  if (message == nullptr || *message == '\0') return;
  log_message(2, "GetLastError: %s", message);
  m_text = prefix + message;
}

std::string make_err_meggase(const char* file, int line) {
  log_message(2, "make_err_meggase(%s, %d)", file ? file : "", line);
  std::string location = tk_format("%s\\%d", file ? file : "", line);
  log_message(2, "result=%s", location.c_str());
  static const char k_digits[] = "0123456789abcdef";
  std::string text = "Internal error: \ncode=";
  text.reserve(text.size() + 2 * location.size());
  for (unsigned char c : location) {
    text += k_digits[c >> 4];
    text += k_digits[c & 0x0F];
  }
  return text;
}

tk_mail_assertion::tk_mail_assertion(const char* file, int line)
    : tk_exception(make_err_meggase(file, line), 2) {
  log_message(2, "tk_mail_assertion::ctor(%s)", file ? file : "");
}

ole_cast_exception::ole_cast_exception()
    : tk_exception("Cannot cast from source type to destination type", 0) {}

ole_type_exception::ole_type_exception()
    : tk_exception("The operating type is not supported yet", 1) {}

tk_final_exception::tk_final_exception() { log_message(2, "tk_final_exception::ctor"); }

tk_exception dump_error(const std::string& text, int64_t offset, int level) {
  tk_exception e(text + " (offset " + std::to_string(offset) + ")", level);
  e.m_offset = offset;
  return e;
}
