// The CSV writer.
//
// Output is collected in a large buffer and written with write(2) when the
// buffer fills and when the file is closed: converting a table is one long
// sequential write, and flushing every line would cost a system call per row.
// Every write is checked, so a full disk or a device error ends the run with
// a message instead of leaving a silently short file behind.
#include "common/csv_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"

namespace {
constexpr size_t csv_buffer_size = 1u << 20;

// A full disk (or quota) stops every later table too: the run ends. Any other
// failure belongs to this one file.
int csv_write_error_level(int err) { return err == ENOSPC || err == EDQUOT ? 1 : 0; }
}  // namespace

csv_file::csv_file(const tk_wstring& path, const tk_wstring& delimiter)
    : udb_recordset(path), m_path(tk_u8(path)), m_delim(tk_u8(delimiter)) {
  log_message(2, "csv_file::ctor for writing without field names");
  open_file();
}

csv_file::csv_file(const tk_wstring& path, const tk_wstring& delimiter, const udb_schema& fields)
    : udb_recordset(path), m_path(tk_u8(path)), m_delim(tk_u8(delimiter)) {
  log_message(2, "csv_file::ctor for writing with field names");
  open_file();
  // The writer keeps its own copy of the column list; the descriptors stay
  // owned by the source table.
  schema.assign(fields.begin(), fields.end());
  write_header(fields);
}

csv_file::~csv_file() { discard(); }

void csv_file::open_file() {
  struct stat st {};
  const bool special =
      ::stat(m_path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
  if (!special) m_temp_path = m_path + csv_temp_suffix;
  const tk_string& target = write_path();
  m_fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (m_fd < 0) {
    const int err = errno;
    throw tk_exception(tk_format("Cannot create CSV file '%s': %s", m_path.c_str(), strerror(err)),
                       csv_write_error_level(err));
  }
  // One scan per field finds every reason to quote when the delimiter is a
  // single byte (tab, semicolon, comma).
  for (const unsigned char c : {'"', '\r', '\n'}) m_special[c] = true;
  if (m_delim.size() == 1) m_special[static_cast<unsigned char>(m_delim[0])] = true;
  m_plain_safe = m_delim.size() == 1 && std::strchr("0123456789-+.: eEinfa", m_delim[0]) == nullptr;
  m_buf.reserve(csv_buffer_size + csv_buffer_size / 4);
  m_buf.assign("\xEF\xBB\xBF", 3);
}

void csv_file::write_header(const udb_schema& fields) {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i != 0) m_buf += m_delim;
    if (fields[i] != nullptr) write_csv_field(fields[i]->name);
  }
  end_line();
}

void csv_file::write_csv_field(std::u16string_view text) {
  if (log_enabled(1)) log_message(1, "csv_file::write_csv_field(%s)", tk_u8(text).c_str());
  m_scratch.clear();
  tk_append_utf8(m_scratch, text);
  put_field(m_scratch);
}

// Quotes the field when it holds a quote, CR, LF or the delimiter. Line
// breaks inside a value go out as stored (LF stays LF, CR LF stays CR LF):
// RFC 4180 allows them in a quoted field, and rewriting them would change the
// value. Only the records themselves end with CR LF.
namespace {

constexpr uint64_t k_ones = 0x0101010101010101ull;
constexpr uint64_t k_highs = 0x8080808080808080ull;

// Nonzero when one of the eight bytes of x equals the byte repeated in b.
inline uint64_t has_byte(uint64_t x, uint64_t b) {
  const uint64_t y = x ^ b;
  return (y - k_ones) & ~y & k_highs;
}

}  // namespace

bool csv_file::needs_quotes(std::string_view text) const {
  const char* p = text.data();
  size_t n = text.size();
  if (m_delim.size() == 1) {
    // Eight bytes at a time against the four bytes that force quotes.
    const uint64_t q = k_ones * '"', cr = k_ones * '\r', lf = k_ones * '\n';
    const uint64_t d = k_ones * static_cast<unsigned char>(m_delim[0]);
    while (n >= 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      if (has_byte(w, q) | has_byte(w, cr) | has_byte(w, lf) | has_byte(w, d)) return true;
      p += 8;
      n -= 8;
    }
    // The rest in one word padded with zero bytes, which match none of the
    // four (a NUL delimiter takes the byte loop below).
    if (n > 0 && m_delim[0] != '\0') {
      uint64_t w = 0;
      std::memcpy(&w, p, n);
      return (has_byte(w, q) | has_byte(w, cr) | has_byte(w, lf) | has_byte(w, d)) != 0;
    }
  }
  for (size_t i = 0; i < n; ++i)
    if (m_special[static_cast<unsigned char>(p[i])]) return true;
  return m_delim.size() > 1 && text.find(m_delim) != std::string_view::npos;
}

void csv_file::put_field(std::string_view text) {
  // One scan decides; most fields need no quotes and are copied whole.
  if (!needs_quotes(text)) {
    m_buf += text;
    return;
  }
  m_buf += '"';
  for (char c : text) {
    if (c == '"') m_buf += '"';
    m_buf += c;
  }
  m_buf += '"';
}

