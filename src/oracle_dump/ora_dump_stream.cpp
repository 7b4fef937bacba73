// Dump stream over one or more files (read through a window) or memory.
#include "oracle_dump/ora_dump_stream.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "TK/tk_exc.h"

namespace {

// The window of the row readers and the blocks of the searches. A megabyte
// keeps the syscall count low while the bytes still sit in the CPU's cache
// when the decoders reach them.
constexpr size_t k_default_window = size_t{1} << 20;
// Bytes kept behind the position when the window moves on: a record's
// decoders look back to its start.
constexpr size_t k_default_keep_back = size_t{256} << 10;
// After a jump (a table's first record, a search somewhere else) reading
// starts with this much and doubles while it goes on, up to the window:
// small tables and scattered reads then cost no megabyte each.
constexpr size_t k_first_read = size_t{64} << 10;
size_t g_window = k_default_window;
size_t g_keep_back = k_default_keep_back;

// Opens a file for reading; returns its descriptor and size.
int open_read(const tk_string& path, size_t& size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw tk_exception_ex("Cannot open '" + path + "': ", 1);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    throw tk_exception_ex("Cannot open '" + path + "': ", 1, err);
  }
  size = static_cast<size_t>(st.st_size);
  // Scans and row iteration run front to back: let the kernel read ahead.
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return fd;
}

tk_string base_name(const tk_string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == tk_string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void ora_dump_stream::set_window_for_tests(size_t window, size_t keep_back) {
  g_window = window == 0 ? k_default_window : window;
  g_keep_back = window == 0 ? k_default_keep_back : keep_back;
}

std::shared_ptr<ora_dump_stream> ora_dump_stream::open_file(const tk_string& path) {
  std::shared_ptr<ora_dump_stream> s(new ora_dump_stream());
  file_map f;
  f.path = path;
  f.fd = open_read(path, f.size);
  s->m_files.push_back(f);
  s->add_span(0, nullptr, 0, static_cast<int64_t>(f.size), false);
  return s;
}

std::shared_ptr<ora_dump_stream> ora_dump_stream::open_files(const std::vector<tk_string>& paths,
                                                             const std::vector<extent>& extents) {
  std::shared_ptr<ora_dump_stream> s(new ora_dump_stream());
  for (const tk_string& path : paths) {
    file_map f;
    f.path = path;
    f.fd = open_read(path, f.size);
    // The destructor closes what was opened when a later file fails.
    s->m_files.push_back(f);
  }
  for (const extent& e : extents) {
    if (e.file >= s->m_files.size() || e.offset < 0 || e.size < 0 ||
        static_cast<uint64_t>(e.offset) + static_cast<uint64_t>(e.size) > s->m_files[e.file].size)
      throw tk_exception("A part of the dump is shorter than its header says", 1);
    s->add_span(e.file, nullptr, e.offset, e.size, e.after_gap);
  }
  return s;
}

ora_dump_stream::ora_dump_stream(const uint8_t* data, size_t size) {
  m_files.push_back({tk_string(), -1, data, size});
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
    m_files.push_back({"piece " + std::to_string(m_files.size() + 1), -1, data, piece.size()});
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
  s->m_files.push_back({tk_string(), -1, s->m_copy.get(), size});
  s->add_span(0, s->m_copy.get(), 0, static_cast<int64_t>(size), false);
  return s;
}

std::shared_ptr<ora_dump_stream> ora_dump_stream::reopen() const {
  std::shared_ptr<ora_dump_stream> s(new ora_dump_stream());
  s->m_copy = m_copy;
  for (const file_map& f : m_files) {
    file_map g = f;
    if (f.fd >= 0) {
      // pread keeps no file position: a duplicate descriptor is enough.
      g.fd = ::fcntl(f.fd, F_DUPFD_CLOEXEC, 0);
      if (g.fd < 0) throw tk_exception_ex("Cannot open '" + f.path + "': ", 1);
    }
    s->m_files.push_back(g);
  }
  s->m_spans = m_spans;
  s->m_size = m_size;
  s->m_pending_gap = m_pending_gap;
  if (!m_spans.empty() && m_spans.front().data != nullptr) {
    s->m_lo = m_spans.front().lo;
    s->m_hi = m_spans.front().hi;
    s->m_ptr = m_spans.front().data;
  }
  return s;
}

const uint8_t* ora_dump_stream::map_range(const span& sp, size_t n) {
  release_map();
  const file_map& f = m_files[sp.file];
  const int64_t at = sp.offset + (m_pos - sp.lo);
  const int64_t page = ::sysconf(_SC_PAGESIZE);
  const int64_t aligned = at - at % page;
  const size_t length = n + static_cast<size_t>(at - aligned);
  void* m = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, f.fd, static_cast<off_t>(aligned));
  if (m == MAP_FAILED) return nullptr;  // read into the window instead
  ::madvise(m, length, MADV_SEQUENTIAL);
  m_map = m;
  m_map_length = length;
  m_lo = m_pos;
  m_hi = m_pos + static_cast<int64_t>(n);
  m_ptr = static_cast<const uint8_t*>(m) + (at - aligned);
  return m_ptr;
}

