// Text layer of the toolkit: string helpers in the "C" locale and the
// conversions between UTF-16 and narrow encodings. UTF-8 (our ANSI code page)
// is coded by hand; numbered Windows code pages go through glibc's iconv, with
// a 256-entry table for single-byte code pages because dump columns are decoded
// value by value and iconv's per-call cost would dominate.
#include "TK/tk_utils.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"

// ---- string operations ----------------------------------------------------

std::vector<tk_string> tk_split(const tk_string& text, char separator) {
  log_message(1, "tk_string::split(%c)", separator);
  std::vector<tk_string> pieces;
  if (text.empty()) return pieces;
  size_t start = 0;
  for (;;) {
    size_t pos = text.find(separator, start);
    if (pos == tk_string::npos) {
      pieces.emplace_back(text, start);
      break;
    }
    pieces.emplace_back(text, start, pos - start);
    start = pos + 1;
  }
  return pieces;
}

namespace {

inline char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
inline char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
inline char16_t ascii_upper(char16_t c) {
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}
inline char16_t ascii_lower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

// Lower-case partner of a letter for name comparison; Oracle names in Latin,
// Greek and Cyrillic scripts are the ones users retype in another case.
char16_t fold_case(char16_t c) {
  if (c < 0x80) return ascii_lower(c);
  if (c < 0x100) {
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 0x20);
    return c;
  }
  if (c < 0x180) {
    if (c == 0x178) return 0xFF;
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
      return static_cast<char16_t>(c | 1);
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
      return (c & 1) ? static_cast<char16_t>(c + 1) : c;
    return c;
  }
  if (c >= 0x386 && c <= 0x3AB) {
    if (c >= 0x391 && c != 0x3A2) return static_cast<char16_t>(c + 0x20);
    if (c == 0x386) return 0x3AC;
    if (c >= 0x388 && c <= 0x38A) return static_cast<char16_t>(c + 0x25);
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return static_cast<char16_t>(c + 0x3F);
    return c;
  }
  if (c == 0x3C2) return 0x3C3;  // final sigma
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 0x20);
  return c;
}

bool is_ascii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

template <class S>
S replace_all_impl(S& text, const S& from, const S& to) {
  if (from.empty()) return text;  // nothing to find; searching "" would never end
  size_t pos = 0;
  while ((pos = text.find(from, pos)) != S::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
  return text;
}

template <class C>
std::basic_string<C> trim_impl(std::basic_string_view<C> text) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == C(' ')) --end;
  if (end == 0) {
    if (!text.empty()) log_message(1, "Special processing for all-spaces-string");
    return {};
  }
  size_t begin = 0;
  while (text[begin] == C(' ')) ++begin;
  return std::basic_string<C>(text.substr(begin, end - begin));
}

}  // namespace

tk_string tk_to_upper(tk_string& text) {
  log_message(1, "tk_string::to_upper(%s)", text.c_str());
  for (char& c : text) c = ascii_upper(c);
  return text;
}

tk_wstring tk_to_lower(tk_wstring& text) {
  for (char16_t& c : text) c = ascii_lower(c);
  return text;
}

tk_string tk_upper(std::string_view text) {
  tk_string out(text);
  for (char& c : out) c = ascii_upper(c);
  return out;
}

tk_wstring tk_lower(std::u16string_view text) {
  tk_wstring out(text);
  for (char16_t& c : out) c = ascii_lower(c);
  return out;
}

tk_wstring tk_upper(std::u16string_view text) {
  tk_wstring out(text);
  for (char16_t& c : out) c = ascii_upper(c);
  return out;
}

bool tk_compare_no_case(std::string_view a, std::string_view b) {
  if (is_ascii(a) && is_ascii(b)) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
  }
  return tk_wcompare_no_case(tk_utf8_to_ucs2(a), tk_utf8_to_ucs2(b));
}

bool tk_wcompare_no_case(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && fold_case(a[i]) != fold_case(b[i])) return false;
  return true;
}

tk_wstring tk_replace_all(tk_wstring& text, const tk_wstring& from, const tk_wstring& to) {
  return replace_all_impl(text, from, to);
}

tk_string tk_replace_all(tk_string& text, const tk_string& from, const tk_string& to) {
  return replace_all_impl(text, from, to);
}

tk_string tk_trim(std::string_view text) { return trim_impl(text); }
tk_wstring tk_trim(std::u16string_view text) { return trim_impl(text); }

