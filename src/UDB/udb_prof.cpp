// Settings profiles: reading and writing the sectioned key=value text file.
#include "UDB/udb_prof.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utf8cpp/utf8.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>

#include "TK/tk_exc.h"
#include "TK/tk_fname.h"
#include "TK/tk_log.h"

namespace {

const udb_profile::entry_list k_no_entries;
const std::vector<tk_wstring> k_no_lines;

bool has_line_break_or_zero(std::u16string_view text, const char** why) {
  for (char16_t c : text) {
    if (c == u'\r' || c == u'\n') {
      *why = "it contains a line break";
      return true;
    }
    if (c == 0) {
      *why = "it contains a zero character";
      return true;
    }
  }
  return false;
}

bool has_unpaired_surrogate(std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 0xD800 || c > 0xDFFF) continue;
    if (c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;
      continue;
    }
    return true;
  }
  return false;
}

// Why text cannot be written into a profile line at all, nullptr when it can.
const char* text_complaint(std::u16string_view text) {
  const char* why = nullptr;
  if (has_line_break_or_zero(text, &why)) return why;
  if (has_unpaired_surrogate(text)) return "it is not valid UTF-16 text";
  return nullptr;
}

// A key is read back trimmed and up to the first "=", and a line that begins
// with "[" is a section header.
const char* key_complaint(std::u16string_view key) {
  if (const char* why = text_complaint(key)) return why;
  if (key.find(u'=') != std::u16string_view::npos) return "it contains '='";
  if (!key.empty() && (key.front() == u' ' || key.back() == u' '))
    return "it begins or ends with a blank";
  if (!key.empty() && key.front() == u'[') return "it begins with '['";
  return nullptr;
}

// The whole line is trimmed when read, so a value loses blanks at its end.
const char* value_complaint(std::u16string_view value) {
  if (const char* why = text_complaint(value)) return why;
  if (!value.empty() && value.back() == u' ') return "it ends with a blank";
  return nullptr;
}

[[noreturn]] void cannot_store(const tk_wstring& section, const tk_wstring& what, const char* why) {
  throw tk_exception(tk_format("Cannot store '%s' in section [%s] of a profile: %s",
                               tk_u8(what).c_str(), tk_u8(section).c_str(), why),
                     1);
}

void check_line_length(const std::string& line, const tk_wstring& section, const tk_wstring& what) {
  if (line.size() > udb_profile::max_line_bytes)
    cannot_store(
        section, what,
        tk_format("its line would be longer than %zu bytes", udb_profile::max_line_bytes).c_str());
}

// Whether an existing file may be replaced by a profile: it is empty or its
// first non-blank character opens a section header.
bool looks_like_profile(const tk_string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f) throw tk_exception_ex("Cannot read '" + path + "': ", 1);
  char buffer[4096];
  const size_t n = std::fread(buffer, 1, sizeof buffer, f.get());
  for (size_t i = 0; i < n; ++i) {
    const char c = buffer[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    return c == '[';
  }
  return true;
}

void write_all(int fd, const std::string& text, const tk_string& path) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw tk_exception_ex("Cannot write profile '" + path + "': ", 1);
    }
    done += static_cast<size_t>(n);
  }
}

}  // namespace

// ---- reading -------------------------------------------------------------------

// Splits the bytes into lines as they arrive, so that a huge line or a file
// that is no profile is refused at its first bad line without reading on.
class udb_profile::reader {
 public:
  explicit reader(udb_profile& profile) : m_profile(profile) {}

  void feed(const char* data, size_t n) {
    while (n > 0) {
      const char* lf = static_cast<const char*>(std::memchr(data, '\n', n));
      const size_t take = lf != nullptr ? static_cast<size_t>(lf - data) : n;
      // One byte more than a line may hold, for the CR of a CR LF end.
      if (m_pending.size() + take > max_line_bytes + 1) too_long(m_line + 1);
      m_pending.append(data, take);
      if (lf == nullptr) return;
      line();
      data += take + 1;
      n -= take + 1;
    }
  }

  void finish() {
    if (!m_pending.empty()) line();
    if (!m_in_section) throw tk_exception("Profile '" + m_profile.m_file_name + "' is empty", 1);
  }

