// The typed value of every field: construction, in-place type changes, text
// parsing, numeric accessors and the exact text the CSV files receive.
//
// Conversions between numbers never wrap: a value that does not fit the
// target type raises ole_cast_exception, as silently truncated numbers in a
// converted table are worse than a reported record.
#include "values/ole_var.h"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"

namespace {

constexpr size_t k_max_hex_bytes = 120000000;

locale_t c_locale() {
  static locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return loc;
}

// atof in the "C" locale: the longest numeric prefix, 0 when there is none.
double c_atof(const tk_string& text) { return strtod_l(text.c_str(), nullptr, c_locale()); }

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

template <class T>
void append_number(std::string& out, T v) {
  char buffer[40];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
  out.append(buffer, static_cast<size_t>(result.ptr - buffer));
}

// A count of 1/10000 units, printed exactly: "-12.5", "3", "0.0001".
void append_currency(std::string& out, int64_t cy) {
  uint64_t magnitude = cy < 0 ? 0 - static_cast<uint64_t>(cy) : static_cast<uint64_t>(cy);
  if (cy < 0) out.push_back('-');
  append_number(out, magnitude / 10000);
  unsigned frac = static_cast<unsigned>(magnitude % 10000);
  if (frac == 0) return;
  char digits[5] = {static_cast<char>('0' + frac / 1000), static_cast<char>('0' + frac / 100 % 10),
                    static_cast<char>('0' + frac / 10 % 10), static_cast<char>('0' + frac % 10), 0};
  size_t n = 4;
  while (digits[n - 1] == '0') --n;
  out.push_back('.');
  out.append(digits, n);
}

ole_decimal decimal_from_currency(int64_t cy) {
  ole_decimal d = ole_decimal::from_int64(cy);
  if (!d.is_zero()) d.exponent = -4;
  d.normalize();
  return d;
}

// Exact decimal of a finite double: its shortest round-trip digits.
bool decimal_from_double(double v, ole_decimal& out) {
  if (!std::isfinite(v)) return false;
  char buffer[40];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::scientific);
  return out.parse(std::string_view(buffer, static_cast<size_t>(result.ptr - buffer)));
}

// Rounds to an integral decimal: half to even (the OLE numeric conversions)
// or half away from zero.
ole_decimal round_decimal(const ole_decimal& d, bool half_even) {
  if (d.exponent >= 0 || d.is_zero()) return d;
  size_t n = d.ndigits <= ole_decimal::max_digits ? d.ndigits : ole_decimal::max_digits;
  size_t frac = static_cast<size_t>(-static_cast<int>(d.exponent));
  ole_decimal r;
  r.negative = d.negative;
  if (frac > n) return ole_decimal();  // below 0.1 in magnitude: rounds to 0
  size_t keep = n - frac;
  char first = d.digits[keep];
  bool up;
  if (first > '5') {
    up = true;
  } else if (first < '5') {
    up = false;
  } else {
    bool beyond = false;
    for (size_t i = keep + 1; i < n; ++i) beyond = beyond || d.digits[i] != '0';
    bool odd = keep > 0 && ((d.digits[keep - 1] - '0') & 1) != 0;
    up = !half_even || beyond || odd;
  }
  memcpy(r.digits, d.digits, keep);
  size_t count = keep;
  if (up) {
    size_t i = count;
    while (i > 0 && r.digits[i - 1] == '9') r.digits[--i] = '0';
    if (i == 0) {  // 999.5 -> 1000: one more digit (there is room: frac > 0)
      memmove(r.digits + 1, r.digits, count);
      r.digits[0] = '1';
      ++count;
    } else {
      ++r.digits[i - 1];
    }
  }
  // Strip leading zeros ("0" digits kept from a value below 1).
  size_t lead = 0;
  while (lead < count && r.digits[lead] == '0') ++lead;
  memmove(r.digits, r.digits + lead, count - lead);
  r.ndigits = static_cast<uint8_t>(count - lead);
  r.exponent = 0;
  if (r.ndigits == 0) r.negative = false;
  return r;
}

int64_t decimal_to_int64(const ole_decimal& d, bool half_even) {
  int64_t v;
  if (!round_decimal(d, half_even).to_int64(v)) throw ole_cast_exception();
  return v;
}

