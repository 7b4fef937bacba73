// The dump stream: random access to the bytes of a dump.
//
// Row iteration seeks back and forth on every record and the catalogue scans
// search the whole dump, so tell, seek and peek must be cheap. A dump is one
// logical byte space laid over one or more stretches of files: a single file
// is one stretch; a dump written as several files (exp FILESIZE=, expdp
// FILESIZE= with %U) is the concatenation of the stretches that carry its
// content, in the order the reader works out from the files' headers. The
// decoders see offsets of that logical space only.
//
// Files are read with pread into a window of the stream (about a megabyte;
// a single read of many megabytes is served from a mapping of its bytes), so
// memory stays flat whatever the size of the dump, and the page cache is
// copied once instead of being mapped page by page. The window keeps some
// bytes behind the position, so that seeking back within the current record
// reads nothing again. The const searches and reads at a position use blocks
// of their own and leave the window alone.
//
// peek and take hand out a pointer into the window (or into the caller's
// memory for in-memory streams); bytes that cross from one stretch into the
// next are copied into a buffer of the stream. Either pointer is valid until
// the next call on the stream: callers copy what they need before reading on.
// A stream is used by one thread at a time.
//
// Where a file of a dump is missing, the stretches before and after it are
// separated by a gap: no read, word or pattern crosses it, so a record cut by
// the missing file ends in an error instead of continuing with the bytes of
// an unrelated file. Reads never go past the end: a short read reports
// failure and leaves the position where the caller can name it. Offsets are
// 64-bit; files over 4 GiB work.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "TK/tk_utils.h"

class ora_dump_stream {
 public:
  // A stretch of the logical byte space: `size` bytes of file `file` from
  // `offset` on. `after_gap`: a missing file lies right before it.
  struct extent {
    size_t file = 0;
    int64_t offset = 0;
    int64_t size = 0;
    bool after_gap = false;
  };

  // Opens the file read-only. Raises tk_exception_ex when it cannot be opened.
  static std::shared_ptr<ora_dump_stream> open_file(const tk_string& path);
  // Opens every file and lays the extents one after the other. Raises
  // tk_exception_ex when a file cannot be opened, tk_exception (level 1)
  // when an extent lies outside its file.
  static std::shared_ptr<ora_dump_stream> open_files(const std::vector<tk_string>& paths,
                                                     const std::vector<extent>& extents);
  // A stream over bytes the caller keeps alive (tests, in-memory dumps).
  ora_dump_stream(const uint8_t* data, size_t size);
  // A stream over its own heap copy of exactly these bytes: a read one byte
  // past the end lands outside the allocation, where AddressSanitizer sees
  // it (a memory map would hide it in the zero tail of its last page).
  static std::shared_ptr<ora_dump_stream> copy_of(const void* data, size_t size);
  // Pieces of memory laid one after the other (tests); an empty piece
  // stands for a missing file: the next piece lies after a gap.
  explicit ora_dump_stream(const std::vector<std::string_view>& pieces);
  ~ora_dump_stream();
  ora_dump_stream(const ora_dump_stream&) = delete;
  ora_dump_stream& operator=(const ora_dump_stream&) = delete;

  int64_t size() const { return m_size; }
  int64_t tell() const { return m_pos; }
  // Positions the stream; a position past the end is clamped to the end.
  void seek(int64_t pos) { m_pos = pos < 0 ? 0 : (pos > m_size ? m_size : pos); }
  bool at_end() const { return m_pos >= m_size; }
  size_t remaining() const { return static_cast<size_t>(m_size - m_pos); }

