// The single value type of the system: a tagged value modelled on the OLE
// Automation VARIANT (tags are its VARTYPE codes), with separate 64-bit
// integer slots, a date carrying microseconds, and an exact decimal.
//
// Unlike a VARIANT, a VT_DECIMAL here keeps every digit of an Oracle NUMBER
// (up to 40 significant digits, any exponent Oracle allows), so numbers reach
// the CSV file exactly. Text and byte payloads keep their storage when a value
// is overwritten, so a record reused row after row does not allocate again.
//
// A text can be held in either of two forms: UTF-16 (what the engine works
// with) or UTF-8 (what the CSV files hold). Text decoded from a UTF-8 or
// single-byte character set goes straight to UTF-8 and stays there on its
// way to the CSV file; the UTF-16 form is made only when someone asks for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TK/tk_utils.h"
#include "values/ole_date.h"

using vartype_t = uint16_t;

enum : vartype_t {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_BOOL = 11,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_BLOB = 65,
  VT_BLOB_OBJECT = 70,
  VT_ARRAY = 0x2000,
  VT_ARRAY_UI1 = 0x2011,
};

inline bool is_binary_vt(vartype_t vt) {
  return vt == VT_BLOB || vt == VT_BLOB_OBJECT || vt == VT_ARRAY_UI1;
}

// Exact decimal number: value = (negative ? -1 : 1) * D * 10^exponent, where D
// is the integer written by `digits` (ASCII, no leading zeros; "" for zero).
struct ole_decimal {
  static constexpr int max_digits = 48;

  bool negative = false;
  uint8_t ndigits = 0;
  int16_t exponent = 0;
  char digits[max_digits] = {};

  bool is_zero() const { return ndigits == 0; }
  // Plain decimal text with '.', no exponent, no trailing fraction zeros.
  void append_to(std::string& out) const;
  std::string to_string() const;
  // Parses [-+]digits[.digits][(e|E)[-+]digits] (either digit run may be
  // empty, not both); false on anything else, on more than max_digits
  // significant digits, or on an exponent out of range.
  bool parse(std::string_view text);
  // Exact conversions; false when the value is not integral or out of range.
  bool to_int64(int64_t& out) const;
  bool to_uint64(uint64_t& out) const;
  double to_double() const;
  static ole_decimal from_int64(int64_t v);
  static ole_decimal from_uint64(uint64_t v);
  // Drops trailing zeros of D into the exponent.
  void normalize();
};

class ole_variant {
 public:
  ole_variant() = default;
  ole_variant(const ole_variant&) = default;
  ole_variant(ole_variant&&) noexcept = default;
  ole_variant& operator=(const ole_variant&) = default;
  ole_variant& operator=(ole_variant&&) noexcept = default;
  virtual ~ole_variant() = default;

  explicit ole_variant(const tk_systemtime& st);
  explicit ole_variant(const ole_date& d);
  explicit ole_variant(const ole_decimal& d);
  explicit ole_variant(const tk_string& utf8);
  explicit ole_variant(const tk_wstring& text);
  explicit ole_variant(const char16_t* text);
  explicit ole_variant(char v);
  explicit ole_variant(uint8_t v);
  explicit ole_variant(int16_t v);
  explicit ole_variant(uint16_t v);
  explicit ole_variant(int32_t v);
  explicit ole_variant(uint32_t v);
  explicit ole_variant(int64_t v);
  explicit ole_variant(uint64_t v);
  explicit ole_variant(float v);
  explicit ole_variant(double v);
  explicit ole_variant(bool v);
  ole_variant(size_t count, const uint8_t* bytes);  // VT_ARRAY_UI1; 0 gives VT_EMPTY

  ole_variant& operator=(const tk_string& utf8);
  ole_variant& operator=(const tk_wstring& text);
  ole_variant& operator=(const std::vector<uint8_t>& bytes);

  vartype_t get_type() const { return m_vt; }

