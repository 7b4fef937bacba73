// The exact decimal: its text, parsing and exact integer and double forms.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "values/ole_var.h"

namespace {

ole_decimal make(bool negative, const char* digits, int exponent) {
  ole_decimal d;
  d.negative = negative;
  d.ndigits = static_cast<uint8_t>(strlen(digits));
  memcpy(d.digits, digits, d.ndigits);
  d.exponent = static_cast<int16_t>(exponent);
  return d;
}

}  // namespace

TEST(ole_decimal, prints_plain_decimal_text) {
  struct {
    ole_decimal value;
    std::string text;
  } cases[] = {
      {make(false, "123456789", -2), "1234567.89"},
      {make(false, "167772165", -1), "16777216.5"},
      {make(false, "3", 9), "3000000000"},
      {make(true, "1234567890123456789", -2), "-12345678901234567.89"},
      {make(false, "1", 20), "100000000000000000000"},
      {make(false, "123", -6), "0.000123"},
      {make(false, "1500", -2), "15"},  // zeros of the fraction are not printed
      {make(false, "15000", -3), "15"},
      {make(false, "10500", -3), "10.5"},
      {make(false, "1", -130), "0." + std::string(129, '0') + "1"},
      {make(true, "", 5), "0"},  // zero has no sign
      {make(false, "0", 0), "0"},
      {make(false, "1234567890123456789012345678901234567890", -20),
       "12345678901234567890.1234567890123456789"},
  };
  for (const auto& c : cases) {
    std::string out = "x";
    c.value.append_to(out);
    EXPECT_EQ(out, "x" + c.text);
    EXPECT_EQ(c.value.to_string(), c.text);
  }
}

TEST(ole_decimal, parses_numbers_and_rejects_the_rest) {
  struct {
    const char* text;
    const char* printed;  // nullptr: refused
  } cases[] = {
      {"0", "0"},
      {"-0.000", "0"},
      {"+12.50", "12.5"},
      {"-007.25", "-7.25"},
      {".5", "0.5"},
      {"5.", "5"},
      {"1E20", "100000000000000000000"},
      {"1.5e-3", "0.0015"},
      {"123456789012345678901234567890123456789012345678",
       "123456789012345678901234567890123456789012345678"},
      {"1234567890123456789012345678901234567890123456780000",
       "1234567890123456789012345678901234567890123456780000"},
      {"1.0000000000000000000000000000000000000000000000000000", "1"},
      {"1234567890123456789012345678901234567890123456789", nullptr},  // 49 digits
      {"", nullptr},
      {"-", nullptr},
      {".", nullptr},
      {"1.2.3", nullptr},
      {"12a", nullptr},
      {" 1", nullptr},
      {"1e", nullptr},
      {"1e99999", nullptr},
      {"0x10", nullptr},
  };
  for (const auto& c : cases) {
    ole_decimal d = make(true, "999", 3);
    bool ok = d.parse(c.text);
    if (c.printed == nullptr) {
      EXPECT_FALSE(ok) << c.text;
      EXPECT_EQ(d.to_string(), "-999000") << "unchanged on failure: " << c.text;
    } else {
      ASSERT_TRUE(ok) << c.text;
      EXPECT_EQ(d.to_string(), c.printed) << c.text;
    }
  }
}

TEST(ole_decimal, integer_conversions_are_exact_or_refused) {
  int64_t v = 0;
  EXPECT_TRUE(make(true, "9223372036854775808", 0).to_int64(v));
  EXPECT_EQ(v, std::numeric_limits<int64_t>::min());
  EXPECT_FALSE(make(false, "9223372036854775808", 0).to_int64(v));
  EXPECT_TRUE(make(false, "15", 1).to_int64(v));
  EXPECT_EQ(v, 150);
  EXPECT_TRUE(make(false, "1500", -2).to_int64(v));
  EXPECT_EQ(v, 15);
  EXPECT_FALSE(make(false, "15", -1).to_int64(v));  // 1.5
  EXPECT_FALSE(make(false, "1", 19).to_int64(v));
  EXPECT_TRUE(ole_decimal().to_int64(v));
  EXPECT_EQ(v, 0);

  uint64_t u = 0;
  EXPECT_TRUE(make(false, "18446744073709551615", 0).to_uint64(u));
  EXPECT_EQ(u, std::numeric_limits<uint64_t>::max());
  EXPECT_FALSE(make(false, "18446744073709551616", 0).to_uint64(u));
  EXPECT_FALSE(make(true, "1", 0).to_uint64(u));

  EXPECT_EQ(ole_decimal::from_int64(std::numeric_limits<int64_t>::min()).to_string(),
            "-9223372036854775808");
  EXPECT_EQ(ole_decimal::from_uint64(18446744073709551615ULL).to_string(), "18446744073709551615");
  EXPECT_TRUE(ole_decimal::from_int64(0).is_zero());
}

TEST(ole_decimal, double_conversion_is_correctly_rounded) {
  EXPECT_EQ(make(false, "1", -1).to_double(), 0.1);
  EXPECT_EQ(make(true, "123456789", -2).to_double(), -1234567.89);
  EXPECT_EQ(make(false, "9007199254740993", 0).to_double(), 9007199254740992.0);  // ties to even
  EXPECT_EQ(make(false, "1", 125).to_double(), 1e125);
  EXPECT_EQ(make(false, "1", 400).to_double(), std::numeric_limits<double>::infinity());
  EXPECT_EQ(make(true, "1", -400).to_double(), 0.0);
  EXPECT_EQ(ole_decimal().to_double(), 0.0);
}

TEST(ole_decimal, normalize_moves_trailing_zeros_into_the_exponent) {
  ole_decimal d = make(false, "12000", -1);
  d.normalize();
  EXPECT_EQ(d.ndigits, 2);
  EXPECT_EQ(d.exponent, 2);
  EXPECT_EQ(d.to_string(), "1200");
  ole_decimal zero = make(true, "000", 4);
  zero.normalize();
  EXPECT_TRUE(zero.is_zero());
  EXPECT_EQ(zero.to_string(), "0");
}
