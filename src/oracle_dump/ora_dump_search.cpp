// Pattern search over the dump: memchr/memmem over the rest of the stream,
// so a search reads each byte once and costs no copies.
#include "oracle_dump/ora_dump_search.h"

#include <cstring>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"

bool seek_to_symbols(ora_dump_stream& s, const void* pattern, size_t length, int64_t& found_at) {
  if (length == 0) {
    found_at = s.tell();
    return true;
  }
  const int64_t at = s.find(pattern, length, s.tell(), s.size());
  if (at < 0) {
    s.seek(s.size());
    return false;
  }
  s.seek(at + static_cast<int64_t>(length));
  found_at = s.tell();
  return true;
}

bool seek_to_symbols(ora_dump_stream& s, std::string_view pattern, int64_t& found_at) {
  return seek_to_symbols(s, pattern.data(), pattern.size(), found_at);
}

bool seek_to_byte(ora_dump_stream& s, uint8_t byte, int64_t& found_at) {
  const int64_t at = s.find_byte(byte, s.tell());
  if (at < 0) {
    s.seek(s.size());
    return false;
  }
  s.seek(at + 1);
  found_at = s.tell();
  return true;
}

static std::string_view trim_blanks(std::string_view t) {
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  return t;
}

std::string read_name_before_paren(ora_dump_stream& s) {
  // The name and its "(" are on one statement line: a line without "(" names
  // nothing, and the stream stays where it was.
  const int64_t p0 = s.tell();
  int64_t line_end = s.find_byte('\n', p0);
  if (line_end < 0) line_end = s.size();
  const int64_t paren = s.find_byte('(', p0, line_end);
  if (paren < 0) return std::string();
  std::string text;
  if (!s.copy(p0, static_cast<size_t>(paren - p0), text)) return std::string();
  s.seek(paren);
  if (const size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  return std::string(trim_blanks(text));
}

std::string embellish_name(std::string_view name, char quote) {
  if (name.size() >= 3 && name.front() == quote && name.back() == quote)
    return std::string(name.substr(1, name.size() - 2));
  return std::string(name);
}

void extract_xml(int64_t start, int64_t end, ora_dump_stream& s, std::vector<uint8_t>& out) {
  const int64_t span = end - start;
  s.seek(start);
  int64_t consumed = 0;
  while (span >= 8 && consumed <= span - 8) {
    const uint8_t* h = s.take(2);
    if (h == nullptr) break;
    uint16_t n16 = 0;
    int64_t n = 0;
    if (h[0] == 0x01 && h[1] == 0xFE) {
      if (!s.read_u16be(n16)) break;
      n = n16;
    } else if ((h[0] == 0x06 || h[0] == 0x03) && h[1] == 0x01) {
      uint8_t fe = 0;
      if (!s.read_u8(fe)) break;
      if (fe != 0xFE) throw dump_error("Unexpected metadata chunk header", s.tell() - 1, 1);
      if (!s.read_u16be(n16)) break;
      n = n16;
    } else {
      if (!s.skip(2)) break;
      n = span - 4;
    }
    const size_t avail = s.remaining();
    const size_t take = static_cast<size_t>(n) < avail ? static_cast<size_t>(n) : avail;
    const uint8_t* p = s.take(take);
    if (p == nullptr) break;  // a gap: the rest of the block is missing
    out.insert(out.end(), p, p + take);
    consumed += n + 4;
    if (take < static_cast<size_t>(n)) break;
  }
  out.push_back(0);
  out.push_back(0);
}