  // Setters used on the row path; they reuse the value's storage.
  void clear() { m_vt = VT_EMPTY; }
  void set_i1(int8_t v);
  void set_i2(int16_t v);
  void set_i4(int32_t v);
  void set_i8(int64_t v);
  void set_r4(float v);
  void set_r8(double v);
  void set_decimal(const ole_decimal& d);
  void set_date(const ole_date& d);
  void set_text(std::u16string_view text);  // VT_BSTR
  // Appends to a VT_BSTR value's text in place; any other value becomes
  // VT_BSTR with the text.
  void append_text(std::u16string_view text);
  // Makes the value VT_BSTR with an EMPTY text (capacity kept) and returns
  // the text for the caller to append to.
  tk_wstring& text_buffer();
  // The same for a text given as UTF-8: the caller appends well-formed
  // UTF-8 only (no surrogates, no overlong forms), which text() widens.
  std::string& utf8_text_buffer() {
    m_vt = VT_BSTR;
    m_utf8 = true;
    m_text8.clear();
    return m_text8;
  }
  // A VT_BSTR whose text is held as UTF-8.
  bool holds_utf8() const { return m_vt == VT_BSTR && m_utf8; }
  // The UTF-8 text of a value that holds_utf8().
  const std::string& utf8_text() const { return m_text8; }
  void set_bytes(const uint8_t* p, size_t n);  // VT_ARRAY_UI1 (kept even for n == 0)
  // Makes the value VT_ARRAY_UI1 with NO bytes (capacity kept).
  std::vector<uint8_t>& byte_buffer();
  // Exact NUMBER decoding writes into this buffer, then finish_decimal()
  // picks the tag: zero becomes VT_I4 0; for an integer column tag the value
  // becomes that integer when it fits exactly, otherwise it stays an exact
  // VT_DECIMAL (never a wrapped or rounded number).
  ole_decimal& decimal_buffer() { return m_dec; }
  inline void finish_decimal(vartype_t column_vt);

  // Payload accessors (valid for the matching tag).
  int64_t i8() const { return m_i8; }
  uint64_t ui8() const { return m_ui8; }
  double r8() const { return m_u.r8; }
  float r4() const { return m_u.r4; }
  int32_t i4() const { return m_u.i4; }
  const ole_decimal& decimal() const { return m_dec; }
  const ole_date& date() const { return m_date; }
  const tk_wstring& text() const {
    if (m_utf8) widen();
    return m_text;
  }
  const std::vector<uint8_t>& bytes() const { return m_bytes; }
  // The value's bytes without a copy: a byte array's own storage (valid
  // while the value is unchanged) or a text as UTF-8 written into `buffer`.
  // Returns their count; 0 for an empty value. Other tags have no bytes:
  // an internal error.
  size_t get_bytes(const uint8_t*& out, std::string& buffer) const;

  void allocate_safe_array(size_t size);
  void attach_string(const tk_string& utf8);
  void attach_wstring(const tk_wstring& text);
  void change_type(vartype_t vt);
  static ole_variant from_string(const tk_string& text, vartype_t vt);

  double to_double() const;
  float to_float() const;
  int64_t to_i8() const;
  int32_t to_long() const;

  virtual tk_string to_string() const;
  virtual tk_wstring to_wstring() const;
  // Appends the CSV text of the value as UTF-8: numbers exactly, dates in
  // their narrow form, text as it is, byte arrays as 0x and hex digits.
  void append_text_utf8(std::string& out) const;

 protected:
  // Makes the UTF-16 form the value's text when it is held as UTF-8.
  void widen() const;
  ole_decimal exact_value() const;
  void store_integer(vartype_t vt, const ole_decimal& integral);

  vartype_t m_vt = VT_EMPTY;
  int64_t m_i8 = 0;
  uint64_t m_ui8 = 0;
  union {
    int8_t i1;
    uint8_t ui1;
    int16_t i2;
    uint16_t ui2;
    int32_t i4;
    uint32_t ui4;
    float r4;
    double r8;
    int64_t cy;  // count of 1/10000 units
    int16_t boolean;
  } m_u{};
  ole_date m_date;
  ole_decimal m_dec;
  mutable tk_wstring m_text;
  std::string m_text8;          // the text when m_utf8 is set
  mutable bool m_utf8 = false;  // the text is m_text8, not m_text
  std::vector<uint8_t> m_bytes;
};

inline void ole_variant::finish_decimal(vartype_t column_vt) {
  if (m_dec.is_zero()) {
    set_i4(0);
    return;
  }
  int64_t v = 0;
  switch (column_vt) {
    case VT_I1:
      if (m_dec.to_int64(v) && v >= -128 && v <= 127) return set_i1(static_cast<int8_t>(v));
      break;
    case VT_I2:
      if (m_dec.to_int64(v) && v >= -32768 && v <= 32767) return set_i2(static_cast<int16_t>(v));
      break;
    case VT_I4:
      if (m_dec.to_int64(v) && v >= INT32_MIN && v <= INT32_MAX)
        return set_i4(static_cast<int32_t>(v));
      break;
    case VT_I8:
      if (m_dec.to_int64(v)) return set_i8(v);
      break;
    default:
      break;
  }
  m_vt = VT_DECIMAL;
}

size_t get_safe_array_size(const ole_variant& v);
void convert_to_byte_array(const uint8_t* bytes, size_t count, std::vector<uint8_t>& out);
