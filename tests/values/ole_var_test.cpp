// The typed value: CSV text of every tag, parsing, type changes and accessors.
#include "values/ole_var.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "TK/tk_exc.h"

namespace {

ole_decimal dec(const char* text) {
  ole_decimal d;
  EXPECT_TRUE(d.parse(text)) << text;
  return d;
}

std::string csv(const ole_variant& v) {
  std::string out;
  v.append_text_utf8(out);
  return out;
}

// A VT_BOOL whose payload is not -1 (only its bytes could make one).
struct bool_payload : ole_variant {
  explicit bool_payload(int16_t p) : ole_variant(true) { m_u.boolean = p; }
};

}  // namespace

TEST(ole_variant, csv_text_of_every_tag) {
  tk_systemtime st;
  st.year = 2023;
  st.month = 12;
  st.day = 31;
  st.hour = 14;
  st.minute = 5;
  st.second = 6;
  struct {
    ole_variant value;
    const char* text;
    vartype_t tag;
  } cases[] = {
      {ole_variant(), "", VT_EMPTY},
      {ole_variant(static_cast<char>(-5)), "-5", VT_I1},
      {ole_variant(static_cast<uint8_t>(200)), "200", VT_UI1},
      {ole_variant(static_cast<int16_t>(-32768)), "-32768", VT_I2},
      {ole_variant(static_cast<uint16_t>(65535)), "65535", VT_UI2},
      {ole_variant(static_cast<int32_t>(-2147483647 - 1)), "-2147483648", VT_I4},
      {ole_variant(4000000000u), "4000000000", VT_UI4},
      {ole_variant(static_cast<int64_t>(-9223372036854775807LL - 1)), "-9223372036854775808",
       VT_I8},
      {ole_variant(static_cast<uint64_t>(18446744073709551615ULL)), "18446744073709551615", VT_UI8},
      {ole_variant(0.1), "0.1", VT_R8},
      {ole_variant(16777216.5), "16777216.5", VT_R8},
      {ole_variant(-1234567.89), "-1234567.89", VT_R8},
      {ole_variant(3000000000.0), "3e+09", VT_R8},  // to_chars: the shorter of both forms
      {ole_variant(123456789.0), "123456789", VT_R8},
      {ole_variant(1e300), "1e+300", VT_R8},
      {ole_variant(0.1f), "0.1", VT_R4},
      {ole_variant(16777216.0f), "16777216", VT_R4},
      {ole_variant(dec("-12345678901234567.89")), "-12345678901234567.89", VT_DECIMAL},
      {ole_variant(dec("1E20")), "100000000000000000000", VT_DECIMAL},
      {ole_variant(true), "1", VT_BOOL},
      {ole_variant(false), "0", VT_BOOL},
      {ole_variant(st), "2023-12-31 14:05:06", VT_DATE},
      {ole_variant(std::u16string(u"a\"b\u00e4\U0001F600")), "a\"b\xc3\xa4\xf0\x9f\x98\x80",
       VT_BSTR},
      {ole_variant(std::string("\xc3\xa4")), "\xc3\xa4", VT_BSTR},
      {ole_variant(u"wide"), "wide", VT_BSTR},
      {ole_variant(static_cast<const char16_t*>(nullptr)), "", VT_BSTR},
      {ole_variant(2, reinterpret_cast<const uint8_t*>("\x00\xab")), "0x00AB", VT_ARRAY_UI1},
      {ole_variant(0, nullptr), "", VT_EMPTY},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.value.get_type(), c.tag) << c.text;
    EXPECT_EQ(csv(c.value), c.text);
    EXPECT_EQ(c.value.to_string(), c.text);
    EXPECT_EQ(c.value.to_wstring(), tk_u16(c.text));
  }
  EXPECT_EQ(csv(bool_payload(1)), "0");
  EXPECT_EQ(bool_payload(1).to_i8(), 0);
}

TEST(ole_variant, csv_text_of_currency_is_exact) {
  struct {
    const char* text;
    const char* printed;
  } cases[] = {{"12.5", "12.5"},
               {"-0.0001", "-0.0001"},
               {"922337203685477.5807", "922337203685477.5807"},
               {"-922337203685477.5808", "-922337203685477.5808"},
               {"3", "3"},
               {"1,25", "1.25"}};
  for (const auto& c : cases) {
    ole_variant v = ole_variant::from_string(c.text, VT_CY);
    ASSERT_EQ(v.get_type(), VT_CY) << c.text;
    EXPECT_EQ(csv(v), c.printed);
  }
  EXPECT_EQ(ole_variant::from_string("922337203685478", VT_CY).get_type(), VT_EMPTY);  // too big
  EXPECT_EQ(ole_variant::from_string("abc", VT_CY).get_type(), VT_EMPTY);
}

