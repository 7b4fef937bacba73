// Exact decimal numbers. Oracle NUMBER holds up to 40 significant digits with
// exponents from -130 to 125; neither a double nor the 96-bit OLE DECIMAL
// keeps all of them, so the value is kept as its digit string.
#include <charconv>
#include <cstring>
#include <limits>

#include "values/ole_var.h"

namespace {

// Digits of the value actually stored, guarding against a corrupt count.
size_t digit_count(const ole_decimal& d) {
  return d.ndigits <= ole_decimal::max_digits ? d.ndigits : ole_decimal::max_digits;
}

bool all_zero(const char* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] != '0') return false;
  return true;
}

// Magnitude as an unsigned integer; false when not integral or too large.
bool integral_magnitude(const ole_decimal& d, uint64_t& out) {
  size_t n = digit_count(d);
  int e = d.exponent;
  if (e < 0) {
    size_t frac = static_cast<size_t>(-e);
    if (frac > n) return all_zero(d.digits, n) ? (out = 0, true) : false;
    if (!all_zero(d.digits + n - frac, frac)) return false;
    n -= frac;
    e = 0;
  }
  uint64_t m = 0;
  for (size_t i = 0; i < n; ++i) {
    unsigned digit = static_cast<unsigned>(d.digits[i] - '0');
    if (digit > 9) return false;
    if (m > (std::numeric_limits<uint64_t>::max() - digit) / 10) return false;
    m = m * 10 + digit;
  }
  for (int i = 0; i < e && m != 0; ++i) {
    if (m > std::numeric_limits<uint64_t>::max() / 10) return false;
    m *= 10;
  }
  out = m;
  return true;
}

ole_decimal from_magnitude(bool negative, uint64_t m) {
  ole_decimal d;
  if (m == 0) return d;
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, m);
  d.negative = negative;
  d.ndigits = static_cast<uint8_t>(result.ptr - buffer);
  memcpy(d.digits, buffer, d.ndigits);
  return d;
}

}  // namespace

void ole_decimal::append_to(std::string& out) const {
  size_t n = digit_count(*this);
  if (n == 0 || all_zero(digits, n)) {
    out.push_back('0');
    return;
  }
  const char* p = digits;  // tolerate leading zeros though none should be there
  while (*p == '0') {
    ++p;
    --n;
  }
  // Every value is printed for every NUMBER of a row: the text is put
  // together in a buffer and appended once. Exponents of a damaged value
  // may be far out; those take the long way.
  char buf[192];
  char* d = buf;
  if (negative) *d++ = '-';
  if (exponent >= 0) {
    if (n + static_cast<size_t>(exponent) + 1 > sizeof buf) {
      out.append(buf, static_cast<size_t>(d - buf));
      out.append(p, n);
      out.append(static_cast<size_t>(exponent), '0');
      return;
    }
    std::memcpy(d, p, n);
    d += n;
    std::memset(d, '0', static_cast<size_t>(exponent));
    d += exponent;
    out.append(buf, static_cast<size_t>(d - buf));
    return;
  }
  // Fraction digits: zeros at the end of the fraction are not printed.
  size_t frac = static_cast<size_t>(-static_cast<int>(exponent));
  size_t end = n;
  while (frac > 0 && p[end - 1] == '0') {
    --end;
    --frac;
  }
  if (frac == 0) {
    std::memcpy(d, p, end);
    d += end;
  } else if (end > frac) {
    std::memcpy(d, p, end - frac);
    d += end - frac;
    *d++ = '.';
    std::memcpy(d, p + (end - frac), frac);
    d += frac;
  } else {
    if (frac + 3 > sizeof buf) {
      out.append(buf, static_cast<size_t>(d - buf));
      out.append("0.");
      out.append(frac - end, '0');
      out.append(p, end);
      return;
    }
    *d++ = '0';
    *d++ = '.';
    std::memset(d, '0', frac - end);
    d += frac - end;
    std::memcpy(d, p, end);
    d += end;
  }
  out.append(buf, static_cast<size_t>(d - buf));
}