void csv_file::append_record(const udb_record& record) {
  if (log_enabled(1)) log_message(1, "csv_file::append_record");
  if (m_fd < 0) throw tk_exception("Error opening CSV file", 1);
  const size_t line_start = m_buf.size();
  const uint32_t side_files = m_side_files;
  try {
    const bool one_byte = m_delim.size() == 1;
    for (size_t i = 0; i < record.size(); ++i) {
      if (i != 0) {
        if (one_byte)
          m_buf.push_back(m_delim[0]);
        else
          m_buf += m_delim;
      }
      const ole_variant& value = record[i].value();
      if (blob_side_files && is_binary_vt(value.get_type())) {
        write_side_file(value);
        continue;
      }
      if (value.holds_utf8()) {
        put_field(value.utf8_text());
        continue;
      }
      if (m_plain_safe && !is_binary_vt(value.get_type()) && value.get_type() != VT_BSTR) {
        value.append_text_utf8(m_buf);
        continue;
      }
      m_scratch.clear();
      value.append_text_utf8(m_scratch);
      put_field(m_scratch);
    }
  } catch (...) {
    // The record is reported and skipped by the caller; the file keeps only
    // whole lines, and no side file that no line names.
    m_buf.resize(line_start);
    remove_side_files(side_files);
    throw;
  }
  end_line();
  ++m_record_counter;
  if (m_buf.size() >= csv_buffer_size) flush_buffer();
}

void csv_file::flush_buffer() {
  const char* p = m_buf.data();
  size_t left = m_buf.size();
  while (left > 0) {
    ssize_t n = ::write(m_fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      raise_write_error(errno);
    }
    if (n == 0) raise_write_error(ENOSPC);
    p += n;
    left -= static_cast<size_t>(n);
  }
  m_buf.clear();
}

void csv_file::raise_write_error(int err) {
  // Nothing more goes to a file that lost data, and a file cut at an
  // arbitrary byte is of no use: it is removed.
  discard();
  throw tk_exception(tk_format("Cannot write CSV file '%s': %s", m_path.c_str(), strerror(err)),
                     csv_write_error_level(err));
}

void csv_file::discard() noexcept {
  m_buf.clear();
  if (m_fd < 0) return;
  ::close(m_fd);
  m_fd = -1;
  if (!m_temp_path.empty()) ::unlink(m_temp_path.c_str());
  // Side files of a file that never gets its name would name nothing.
  remove_side_files(0);
}

tk_string csv_file::side_file_path(uint32_t n) const {
  // The CSV file's name without its extension, then "_" and the number.
  const size_t slash = m_path.find_last_of('/');
  const size_t dot = m_path.find_last_of('.');
  const size_t end =
      dot != tk_string::npos && (slash == tk_string::npos || dot > slash) ? dot : m_path.size();
  return m_path.substr(0, end) + tk_format("_%u", n);
}

void csv_file::write_side_file(const ole_variant& value) {
  ++m_side_files;
  const tk_string path = side_file_path(m_side_files);
  const size_t slash = path.find_last_of('/');
  const tk_string name = slash == tk_string::npos ? path : path.substr(slash + 1);
  if (log_enabled(1)) {
    log_message(1, "blob_filename=%s", name.c_str());
    log_message(1, "path=%s", path.c_str());
  }
  put_field(name);
  // A file of an earlier run is replaced; a link is removed, not followed.
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
    log_message(3, "Delete existing BLOB-file '%s'", path.c_str());
    ::unlink(path.c_str());
  }
  const uint8_t* bytes = value.bytes().data();
  size_t left = value.bytes().size();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  int err = fd < 0 ? errno : 0;
  while (err == 0 && left > 0) {
    const ssize_t n = ::write(fd, bytes, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : ENOSPC;
      break;
    }
    bytes += n;
    left -= static_cast<size_t>(n);
  }
  if (fd >= 0 && ::close(fd) != 0 && err == 0 && errno != EINTR) err = errno;
  if (err != 0) {
    if (fd >= 0) ::unlink(path.c_str());
    throw tk_exception(tk_format("Cannot write BLOB file '%s': %s", path.c_str(), strerror(err)),
                       csv_write_error_level(err));
  }
}

void csv_file::remove_side_files(uint32_t from) noexcept {
  for (uint32_t n = m_side_files; n > from; --n) ::unlink(side_file_path(n).c_str());
  m_side_files = from;
}

void csv_file::close() {
  if (m_fd < 0) return;
  flush_buffer();
  const int fd = m_fd;
  m_fd = -1;
  // close(2) is where network file systems report a failed write.
  if (::close(fd) != 0 && errno != EINTR) {
    const int err = errno;
    if (!m_temp_path.empty()) ::unlink(m_temp_path.c_str());
    throw tk_exception(tk_format("Cannot write CSV file '%s': %s", m_path.c_str(), strerror(err)),
                       csv_write_error_level(err));
  }
  if (m_temp_path.empty()) return;
  if (::rename(m_temp_path.c_str(), m_path.c_str()) != 0) {
    const int err = errno;
    ::unlink(m_temp_path.c_str());
    throw tk_exception(
        tk_format("Cannot give CSV file '%s' its name: %s", m_path.c_str(), strerror(err)), 0);
  }
}