void ora_dump_stream::release_map() {
  if (m_map == nullptr) return;
  // The view may still show the mapping: it shows the window from now on.
  if (m_ptr != nullptr && m_ptr >= static_cast<const uint8_t*>(m_map) &&
      m_ptr < static_cast<const uint8_t*>(m_map) + m_map_length) {
    m_lo = m_win_lo;
    m_hi = m_win_hi;
    m_ptr = m_win.get();
  }
  ::munmap(m_map, m_map_length);
  m_map = nullptr;
  m_map_length = 0;
}

ora_dump_stream::~ora_dump_stream() {
  release_map();
  for (const file_map& f : m_files)
    if (f.fd >= 0) ::close(f.fd);
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
  // A span in memory is its own window; a file-backed one is read on the
  // first peek.
  if (m_spans.size() == 1 && sp.data != nullptr) {
    m_lo = sp.lo;
    m_hi = sp.hi;
    m_ptr = sp.data;
  }
}

void ora_dump_stream::pread_exact(const span& sp, int64_t from, uint8_t* dst, size_t n) const {
  const file_map& f = m_files[sp.file];
  off_t at = static_cast<off_t>(sp.offset + (from - sp.lo));
  while (n > 0) {
    const ssize_t got = ::pread(f.fd, dst, n, at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw tk_exception_ex("Cannot read '" + f.path + "': ", 1);
    // The file was cut while it was being read.
    if (got == 0)
      throw tk_exception("Cannot read '" + f.path + "' at offset " + std::to_string(at) +
                             ": the file has become shorter",
                         1);
    dst += got;
    n -= static_cast<size_t>(got);
    at += got;
  }
}

const uint8_t* ora_dump_stream::load_window(const span& sp, size_t n) {
  release_map();
  // Reading on keeps the bytes behind the position; after a jump only a few
  // are read behind it.
  const bool goes_on = m_win_hi > m_win_lo && m_pos >= m_win_lo && m_pos <= m_win_hi;
  const size_t back = goes_on ? g_keep_back : std::min<size_t>(g_keep_back, 4096);
  const int64_t start = m_pos - std::min<int64_t>(static_cast<int64_t>(back), m_pos - sp.lo);
  const size_t lead = static_cast<size_t>(m_pos - start);
  m_win_step = goes_on ? std::min(m_win_step * 2, g_window) : std::min(k_first_read, g_window);
  int64_t hi = sp.hi;
  if (m_read_limit > m_pos)
    hi = std::min(hi, std::max(m_read_limit, m_pos + static_cast<int64_t>(n)));
  const size_t want =
      std::min<size_t>(lead + std::max(m_win_step, n), static_cast<size_t>(hi - start));
  // Bytes the window already holds from `start` on are moved, not read again.
  size_t kept = 0;
  if (m_win_hi > m_win_lo && start >= m_win_lo && start < m_win_hi)
    kept = static_cast<size_t>(std::min<int64_t>(m_win_hi, start + static_cast<int64_t>(want)) -
                               start);
  if (want > m_win_cap || (m_win_cap > 4 * g_window && want <= g_window)) {
    // A larger buffer for a long read, or back to the usual size after one.
    const size_t cap = std::max(want, g_window);
    std::unique_ptr<uint8_t[]> grown(new uint8_t[cap]);
    if (kept > 0) std::memcpy(grown.get(), m_win.get() + (start - m_win_lo), kept);
    m_win = std::move(grown);
    m_win_cap = cap;
  } else if (kept > 0 && start != m_win_lo) {
    std::memmove(m_win.get(), m_win.get() + (start - m_win_lo), kept);
  }
  // Until the read succeeds the window holds only what was kept.
  m_win_lo = start;
  m_win_hi = start + static_cast<int64_t>(kept);
  m_lo = m_win_lo;
  m_hi = m_win_hi;
  m_ptr = m_win.get();
  pread_exact(sp, m_win_hi, m_win.get() + kept, want - kept);
  m_win_hi = start + static_cast<int64_t>(want);
  m_hi = m_win_hi;
  return m_ptr + lead;
}

const uint8_t* ora_dump_stream::view(const span& sp, int64_t from, int64_t hi, size_t need,
                                     size_t& got) const {
  if (sp.data != nullptr) {
    got = static_cast<size_t>(hi - from);
    return sp.data + (from - sp.lo);
  }
  const int64_t enough = std::min<int64_t>(hi, from + static_cast<int64_t>(need));
  if (from >= m_win_lo && enough <= m_win_hi && m_win_hi > m_win_lo) {
    got = static_cast<size_t>(std::min(hi, m_win_hi) - from);
    return m_win.get() + (from - m_win_lo);
  }
  if (!(from >= m_blk_lo && enough <= m_blk_hi && m_blk_hi > m_blk_lo)) {
    // A little before `from` too: the scans look one or two bytes back.
    const int64_t start = from - std::min<int64_t>(4096, from - sp.lo);
    const bool goes_on = m_blk_hi > m_blk_lo && from >= m_blk_lo && from <= m_blk_hi;
    m_blk_step = goes_on ? std::min(m_blk_step * 2, g_window) : std::min(k_first_read, g_window);
    const size_t want =
        std::min<size_t>(std::max(m_blk_step, static_cast<size_t>(from - start) + need),
                         static_cast<size_t>(sp.hi - start));
    if (want > m_blk_cap || (m_blk_cap > 4 * g_window && want <= g_window)) {
      const size_t cap = std::max(want, g_window);
      m_blk.reset(new uint8_t[cap]);
      m_blk_cap = cap;
    }
    m_blk_lo = m_blk_hi = 0;
    pread_exact(sp, start, m_blk.get(), want);
    m_blk_lo = start;
    m_blk_hi = start + static_cast<int64_t>(want);
  }
  got = static_cast<size_t>(std::min(hi, m_blk_hi) - from);
  return m_blk.get() + (from - m_blk_lo);
}

void ora_dump_stream::read_span(const span& sp, int64_t from, uint8_t* dst, size_t n) const {
  if (sp.data != nullptr) {
    std::memcpy(dst, sp.data + (from - sp.lo), n);
    return;
  }
  const int64_t to = from + static_cast<int64_t>(n);
  // Long reads go straight to the caller's memory; short ones through the
  // window or the block buffer, as reads at nearby positions follow.
  if (n > g_window && !(from >= m_win_lo && to <= m_win_hi)) {
    pread_exact(sp, from, dst, n);
    return;
  }
  while (from < to) {
    size_t got = 0;
    const uint8_t* p = view(sp, from, to, 1, got);
    std::memcpy(dst, p, got);
    dst += got;
    from += static_cast<int64_t>(got);
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
  if (static_cast<uint64_t>(sp.hi - m_pos) >= n) {
    if (sp.data == nullptr) {
      // A value of many megabytes is handed out from a mapping of its bytes
      // rather than copied into a window as large: a damaged length cannot
      // make the heap grow by the size of the dump.
      if (n > 32 * g_window)
        if (const uint8_t* p = map_range(sp, n)) return p;
      return load_window(sp, n);
    }
    m_lo = sp.lo;
    m_hi = sp.hi;
    m_ptr = sp.data;
    return m_ptr + (m_pos - m_lo);
  }
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
    read_span(sp, from, dst, take);
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
  size_t got = 0;
  return *view(sp, pos, pos + 1, 1, got);
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
    read_span(sp, from, out + done, take);
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
  // The word goes on in the next window or span, unless a gap ends it there.
  m_stitch.assign(p, q);
  while (!at_end()) {
    const span& sp = m_spans[static_cast<size_t>(span_at(m_pos))];
    if (sp.lo == m_pos && sp.after_gap) break;
    const uint8_t* a = peek(1);
    if (a == nullptr) break;
    const uint8_t* b = m_ptr + (m_hi - m_lo);
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
    for (int64_t x = a; x < b;) {
      size_t got = 0;
      const uint8_t* p = view(sp, x, b, 1, got);
      const void* hit = std::memchr(p, byte, got);
      if (hit != nullptr) return x + (static_cast<const uint8_t*>(hit) - p);
      x += static_cast<int64_t>(got);
    }
  }
  return -1;
}

namespace {

// The byte values a table of 256 flags holds, when there are at most 8 (the
// vector scan compares with each); -1 when there are more, 0 for none.
int members(const bool* flags, uint8_t (&out)[8]) {
  if (flags == nullptr) return 0;
  int n = 0;
  for (int b = 0; b < 256; ++b) {
    if (!flags[b]) continue;
    if (n == 8) return -1;
    out[n++] = static_cast<uint8_t>(b);
  }
  return n;
}

// The first q in [lo, hi) with *q == byte whose next byte is flagged in
// `after` or whose previous byte is flagged in `before`; lo[-1] and hi[0]
// must be readable. Sixteen bytes at a time where the flag sets are small:
// a line feed every hundred bytes costs no call each.
const uint8_t* scan_inside(const uint8_t* lo, const uint8_t* hi, uint8_t byte, const bool* before,
                           const bool* after, const uint8_t (&before_set)[8], int n_before,
                           const uint8_t (&after_set)[8], int n_after) {
  const uint8_t* q = lo;
#ifdef __SSE2__
  if (n_before >= 0 && n_after >= 0) {
    const __m128i want = _mm_set1_epi8(static_cast<char>(byte));
    // Of the 16 bytes at r flagged in mask (equal to `byte`), those whose
    // neighbour is flagged too.
    auto hits = [&](const uint8_t* r, int mask) {
      const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + 1));
      const __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r - 1));
      __m128i ok = _mm_setzero_si128();
      for (int i = 0; i < n_after; ++i)
        ok = _mm_or_si128(ok, _mm_cmpeq_epi8(next, _mm_set1_epi8(static_cast<char>(after_set[i]))));
      for (int i = 0; i < n_before; ++i)
        ok =
            _mm_or_si128(ok, _mm_cmpeq_epi8(prev, _mm_set1_epi8(static_cast<char>(before_set[i]))));
      return mask & _mm_movemask_epi8(ok);
    };
    // Thirty-two bytes at a time: most hold no `byte` at all.
    for (; hi - q >= 32; q += 32) {
      const __m128i a = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), want);
      const __m128i b =
          _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16)), want);
      if (_mm_movemask_epi8(_mm_or_si128(a, b)) == 0) continue;
      if (const int m = _mm_movemask_epi8(a); m != 0)
        if (const int h = hits(q, m); h != 0) return q + __builtin_ctz(static_cast<unsigned>(h));
      if (const int m = _mm_movemask_epi8(b); m != 0)
        if (const int h = hits(q + 16, m); h != 0)
          return q + 16 + __builtin_ctz(static_cast<unsigned>(h));
    }
    for (; hi - q >= 16; q += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
      const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(v, want));
      if (mask == 0) continue;
      if (const int h = hits(q, mask); h != 0) return q + __builtin_ctz(static_cast<unsigned>(h));
    }
  }
