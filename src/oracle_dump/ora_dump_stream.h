// The dump stream: random access to the bytes of a dump file.
//
// Row iteration seeks back and forth on every record and the catalogue scans
// search the whole file, so the file is memory-mapped and tell, seek and
// peek are pointer arithmetic. Reads never go past the end: a short read
// reports failure and leaves the position where the caller can name it.
// Offsets are 64-bit; files over 4 GiB work.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "TK/tk_utils.h"

class ora_dump_stream {
 public:
  // Maps the file read-only. Raises tk_exception_ex when it cannot be opened.
  static std::shared_ptr<ora_dump_stream> open_file(const tk_string& path);
  // A stream over bytes the caller keeps alive (tests, in-memory dumps).
  ora_dump_stream(const uint8_t* data, size_t size);
  // A stream over its own heap copy of exactly these bytes: a read one byte
  // past the end lands outside the allocation, where AddressSanitizer sees
  // it (a memory map would hide it in the zero tail of its last page).
  static std::shared_ptr<ora_dump_stream> copy_of(const void* data, size_t size);
  ~ora_dump_stream();
  ora_dump_stream(const ora_dump_stream&) = delete;
  ora_dump_stream& operator=(const ora_dump_stream&) = delete;

  int64_t size() const { return static_cast<int64_t>(m_size); }
  int64_t tell() const { return static_cast<int64_t>(m_pos); }
  // Positions the stream; a position past the end is clamped to the end.
  void seek(int64_t pos) {
    m_pos = pos < 0 ? 0 : (static_cast<uint64_t>(pos) > m_size ? m_size : static_cast<size_t>(pos));
  }
  bool at_end() const { return m_pos >= m_size; }
  size_t remaining() const { return m_size - m_pos; }
  const uint8_t* data() const { return m_data; }
  const uint8_t* here() const { return m_data + m_pos; }

  // Pointer to the next n bytes without moving; nullptr when fewer remain.
  const uint8_t* peek(size_t n) const { return n <= remaining() ? m_data + m_pos : nullptr; }
  // Pointer to the next n bytes and moves past them; nullptr (and no move)
  // when fewer remain.
  const uint8_t* take(size_t n) {
    if (n > remaining()) return nullptr;
    const uint8_t* p = m_data + m_pos;
    m_pos += n;
    return p;
  }
  bool skip(size_t n) { return take(n) != nullptr; }
  bool read(void* dst, size_t n) {
    const uint8_t* p = take(n);
    if (p == nullptr) return false;
    std::memcpy(dst, p, n);
    return true;
  }
  bool read_u8(uint8_t& v) {
    if (m_pos >= m_size) return false;
    v = m_data[m_pos++];
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
    uint32_t lo = 0, hi = 0;
    const size_t at = m_pos;
    if (!read_u32le(lo) || !read_u32le(hi)) {
      m_pos = at;
      return false;
    }
    v = (static_cast<uint64_t>(hi) << 32) | lo;
    return true;
  }
  bool read_u64be(uint64_t& v) {
    uint32_t lo = 0, hi = 0;
    const size_t at = m_pos;
    if (!read_u32be(hi) || !read_u32be(lo)) {
      m_pos = at;
      return false;
    }
    v = (static_cast<uint64_t>(hi) << 32) | lo;
    return true;
  }

  // Words of the catalogue text: white space and NUL bytes separate them.
  static bool is_blank(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == 0;
  }
  // Skips blanks, then returns the bytes up to the next blank (empty at the
  // end of the stream). The view points into the mapped file.
  std::string_view read_word();

 private:
  ora_dump_stream() = default;

  const uint8_t* m_data = nullptr;
  size_t m_size = 0;
  size_t m_pos = 0;
  void* m_map = nullptr;  // the mapping to release, when this stream made one
  size_t m_map_size = 0;
  std::unique_ptr<uint8_t[]> m_copy;  // the bytes, when this stream holds a copy
};