// A count of 1/10000 units from a decimal (VarCyFromDec rounds half to even).
int64_t decimal_to_currency(const ole_decimal& d) {
  ole_decimal scaled = d;
  if (!scaled.is_zero()) {
    if (scaled.exponent > std::numeric_limits<int16_t>::max() - 4) throw ole_cast_exception();
    scaled.exponent = static_cast<int16_t>(scaled.exponent + 4);
  }
  return decimal_to_int64(scaled, true);
}

// double to integer, rounded half away from zero, with the range check the
// conversion to an integer type needs to be defined at all.
int64_t double_to_int64(double v) {
  double r = std::round(v);
  if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) throw ole_cast_exception();
  return static_cast<int64_t>(r);
}

// OLE Automation date: days since 1899-12-30, the time as the fraction (whose
// magnitude, not sign, counts for days before 1899-12-30).
double ole_automation_date(const ole_date& d) {
  const tk_systemtime& st = d.st;
  double seconds = st.hour * 3600.0 + st.minute * 60.0 + st.second +
                   (d.microseconds != 0 ? d.microseconds / 1e6 : st.milliseconds / 1e3);
  double frac = seconds / 86400.0;
  if (st.year == 0 && st.month == 0 && st.day == 0) return frac;
  unsigned month = st.month >= 1 && st.month <= 12 ? st.month : 1;
  int64_t days = days_from_civil(st.year, month, st.day) - days_from_civil(1899, 12, 30);
  return days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
}

void check_range(int64_t v, int64_t lo, int64_t hi) {
  if (v < lo || v > hi) throw ole_cast_exception();
}