bool tk_starts_with_no_case(std::string_view text, std::string_view prefix) {
  if (prefix.size() > text.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (ascii_lower(text[i]) != ascii_lower(prefix[i])) return false;
  return true;
}

// ---- UTF-8 ------------------------------------------------------------------

namespace {

constexpr char16_t k_replacement = 0xFFFD;

inline void push_code_point(tk_wstring& out, uint32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

inline bool is_cont(unsigned char c) { return (c & 0xC0) == 0x80; }

// Replacing UTF-8 decoder: each maximal ill-formed subsequence becomes one
// U+FFFD (the Unicode recommendation, also what browsers do). One leniency:
// a high surrogate followed by a low surrogate, each in 3-byte form, is the
// CESU-8 that Oracle's "UTF8" character set stores for characters beyond the
// BMP; the pair is kept, as rejecting it would lose the character.
void decode_utf8(tk_wstring& out, const unsigned char* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    unsigned char c = p[i];
    if (c < 0x80) {
      out.push_back(c);
      ++i;
      continue;
    }
    uint32_t cp = 0;
    size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
      if (c == 0xE0) lo = 0xA0;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      out.push_back(k_replacement);
      ++i;
      continue;
    }
    size_t j = 1;
    for (; j < len; ++j) {
      if (i + j >= n) break;
      unsigned char d = p[i + j];
      if (j == 1 ? (d < lo || d > hi) : !is_cont(d)) break;
      cp = (cp << 6) | (d & 0x3F);
    }
    if (j < len) {
      out.push_back(k_replacement);
      i += j;
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      // CESU-8: accept only a well-formed high + low pair.
      if (cp <= 0xDBFF && i + 6 <= n && p[i + 3] == 0xED && p[i + 4] >= 0xB0 && p[i + 4] <= 0xBF &&
          is_cont(p[i + 5])) {
        uint32_t low = 0xD000 | ((p[i + 4] & 0x3Fu) << 6) | (p[i + 5] & 0x3Fu);
        out.push_back(static_cast<char16_t>(cp));
        out.push_back(static_cast<char16_t>(low));
        i += 6;
        continue;
      }
      out.push_back(k_replacement);
      i += 3;
      continue;
    }
    push_code_point(out, cp);
    i += len;
  }
}

// Encodes UTF-16 as UTF-8 into out; unpaired surrogates become U+FFFD.
void encode_utf8(std::string& out, std::u16string_view text) {
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t cp = text[i];
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (cp <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
        ++i;
      } else {
        cp = k_replacement;
      }
    }
    if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
}

std::string_view up_to_zero(std::string_view text) {
  size_t zero = text.find('\0');
  return zero == std::string_view::npos ? text : text.substr(0, zero);
}

// ---- numbered code pages ------------------------------------------------------

struct code_page_entry {
  int code_page;
  const char* iconv_name;
  bool single_byte;
};