std::string ole_decimal::to_string() const {
  std::string s;
  append_to(s);
  return s;
}

bool ole_decimal::parse(std::string_view text) {
  ole_decimal d;
  size_t i = 0;
  const size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) d.negative = text[i++] == '-';
  bool any_digit = false, point = false;
  int64_t exp = 0;
  size_t nd = 0;
  for (; i < n; ++i) {
    char c = text[i];
    if (c == '.') {
      if (point) return false;
      point = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    any_digit = true;
    if (nd == 0 && c == '0') {  // leading zero
      if (point) --exp;
      continue;
    }
    if (nd < static_cast<size_t>(max_digits)) {
      d.digits[nd++] = c;
      if (point) --exp;
    } else {
      // Past the capacity only zeros may follow: integer zeros scale the
      // value, fraction zeros change nothing.
      if (c != '0') return false;
      if (!point) ++exp;
    }
  }
  if (!any_digit) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool exp_negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) exp_negative = text[i++] == '-';
    if (i >= n || text[i] < '0' || text[i] > '9') return false;
    int64_t e = 0;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i)
      if (e < 1000000) e = e * 10 + (text[i] - '0');
    exp += exp_negative ? -e : e;
  }
  if (i != n) return false;
  if (nd == 0) {  // zero, whatever its sign and exponent
    *this = ole_decimal();
    return true;
  }
  while (nd > 1 && d.digits[nd - 1] == '0') {
    --nd;
    ++exp;
  }
  if (exp < std::numeric_limits<int16_t>::min() || exp > std::numeric_limits<int16_t>::max())
    return false;
  d.ndigits = static_cast<uint8_t>(nd);
  d.exponent = static_cast<int16_t>(exp);
  *this = d;
  return true;
}

bool ole_decimal::to_int64(int64_t& out) const {
  uint64_t m;
  if (!integral_magnitude(*this, m)) return false;
  constexpr uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (negative) {
    if (m > limit + 1) return false;
    out = m == limit + 1 ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(m);
  } else {
    if (m > limit) return false;
    out = static_cast<int64_t>(m);
  }
  return true;
}

bool ole_decimal::to_uint64(uint64_t& out) const {
  uint64_t m;
  if (!integral_magnitude(*this, m)) return false;
  if (negative && m != 0) return false;
  out = m;
  return true;
}

double ole_decimal::to_double() const {
  size_t n = digit_count(*this);
  if (n == 0) return 0.0;
  // "digits e exponent" read back by from_chars is correctly rounded.
  char buffer[max_digits + 16];
  char* p = buffer;
  if (negative) *p++ = '-';
  memcpy(p, digits, n);
  p += n;
  *p++ = 'e';
  p = std::to_chars(p, buffer + sizeof buffer, static_cast<int>(exponent)).ptr;
  double value = 0.0;
  auto result = std::from_chars(buffer, p, value);
  if (result.ec == std::errc::result_out_of_range) {
    // Too large is infinite, too small is zero, with the number's sign.
    bool huge = static_cast<int>(exponent) + static_cast<int>(n) > 0;
    value = huge ? std::numeric_limits<double>::infinity() : 0.0;
    if (negative) value = -value;
  } else if (result.ec != std::errc()) {
    return 0.0;
  }
  return value;
}

ole_decimal ole_decimal::from_int64(int64_t v) {
  uint64_t m = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  return from_magnitude(v < 0, m);
}

ole_decimal ole_decimal::from_uint64(uint64_t v) { return from_magnitude(false, v); }

void ole_decimal::normalize() {
  size_t n = digit_count(*this);
  while (n > 0 && digits[n - 1] == '0' && exponent < std::numeric_limits<int16_t>::max()) {
    --n;
    ++exponent;
  }
  ndigits = static_cast<uint8_t>(n);
  if (n == 0) {
    negative = false;
    exponent = 0;
  }
}