TEST(ole_variant, shortest_floats_read_back_exactly) {
  for (double d :
       {0.1, 1.0 / 3, 2.0 / 3e-300, 123456789.123456789, -5e-324, 1.7976931348623157e308}) {
    double back = std::strtod(csv(ole_variant(d)).c_str(), nullptr);
    EXPECT_EQ(back, d);
  }
  for (float f : {0.1f, 1.0f / 3, 3.4028235e38f, 1e-45f}) {
    float back = std::strtof(csv(ole_variant(f)).c_str(), nullptr);
    EXPECT_EQ(back, f);
  }
}

TEST(ole_variant, appending_csv_text_does_not_allocate) {
  tk_systemtime st;
  st.year = 2024;
  st.month = 1;
  st.day = 2;
  st.hour = 3;
  ole_variant values[] = {
      ole_variant(static_cast<int64_t>(-123456789012345)),
      ole_variant(1.0 / 3),
      ole_variant(dec("-0.000000000000000000000000000123")),
      ole_variant(st),
      ole_variant(std::u16string(u"text \u00e4")),
      ole_variant(3, reinterpret_cast<const uint8_t*>("abc")),
      ole_variant::from_string("1.5", VT_CY),
  };
  std::string out;
  out.reserve(1024);
  const char* before = out.data();
  for (const auto& v : values) {
    v.append_text_utf8(out);
    out.push_back(';');
  }
  EXPECT_EQ(out.data(), before);
  EXPECT_EQ(out,
            "-123456789012345;0.3333333333333333;-0.000000000000000000000000000123;"
            "2024-01-02 03:00:00;text \xc3\xa4;0x616263;1.5;");
}

TEST(ole_variant, long_byte_arrays_print_their_first_120000000_bytes) {
  ole_variant v;
  v.allocate_safe_array(120000001);
  EXPECT_EQ(get_safe_array_size(v), 120000001u);
  std::string out;
  v.append_text_utf8(out);
  EXPECT_EQ(out.size(), 2u + 2u * 120000000u);
}

TEST(ole_variant, setters_reuse_storage) {
  ole_variant v;
  v.set_text(u"a rather long first value that needs heap storage");
  const char16_t* storage = v.text().data();
  v.set_i4(7);
  EXPECT_EQ(csv(v), "7");
  v.set_text(u"short");
  EXPECT_EQ(v.text().data(), storage);
  EXPECT_EQ(v.get_type(), VT_BSTR);

  tk_wstring& buffer = v.text_buffer();
  EXPECT_TRUE(buffer.empty());
  buffer += u"filled";
  EXPECT_EQ(csv(v), "filled");

  v.set_bytes(reinterpret_cast<const uint8_t*>("xy"), 2);
  v.set_bytes(nullptr, 0);
  EXPECT_EQ(v.get_type(), VT_ARRAY_UI1);  // kept even when empty
  EXPECT_EQ(csv(v), "");
  EXPECT_THROW(v.set_bytes(nullptr, 3), tk_mail_assertion);
  v.byte_buffer().push_back(0x1F);
  EXPECT_EQ(csv(v), "0x1F");

  v.set_decimal(dec("1.5"));
  v.set_r8(2.5);
  v.set_i8(-1);
  v.set_i2(-2);
  v.set_i1(-3);
  v.set_r4(0.5f);
  EXPECT_EQ(csv(v), "0.5");
  v.clear();
  EXPECT_EQ(v.get_type(), VT_EMPTY);
}

TEST(ole_variant, copies_are_deep_and_keep_wide_payloads) {
  ole_variant big(static_cast<int64_t>(1234567890123456789LL));
  ole_variant copy = big;
  EXPECT_EQ(copy.i8(), 1234567890123456789LL);

  ole_date d{std::string("2023-12-31 14:05:06.123456")};
  ole_variant date(d);
  ole_variant date_copy(date);
  EXPECT_EQ(date_copy.date().microseconds, 123456u);
  EXPECT_EQ(csv(date_copy), "2023-12-31 14:05:06.123456");

  ole_variant bytes(2, reinterpret_cast<const uint8_t*>("ab"));
  ole_variant bytes_copy = bytes;
  bytes.byte_buffer();
  EXPECT_EQ(csv(bytes_copy), "0x6162");
}

