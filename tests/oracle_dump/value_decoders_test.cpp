// Value decoders: Oracle's NUMBER, BINARY_FLOAT/DOUBLE, DATE, TIMESTAMP and
// INTERVAL encodings, as written into both dump formats.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TK/tk_exc.h"
#include "oracle_dump/ora_dump_reader_th.h"

namespace {

std::string csv_text(const ole_variant& v) {
  std::string out;
  v.append_text_utf8(out);
  return out;
}

std::string number(std::vector<uint8_t> bytes) {
  ole_variant v;
  ora_dump_reader_th::get_floating_value2(bytes.data(), bytes.size(), v);
  return csv_text(v);
}

}  // namespace

TEST(NumberDecoder, DecodesExactly) {
  struct row {
    std::vector<uint8_t> bytes;
    const char* text;
  };
  const row rows[] = {
      {{0x80}, "0"},
      {{0x80, 0x00}, "0"},
      {{0xC1, 0x02}, "1"},
      {{0xC2, 0x02, 0x18, 0x2E}, "123.45"},
      {{0xC1, 0x02, 0x33}, "1.5"},
      {{0xC2, 0x0B}, "1000"},
      {{0xC0, 0x33}, "0.5"},
      {{0x3D, 0x64, 0x4E, 0x38, 0x66}, "-123.45"},
      {{0xC4, 0x02, 0x18, 0x2E, 0x44, 0x5A}, "1234567.89"},  // 1234567.89 stays itself
      {{0xC4, 0x11, 0x4E, 0x49, 0x11, 0x33}, "16777216.5"},  // not rounded to a float
      {{0xC5, 0x1F}, "3000000000"},
      {{0xCB, 0x02}, "100000000000000000000"},  // 1E20, never 0
      {{0x36, 0x64, 0x4E, 0x38, 0x22, 0x0C, 0x64, 0x4E, 0x38, 0x22, 0x0C, 0x66},
       "-12345678901234567.89"},
      {{0xBF, 0x02, 0x18}, "0.000123"},
      {{0x3E, 0x64, 0x66}, "-1"},
  };
  for (const row& r : rows) EXPECT_EQ(number(r.bytes), r.text) << r.text;
}

TEST(NumberDecoder, KeepsAllFortyDigits) {
  // 20 base-100 digits: 1234567890123456789012345678901234567890.
  std::vector<uint8_t> b = {0xD4};
  const char* digits = "1234567890123456789012345678901234567890";
  for (int i = 0; i < 40; i += 2)
    b.push_back(static_cast<uint8_t>((digits[i] - '0') * 10 + (digits[i + 1] - '0') + 1));
  EXPECT_EQ(number(b), digits);
  // Negative numbers of 20 mantissa bytes carry no 102 terminator.
  std::vector<uint8_t> n = {static_cast<uint8_t>(0x3E - 19)};
  for (int i = 0; i < 40; i += 2)
    n.push_back(static_cast<uint8_t>(101 - ((digits[i] - '0') * 10 + (digits[i + 1] - '0'))));
  EXPECT_EQ(number(n), std::string("-") + digits);
}

TEST(NumberDecoder, IntegerColumnsKeepValuesThatDoNotFit) {
  // NUMBER(20) holds values beyond a signed 64-bit integer.
  ole_variant v;
  const std::vector<uint8_t> b = {0xCA, 0x63, 0x64, 0x64, 0x64, 0x64,
                                  0x64, 0x64, 0x64, 0x64, 0x64};  // 98999999999999999999
  ASSERT_TRUE(ora_dump_reader_th::decode_number(b.data(), b.size(), v.decimal_buffer()));
  v.finish_decimal(VT_I8);
  EXPECT_EQ(v.get_type(), VT_DECIMAL);
  EXPECT_EQ(csv_text(v), "98999999999999999999");
  const std::vector<uint8_t> small = {0xC2, 0x08, 0x40};  // 763
  ASSERT_TRUE(ora_dump_reader_th::decode_number(small.data(), small.size(), v.decimal_buffer()));
  v.finish_decimal(VT_I2);
  EXPECT_EQ(v.get_type(), VT_I2);
  EXPECT_EQ(csv_text(v), "763");
}

