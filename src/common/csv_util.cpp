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
void csv_file::put_field(const std::string& text) {
  // One pass over the field: most fields need no quotes.
  bool quote = false;
  for (const char c : text) {
    if (m_special[static_cast<unsigned char>(c)]) {
      quote = true;
      break;
    }
  }
  if (!quote && m_delim.size() > 1) quote = text.find(m_delim) != std::string::npos;
  if (!quote) {
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
  log_message(1, "csv_file::append_record");
  if (m_fd < 0) throw tk_exception("Error opening CSV file", 1);
  const size_t line_start = m_buf.size();
  try {
    for (size_t i = 0; i < record.size(); ++i) {
      if (i != 0) m_buf += m_delim;
      m_scratch.clear();
      record[i].value().append_text_utf8(m_scratch);
      put_field(m_scratch);
    }
  } catch (...) {
    // The record is reported and skipped by the caller; the file keeps only
    // whole lines.
    m_buf.resize(line_start);
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