TEST(ole_variant, assigning_an_empty_byte_vector_gives_no_value) {
  ole_variant v(2, reinterpret_cast<const uint8_t*>("ab"));
  v = std::vector<uint8_t>();
  EXPECT_EQ(v.get_type(), VT_EMPTY);
  v = std::vector<uint8_t>{1, 2};
  EXPECT_EQ(csv(v), "0x0102");
  v = std::string("t\xc3\xa4");
  EXPECT_EQ(v.text(), u"t\u00e4");
  v = std::u16string(u"a\0b", 3);
  EXPECT_EQ(v.text().size(), 3u);
}

TEST(ole_variant, from_string_bytes) {
  struct {
    const char* text;
    vartype_t tag;
    const char* printed;
  } cases[] = {
      {"0x1f", VT_ARRAY_UI1, "0x1F"},   {"1F2", VT_EMPTY, ""},
      {"0x", VT_ARRAY_UI1, ""},         {"\\x41", VT_ARRAY_UI1, "0x41"},
      {"ABCD", VT_ARRAY_UI1, "0xABCD"}, {"", VT_EMPTY, ""},
  };
  for (const auto& c : cases) {
    ole_variant v = ole_variant::from_string(c.text, VT_ARRAY_UI1);
    EXPECT_EQ(v.get_type(), c.tag) << c.text;
    EXPECT_EQ(csv(v), c.printed) << c.text;
  }
  ole_variant blob = ole_variant::from_string("0X0a0B", VT_BLOB);
  EXPECT_EQ(blob.get_type(), VT_BLOB);
  EXPECT_EQ(csv(blob), "0x0A0B");
  // An embedded zero character ends the digits; the rest stays zero.
  ole_variant cut = ole_variant::from_string(std::string("41\0\0"
                                                         "42",
                                                         6),
                                             VT_ARRAY_UI1);
  EXPECT_EQ(csv(cut), "0x410000");
}

TEST(ole_variant, from_string_numbers) {
  EXPECT_EQ(ole_variant::from_string("1,5", VT_R8).r8(), 1.5);
  EXPECT_EQ(ole_variant::from_string("2.5e3xyz", VT_R8).r8(), 2500.0);
  EXPECT_EQ(ole_variant::from_string("0.1", VT_R4).r4(), 0.1f);
  EXPECT_EQ(ole_variant::from_string("abc", VT_I4).i4(), 0);
  EXPECT_EQ(ole_variant::from_string("abc", VT_I4).get_type(), VT_I4);
  EXPECT_EQ(ole_variant::from_string("", VT_I4).get_type(), VT_EMPTY);
  EXPECT_EQ(ole_variant::from_string("", VT_BSTR).get_type(), VT_BSTR);
  EXPECT_EQ(ole_variant::from_string("  -42abc", VT_I4).i4(), -42);
  EXPECT_EQ(csv(ole_variant::from_string("-9223372036854775808", VT_I8)), "-9223372036854775808");
  EXPECT_EQ(csv(ole_variant::from_string("18446744073709551615", VT_UI8)), "18446744073709551615");
  EXPECT_EQ(csv(ole_variant::from_string("-128", VT_I1)), "-128");
  EXPECT_EQ(csv(ole_variant::from_string("65535", VT_UI2)), "65535");
  EXPECT_EQ(csv(ole_variant::from_string("4294967295", VT_UI4)), "4294967295");
  // Numbers that do not fit are refused rather than wrapped.
  for (auto [text, tag] :
       {std::pair{"70000", VT_I2}, std::pair{"-1", VT_UI4}, std::pair{"256", VT_UI1},
        std::pair{"9223372036854775808", VT_I8}, std::pair{"99999999999999999999", VT_UI8}}) {
    EXPECT_THROW(ole_variant::from_string(text, tag), ole_cast_exception) << text;
  }
}