// Integer columns take their integers without the decimal detour; the
// result (tag and text) must be what the exact decoder gives, for every
// byte string, good or damaged, and every integer tag.
TEST(NumberDecoder, IntegerShortcutAgreesWithTheExactDecoder) {
  std::vector<std::vector<uint8_t>> inputs = {
      {0xC1, 0x02},                          // 1
      {0xC2, 0x08, 0x40},                    // 763
      {0xC3, 0x02},                          // 10000
      {0x3E, 0x64, 0x66},                    // -1
      {0x3D, 0x5E, 0x66},                    // -700
      {0xC5, 0x0A, 0x01, 0x01, 0x01},        // 9000000
      {0xC1, 0x02, 0x33},                    // 1.5
      {0xC0, 0x33},                          // 0.5
      {0xCA, 0x0A},                          // 9E18
      {0xC9, 0x64, 0x64, 0x64, 0x64, 0x64},  // 99999999990000000
      {0x80},                                // zero
      {0xC1, 0x00},                          // damaged digit
      {0x3E, 0x64},                          // negative without terminator
      {0xFF, 0x65},                          // infinity
      {0x00},
      {0xC1, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02},
  };
  uint64_t seed = 12345;
  for (int i = 0; i < 20000; ++i) {
    std::vector<uint8_t> b(1 + i % 10);
    for (uint8_t& x : b) {
      seed = seed * 6364136223846793005ull + 1442695040888963407ull;
      x = static_cast<uint8_t>(seed >> 56);
    }
    // Mostly plausible exponents and digits.
    if (i % 2 == 0) b[0] = static_cast<uint8_t>(0xC0 + i % 12);
    if (i % 4 == 1) {
      b[0] = static_cast<uint8_t>(0x3F - i % 12);
      b.back() = 0x66;
    }
    for (size_t k = 1; k < b.size() && i % 3 != 0; ++k) b[k] = static_cast<uint8_t>(1 + b[k] % 100);
    inputs.push_back(b);
  }
  int shortcuts = 0;
  for (const std::vector<uint8_t>& b : inputs) {
    for (const vartype_t vt : {VT_I1, VT_I2, VT_I4, VT_I8}) {
      ole_variant exact;
      const bool ok = ora_dump_reader_th::decode_number(b.data(), b.size(), exact.decimal_buffer());
      if (ok) exact.finish_decimal(vt);
      ole_variant fast;
      if (!ora_dump_reader_th::put_integer_number(b.data(), b.size(), vt, fast)) continue;
      ASSERT_TRUE(ok);
      ++shortcuts;
      EXPECT_EQ(fast.get_type(), exact.get_type());
      EXPECT_EQ(csv_text(fast), csv_text(exact));
    }
  }
  EXPECT_GT(shortcuts, 2000);
}

TEST(NumberDecoder, RejectsDamagedDigits) {
  ole_variant v;
  const std::vector<uint8_t> b = {0xC2, 0x00, 0x70};
  EXPECT_FALSE(ora_dump_reader_th::decode_number(b.data(), b.size(), v.decimal_buffer()));
  EXPECT_THROW(ora_dump_reader_th::get_floating_value2(b.data(), b.size(), v), tk_exception);
}

