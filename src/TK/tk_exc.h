// The exception family every failure of the system travels in.
//
// A tk_exception carries its message text, the system error code (0 when
// none), a level that tells the error handler how grave it is (0 recoverable:
// the record or table is skipped; 1 fatal for the run; 2 internal error), and,
// when a dump went wrong, the byte offset where it happened.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

class tk_exception : public std::exception {
 public:
  explicit tk_exception(int level = 0);
  tk_exception(std::string text, int level);
  tk_exception(const std::u16string& text, int level);

  const char* what() const noexcept override { return m_text.c_str(); }
  const std::string& text() const noexcept { return m_text; }
  int level() const noexcept { return m_level; }
  uint32_t code() const noexcept { return m_code; }
  // Byte offset in the dump where the failure was found, -1 when unknown.
  int64_t offset() const noexcept { return m_offset; }

 protected:
  std::string m_text;
  uint32_t m_code = 0;
  int m_level = 0;
  int64_t m_offset = -1;

  friend tk_exception dump_error(const std::string&, int64_t, int);
};

// A failure of the operating system: the text is the prefix followed by the
// system's message for the last error (errno), and the code keeps errno.
class tk_exception_ex : public tk_exception {
 public:
  tk_exception_ex();
  explicit tk_exception_ex(const std::string& prefix, int level = 1);
  tk_exception_ex(const std::string& prefix, int level, int err);
};

// An internal consistency check failed; always level 2.
class tk_mail_assertion : public tk_exception {
 public:
  tk_mail_assertion(const char* file, int line);
};

// Builds "Internal error: \ncode=" followed by the hex-encoded "file\line".
std::string make_err_meggase(const char* file, int line);

class ole_cast_exception : public tk_exception {
 public:
  ole_cast_exception();
};

class ole_type_exception : public tk_exception {
 public:
  ole_type_exception();
};

// Ends a conversion without further reporting (wizard program).
class tk_final_exception : public std::exception {
 public:
  tk_final_exception();
  const char* what() const noexcept override { return "tk_final_exception"; }
};

// A damaged or truncated dump: the message gets " (offset N)" appended so
// every report names the byte where reading went wrong.
tk_exception dump_error(const std::string& text, int64_t offset, int level = 0);

#define TK_ASSERT(cond)                                       \
  do {                                                        \
    if (!(cond)) throw tk_mail_assertion(__FILE__, __LINE__); \
  } while (0)