  // Pointer to the next n bytes without moving; nullptr when fewer remain
  // (or a gap lies within them).
  const uint8_t* peek(size_t n) {
    if (in_span(n)) return m_ptr + (m_pos - m_lo);
    return peek_slow(n);
  }
  // Pointer to the next n bytes and moves past them; nullptr (and no move)
  // when fewer remain.
  const uint8_t* take(size_t n) {
    const uint8_t* p = peek(n);
    if (p != nullptr) m_pos += static_cast<int64_t>(n);
    return p;
  }
  bool skip(size_t n) {
    if (in_span(n)) {
      m_pos += static_cast<int64_t>(n);
      return true;
    }
    return skip_slow(n);
  }
  bool read(void* dst, size_t n) {
    const uint8_t* p = take(n);
    if (p == nullptr) return false;
    if (n > 0) std::memcpy(dst, p, n);
    return true;
  }
  bool read_u8(uint8_t& v) {
    const uint8_t* p = take(1);
    if (p == nullptr) return false;
    v = *p;
    return true;
  }
  bool read_u16le(uint16_t& v) {
    const uint8_t* p = take(2);
    if (p == nullptr) return false;
    v = static_cast<uint16_t>(p[0] | (p[1] << 8));
    return true;
  }
  bool read_u16be(uint16_t& v) {
    const uint8_t* p = take(2);
    if (p == nullptr) return false;
    v = static_cast<uint16_t>((p[0] << 8) | p[1]);
    return true;
  }
  bool read_u32le(uint32_t& v) {
    const uint8_t* p = take(4);
    if (p == nullptr) return false;
    v = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
    return true;
  }
  bool read_u32be(uint32_t& v) {
    const uint8_t* p = take(4);
    if (p == nullptr) return false;
    v = (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
    return true;
  }
  bool read_u64le(uint64_t& v) {
    const uint8_t* p = take(8);
    if (p == nullptr) return false;
    v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return true;
  }
  bool read_u64be(uint64_t& v) {
    const uint8_t* p = take(8);
    if (p == nullptr) return false;
    v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return true;
  }

  // Words of the catalogue text: white space and NUL bytes separate them.
  static bool is_blank(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == 0;
  }
  // Skips blanks, then returns the bytes up to the next blank (empty at the
  // end of the stream). A gap ends a word. Valid until the next call.
  std::string_view read_word();

  // Searches that leave the position alone. Each returns the offset of the
  // first match at or after `from` and before `to` (the whole match inside),
  // or -1. A match never spans a gap.
  int64_t find_byte(uint8_t byte, int64_t from, int64_t to) const;
  int64_t find_byte(uint8_t byte, int64_t from) const { return find_byte(byte, from, m_size); }
  int64_t find(const void* pattern, size_t length, int64_t from, int64_t to) const;
  int64_t find(std::string_view pattern, int64_t from) const {
    return find(pattern.data(), pattern.size(), from, m_size);
  }
  // The first `byte` at or after `from` whose next byte is flagged in
  // `after` or whose previous byte is flagged in `before` (tables of 256
  // flags, either may be null), or -1. A scan for statement starts passes
  // over the many bytes that cannot begin one without a call per byte. It
  // reads through the window, where the scan then reads the statement.
  int64_t find_byte_near(uint8_t byte, const bool* before, const bool* after, int64_t from);
  // The byte at pos, or -1 outside the stream.
  int byte_at(int64_t pos) const;
  // Copies up to n bytes at pos into dst, stopping at the end or at a gap;
  // returns how many were copied.
  size_t read_at(int64_t pos, void* dst, size_t n) const;
  // Appends the n bytes at pos to out; false (out unchanged) when they do
  // not all exist or a gap lies within them.
  bool copy(int64_t pos, size_t n, std::string& out) const;
  bool copy(int64_t pos, size_t n, std::vector<uint8_t>& out) const;

  // True when a missing file lies between the two offsets (a < b).
  bool gap_between(int64_t a, int64_t b) const;
  // A read failed because a missing file lies where its bytes would be
  // (also past the end, when the dump's last files are missing). Cleared by
  // clear_gap_hit.
  bool gap_hit() const { return m_gap_hit; }
  // The dump's last files are missing: its end is not the dump's end.
  bool ends_in_gap() const { return m_pending_gap; }
  void clear_gap_hit() { m_gap_hit = false; }

  // Files behind the stream, for messages about a position.
  size_t file_count() const { return m_files.size(); }
  // "file 'exp02.dmp' offset 8192": where a logical offset lies, for dumps
  // of several files; empty for a single file.
  tk_string describe(int64_t pos) const;

  // Reading ahead (the window's loads) stops at `end` while the position
  // lies before it: a table's reader reads no megabyte of the next table.
  // Reads that need more still get it; 0 or less: no limit.
  void limit_read_ahead(int64_t end) { m_read_limit = end; }

  // A second stream over the same files or memory, with its own position
  // and window, for reading another table on another thread.
  std::shared_ptr<ora_dump_stream> reopen() const;

  // Bytes a window of a file-backed stream holds (and keeps behind the
  // position). Tests shrink them so that every read path meets the window's
  // edges; 0 restores the defaults.
  static void set_window_for_tests(size_t window, size_t keep_back);

 private:
  struct file_map {
    tk_string path;
    int fd = -1;                    // the file this stream opened and reads with pread
    const uint8_t* data = nullptr;  // the bytes, for a stream over memory
    size_t size = 0;
  };
  struct span {
    int64_t lo = 0, hi = 0;         // logical range
    const uint8_t* data = nullptr;  // nullptr: read from the file
    size_t file = 0;
    int64_t offset = 0;  // in the file
    bool after_gap = false;
  };

  ora_dump_stream() = default;
  // The n bytes at the position lie in the span of the last access.
  bool in_span(size_t n) const {
    const uint64_t off = static_cast<uint64_t>(m_pos - m_lo);
    const uint64_t len = static_cast<uint64_t>(m_hi - m_lo);
    return off <= len && n <= len - off;
  }
  void add_span(size_t file, const uint8_t* data, int64_t offset, int64_t size, bool after_gap);
  // Index of the span holding pos (the last span for pos == size); -1 for
  // an empty stream.
  long span_at(int64_t pos) const;
  // True when [pos, pos + n) holds no gap (n bytes must exist).
  bool contiguous(long span, int64_t pos, size_t n) const;
  const uint8_t* peek_slow(size_t n);
  bool skip_slow(size_t n);
  template <class Out>
  bool copy_into(int64_t pos, size_t n, Out& out) const;
  // Reads n bytes at file offset `offset` of the span's file; raises
  // tk_exception_ex when the file cannot be read or has become shorter.
  void pread_exact(const span& sp, int64_t from, uint8_t* dst, size_t n) const;
  // Makes the window hold [m_pos, m_pos + n) of the span (a file-backed span
  // that holds all of it) and returns the pointer to m_pos.
  const uint8_t* load_window(const span& sp, size_t n);
  // A pointer to at least min(need, hi - from) bytes of the span at `from`
  // (need >= 1, hi <= the span's end); `got` tells how many bytes from
  // `from` up to hi it points at. Uses the window when it holds them, else
  // the block buffer of the searches. Valid until the next call.
  const uint8_t* view(const span& sp, int64_t from, int64_t hi, size_t need, size_t& got) const;
  // Copies n bytes of the span at `from` (all inside the span).
  void read_span(const span& sp, int64_t from, uint8_t* dst, size_t n) const;
  // Maps the n bytes at the position (a file-backed span that holds them)
  // and makes them the view; nullptr when the mapping fails.
  const uint8_t* map_range(const span& sp, size_t n);
  void release_map();
  // A pointer to the bytes of the span from x on (up to hi) in the window,
  // which is moved there when it does not hold x; `got` tells how many.
  const uint8_t* ahead(const span& sp, int64_t x, int64_t hi, size_t& got);

  std::vector<file_map> m_files;
  std::vector<span> m_spans;
  int64_t m_size = 0;
  int64_t m_pos = 0;
  // The span of the last access: peek within it is pointer arithmetic.
  int64_t m_lo = 0, m_hi = 0;
  const uint8_t* m_ptr = nullptr;
  std::vector<uint8_t> m_stitch;  // bytes of a read that crosses spans
  bool m_pending_gap = false;     // an empty extent after a gap was added last
  mutable bool m_gap_hit = false;
  std::shared_ptr<uint8_t[]> m_copy;  // the bytes, when this stream holds a copy

  // The window over a file-backed span: logical [m_win_lo, m_win_hi).
  std::unique_ptr<uint8_t[]> m_win;
  size_t m_win_cap = 0;
  int64_t m_win_lo = 0, m_win_hi = 0;
  size_t m_win_step = 0;  // bytes of the last load
  int64_t m_read_limit = 0;
  void* m_map = nullptr;  // the mapping of a long read, until the next load
  size_t m_map_length = 0;
  // The block buffer of the searches and of reads at a position.
  mutable std::unique_ptr<uint8_t[]> m_blk;
  mutable size_t m_blk_cap = 0;
  mutable int64_t m_blk_lo = 0, m_blk_hi = 0;
  mutable size_t m_blk_step = 0;
};