TEST(BinaryFloatDecoder, ShortestRoundTripIncludingNegatives) {
  struct row {
    std::vector<uint8_t> bytes;
    const char* text;
  };
  const row rows[] = {
      {{0xBF, 0xF8, 0, 0, 0, 0, 0, 0}, "1.5"},
      {{0xBF, 0xC0, 0, 0}, "1.5"},
      {{0x40, 0x07, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "-1.5"},  // all bits inverted
      {{0x40, 0x3F, 0xFF, 0xFF}, "-1.5"},
      {{0xBD, 0xCC, 0xCC, 0xCD}, "0.1"},  // BINARY_FLOAT 0.1 reads back as the float 0.1
      {{0xBF, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A}, "0.1"},
      {{0x80, 0, 0, 0, 0, 0, 0, 0}, "0"},
  };
  for (const row& r : rows) {
    ole_variant v;
    ora_dump_reader_th::get_IEEE754_value(r.bytes.data(), r.bytes.size(), v);
    EXPECT_EQ(csv_text(v), r.text) << r.text;
  }
}

TEST(DateDecoder, DatesAndTimestamps) {
  ole_variant v;
  const uint8_t d1[] = {0x78, 0x7B, 0x0C, 0x1F, 0x18, 0x3C, 0x3C};
  ASSERT_TRUE(ora_dump_reader_th::get_datetime_value(d1, 7, v));
  EXPECT_EQ(csv_text(v), "2023-12-31 23:59:59");
  const uint8_t d2[] = {0x78, 0x7B, 0x01, 0x01, 0x01, 0x01, 0x01};
  ASSERT_TRUE(ora_dump_reader_th::get_datetime_value(d2, 7, v));
  EXPECT_EQ(csv_text(v), "2023-01-01");
  const uint8_t scott[] = {0x77, 0xB4, 0x0C, 0x11, 0x01, 0x01, 0x01};  // SMITH's hire date
  ASSERT_TRUE(ora_dump_reader_th::get_datetime_value(scott, 7, v));
  EXPECT_EQ(csv_text(v), "1980-12-17");

  // TIMESTAMP keeps every stored digit: 12:30:00.5 and 47.109325700.
  const uint8_t t1[] = {0x78, 0x7B, 0x06, 0x0F, 0x0D, 0x1F, 0x01, 0x1D, 0xCD, 0x65, 0x00};
  ASSERT_TRUE(ora_dump_reader_th::get_timestamp_value(t1, 11, v));
  EXPECT_EQ(csv_text(v), "2023-06-15 12:30:00.500000");
  const uint8_t t2[] = {0x78, 0x7B, 0x06, 0x0F, 0x0D, 0x1F, 0x30, 0x06, 0x84, 0x2D, 0x84};
  ASSERT_TRUE(ora_dump_reader_th::get_timestamp_value(t2, 11, v));
  EXPECT_EQ(csv_text(v), "2023-06-15 12:30:47.109325700");
  const uint8_t t3[] = {0x78, 0x7B, 0x06, 0x0F, 0x0D, 0x1F, 0x30};
  ASSERT_TRUE(ora_dump_reader_th::get_timestamp_value(t3, 7, v));
  EXPECT_EQ(csv_text(v), "2023-06-15 12:30:47");

  // Years before the common era have no CSV form here: empty, not garbage.
  const uint8_t bc[] = {0x63, 0x63, 0x01, 0x01, 0x01, 0x01, 0x01};
  EXPECT_FALSE(ora_dump_reader_th::get_datetime_value(bc, 7, v));
  EXPECT_EQ(csv_text(v), "");
}

// The column's declared fraction digits are printed (TIMESTAMP(9) as Oracle
// shows it), never fewer than the value holds; a fraction under one
// microsecond survives, and a value at midnight that has one keeps its time.
TEST(DateDecoder, TimestampFractionsKeepEveryDigit) {
  struct fraction_case {
    uint8_t hour, minute, second;
    uint32_t ns;
    int digits;  // declared by the column, 0 unknown
    const char* text;
  };
  const fraction_case cases[] = {
      {13, 31, 48, 109325700, 9, "2023-06-15 12:30:47.109325700"},
      {13, 31, 48, 33096000, 9, "2023-06-15 12:30:47.033096000"},
      {13, 31, 48, 500000000, 6, "2023-06-15 12:30:47.500000"},
      {13, 31, 48, 500000000, 3, "2023-06-15 12:30:47.500"},
      {13, 31, 48, 123456789, 3, "2023-06-15 12:30:47.123456789"},  // never fewer
      {13, 31, 48, 0, 9, "2023-06-15 12:30:47"},
      {1, 1, 1, 400, 9, "2023-06-15 00:00:00.000000400"},
      {1, 1, 1, 400, 0, "2023-06-15 00:00:00.000000400"},
      {1, 1, 1, 0, 9, "2023-06-15"},
  };
  for (const fraction_case& c : cases) {
    const uint8_t b[] = {0x78,
                         0x7B,
                         0x06,
                         0x0F,
                         c.hour,
                         c.minute,
                         c.second,
                         static_cast<uint8_t>(c.ns >> 24),
                         static_cast<uint8_t>(c.ns >> 16),
                         static_cast<uint8_t>(c.ns >> 8),
                         static_cast<uint8_t>(c.ns)};
    ole_variant v;
    ASSERT_TRUE(ora_dump_reader_th::get_timestamp_value(b, 11, v, c.digits));
    EXPECT_EQ(csv_text(v), c.text) << c.ns << " " << c.digits;
  }
  // A fraction of a second or more is damage, not a value.
  const uint8_t bad[] = {0x78, 0x7B, 0x06, 0x0F, 0x0D, 0x1F, 0x01, 0x3B, 0x9A, 0xCA, 0x00};
  ole_variant v;
  EXPECT_THROW(ora_dump_reader_th::get_timestamp_value(bad, 11, v, 9), tk_exception);
}

// TIMESTAMP WITH TIME ZONE stores the UTC clock and the zone it was written
// in (hours + 20, minutes + 60); the value prints as the user stored it.
TEST(DateDecoder, TimestampWithTimeZonePrintsTheLocalClockAndOffset) {
  struct zone_case {
    std::vector<uint8_t> bytes;
    int digits;
    const char* text;
  };
  const zone_case cases[] = {
      // 2026-01-01 06:30:00 UTC, written at +02:00: 08:30 local.
      {{0x78, 0x7E, 0x01, 0x01, 0x07, 0x1F, 0x01, 0, 0, 0, 0, 22, 60},
       6,
       "2026-01-01 08:30:00 +02:00"},
      // 2026-01-01 03:00:00.5 UTC at -05:30: the previous day, 21:30 local.
      {{0x78, 0x7E, 0x01, 0x01, 0x04, 0x01, 0x01, 0x1D, 0xCD, 0x65, 0x00, 15, 30},
       6,
       "2025-12-31 21:30:00.500000 -05:30"},
      // 2024-02-28 22:00 UTC at +05:45: a leap day, local.
      {{0x78, 0x7C, 0x02, 0x1C, 0x17, 0x01, 0x01, 0, 0, 0, 0, 25, 105},
       6,
       "2024-02-29 03:45:00 +05:45"},
      // Midnight UTC at +00:00 keeps its time and zone.
      {{0x78, 0x7E, 0x01, 0x01, 0x01, 0x01, 0x01, 0, 0, 0, 0, 20, 60},
       6,
       "2026-01-01 00:00:00 +00:00"},
      // A region id (top bit set): its rules are not in the dump, so the UTC
      // clock is printed with +00:00, the same instant.
      {{0x78, 0x7E, 0x07, 0x01, 0x0B, 0x01, 0x01, 0, 0, 0, 0, 0x85, 0x3C},
       6,
       "2026-07-01 10:00:00 +00:00"},
  };
  for (const zone_case& c : cases) {
    ole_variant v;
    ASSERT_TRUE(
        ora_dump_reader_th::get_timestamp_value(c.bytes.data(), c.bytes.size(), v, c.digits));
    EXPECT_EQ(csv_text(v), c.text);
  }
  const uint8_t bad_zone[] = {0x78, 0x7E, 0x01, 0x01, 0x07, 0x1F, 0x01, 0, 0, 0, 0, 60, 60};
  ole_variant v;
  EXPECT_THROW(ora_dump_reader_th::get_timestamp_value(bad_zone, 13, v), tk_exception);
}

TEST(IntervalDecoder, DayToSecondAndYearToMonth) {
  ole_variant v;
  const uint8_t ds[] = {0x80, 0x00, 0x00, 0x03, 0x3E, 0x3D, 0x3C, 0x80, 0x00, 0x00, 0x00};
  ora_dump_reader_th::get_interval_value(ds, 11, v);
  EXPECT_EQ(csv_text(v), "3 02:01:00.000000");
  // Nanoseconds are kept: 1 day 00:00:01.123456789, and -0.000000005.
  const uint8_t ds_ns[] = {0x80, 0x00, 0x00, 0x01, 0x3C, 0x3C, 0x3D, 0x87, 0x5B, 0xCD, 0x15};
  ora_dump_reader_th::get_interval_value(ds_ns, 11, v);
  EXPECT_EQ(csv_text(v), "1 00:00:01.123456789");
  ora_dump_reader_th::get_interval_value(ds_ns, 11, v, 9);
  EXPECT_EQ(csv_text(v), "1 00:00:01.123456789");
  const uint8_t ds_us[] = {0x80, 0x00, 0x00, 0x00, 0x3C, 0x3C, 0x3C, 0x80, 0x00, 0x01, 0xF4};
  ora_dump_reader_th::get_interval_value(ds_us, 11, v, 9);
  EXPECT_EQ(csv_text(v), "0 00:00:00.000000500");
  const uint8_t ds_neg[] = {0x80, 0x00, 0x00, 0x00, 0x3C, 0x3C, 0x3C, 0x7F, 0xFF, 0xFF, 0xFB};
  ora_dump_reader_th::get_interval_value(ds_neg, 11, v);
  EXPECT_EQ(csv_text(v), "-0 00:00:00.000000005");
  const uint8_t ym[] = {0x80, 0x00, 0x00, 0x01, 0x3E};
  ora_dump_reader_th::get_interval_value(ym, 5, v);
  EXPECT_EQ(csv_text(v), "1-02");
  const uint8_t ym_neg[] = {0x7F, 0xFF, 0xFF, 0xFF, 0x3A};
  ora_dump_reader_th::get_interval_value(ym_neg, 5, v);
  EXPECT_EQ(csv_text(v), "-1-02");
}

// Text of a UTF-8 or single-byte character set goes to UTF-8 directly, and
// must give exactly what decoding to UTF-16 and encoding again gives; bytes
// that decoding would repair or regroup (invalid, overlong, surrogates,
// CESU-8 pairs, cut sequences) take the UTF-16 way.
TEST(TextDecoder, DirectUtf8MatchesTheRoundTrip) {
  const std::string cases[] = {
      "",
      "plain ascii text that is longer than eight bytes",
      "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x99\x82 \xF4\x8F\xBF\xBF \xEF\xBF\xBD",
      std::string("nul\0inside", 10),
      "\xC3",                      // cut
      "abcdefgh\xC3(",             // bad continuation after a full block
      "\xC0\xAF",                  // overlong
      "\xE0\x80\xAF",              // overlong
      "\xED\xA0\x80",              // lone surrogate
      "\xED\xA0\xBD\xED\xB8\x82",  // CESU-8 pair (Oracle's UTF8)
      "\xF4\x90\x80\x80",          // beyond U+10FFFF
      "\xF8\x88\x80\x80\x80",      // five-byte form
      "\xFF\xFE",
      "\xED\x9F\xBF",  // U+D7FF, the last before the surrogates
  };
  for (const char* encoding : {"UTF-8", "CP1252", "ISO-8859-1"}) {
    ora_text_decoder d(encoding);
    for (const std::string& c : cases) {
      const uint8_t* p = reinterpret_cast<const uint8_t*>(c.data());
      tk_wstring wide;
      d.decode(p, c.size(), wide);
      std::string round_trip;
      tk_append_utf8(round_trip, wide);
      std::string direct = "prefix";
      if (d.to_utf8(p, c.size(), direct)) {
        EXPECT_EQ(direct, "prefix" + round_trip) << encoding << " " << c;
      } else {
        EXPECT_STREQ(encoding, "UTF-8") << c;  // single-byte sets always convert
        EXPECT_EQ(direct, "prefix");
        EXPECT_NE(round_trip, c) << "well-formed text refused: " << c;
      }
      ole_variant v;
      ora_charsets cs;
      const int id = std::string(encoding) == "UTF-8" ? 873 : 178;
      if (std::string(encoding) == "ISO-8859-1") continue;
      cs.decode(id, p, c.size(), v);
      std::string csv;
      v.append_text_utf8(csv);
      EXPECT_EQ(csv, round_trip) << encoding << " " << c;
      EXPECT_EQ(v.text(), wide) << encoding << " " << c;
    }
  }
}

// The direct way is taken exactly when the round trip through UTF-16 gives
// the bytes back: every two-byte string and many random longer ones, with
// bytes drawn mostly from the lead and continuation ranges.
TEST(TextDecoder, DirectUtf8IsTakenExactlyForRoundTripText) {
  ora_text_decoder d("UTF-8");
  auto check = [&](const std::string& c) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(c.data());
    tk_wstring wide;
    d.decode(p, c.size(), wide);
    std::string round_trip;
    tk_append_utf8(round_trip, wide);
    std::string direct;
    const bool taken = d.to_utf8(p, c.size(), direct);
    EXPECT_EQ(taken, round_trip == c) << testing::PrintToString(c);
    if (taken) {
      EXPECT_EQ(direct, c);
    }
  };
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b)
      check(std::string{'x', static_cast<char>(a), static_cast<char>(b)});
  const uint8_t picks[] = {0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC2,
                           0xDF, 0xE0, 0xE1, 0xED, 0xEF, 0xF0, 0xF1, 0xF4, 0xF5, 0xFF};
  uint64_t seed = 99;
  for (int i = 0; i < 200000; ++i) {
    std::string c(1 + i % 23, 'a');
    for (char& ch : c) {
      seed = seed * 6364136223846793005ull + 1442695040888963407ull;
      ch = static_cast<char>(picks[(seed >> 33) % sizeof picks]);
    }
    check(c);
  }
}
