// Memory-mapped dump stream over one or more files.
#include "oracle_dump/ora_dump_stream.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "TK/tk_exc.h"

namespace {

// Maps a whole file read-only; size 0 maps nothing.
void map_file(const tk_string& path, void*& map, size_t& size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw tk_exception_ex("Cannot open '" + path + "': ", 1);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    throw tk_exception_ex("Cannot open '" + path + "': ", 1, err);
  }
  map = nullptr;
  size = static_cast<size_t>(st.st_size);
  if (size > 0) {
    void* m = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (m == MAP_FAILED) {
      const int err = errno;
      ::close(fd);
      throw tk_exception_ex("Cannot read '" + path + "': ", 1, err);
    }
    // Scans run front to back; row iteration jumps around within a table.
    ::madvise(m, size, MADV_SEQUENTIAL);
    map = m;
  }
  ::close(fd);
}

tk_string base_name(const tk_string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == tk_string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::shared_ptr<ora_dump_stream> ora_dump_stream::open_file(const tk_string& path) {
  std::shared_ptr<ora_dump_stream> s(new ora_dump_stream());
  file_map f;
  f.path = path;
  map_file(path, f.map, f.map_size);
  f.data = static_cast<const uint8_t*>(f.map);
  f.size = f.map_size;
  s->m_files.push_back(f);
  s->add_span(0, f.data, 0, static_cast<int64_t>(f.size), false);
  return s;
}

std::shared_ptr<ora_dump_stream> ora_dump_stream::open_files(const std::vector<tk_string>& paths,
                                                             const std::vector<extent>& extents) {
  std::shared_ptr<ora_dump_stream> s(new ora_dump_stream());
  for (const tk_string& path : paths) {
    file_map f;
    f.path = path;
    // Registered before mapping so that the destructor releases what was
    // mapped when a later file fails.
    s->m_files.push_back(f);
    file_map& back = s->m_files.back();
    map_file(path, back.map, back.map_size);
    back.data = static_cast<const uint8_t*>(back.map);
    back.size = back.map_size;
  }
  for (const extent& e : extents) {
    if (e.file >= s->m_files.size() || e.offset < 0 || e.size < 0 ||
        static_cast<uint64_t>(e.offset) + static_cast<uint64_t>(e.size) > s->m_files[e.file].size)
      throw tk_exception("A part of the dump is shorter than its header says", 1);
    s->add_span(e.file, s->m_files[e.file].data, e.offset, e.size, e.after_gap);
  }
  return s;
}

ora_dump_stream::ora_dump_stream(const uint8_t* data, size_t size) {
  m_files.push_back({tk_string(), nullptr, 0, data, size});
  add_span(0, data, 0, static_cast<int64_t>(size), false);
}

ora_dump_stream::ora_dump_stream(const std::vector<std::string_view>& pieces) {
  bool gap = false;
  for (const std::string_view piece : pieces) {
    if (piece.empty()) {
      gap = true;
      continue;
    }
    const auto* data = reinterpret_cast<const uint8_t*>(piece.data());
    m_files.push_back(
        {"piece " + std::to_string(m_files.size() + 1), nullptr, 0, data, piece.size()});
    add_span(m_files.size() - 1, data, 0, static_cast<int64_t>(piece.size()), gap);
    gap = false;
  }
  if (gap && !m_spans.empty()) m_pending_gap = true;
}

std::shared_ptr<ora_dump_stream> ora_dump_stream::copy_of(const void* data, size_t size) {
  std::shared_ptr<ora_dump_stream> s(new ora_dump_stream());
  if (size > 0) {
    s->m_copy.reset(new uint8_t[size]);
    std::memcpy(s->m_copy.get(), data, size);
  }
  s->m_files.push_back({tk_string(), nullptr, 0, s->m_copy.get(), size});
  s->add_span(0, s->m_copy.get(), 0, static_cast<int64_t>(size), false);
  return s;
}

ora_dump_stream::~ora_dump_stream() {
  for (const file_map& f : m_files)
    if (f.map != nullptr) ::munmap(f.map, f.map_size);
}

void ora_dump_stream::add_span(size_t file, const uint8_t* data, int64_t offset, int64_t size,
                               bool after_gap) {
  // An empty stretch carries no bytes, but the gap it may follow still
  // separates what comes before from what comes after.
  if (size == 0) {
    if (after_gap && !m_spans.empty()) m_pending_gap = true;
    return;
  }
  span sp;
  sp.lo = m_size;
  sp.hi = m_size + size;
  sp.data = data == nullptr ? nullptr : data + offset;
  sp.file = file;
  sp.offset = offset;
  sp.after_gap = !m_spans.empty() && (after_gap || m_pending_gap);
  m_pending_gap = false;
  m_spans.push_back(sp);
  m_size = sp.hi;
  if (m_spans.size() == 1) {
    m_lo = sp.lo;
    m_hi = sp.hi;
    m_ptr = sp.data;
  }
}

long ora_dump_stream::span_at(int64_t pos) const {
  if (m_spans.empty()) return -1;
  // The first span whose end lies beyond pos; pos == size belongs to the last.
  auto it = std::upper_bound(m_spans.begin(), m_spans.end(), pos,
                             [](int64_t p, const span& sp) { return p < sp.hi; });
  if (it == m_spans.end()) return static_cast<long>(m_spans.size()) - 1;
  return static_cast<long>(it - m_spans.begin());
}

bool ora_dump_stream::contiguous(long i, int64_t pos, size_t n) const {
  const int64_t end = pos + static_cast<int64_t>(n);
  for (size_t k = static_cast<size_t>(i) + 1; k < m_spans.size() && m_spans[k].lo < end; ++k)
    if (m_spans[k].after_gap) return false;
  return true;
}

const uint8_t* ora_dump_stream::peek_slow(size_t n) {
  if (n > remaining()) {
    if (m_pending_gap) m_gap_hit = true;
    return nullptr;
  }
  const long i = span_at(m_pos);
  if (i < 0) return nullptr;
  const span& sp = m_spans[static_cast<size_t>(i)];
  m_lo = sp.lo;
  m_hi = sp.hi;
  m_ptr = sp.data;
  if (static_cast<uint64_t>(m_hi - m_pos) >= n) return m_ptr + (m_pos - m_lo);
  m_stitch.clear();
  if (!copy_into(m_pos, n, m_stitch)) return nullptr;
  return m_stitch.data();
}

bool ora_dump_stream::skip_slow(size_t n) {
  if (n > remaining()) {
    if (m_pending_gap) m_gap_hit = true;
    return false;
  }
  const long i = span_at(m_pos);
  if (i < 0) return false;
  if (!contiguous(i, m_pos, n)) {
    m_gap_hit = true;
    return false;
  }
  m_pos += static_cast<int64_t>(n);
  return true;
}

template <class Out>
bool ora_dump_stream::copy_into(int64_t pos, size_t n, Out& out) const {
  if (pos < 0 || pos > m_size || n > static_cast<uint64_t>(m_size - pos)) return false;
  if (n == 0) return true;
  const long i = span_at(pos);
  if (i < 0) return false;
  if (!contiguous(i, pos, n)) {
    m_gap_hit = true;
    return false;
  }
  const size_t base = out.size();
  out.resize(base + n);
  auto* dst = reinterpret_cast<uint8_t*>(&out[0]) + base;
  for (size_t k = static_cast<size_t>(i); n > 0 && k < m_spans.size(); ++k) {
    const span& sp = m_spans[k];
    const int64_t from = std::max(pos, sp.lo);
    const size_t take =
        static_cast<size_t>(std::min<int64_t>(sp.hi - from, static_cast<int64_t>(n)));
    std::memcpy(dst, sp.data + (from - sp.lo), take);
    dst += take;
    n -= take;
    pos = from + static_cast<int64_t>(take);
  }
  return true;
}

bool ora_dump_stream::copy(int64_t pos, size_t n, std::string& out) const {
  return copy_into(pos, n, out);
}

bool ora_dump_stream::copy(int64_t pos, size_t n, std::vector<uint8_t>& out) const {
  return copy_into(pos, n, out);
}

int ora_dump_stream::byte_at(int64_t pos) const {
  if (pos < 0 || pos >= m_size) return -1;
  const span& sp = m_spans[static_cast<size_t>(span_at(pos))];
  return sp.data[pos - sp.lo];
}

size_t ora_dump_stream::read_at(int64_t pos, void* dst, size_t n) const {
  if (pos < 0 || pos >= m_size || n == 0) return 0;
  auto* out = static_cast<uint8_t*>(dst);
  size_t done = 0;
  for (size_t k = static_cast<size_t>(span_at(pos)); done < n && k < m_spans.size(); ++k) {
    const span& sp = m_spans[k];
    if (done > 0 && sp.after_gap) break;
    const int64_t from = std::max(pos, sp.lo);
    const size_t take =
        static_cast<size_t>(std::min<int64_t>(sp.hi - from, static_cast<int64_t>(n - done)));
    std::memcpy(out + done, sp.data + (from - sp.lo), take);
    done += take;
    pos = from + static_cast<int64_t>(take);
  }
  return done;
}

std::string_view ora_dump_stream::read_word() {
  // Blanks first; they may run over several spans (and past a gap).
  for (;;) {
    const uint8_t* p = peek(1);  // also makes the span of m_pos the cached one
    if (p == nullptr) return std::string_view();
    const uint8_t* end = m_ptr + (m_hi - m_lo);
    const uint8_t* q = p;
    while (q < end && is_blank(*q)) ++q;
    m_pos += q - p;
    if (q < end) break;
  }
  const uint8_t* p = m_ptr + (m_pos - m_lo);
  const uint8_t* end = m_ptr + (m_hi - m_lo);
  const uint8_t* q = p;
  while (q < end && !is_blank(*q)) ++q;
  m_pos += q - p;
  if (q < end || at_end()) return std::string_view(reinterpret_cast<const char*>(p), q - p);
  // The word goes on in the next span, unless a gap ends it there.
  m_stitch.assign(p, q);
  while (!at_end()) {
    const span& sp = m_spans[static_cast<size_t>(span_at(m_pos))];
    if (sp.lo != m_pos || sp.after_gap) break;
    m_lo = sp.lo;
    m_hi = sp.hi;
    m_ptr = sp.data;
    const uint8_t* a = sp.data;
    const uint8_t* b = sp.data + (sp.hi - sp.lo);
    const uint8_t* c = a;
    while (c < b && !is_blank(*c)) ++c;
    m_stitch.insert(m_stitch.end(), a, c);
    m_pos += c - a;
    if (c < b) break;
  }
  return std::string_view(reinterpret_cast<const char*>(m_stitch.data()), m_stitch.size());
}

int64_t ora_dump_stream::find_byte(uint8_t byte, int64_t from, int64_t to) const {
  if (from < 0) from = 0;
  if (to > m_size) to = m_size;
  if (from >= to) return -1;
  for (size_t k = static_cast<size_t>(span_at(from)); k < m_spans.size(); ++k) {
    const span& sp = m_spans[k];
    if (sp.lo >= to) break;
    const int64_t a = std::max(from, sp.lo);
    const int64_t b = std::min(to, sp.hi);
    if (a >= b) continue;
    const void* hit = std::memchr(sp.data + (a - sp.lo), byte, static_cast<size_t>(b - a));
    if (hit != nullptr) return sp.lo + (static_cast<const uint8_t*>(hit) - sp.data);
  }
  return -1;
}

int64_t ora_dump_stream::find(const void* pattern, size_t length, int64_t from, int64_t to) const {
  if (from < 0) from = 0;
  if (to > m_size) to = m_size;
  if (length == 0) return from <= to ? from : -1;
  if (from >= to || static_cast<uint64_t>(to - from) < length) return -1;
  const auto* pat = static_cast<const uint8_t*>(pattern);
  std::string window;
  for (size_t k = static_cast<size_t>(span_at(from)); k < m_spans.size(); ++k) {
    const span& sp = m_spans[k];
    if (sp.lo >= to) break;
    const int64_t a = std::max(from, sp.lo);
    const int64_t b = std::min(to, sp.hi);
    if (b - a >= static_cast<int64_t>(length)) {
      const void* hit = ::memmem(sp.data + (a - sp.lo), static_cast<size_t>(b - a), pat, length);
      if (hit != nullptr) return sp.lo + (static_cast<const uint8_t*>(hit) - sp.data);
    }
    // A match that starts in this span's last length - 1 bytes and ends in
    // the spans after it.
    if (length > 1 && b == sp.hi && sp.hi < to) {
      const int64_t w0 = std::max(a, sp.hi - static_cast<int64_t>(length - 1));
      const int64_t w1 = std::min(to, sp.hi + static_cast<int64_t>(length - 1));
      for (int64_t start = w0; start < sp.hi && start + static_cast<int64_t>(length) <= w1;
           ++start) {
        window.clear();
        if (!copy_into(start, length, window)) continue;
        if (std::memcmp(window.data(), pat, length) == 0) return start;
      }
    }
  }
  return -1;
}

bool ora_dump_stream::gap_between(int64_t a, int64_t b) const {
  if (m_spans.empty() || a >= b) return false;
  for (size_t k = static_cast<size_t>(span_at(a)) + 1; k < m_spans.size() && m_spans[k].lo <= b;
       ++k)
    if (m_spans[k].after_gap) return true;
  return false;
}

tk_string ora_dump_stream::describe(int64_t pos) const {
  if (m_files.size() < 2 || m_spans.empty()) return tk_string();
  const span& sp = m_spans[static_cast<size_t>(span_at(pos))];
  const int64_t at = sp.offset + (pos - sp.lo);
  return "file '" + base_name(m_files[sp.file].path) + "' offset " + std::to_string(at);
}