 private:
  [[noreturn]] void fail(int64_t line, const char* what) const {
    throw tk_exception(m_profile.where(line) + ": " + what, 1);
  }
  [[noreturn]] void too_long(int64_t line) const {
    fail(line, tk_format("the line is longer than %zu bytes", max_line_bytes).c_str());
  }

  void line() {
    ++m_line;
    std::string_view bytes = m_pending;
    if (!bytes.empty() && bytes.back() == '\r') bytes.remove_suffix(1);
    if (bytes.size() > max_line_bytes) too_long(m_line);
    if (m_line == 1) {
      if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        fail(1, "the file begins with a byte-order mark; a profile is UTF-8 text without one");
      if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")
        fail(1, "the file is UTF-16 text; a profile is UTF-8 text");
    }
    if (bytes.find('\0') != std::string_view::npos)
      fail(m_line, "zero byte; this is not a text file");
    if (bytes.find('\r') != std::string_view::npos) fail(m_line, "carriage return inside the line");
    if (utf8::find_invalid(bytes.begin(), bytes.end()) != bytes.end())
      fail(m_line, "not UTF-8 text");
    tk_wstring text;
    text.reserve(bytes.size());
    utf8::unchecked::utf8to16(bytes.begin(), bytes.end(), std::back_inserter(text));
    m_pending.clear();

    const tk_wstring trimmed = tk_trim(text);
    if (trimmed.empty()) return;
    if (trimmed.front() == u'[') {
      if (trimmed.size() < 2 || trimmed.back() != u']') fail(m_line, "section header without ']'");
      m_section = trimmed.substr(1, trimmed.size() - 2);
      m_profile.m_sections[m_section];
      m_profile.m_header_lines.emplace(m_section, m_line);
      m_in_section = true;
      return;
    }
    if (!m_in_section) fail(m_line, "text before the first section header");
    entry e;
    e.line = m_line;
    const size_t eq = trimmed.find(u'=');
    if (eq != tk_wstring::npos) {
      e.key = tk_trim(std::u16string_view(trimmed).substr(0, eq));
      e.value = trimmed.substr(eq + 1);
    } else {
      e.key = trimmed;
      e.plain = true;
      m_profile.m_plain_lines[m_section].push_back(std::move(text));
    }
    m_profile.m_sections[m_section].push_back(std::move(e));
  }

  udb_profile& m_profile;
  std::string m_pending;
  int64_t m_line = 0;
  bool m_in_section = false;
  tk_wstring m_section;
};

udb_profile::udb_profile() {
  m_sections[available_queries];
  m_sections[selected_tables];
  m_sections[selected_views];
  m_sections[generic_settings];
}

bool udb_profile::load(const tk_wstring& path) {
  const tk_string name = tk_ucs2_to_ansi(path);
  log_message(2, "udb_profile::load(%s)", name.c_str());
  if (!tk_is_file_exist1(name, 0x4000))
    throw tk_exception("Profile does not exist. Please verify the correct path/name was given.", 1);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(name.c_str(), "rb"), &std::fclose);
  if (!f) throw tk_exception_ex("Cannot read profile '" + name + "': ", 1);
  m_file_name = name;
  reader r(*this);
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0) r.feed(buffer, n);
  if (std::ferror(f.get())) throw tk_exception_ex("Cannot read profile '" + name + "': ", 1);
  r.finish();
  return true;
}

void udb_profile::read(std::string_view bytes, const tk_string& name) {
  m_file_name = name;
  reader r(*this);
  r.feed(bytes.data(), bytes.size());
  r.finish();
}

// ---- writing -------------------------------------------------------------------