// Little-endian image of an integer, as the platform's memory holds it.
void put_le(std::vector<uint8_t>& out, uint64_t v, size_t n) {
  out.resize(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The 16-byte OLE DECIMAL (reserved, scale, sign, 96-bit mantissa) of d,
// when d fits one.
bool ole_decimal_image(const ole_decimal& d, std::vector<uint8_t>& out) {
  ole_decimal n = d;
  n.normalize();
  int scale = n.exponent < 0 ? -n.exponent : 0;
  if (scale > 28) return false;
  unsigned __int128 m = 0;
  const unsigned __int128 limit = (static_cast<unsigned __int128>(1) << 96) - 1;
  for (size_t i = 0; i < n.ndigits; ++i) {
    m = m * 10 + static_cast<unsigned>(n.digits[i] - '0');
    if (m > limit) return false;
  }
  for (int e = n.exponent; e > 0; --e) {
    m *= 10;
    if (m > limit) return false;
  }
  out.assign(16, 0);
  out[2] = static_cast<uint8_t>(scale);
  out[3] = n.negative ? 0x80 : 0;
  uint32_t hi32 = static_cast<uint32_t>(m >> 64);
  uint64_t lo64 = static_cast<uint64_t>(m);
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(hi32 >> (8 * i));
  for (int i = 0; i < 8; ++i) out[8 + i] = static_cast<uint8_t>(lo64 >> (8 * i));
  return true;
}

// Decimal integer prefix of text, as atol reads it ("12abc" is 12, "abc" 0),
// but with the magnitude kept so that an overflow can be told.
bool integer_prefix(const tk_string& text, bool& negative, uint64_t& magnitude) {
  size_t i = 0;
  while (i < text.size() && (is_blank(text[i]) || text[i] == '\v' || text[i] == '\f')) ++i;
  negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  return true;
}

int64_t signed_prefix(const tk_string& text, int64_t lo, int64_t hi) {
  bool negative;
  uint64_t m;
  if (!integer_prefix(text, negative, m)) throw ole_cast_exception();
  constexpr uint64_t max = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (m > max + (negative ? 1 : 0)) throw ole_cast_exception();
  int64_t v = negative
                  ? (m == max + 1 ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(m))
                  : static_cast<int64_t>(m);
  check_range(v, lo, hi);
  return v;
}

uint64_t unsigned_prefix(const tk_string& text, uint64_t hi) {
  bool negative;
  uint64_t m;
  if (!integer_prefix(text, negative, m) || (negative && m != 0) || m > hi)
    throw ole_cast_exception();
  return m;
}

bool text_is_one_of(const tk_string& text, std::initializer_list<const char*> words) {
  for (const char* w : words)
    if (tk_compare_no_case(text, w)) return true;
  return false;
}

// Value of one hexadecimal digit as the original table lookup gives it: the
// position at which the character sorts into "0123456789ABCDEF", or into
// "0123456789abcdef" for characters beyond 'F'. Non-digits are not refused.
unsigned hex_position(char c) {
  static const char k_upper[] = "0123456789ABCDEF";
  static const char k_lower[] = "0123456789abcdef";
  unsigned char u = static_cast<unsigned char>(c);
  const char* table = u > 'F' ? k_lower : k_upper;
  unsigned pos = 0;
  while (pos < 16 && static_cast<unsigned char>(table[pos]) < u) ++pos;
  return pos;
}

}  // namespace

// ---- construction -------------------------------------------------------------

ole_variant::ole_variant(const tk_systemtime& st) : m_vt(VT_DATE), m_date(st) {}
ole_variant::ole_variant(const ole_date& d) : m_vt(VT_DATE), m_date(d) {}
ole_variant::ole_variant(const ole_decimal& d) : m_vt(VT_DECIMAL), m_dec(d) {}
ole_variant::ole_variant(const tk_string& utf8) { attach_string(utf8); }
ole_variant::ole_variant(const tk_wstring& text) { attach_wstring(text); }
ole_variant::ole_variant(const char16_t* text) : m_vt(VT_BSTR) {
  if (text != nullptr) m_text = text;
}
ole_variant::ole_variant(char v) : m_vt(VT_I1) { m_u.i1 = static_cast<int8_t>(v); }
ole_variant::ole_variant(uint8_t v) : m_vt(VT_UI1) { m_u.ui1 = v; }
ole_variant::ole_variant(int16_t v) : m_vt(VT_I2) { m_u.i2 = v; }
ole_variant::ole_variant(uint16_t v) : m_vt(VT_UI2) { m_u.ui2 = v; }
ole_variant::ole_variant(int32_t v) : m_vt(VT_I4) { m_u.i4 = v; }
ole_variant::ole_variant(uint32_t v) : m_vt(VT_UI4) { m_u.ui4 = v; }
ole_variant::ole_variant(int64_t v) : m_vt(VT_I8), m_i8(v) {}
ole_variant::ole_variant(uint64_t v) : m_vt(VT_UI8), m_ui8(v) {}
ole_variant::ole_variant(float v) : m_vt(VT_R4) { m_u.r4 = v; }
ole_variant::ole_variant(double v) : m_vt(VT_R8) { m_u.r8 = v; }
ole_variant::ole_variant(bool v) : m_vt(VT_BOOL) { m_u.boolean = v ? -1 : 0; }

ole_variant::ole_variant(size_t count, const uint8_t* bytes) {
  if (count == 0) return;
  TK_ASSERT(bytes != nullptr);
  set_bytes(bytes, count);
}

ole_variant& ole_variant::operator=(const tk_string& utf8) {
  attach_string(utf8);
  return *this;
}

ole_variant& ole_variant::operator=(const tk_wstring& text) {
  attach_wstring(text);
  return *this;
}

ole_variant& ole_variant::operator=(const std::vector<uint8_t>& bytes) {
  // An empty byte input is "no value", as for the constructor; keeping the
  // old value would hand the previous row's bytes to this one.
  if (bytes.empty()) {
    m_vt = VT_EMPTY;
    return *this;
  }
  set_bytes(bytes.data(), bytes.size());
  return *this;
}

// ---- setters --------------------------------------------------------------------

void ole_variant::set_i1(int8_t v) {
  m_vt = VT_I1;
  m_u.i1 = v;
}
void ole_variant::set_i2(int16_t v) {
  m_vt = VT_I2;
  m_u.i2 = v;
}
void ole_variant::set_i4(int32_t v) {
  m_vt = VT_I4;
  m_u.i4 = v;
}
void ole_variant::set_i8(int64_t v) {
  m_vt = VT_I8;
  m_i8 = v;
}
void ole_variant::set_r4(float v) {
  m_vt = VT_R4;
  m_u.r4 = v;
}
void ole_variant::set_r8(double v) {
  m_vt = VT_R8;
  m_u.r8 = v;
}
void ole_variant::set_decimal(const ole_decimal& d) {
  m_vt = VT_DECIMAL;
  m_dec = d;
}
void ole_variant::set_date(const ole_date& d) {
  m_vt = VT_DATE;
  m_date = d;
}
void ole_variant::set_text(std::u16string_view text) {
  m_vt = VT_BSTR;
  m_utf8 = false;
  m_text.assign(text);
}

void ole_variant::append_text(std::u16string_view text) {
  if (m_vt != VT_BSTR) {
    m_text.clear();
    m_utf8 = false;
  }
  if (m_utf8) widen();
  m_vt = VT_BSTR;
  m_text.append(text);
}

tk_wstring& ole_variant::text_buffer() {
  m_vt = VT_BSTR;
  m_utf8 = false;
  m_text.clear();
  return m_text;
}

void ole_variant::widen() const {
  if (!m_utf8) return;
  m_text.clear();
  tk_append_utf8_to_ucs2(m_text, m_text8);
  m_utf8 = false;
}

void ole_variant::set_bytes(const uint8_t* p, size_t n) {
  TK_ASSERT(p != nullptr || n == 0);
  m_vt = VT_ARRAY_UI1;
  m_bytes.assign(p, p + n);
}

size_t ole_variant::get_bytes(const uint8_t*& out, std::string& buffer) const {
  out = nullptr;
  if (m_vt == VT_EMPTY || m_vt == VT_NULL) {
    log_message(1, "OLE_Variant is empty");
    return 0;
  }
  if (m_vt == VT_BSTR && m_utf8) {
    out = reinterpret_cast<const uint8_t*>(m_text8.data());
    return m_text8.size();
  }
  if (m_vt == VT_BSTR) {
    buffer = tk_u8(m_text);
    out = reinterpret_cast<const uint8_t*>(buffer.data());
    return buffer.size();
  }
  if (m_vt == VT_BLOB || m_vt == VT_ARRAY_UI1) {
    out = m_bytes.data();
    return m_bytes.size();
  }
  throw tk_mail_assertion(__FILE__, __LINE__);
}

std::vector<uint8_t>& ole_variant::byte_buffer() {
  m_vt = VT_ARRAY_UI1;
  m_bytes.clear();
  return m_bytes;
}

void ole_variant::allocate_safe_array(size_t size) {
  if (m_vt == VT_ARRAY_UI1 || m_vt == VT_BLOB) {
    m_bytes.resize(size);
    return;
  }
  m_vt = VT_ARRAY_UI1;
  m_bytes.assign(size, 0);
}

void ole_variant::attach_string(const tk_string& utf8) {
  m_vt = VT_BSTR;
  m_utf8 = false;
  m_text.clear();
  tk_append_utf8_to_ucs2(m_text, utf8);
}

void ole_variant::attach_wstring(const tk_wstring& text) {
  m_vt = VT_BSTR;
  m_utf8 = false;
  m_text.assign(text);
}

// ---- text -------------------------------------------------------------------------

void ole_variant::append_text_utf8(std::string& out) const {
  switch (m_vt) {
    case VT_I1:
      append_number(out, static_cast<int>(m_u.i1));
      return;
    case VT_UI1:
      append_number(out, static_cast<unsigned>(m_u.ui1));
      return;
    case VT_I2:
      append_number(out, static_cast<int>(m_u.i2));
      return;
    case VT_UI2:
      append_number(out, static_cast<unsigned>(m_u.ui2));
      return;
    case VT_I4:
    case VT_INT:
      append_number(out, m_u.i4);
      return;
    case VT_UI4:
    case VT_UINT:
      append_number(out, m_u.ui4);
      return;
    case VT_I8:
      append_number(out, m_i8);
      return;
    case VT_UI8:
      append_number(out, m_ui8);
      return;
    case VT_R4:
      append_number(out, m_u.r4);  // shortest text that reads back the same float
      return;
    case VT_R8:
      append_number(out, m_u.r8);  // shortest text that reads back the same double
      return;
    case VT_CY:
      append_currency(out, m_u.cy);
      return;
    case VT_DECIMAL:
      m_dec.append_to(out);
      return;
    case VT_BOOL:
      out.push_back(m_u.boolean == -1 ? '1' : '0');
      return;
    case VT_DATE:
      m_date.append_to(out, 6);
      return;
    case VT_BSTR:
      if (m_utf8)
        out.append(m_text8);
      else
        tk_append_utf8(out, m_text);
      return;
    case VT_BLOB:
    case VT_ARRAY_UI1:
      if (m_bytes.empty()) return;
      out.append("0x");
      tk_to_hex(m_bytes.data(), std::min(m_bytes.size(), k_max_hex_bytes), out);
      return;
    default:
      return;
  }
}

tk_string ole_variant::to_string() const {
  tk_string s;
  append_text_utf8(s);
  return s;
}

tk_wstring ole_variant::to_wstring() const {
  if (m_vt == VT_BSTR) return text();
  tk_wstring w;
  tk_append_utf8_to_ucs2(w, to_string());
  return w;
}

// ---- numeric accessors ------------------------------------------------------------

double ole_variant::to_double() const {
  switch (m_vt) {
    case VT_EMPTY:
    case VT_NULL:
      return 0.0;
    case VT_I1:
      return m_u.i1;
    case VT_UI1:
      return m_u.ui1;
    case VT_I2:
      return m_u.i2;
    case VT_UI2:
      return m_u.ui2;
    case VT_I4:
    case VT_INT:
      return m_u.i4;
    case VT_UI4:
    case VT_UINT:
      return m_u.ui4;
    case VT_R4:
      return m_u.r4;
    case VT_R8:
      return m_u.r8;
    case VT_CY:
      return decimal_from_currency(m_u.cy).to_double();
    case VT_DECIMAL:
      return m_dec.to_double();
    case VT_BOOL:
      return m_u.boolean == -1 ? 1.0 : 0.0;
    case VT_I8:
      return static_cast<double>(m_i8);
    case VT_UI8:
      return static_cast<double>(m_ui8);
    case VT_DATE:
      return ole_automation_date(m_date);
    default:
      throw ole_cast_exception();
  }
}

float ole_variant::to_float() const {
  if (m_vt == VT_R4) return m_u.r4;
  return static_cast<float>(to_double());
}

int64_t ole_variant::to_i8() const {
  switch (m_vt) {
    case VT_I1:
      return m_u.i1;
    case VT_UI1:
      return m_u.ui1;
    case VT_I2:
      return m_u.i2;
    case VT_UI2:
      return m_u.ui2;
    case VT_I4:
    case VT_INT:
      return m_u.i4;
    case VT_UI4:
    case VT_UINT:
      return m_u.ui4;
    case VT_R4:
      return double_to_int64(m_u.r4);
    case VT_R8:
      return double_to_int64(m_u.r8);
    case VT_CY:
      return decimal_to_int64(decimal_from_currency(m_u.cy), true);
    case VT_DECIMAL:
      return decimal_to_int64(m_dec, true);
    case VT_BOOL:
      return m_u.boolean == -1 ? 1 : 0;
    case VT_I8:
      return m_i8;
    case VT_UI8:
      if (m_ui8 > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        throw ole_cast_exception();
      return static_cast<int64_t>(m_ui8);
    default:
      return 0;
  }
}

int32_t ole_variant::to_long() const {
  int64_t v;
  switch (m_vt) {
    case VT_R4:
    case VT_R8: {
      double d = m_vt == VT_R4 ? m_u.r4 : m_u.r8;
      double t = std::trunc(d);  // to_long truncates, to_i8 rounds
      if (!(t >= -2147483648.0 && t <= 2147483647.0)) throw ole_cast_exception();
      return static_cast<int32_t>(t);
    }
    case VT_CY:
    case VT_DECIMAL:
    case VT_I8:
    case VT_UI8:
    case VT_UI4:
    case VT_UINT:
      v = to_i8();
      break;
    default:
      return static_cast<int32_t>(to_i8());  // the small types, bool and "0" tags
  }
  check_range(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
  return static_cast<int32_t>(v);
}

// ---- type changes ----------------------------------------------------------------

namespace {

bool is_integer_vt(vartype_t vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
      return true;
    default:
      return false;
  }
}

bool is_numeric_vt(vartype_t vt) {
  return is_integer_vt(vt) || vt == VT_R4 || vt == VT_R8 || vt == VT_CY || vt == VT_DECIMAL ||
         vt == VT_BOOL;
}

}  // namespace

// The value as an exact decimal (floats by their shortest round-trip digits,
// text by its number in "C" conventions); raises when there is none.
ole_decimal ole_variant::exact_value() const {
  ole_decimal d;
  switch (m_vt) {
    case VT_R4: {
      if (!std::isfinite(m_u.r4)) throw ole_cast_exception();
      char buffer[32];
      auto r = std::to_chars(buffer, buffer + sizeof buffer, m_u.r4, std::chars_format::scientific);
      if (!d.parse(std::string_view(buffer, static_cast<size_t>(r.ptr - buffer))))
        throw ole_cast_exception();
      return d;
    }
    case VT_R8:
      if (!decimal_from_double(m_u.r8, d)) throw ole_cast_exception();
      return d;
    case VT_DECIMAL:
      return m_dec;
    case VT_CY:
      return decimal_from_currency(m_u.cy);
    case VT_UI8:
      return ole_decimal::from_uint64(m_ui8);
    case VT_BOOL:  // as a number VARIANT_TRUE is -1
      return ole_decimal::from_int64(m_u.boolean);
    case VT_BSTR: {
      tk_string text = tk_ucs2_to_utf8(this->text());
      if (!d.parse(trim_blanks(text))) {
        log_message(2, "VariantChangeType failed: '%s'", text.c_str());
        throw ole_cast_exception();
      }
      return d;
    }
    default:
      if (!is_numeric_vt(m_vt)) throw ole_cast_exception();
      return ole_decimal::from_int64(to_i8());
  }
}

// Stores an integral decimal in an integer tag, refusing what does not fit.
void ole_variant::store_integer(vartype_t vt, const ole_decimal& integral) {
  if (vt == VT_UI8) {
    uint64_t u;
    if (!integral.to_uint64(u)) throw ole_cast_exception();
    m_ui8 = u;
    m_vt = VT_UI8;
    return;
  }
  int64_t v;
  if (!integral.to_int64(v)) throw ole_cast_exception();
  switch (vt) {
    case VT_I1:
      check_range(v, INT8_MIN, INT8_MAX);
      m_u.i1 = static_cast<int8_t>(v);
      break;
    case VT_UI1:
      check_range(v, 0, UINT8_MAX);
      m_u.ui1 = static_cast<uint8_t>(v);
      break;
    case VT_I2:
      check_range(v, INT16_MIN, INT16_MAX);
      m_u.i2 = static_cast<int16_t>(v);
      break;
    case VT_UI2:
      check_range(v, 0, UINT16_MAX);
      m_u.ui2 = static_cast<uint16_t>(v);
      break;
    case VT_I4:
    case VT_INT:
      check_range(v, INT32_MIN, INT32_MAX);
      m_u.i4 = static_cast<int32_t>(v);
      break;
    case VT_UI4:
    case VT_UINT:
      check_range(v, 0, UINT32_MAX);
      m_u.ui4 = static_cast<uint32_t>(v);
      break;
    case VT_I8:
      m_i8 = v;
      break;
    default:
      throw ole_cast_exception();
  }
  m_vt = vt;
}

void ole_variant::change_type(vartype_t vt) {
  const vartype_t old = m_vt;
  if (old == VT_BSTR) widen();
  // VT_BLOB and VT_ARRAY|VT_UI1 hold the same byte array.
  if ((old == VT_ARRAY_UI1 && vt == VT_BLOB) || (old == VT_BLOB && vt == VT_ARRAY_UI1)) {
    log_message(1, "Replace by synonym");
    m_vt = vt;
    return;
  }
  if (vt == old || old == VT_EMPTY || old == VT_NULL || (is_binary_vt(old) && is_binary_vt(vt))) {
    log_message(1, "Type cannot be changed");
    return;
  }
  if (old == VT_BSTR && vt == VT_BOOL) {
    tk_string text = tk_ucs2_to_utf8(m_text);
    if (text_is_one_of(text, {"yes", "t", "true"}))
      m_u.boolean = -1;
    else if (text_is_one_of(text, {"no", "f", "false"}))
      m_u.boolean = 0;
    else
      throw ole_cast_exception();
    m_vt = VT_BOOL;
    return;
  }
  if (old == VT_DATE) {
    if (vt != VT_BSTR) throw ole_cast_exception();
    m_text = m_date.to_wstring(6);
    m_utf8 = false;
    m_vt = VT_BSTR;
    return;
  }
  if (vt == VT_DATE) {
    if (old != VT_BSTR) throw ole_cast_exception();
    ole_date d(tk_ucs2_to_utf8(m_text));
    if (!d.is_valid()) throw ole_cast_exception();
    m_date = d;
    m_vt = VT_DATE;
    return;
  }
  if (is_binary_vt(old)) {
    // Only text can be made of bytes: they are read as narrow text.
    if (vt != VT_BSTR || old == VT_BLOB_OBJECT) return;
    size_t n = std::min(m_bytes.size(), k_max_hex_bytes);
    m_text.clear();
    m_utf8 = false;
    tk_append_ucs2(m_text, std::string_view(reinterpret_cast<const char*>(m_bytes.data()), n));
    m_vt = VT_BSTR;
    return;
  }
  if (is_binary_vt(vt)) {
    // The value's own bytes, little-endian as the platform keeps them.
    std::vector<uint8_t> bytes;
    switch (old) {
      case VT_I1:
      case VT_UI1:
        put_le(bytes, m_u.ui1, 1);
        break;
      case VT_I2:
      case VT_UI2:
      case VT_BOOL:
        put_le(bytes, m_u.ui2, 2);
        break;
      case VT_I4:
      case VT_UI4:
      case VT_INT:
      case VT_UINT:
      case VT_R4:
        put_le(bytes, m_u.ui4, 4);
        break;
      case VT_R8:
      case VT_CY:
        put_le(bytes, static_cast<uint64_t>(m_u.cy), 8);
        break;
      case VT_I8:
        put_le(bytes, static_cast<uint64_t>(m_i8), 8);
        break;
      case VT_UI8:
        put_le(bytes, m_ui8, 8);
        break;
      case VT_DECIMAL:
        if (!ole_decimal_image(m_dec, bytes)) throw ole_cast_exception();
        break;
      case VT_BSTR: {
        tk_string text = tk_ucs2_to_utf8(m_text);
        bytes.assign(text.begin(), text.end());
        break;
      }
      default:
        throw ole_cast_exception();
    }
    convert_to_byte_array(bytes.data(), bytes.size(), m_bytes);
    m_vt = VT_ARRAY_UI1;
    return;
  }
  if (vt == VT_EMPTY || vt == VT_NULL) {
    m_vt = vt;
    return;
  }
  if (vt == VT_BSTR) {
    if (!is_numeric_vt(old)) throw ole_cast_exception();
    tk_wstring text = to_wstring();
    m_text.swap(text);
    m_utf8 = false;
    m_vt = VT_BSTR;
    return;
  }
  if (!is_numeric_vt(vt) || !(is_numeric_vt(old) || old == VT_BSTR)) throw ole_cast_exception();

  const bool from_float = old == VT_R4 || old == VT_R8;
  const bool wide_source = old == VT_DECIMAL || old == VT_I8 || old == VT_UI8;
  // I2, UI2, I4, UI4 are made only of floats and the wide types, I1 only of
  // those wide types; other sources keep their type.
  if ((vt == VT_I2 || vt == VT_UI2 || vt == VT_I4 || vt == VT_UI4) && !from_float && !wide_source)
    return;
  if (vt == VT_I1 && !wide_source) return;
  if ((vt == VT_I8 || vt == VT_UI8) && old == VT_BSTR) throw ole_cast_exception();

  switch (vt) {
    case VT_R8:
    case VT_R4: {
      double d;
      if (old == VT_BSTR) {
        tk_string text = tk_ucs2_to_utf8(m_text);
        std::string_view t = trim_blanks(text);
        tk_string number(t);
        char* end = nullptr;
        d = strtod_l(number.c_str(), &end, c_locale());
        if (number.empty() || end != number.c_str() + number.size()) {
          log_message(2, "VariantChangeType failed: '%s'", text.c_str());
          throw ole_cast_exception();
        }
      } else {
        d = old == VT_BOOL ? m_u.boolean : to_double();
      }
      if (vt == VT_R8)
        m_u.r8 = d;
      else
        m_u.r4 = static_cast<float>(d);
      m_vt = vt;
      return;
    }
    case VT_BOOL: {
      bool nonzero = from_float ? to_double() != 0.0 : !exact_value().is_zero();
      m_u.boolean = nonzero ? -1 : 0;
      m_vt = VT_BOOL;
      return;
    }
    case VT_DECIMAL: {
      ole_decimal d = exact_value();
      m_dec = d;
      m_vt = VT_DECIMAL;
      return;
    }
    case VT_CY: {
      int64_t cy = decimal_to_currency(exact_value());
      m_u.cy = cy;
      m_vt = VT_CY;
      return;
    }
    default:
      break;
  }
  // Integer targets. Floats to I2..UI4 round half away from zero; every other
  // conversion rounds half to even, as the OLE numeric conversions do.
  bool half_away = from_float && (vt == VT_I2 || vt == VT_UI2 || vt == VT_I4 || vt == VT_UI4);
  ole_decimal integral = round_decimal(exact_value(), !half_away);
  store_integer(vt, integral);
}

ole_variant ole_variant::from_string(const tk_string& text, vartype_t vt) {
  ole_variant v;
  if (text.empty() && vt != VT_BSTR) return v;
  switch (vt) {
    case VT_ARRAY_UI1:
    case VT_BLOB: {
      if (text.size() % 2 != 0) {
        log_message(2, "Incorrect BLOB (size is odd)");
        return v;
      }
      bool prefix = (text[0] == '0' || text[0] == '\\') && (text[1] == 'x' || text[1] == 'X');
      size_t count = text.size() / 2 - (prefix ? 1 : 0);
      v.allocate_safe_array(count);
      size_t pos = prefix ? 2 : 0;
      for (size_t i = 0; i < count; ++i, pos += 2) {
        if (text[pos] == '\0' || text[pos + 1] == '\0') break;
        v.m_bytes[i] =
            static_cast<uint8_t>((hex_position(text[pos]) << 4) + hex_position(text[pos + 1]));
      }
      v.m_vt = vt;
      return v;
    }
    case VT_I1:
      v.m_u.i1 = static_cast<int8_t>(signed_prefix(text, INT8_MIN, INT8_MAX));
      break;
    case VT_UI1:
      v.m_u.ui1 = static_cast<uint8_t>(unsigned_prefix(text, UINT8_MAX));
      break;
    case VT_I2:
      v.m_u.i2 = static_cast<int16_t>(signed_prefix(text, INT16_MIN, INT16_MAX));
      break;
    case VT_UI2:
      v.m_u.ui2 = static_cast<uint16_t>(unsigned_prefix(text, UINT16_MAX));
      break;
    case VT_I4:
      v.m_u.i4 = static_cast<int32_t>(signed_prefix(text, INT32_MIN, INT32_MAX));
      break;
    case VT_UI4:
      v.m_u.ui4 = static_cast<uint32_t>(unsigned_prefix(text, UINT32_MAX));
      break;
    case VT_I8:
      v.m_i8 = signed_prefix(text, INT64_MIN, INT64_MAX);
      break;
    case VT_UI8:
      v.m_ui8 = unsigned_prefix(text, UINT64_MAX);
      break;
    case VT_R4:
    case VT_R8: {
      // Decimal commas of the user's locale are read as points.
      tk_string t = text;
      std::replace(t.begin(), t.end(), ',', '.');
      double d = c_atof(t);
      if (vt == VT_R8)
        v.m_u.r8 = d;
      else
        v.m_u.r4 = static_cast<float>(d);
      break;
    }
    case VT_CY: {
      tk_string t = text;
      std::replace(t.begin(), t.end(), ',', '.');
      ole_decimal d;
      if (!d.parse(trim_blanks(t))) {
        log_message(2, "VarCyFromStr failed: %08X", 0x80020005u);
        return v;
      }
      try {
        v.m_u.cy = decimal_to_currency(d);
      } catch (const ole_cast_exception&) {
        log_message(2, "VarCyFromStr failed: %08X", 0x8002000Au);
        return v;
      }
      break;
    }
    case VT_DECIMAL: {
      tk_string t = text;
      std::replace(t.begin(), t.end(), ',', '.');
      if (!v.m_dec.parse(trim_blanks(t))) {
        log_message(2, "ERROR: VarDecFromStr for '%s' failed (hr=%08X)", text.c_str(), 0x80020005u);
        v.m_u.r8 = c_atof(t);
        v.m_vt = VT_R8;
        return v;
      }
      break;
    }
    case VT_DATE: {
      ole_date d(text);
      if (!d.is_valid()) return v;
      v.m_date = d;
      break;
    }
    case VT_BOOL:
      if (text_is_one_of(text, {"1", "yes", "t", "true"}))
        v.m_u.boolean = -1;
      else if (text_is_one_of(text, {"0", "no", "f", "false"}))
        v.m_u.boolean = 0;
      else
        v.m_u.boolean = strtol(text.c_str(), nullptr, 10) != 0 ? -1 : 0;
      break;
    default:
      v.attach_string(text);
      try {
        v.change_type(vt);
      } catch (const ole_cast_exception&) {
        throw ole_type_exception();
      }
      return v;
  }
  v.m_vt = vt;
  return v;
}

size_t get_safe_array_size(const ole_variant& v) {
  vartype_t vt = v.get_type();
  return vt == VT_ARRAY_UI1 || vt == VT_BLOB ? v.bytes().size() : 0;
}

void convert_to_byte_array(const uint8_t* bytes, size_t count, std::vector<uint8_t>& out) {
  TK_ASSERT(bytes != nullptr || count == 0);
  out.assign(bytes, bytes + count);
}