// Windows code page numbers (as Oracle character sets map to them) and the
// glibc iconv names of the same encodings. Code pages glibc lacks (720, HZ,
// ISCII, most Mac CJK pages) are missing on purpose: they answer "unknown".
constexpr code_page_entry k_code_pages[] = {
    {37, "IBM037", true},          {437, "IBM437", true},
    {500, "IBM500", true},         {708, "ASMO-708", true},
    {737, "CP737", true},          {775, "CP775", true},
    {850, "IBM850", true},         {852, "IBM852", true},
    {855, "IBM855", true},         {857, "IBM857", true},
    {858, "IBM858", true},         {860, "IBM860", true},
    {861, "IBM861", true},         {862, "IBM862", true},
    {863, "IBM863", true},         {864, "IBM864", true},
    {865, "IBM865", true},         {866, "IBM866", true},
    {869, "IBM869", true},         {870, "IBM870", true},
    {874, "CP874", true},          {875, "CP875", true},
    {932, "CP932", false},         {936, "CP936", false},
    {949, "CP949", false},         {950, "CP950", false},
    {1026, "IBM1026", true},       {1047, "IBM1047", true},
    {1140, "IBM1140", true},       {1141, "IBM1141", true},
    {1142, "IBM1142", true},       {1143, "IBM1143", true},
    {1144, "IBM1144", true},       {1145, "IBM1145", true},
    {1146, "IBM1146", true},       {1147, "IBM1147", true},
    {1148, "IBM1148", true},       {1149, "IBM1149", true},
    {1200, "UTF-16LE", false},     {1201, "UTF-16BE", false},
    {1250, "CP1250", true},        {1251, "CP1251", true},
    {1252, "CP1252", true},        {1253, "CP1253", true},
    {1254, "CP1254", true},        {1255, "CP1255", true},
    {1256, "CP1256", true},        {1257, "CP1257", true},
    {1258, "CP1258", true},        {1361, "JOHAB", false},
    {10000, "MACINTOSH", true},    {10007, "MAC-CYRILLIC", true},
    {10017, "MACUKRAINIAN", true}, {10029, "MAC-CENTRALEUROPE", true},
    {10079, "MAC-IS", true},       {12000, "UTF-32LE", false},
    {12001, "UTF-32BE", false},    {20000, "EUC-TW", false},
    {20002, "BIG5", false},        {20106, "ISO646-DE", true},
    {20107, "ISO646-SE2", true},   {20108, "ISO646-NO", true},
    {20127, "ASCII", true},        {20269, "ISO_6937", false},
    {20273, "IBM273", true},       {20277, "IBM277", true},
    {20278, "IBM278", true},       {20280, "IBM280", true},
    {20284, "IBM284", true},       {20285, "IBM285", true},
    {20290, "IBM290", true},       {20297, "IBM297", true},
    {20420, "IBM420", true},       {20423, "IBM423", true},
    {20424, "IBM424", true},       {20866, "KOI8-R", true},
    {20871, "IBM871", true},       {20932, "EUC-JP", false},
    {20936, "EUC-CN", false},      {20949, "EUC-KR", false},
    {21025, "IBM1025", true},      {21866, "KOI8-U", true},
    {28591, "ISO-8859-1", true},   {28592, "ISO-8859-2", true},
    {28593, "ISO-8859-3", true},   {28594, "ISO-8859-4", true},
    {28595, "ISO-8859-5", true},   {28596, "ISO-8859-6", true},
    {28597, "ISO-8859-7", true},   {28598, "ISO-8859-8", true},
    {28599, "ISO-8859-9", true},   {28600, "ISO-8859-10", true},
    {28601, "ISO-8859-11", true},  {28603, "ISO-8859-13", true},
    {28604, "ISO-8859-14", true},  {28605, "ISO-8859-15", true},
    {38598, "ISO-8859-8", true},   {50220, "ISO-2022-JP", false},
    {50221, "ISO-2022-JP", false}, {50222, "ISO-2022-JP", false},
    {50225, "ISO-2022-KR", false}, {51932, "EUC-JP", false},
    {51936, "EUC-CN", false},      {51949, "EUC-KR", false},
    {54936, "GB18030", false},     {65000, "UTF-7", false},
    {65001, "UTF-8", false},
};

const code_page_entry* find_code_page(int code_page) {
  for (const auto& e : k_code_pages)
    if (e.code_page == code_page) return &e;
  return nullptr;
}

bool is_utf8_code_page(int code_page) {
  return code_page == CP_ANSI || code_page == -1 || code_page == CP_UTF8;
}

const char* native_utf16() {
  return std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
}

// One iconv pair per code page and thread (iconv descriptors keep state and
// must not be shared between threads); opened on first use, kept to exit.
struct code_page_converter {
  int code_page = 0;
  const code_page_entry* entry = nullptr;
  iconv_t decoder = reinterpret_cast<iconv_t>(-1);
  iconv_t encoder = reinterpret_cast<iconv_t>(-1);
  bool table_built = false;
  std::array<char16_t, 256> table{};

  ~code_page_converter() {
    if (decoder != reinterpret_cast<iconv_t>(-1)) iconv_close(decoder);
    if (encoder != reinterpret_cast<iconv_t>(-1)) iconv_close(encoder);
  }
};

code_page_converter& converter_for(int code_page, const char* failure_text) {
  thread_local std::vector<std::unique_ptr<code_page_converter>> cache;
  for (auto& c : cache)
    if (c->code_page == code_page) return *c;
  const code_page_entry* entry = find_code_page(code_page);
  if (entry == nullptr) throw tk_exception_ex(failure_text, 0, EINVAL);
  auto conv = std::make_unique<code_page_converter>();
  conv->code_page = code_page;
  conv->entry = entry;
  cache.push_back(std::move(conv));
  return *cache.back();
}