std::string udb_profile::to_text() const {
  std::string text;
  std::string line;
  for (const auto& [section, entries] : m_sections) {
    if (const char* why = text_complaint(section))
      cannot_store(section, u"[" + section + u"]", why);
    line = "[";
    tk_append_utf8(line, section);
    line += ']';
    check_line_length(line, section, u"[" + section + u"]");
    text += line;
    text += "\r\n";
    const bool tables = section == selected_tables;
    for (const entry& e : entries) {
      // An empty key alone would make an empty line, which is skipped.
      const bool alone = e.value.empty() && !e.key.empty() && (tables || e.plain);
      if (const char* why = key_complaint(e.key)) cannot_store(section, e.key, why);
      if (const char* why = value_complaint(e.value))
        cannot_store(section, e.key + u"=" + e.value, why);
      line.clear();
      tk_append_utf8(line, e.key);
      if (!alone) {
        line += '=';
        tk_append_utf8(line, e.value);
      }
      check_line_length(line, section, e.key);
      text += line;
      text += "\r\n";
    }
    text += "\r\n";
  }
  // Lines read without "=" are entries of their sections as well and were
  // written with them above; writing them again would double them.
  return text;
}

bool udb_profile::store(const tk_wstring& path) const {
  const tk_string name = tk_ucs2_to_ansi(path);
  log_message(2, "udb_profile::store) %s", name.c_str());
  const std::string text = to_text();
  if (name.empty()) throw tk_exception("Cannot write a profile without a file name", 1);

  // A link is written through, so that the link stays.
  tk_string target = name;
  struct stat st {};
  if (::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(name.c_str(), resolved) != nullptr) target = resolved;
  }
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode))
    throw tk_exception("Cannot write profile '" + name + "': it is a folder", 1);
  if (exists && S_ISREG(st.st_mode) && st.st_size > 0 && !looks_like_profile(target))
    throw tk_exception("'" + name + "' exists and is not a settings profile; it was left unchanged",
                       1);

  if (exists && !S_ISREG(st.st_mode)) {
    // A device or a pipe (/dev/stdout) takes the text as it is.
    const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) throw tk_exception_ex("Cannot write profile '" + name + "': ", 1);
    try {
      write_all(fd, text, name);
    } catch (...) {
      ::close(fd);
      throw;
    }
    if (::close(fd) != 0) throw tk_exception_ex("Cannot write profile '" + name + "': ", 1);
    return true;
  }

  // The new text goes into a fresh file beside the profile, which then takes
  // the profile's place in one step.
  static std::atomic<unsigned> counter{0};
  const tk_file_name parts(target);
  tk_string temp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temp = parts.get_drivepath() + "." + parts.fname + parts.ext +
           tk_format(".%ld.%u.tmp", static_cast<long>(::getpid()), counter++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) throw tk_exception_ex("Cannot write profile '" + name + "': ", 1);
  try {
    if (exists) ::fchmod(fd, st.st_mode & 07777);
    write_all(fd, text, name);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) throw tk_exception_ex("Cannot write profile '" + name + "': ", 1);
    if (::rename(temp.c_str(), target.c_str()) != 0)
      throw tk_exception_ex("Cannot write profile '" + name + "': ", 1);
  } catch (...) {
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    throw;
  }
  return true;
}

// ---- access --------------------------------------------------------------------

const udb_profile::entry* udb_profile::find(const tk_wstring& section,
                                            const tk_wstring& key) const {
  auto it = m_sections.find(section);
  if (it == m_sections.end()) return nullptr;
  for (const entry& e : it->second)
    if (e.key == key) return &e;
  return nullptr;
}

tk_wstring udb_profile::get_value(const tk_wstring& section, const tk_wstring& key) const {
  const entry* e = find(section, key);
  return e != nullptr ? e->value : tk_wstring();
}

void udb_profile::set_value(const tk_wstring& section, const tk_wstring& key,
                            const tk_wstring& value) {
  entry e;
  e.key = key;
  e.value = value;
  m_sections[section].push_back(std::move(e));
}

const udb_profile::entry_list& udb_profile::get_section(const tk_wstring& name) const {
  auto it = m_sections.find(name);
  return it != m_sections.end() ? it->second : k_no_entries;
}

const std::vector<tk_wstring>& udb_profile::get_plain_lines(const tk_wstring& section) const {
  auto it = m_plain_lines.find(section);
  return it != m_plain_lines.end() ? it->second : k_no_lines;
}

int64_t udb_profile::section_line(const tk_wstring& name) const {
  auto it = m_header_lines.find(name);
  return it != m_header_lines.end() ? it->second : 0;
}

tk_string udb_profile::where(int64_t line) const {
  return tk_format("Profile '%s', line %lld", m_file_name.c_str(), static_cast<long long>(line));
}