TEST(ole_variant, from_string_decimal_keeps_every_digit) {
  ole_variant v =
      ole_variant::from_string("  1234567890123456789012345678901234567890.5 ", VT_DECIMAL);
  ASSERT_EQ(v.get_type(), VT_DECIMAL);
  EXPECT_EQ(csv(v), "1234567890123456789012345678901234567890.5");
  EXPECT_EQ(csv(ole_variant::from_string("-0,25", VT_DECIMAL)), "-0.25");
  ole_variant fallback = ole_variant::from_string("12abc", VT_DECIMAL);
  EXPECT_EQ(fallback.get_type(), VT_R8);
  EXPECT_EQ(fallback.r8(), 12.0);
}

TEST(ole_variant, from_string_bool_date_and_other_tags) {
  for (const char* t : {"TRUE", "Yes", "7", "1", "t"})
    EXPECT_EQ(csv(ole_variant::from_string(t, VT_BOOL)), "1") << t;
  for (const char* t : {"x", "F", "0", "no", "false"})
    EXPECT_EQ(csv(ole_variant::from_string(t, VT_BOOL)), "0") << t;

  ole_variant date = ole_variant::from_string("31.12.2023", VT_DATE);
  EXPECT_EQ(date.get_type(), VT_DATE);
  EXPECT_EQ(csv(date), "2023-12-31");
  EXPECT_EQ(ole_variant::from_string("SYSDATE", VT_DATE).get_type(), VT_EMPTY);

  EXPECT_EQ(csv(ole_variant::from_string("42", VT_INT)), "42");
  EXPECT_EQ(ole_variant::from_string("42", VT_INT).get_type(), VT_INT);
  EXPECT_EQ(ole_variant::from_string("t\xc3\xa4xt", VT_BSTR).text(), u"t\u00e4xt");
  EXPECT_THROW(ole_variant::from_string("abc", VT_UINT), ole_type_exception);
}

TEST(ole_variant, change_type_rules) {
  ole_variant maybe(std::u16string(u"maybe"));
  EXPECT_THROW(maybe.change_type(VT_BOOL), ole_cast_exception);
  ole_variant t(std::u16string(u"T"));
  t.change_type(VT_BOOL);
  EXPECT_EQ(t.get_type(), VT_BOOL);
  EXPECT_EQ(t.to_i8(), 1);

  ole_variant up(2.5), down(-2.5);
  up.change_type(VT_I4);
  down.change_type(VT_I4);
  EXPECT_EQ(up.i4(), 3);
  EXPECT_EQ(down.i4(), -3);

  ole_variant small(static_cast<int16_t>(5));
  small.change_type(VT_I4);
  EXPECT_EQ(small.get_type(), VT_I2);  // left as it is
  ole_variant text(std::u16string(u"12"));
  text.change_type(VT_I4);
  EXPECT_EQ(text.get_type(), VT_BSTR);

  ole_variant bytes(1, reinterpret_cast<const uint8_t*>("A"));
  bytes.change_type(VT_BLOB);
  EXPECT_EQ(bytes.get_type(), VT_BLOB);
  EXPECT_EQ(csv(bytes), "0x41");
  bytes.change_type(VT_BSTR);
  EXPECT_EQ(bytes.text(), u"A");

  ole_variant empty;
  empty.change_type(VT_I4);
  EXPECT_EQ(empty.get_type(), VT_EMPTY);

  ole_variant date(ole_date(std::string("12:30:15")));
  date.change_type(VT_BSTR);
  EXPECT_EQ(date.text(), u"12:30:15");  // the wide form has no zero date
  ole_variant date2(ole_date(std::string("12:30:15")));
  EXPECT_THROW(date2.change_type(VT_I4), ole_cast_exception);

  ole_variant to_date(std::u16string(u"2023-12-31 14:05:06"));
  to_date.change_type(VT_DATE);
  EXPECT_EQ(csv(to_date), "2023-12-31 14:05:06");
  ole_variant not_date(std::u16string(u"tomorrow"));
  EXPECT_THROW(not_date.change_type(VT_DATE), ole_cast_exception);
}