iconv_t decoder_of(code_page_converter& c, const char* failure_text) {
  if (c.decoder == reinterpret_cast<iconv_t>(-1)) {
    c.decoder = iconv_open(native_utf16(), c.entry->iconv_name);
    if (c.decoder == reinterpret_cast<iconv_t>(-1)) throw tk_exception_ex(failure_text, 0);
  }
  return c.decoder;
}

iconv_t encoder_of(code_page_converter& c, const char* failure_text) {
  if (c.encoder == reinterpret_cast<iconv_t>(-1)) {
    c.encoder = iconv_open(c.entry->iconv_name, native_utf16());
    if (c.encoder == reinterpret_cast<iconv_t>(-1)) throw tk_exception_ex(failure_text, 0);
  }
  return c.encoder;
}

const char k_to_unicode_failure[] = "Cannot convert to UNICODE string: ";
const char k_to_ansi_failure[] = "Cannot convert to ANSI string: ";

// Feeds in[0..n) through the decoder, appending UTF-16 to out. Bytes the code
// page does not define become U+FFFD, one per byte; a sequence cut off at the
// end becomes one U+FFFD.
void iconv_decode(iconv_t cd, const char* in, size_t n, tk_wstring& out) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char16_t buffer[512];
  char* src = const_cast<char*>(in);
  size_t left = n;
  while (left > 0) {
    char* dst = reinterpret_cast<char*>(buffer);
    size_t room = sizeof buffer;
    size_t r = iconv(cd, &src, &left, &dst, &room);
    int err = errno;
    out.append(buffer, static_cast<size_t>(reinterpret_cast<char16_t*>(dst) - buffer));
    if (r != static_cast<size_t>(-1) || err == E2BIG) continue;
    out.push_back(k_replacement);
    if (err != EILSEQ) break;  // EINVAL: a sequence cut off at the end
    ++src;
    --left;
  }
  char* dst = reinterpret_cast<char*>(buffer);
  size_t room = sizeof buffer;
  iconv(cd, nullptr, nullptr, &dst, &room);  // characters held back for composition
  out.append(buffer, static_cast<size_t>(reinterpret_cast<char16_t*>(dst) - buffer));
}

void build_single_byte_table(code_page_converter& c) {
  iconv_t cd = decoder_of(c, k_to_unicode_failure);
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    char16_t unit[4];
    char* src = &in;
    size_t left = 1;
    char* dst = reinterpret_cast<char*>(unit);
    size_t room = sizeof unit;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    size_t r = iconv(cd, &src, &left, &dst, &room);
    // Flush: CP1255 and CP1258 hold a letter back in case a combining mark
    // follows; Windows never composes, so the table keeps the letter alone.
    if (r != static_cast<size_t>(-1)) r = iconv(cd, nullptr, nullptr, &dst, &room);
    size_t produced = static_cast<size_t>(reinterpret_cast<char16_t*>(dst) - unit);
    c.table[b] = (r != static_cast<size_t>(-1) && produced == 1) ? unit[0] : k_replacement;
  }
  c.table_built = true;
}