#else
  (void)before_set;
  (void)n_before;
  (void)after_set;
  (void)n_after;
#endif
  for (; q < hi; ++q)
    if (*q == byte && ((after != nullptr && after[q[1]]) || (before != nullptr && before[q[-1]])))
      return q;
  return nullptr;
}

}  // namespace

const uint8_t* ora_dump_stream::ahead(const span& sp, int64_t x, int64_t hi, size_t& got) {
  if (sp.data != nullptr) {
    got = static_cast<size_t>(hi - x);
    return sp.data + (x - sp.lo);
  }
  if (!(x >= m_win_lo && x < m_win_hi)) {
    const int64_t pos = m_pos;
    m_pos = x;
    load_window(sp, 1);
    m_pos = pos;
  }
  got = static_cast<size_t>(std::min(hi, m_win_hi) - x);
  return m_win.get() + (x - m_win_lo);
}

int64_t ora_dump_stream::find_byte_near(uint8_t byte, const bool* before, const bool* after,
                                        int64_t from) {
  if (from < 0) from = 0;
  if (from >= m_size) return -1;
  uint8_t before_set[8], after_set[8];
  const int n_before = members(before, before_set);
  const int n_after = members(after, after_set);
  for (size_t k = static_cast<size_t>(span_at(from)); k < m_spans.size(); ++k) {
    const span& sp = m_spans[k];
    const int64_t b = sp.hi;
    for (int64_t x = std::max(from, sp.lo); x < b;) {
      size_t got = 0;
      const uint8_t* p = ahead(sp, x, b, got);
      const uint8_t* const e = p + got;
      int64_t next_x = x + static_cast<int64_t>(got);
      for (const uint8_t* q = p; q < e; ++q) {
        // Inside the block both neighbours are at hand.
        if (q > p && q + 1 < e) {
          const uint8_t* hit =
              scan_inside(q, e - 1, byte, before, after, before_set, n_before, after_set, n_after);
          if (hit != nullptr) return x + (hit - p);
          q = e - 1;
        }
        if (*q != byte) continue;
        // A neighbour outside this block is read on its own, which may
        // replace the block: the search then goes on from a new view.
        const int64_t at = x + (q - p);
        const int next = q + 1 < e ? q[1] : byte_at(at + 1);
        const int prev = q > p ? q[-1] : byte_at(at - 1);
        if ((after != nullptr && next >= 0 && after[next]) ||
            (before != nullptr && prev >= 0 && before[prev]))
          return at;
        if (q + 1 == e || q == p) {
          next_x = at + 1;
          break;
        }
      }
      x = next_x;
    }
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
    // Block by block; consecutive blocks overlap by length - 1 bytes.
    for (int64_t x = a; b - x >= static_cast<int64_t>(length);) {
      size_t got = 0;
      const uint8_t* p = view(sp, x, b, length, got);
      const void* hit = ::memmem(p, got, pat, length);
      if (hit != nullptr) return x + (static_cast<const uint8_t*>(hit) - p);
      if (x + static_cast<int64_t>(got) >= b) break;
      x += static_cast<int64_t>(got - (length - 1));
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