TEST(ole_variant, change_type_between_numbers_never_wraps) {
  ole_variant big(static_cast<int64_t>(70000));
  EXPECT_THROW(big.change_type(VT_I2), ole_cast_exception);
  ole_variant fits(static_cast<int64_t>(-7));
  fits.change_type(VT_I2);
  EXPECT_EQ(csv(fits), "-7");

  ole_variant dec_big(dec("3000000000"));
  EXPECT_THROW(dec_big.change_type(VT_I4), ole_cast_exception);
  ole_variant dec_i8(dec("3000000000"));
  dec_i8.change_type(VT_I8);
  EXPECT_EQ(dec_i8.i8(), 3000000000LL);
  ole_variant dec_half(dec("2.5"));
  dec_half.change_type(VT_I4);  // the OLE conversion rounds half to even
  EXPECT_EQ(dec_half.i4(), 2);

  ole_variant huge(1e30);
  EXPECT_THROW(huge.change_type(VT_I8), ole_cast_exception);
  ole_variant nan(std::nan(""));
  EXPECT_THROW(nan.change_type(VT_I4), ole_cast_exception);

  ole_variant negative(static_cast<int64_t>(-1));
  EXPECT_THROW(negative.change_type(VT_UI8), ole_cast_exception);

  ole_variant i8(static_cast<int64_t>(123));
  i8.change_type(VT_DECIMAL);
  EXPECT_EQ(csv(i8), "123");
  ole_variant r8(0.1);
  r8.change_type(VT_DECIMAL);
  EXPECT_EQ(csv(r8), "0.1");
  ole_variant cy = ole_variant::from_string("1.5", VT_CY);
  cy.change_type(VT_R8);
  EXPECT_EQ(cy.r8(), 1.5);
  ole_variant i4(static_cast<int32_t>(-12));
  i4.change_type(VT_BSTR);
  EXPECT_EQ(i4.text(), u"-12");
  ole_variant yes(true);
  yes.change_type(VT_I8);  // VARIANT_TRUE is -1 as a number
  EXPECT_EQ(yes.i8(), -1);
  ole_variant yes_real(true);
  yes_real.change_type(VT_R8);
  EXPECT_EQ(yes_real.r8(), -1.0);
  ole_variant to_cy(static_cast<int64_t>(5));
  to_cy.change_type(VT_CY);
  EXPECT_EQ(csv(to_cy), "5");
  ole_variant text_num(std::u16string(u" 1.5e2 "));
  text_num.change_type(VT_R8);
  EXPECT_EQ(text_num.r8(), 150.0);
  ole_variant bad_num(std::u16string(u"1.5x"));
  EXPECT_THROW(bad_num.change_type(VT_R8), ole_cast_exception);
}

TEST(ole_variant, change_type_to_bytes_gives_the_little_endian_image) {
  struct {
    ole_variant value;
    const char* printed;
  } cases[] = {
      {ole_variant(static_cast<int16_t>(0x1234)), "0x3412"},
      {ole_variant(static_cast<int32_t>(1)), "0x01000000"},
      {ole_variant(1.0), "0x000000000000F03F"},
      {ole_variant(static_cast<int64_t>(-2)), "0xFEFFFFFFFFFFFFFF"},
      {ole_variant(std::u16string(u"\u00e4")), "0xC3A4"},
      {ole_variant(dec("-1.5")), "0x00000180000000000F00000000000000"},  // the OLE DECIMAL
  };
  for (auto& c : cases) {
    c.value.change_type(VT_ARRAY_UI1);
    EXPECT_EQ(c.value.get_type(), VT_ARRAY_UI1);
    EXPECT_EQ(csv(c.value), c.printed);
  }
  ole_variant too_precise(dec("1E-40"));
  EXPECT_THROW(too_precise.change_type(VT_ARRAY_UI1), ole_cast_exception);
}

TEST(ole_variant, get_bytes_of_empty_binary_and_text_values) {
  const uint8_t* p = nullptr;
  std::string buffer = "kept";
  EXPECT_EQ(ole_variant().get_bytes(p, buffer), 0u);
  EXPECT_EQ(buffer, "kept");
  const uint8_t raw[] = {0x88, 0x01, 0x00};
  const ole_variant bytes(sizeof raw, raw);
  ASSERT_EQ(bytes.get_bytes(p, buffer), 3u);
  EXPECT_EQ(p, bytes.bytes().data()) << "no copy";
  ole_variant text(tk_u16("\xC3\xA9t\xC3\xA9"));
  ASSERT_EQ(text.get_bytes(p, buffer), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 5), "\xC3\xA9t\xC3\xA9");
  EXPECT_THROW(ole_variant(int32_t{5}).get_bytes(p, buffer), tk_mail_assertion);
}