void decode_code_page(tk_wstring& out, std::string_view text, int code_page) {
  if (is_utf8_code_page(code_page)) {
    decode_utf8(out, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    return;
  }
  code_page_converter& c = converter_for(code_page, k_to_unicode_failure);
  if (c.entry->single_byte) {
    if (!c.table_built) build_single_byte_table(c);
    for (unsigned char b : text) out.push_back(c.table[b]);
    return;
  }
  iconv_decode(decoder_of(c, k_to_unicode_failure), text.data(), text.size(), out);
}

// Appends the narrow form of text in the code page; characters the code page
// cannot hold become '?', as the platform's default character would.
void encode_code_page(std::string& out, std::u16string_view text, int code_page) {
  if (is_utf8_code_page(code_page)) {
    encode_utf8(out, text);
    return;
  }
  code_page_converter& c = converter_for(code_page, k_to_ansi_failure);
  iconv_t cd = encoder_of(c, k_to_ansi_failure);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char buffer[1024];
  char* src = reinterpret_cast<char*>(const_cast<char16_t*>(text.data()));
  size_t left = text.size() * sizeof(char16_t);
  while (left > 0) {
    char* dst = buffer;
    size_t room = sizeof buffer;
    size_t r = iconv(cd, &src, &left, &dst, &room);
    int err = errno;
    out.append(buffer, static_cast<size_t>(dst - buffer));
    if (r != static_cast<size_t>(-1) || err == E2BIG) continue;
    if (err != EILSEQ && err != EINVAL) break;
    // Skip the unconvertible character (a surrogate pair counts as one).
    char16_t unit[2] = {0, 0};
    memcpy(unit, src, std::min(left, sizeof unit));
    size_t skip = (left >= 4 && unit[0] >= 0xD800 && unit[0] <= 0xDBFF && unit[1] >= 0xDC00 &&
                   unit[1] <= 0xDFFF)
                      ? 4
                      : 2;
    skip = std::min(skip, left);
    src += skip;
    left -= skip;
    // The '?' goes through the encoder too, so stateful encodings stay right.
    char16_t question = u'?';
    char* qsrc = reinterpret_cast<char*>(&question);
    size_t qleft = sizeof question;
    char qbuf[16];
    char* qdst = qbuf;
    size_t qroom = sizeof qbuf;
    if (iconv(cd, &qsrc, &qleft, &qdst, &qroom) == static_cast<size_t>(-1) || qdst == qbuf)
      out.push_back('?');
    else
      out.append(qbuf, static_cast<size_t>(qdst - qbuf));
  }
  for (;;) {  // back to the initial shift state
    char* dst = buffer;
    size_t room = sizeof buffer;
    size_t r = iconv(cd, nullptr, nullptr, &dst, &room);
    int err = errno;
    out.append(buffer, static_cast<size_t>(dst - buffer));
    if (r == static_cast<size_t>(-1) && err == E2BIG) continue;
    break;
  }
}

}  // namespace

// ---- conversions ------------------------------------------------------------

void tk_append_ucs2(tk_wstring& out, std::string_view text, int code_page) {
  const code_page_entry* entry = is_utf8_code_page(code_page) ? nullptr : find_code_page(code_page);
  bool wide_units = entry != nullptr && (code_page == 1200 || code_page == 1201 ||
                                         code_page == 12000 || code_page == 12001);
  if (!wide_units) {
    decode_code_page(out, up_to_zero(text), code_page);
    return;
  }
  // In UTF-16 and UTF-32 a zero byte is part of most characters: there the
  // text ends at its first decoded zero character instead.
  size_t start = out.size();
  decode_code_page(out, text, code_page);
  size_t zero = out.find(u'\0', start);
  if (zero != tk_wstring::npos) out.resize(zero);
}

void tk_append_utf8_to_ucs2(tk_wstring& out, std::string_view utf8) {
  decode_utf8(out, reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size());
}

tk_wstring tk_ansi_to_ucs2(std::string_view text, int code_page) {
  tk_wstring out;
  out.reserve(text.size());
  tk_append_ucs2(out, text, code_page);
  return out;
}

tk_wstring tk_utf8_to_ucs2(std::string_view text) { return tk_ansi_to_ucs2(text, CP_UTF8); }

tk_wstring tk_u16(std::string_view utf8) { return tk_ansi_to_ucs2(utf8, CP_UTF8); }

tk_string tk_ucs2_to_ansi(std::u16string_view text, int code_page) {
  tk_string out;
  out.reserve(text.size());
  encode_code_page(out, text, code_page);
  return out;
}

tk_string tk_ucs2_to_utf8(std::u16string_view text) {
  tk_string out;
  out.reserve(text.size());
  encode_utf8(out, text);
  return out;
}

void tk_append_utf8(std::string& out, std::u16string_view text) { encode_utf8(out, text); }

const char* tk_code_page_name(int code_page) {
  if (is_utf8_code_page(code_page)) return "UTF-8";
  const code_page_entry* e = find_code_page(code_page);
  return e != nullptr ? e->iconv_name : nullptr;
}

void tk_to_hex(const uint8_t* bytes, size_t n, std::string& out) {
  TK_ASSERT(bytes != nullptr || n == 0);
  static const char k_digits[] = "0123456789ABCDEF";
  for (size_t i = 0; i < n; ++i) {
    out.push_back(k_digits[bytes[i] >> 4]);
    out.push_back(k_digits[bytes[i] & 0x0F]);
  }
}

tk_string tk_format(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) return tk_string();
  if (static_cast<size_t>(n) < sizeof small) return tk_string(small, static_cast<size_t>(n));
  tk_string out(static_cast<size_t>(n), '\0');
  va_start(args, format);
  vsnprintf(out.data(), out.size() + 1, format, args);
  va_end(args);
  return out;
}