TEST(ole_variant, numeric_accessors) {
  EXPECT_EQ(ole_variant(2.5).to_i8(), 3);
  EXPECT_EQ(ole_variant(-2.5).to_i8(), -3);
  EXPECT_EQ(ole_variant(2.5).to_long(), 2);
  EXPECT_EQ(ole_variant(-2.7).to_long(), -2);
  EXPECT_EQ(ole_variant().to_i8(), 0);
  EXPECT_EQ(ole_variant().to_double(), 0.0);
  EXPECT_EQ(ole_variant(std::u16string(u"5")).to_i8(), 0);
  EXPECT_EQ(ole_variant(true).to_double(), 1.0);
  EXPECT_EQ(ole_variant(dec("12345678901234567.5")).to_i8(), 12345678901234568LL);
  EXPECT_EQ(ole_variant(dec("0.1")).to_double(), 0.1);
  EXPECT_EQ(ole_variant(dec("1.5")).to_float(), 1.5f);
  EXPECT_EQ(ole_variant(static_cast<uint64_t>(5)).to_long(), 5);
  EXPECT_EQ(ole_variant::from_string("-2.5", VT_CY).to_i8(), -2);  // half to even
  EXPECT_EQ(ole_variant::from_string("0.25", VT_CY).to_double(), 0.25);
  EXPECT_THROW(ole_variant(dec("1E30")).to_i8(), ole_cast_exception);
  EXPECT_THROW(ole_variant(static_cast<int64_t>(1) << 40).to_long(), ole_cast_exception);
  EXPECT_THROW(ole_variant(4000000000u).to_long(), ole_cast_exception);
  EXPECT_THROW(ole_variant(1e20).to_i8(), ole_cast_exception);
  EXPECT_THROW(ole_variant(std::u16string(u"x")).to_double(), ole_cast_exception);

  tk_systemtime st;
  st.year = 1900;
  st.month = 1;
  st.day = 1;
  st.hour = 12;
  EXPECT_DOUBLE_EQ(ole_variant(st).to_double(), 2.5);  // OLE Automation date
}

// Text held as UTF-8 (as decoded from a UTF-8 or single-byte dump) is the
// same value as its UTF-16 form to every reader, and writing another text
// into the value drops it.
TEST(ole_variant, text_held_as_utf8_reads_like_utf16) {
  const std::string utf8 = "d\xC3\xA9j\xC3\xA0 \xF0\x9F\x99\x82 \xE4\xB8\xAD";
  const tk_wstring wide = u"d\u00e9j\u00e0 \U0001F642 \u4e2d";
  ole_variant v;
  v.utf8_text_buffer() = utf8;
  EXPECT_TRUE(v.holds_utf8());
  EXPECT_EQ(v.get_type(), VT_BSTR);
  EXPECT_EQ(csv(v), utf8);
  const uint8_t* p = nullptr;
  std::string scratch;
  ASSERT_EQ(v.get_bytes(p, scratch), utf8.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), utf8.size()), utf8);
  EXPECT_EQ(v.to_string(), utf8);
  EXPECT_EQ(v.to_wstring(), wide);
  ole_variant copy = v;
  EXPECT_EQ(copy.text(), wide);  // widened on demand
  EXPECT_FALSE(copy.holds_utf8());
  EXPECT_EQ(csv(copy), utf8);

  v.append_text(u"!");
  EXPECT_EQ(v.text(), wide + u"!");
  EXPECT_EQ(csv(v), utf8 + "!");

  for (int how = 0; how < 4; ++how) {
    ole_variant w;
    w.utf8_text_buffer() = utf8;
    switch (how) {
      case 0:
        w.set_text(u"new");
        break;
      case 1:
        w.text_buffer() += u"new";
        break;
      case 2:
        w = tk_string("new");
        break;
      default:
        w.set_i4(5);
        w.append_text(u"new");
        break;
    }
    EXPECT_FALSE(w.holds_utf8()) << how;
    EXPECT_EQ(csv(w), "new") << how;
    EXPECT_EQ(w.text(), u"new") << how;
  }

  ole_variant n;
  n.utf8_text_buffer() = " 12.50 ";
  n.change_type(VT_R8);
  EXPECT_EQ(n.r8(), 12.5);
  ole_variant b;
  b.utf8_text_buffer() = "true";
  b.change_type(VT_BOOL);
  EXPECT_EQ(csv(b), "1");
}
