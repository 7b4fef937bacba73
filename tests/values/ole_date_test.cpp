// Date texts from table definitions, validity and the printed forms.
#include "values/ole_date.h"

#include <gtest/gtest.h>

#include "TK/tk_exc.h"

namespace {

tk_systemtime make_st(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  tk_systemtime st;
  st.year = static_cast<uint16_t>(y);
  st.month = static_cast<uint16_t>(mo);
  st.day = static_cast<uint16_t>(d);
  st.hour = static_cast<uint16_t>(h);
  st.minute = static_cast<uint16_t>(mi);
  st.second = static_cast<uint16_t>(s);
  st.milliseconds = static_cast<uint16_t>(ms);
  return st;
}

}  // namespace

TEST(ole_date, parses_the_supported_forms) {
  struct {
    const char* text;
    int kind;
    const char* narrow;
    const char* wide;
  } cases[] = {
      {"20231231140506", ole_date::datetime, "2023-12-31 14:05:06", "2023-12-31 14:05:06"},
      {"20231231", ole_date::pure_date, "2023-12-31", "2023-12-31"},
      {"31.12.2023", ole_date::pure_date, "2023-12-31", "2023-12-31"},
      {"2023/1/5", ole_date::pure_date, "2023-01-05", "2023-01-05"},
      {"  2023-12-31  ", ole_date::pure_date, "2023-12-31", "2023-12-31"},
      {"2023-12-31 14:05:06.5", ole_date::datetime, "2023-12-31 14:05:06.500000",
       "2023-12-31 14:05:06.500000"},
      {"2023-12-31 14:05:06.123456", ole_date::datetime, "2023-12-31 14:05:06.123456",
       "2023-12-31 14:05:06.123456"},
      {"2023-12-31 14:05", ole_date::datetime, "2023-12-31 14:05:00", "2023-12-31 14:05:00"},
      {"2023-12-31 00:00:00", ole_date::pure_date, "2023-12-31", "2023-12-31"},
      {"31.12.2023 23:59:59", ole_date::datetime, "2023-12-31 23:59:59", "2023-12-31 23:59:59"},
      {"12:30:15", ole_date::pure_time, "0000-00-00 12:30:15", "12:30:15"},
      {"12:30", ole_date::pure_time, "0000-00-00 12:30:00", "12:30:00"},
      {"2:15:00 PM", ole_date::pure_time, "0000-00-00 14:15:00", "14:15:00"},
      {"12:00:00 AM", ole_date::pure_time, "0000-00-00 12:00:00", "12:00:00"},
      {"2024-02-29", ole_date::pure_date, "2024-02-29", "2024-02-29"},
      {"2000-02-29", ole_date::pure_date, "2000-02-29", "2000-02-29"},
  };
  for (const auto& c : cases) {
    ole_date d{std::string(c.text)};
    EXPECT_TRUE(d.is_valid()) << c.text;
    EXPECT_EQ(d.kind, c.kind) << c.text;
    EXPECT_EQ(d.to_string(6), c.narrow) << c.text;
    EXPECT_EQ(d.to_wstring(6), tk_u16(c.wide)) << c.text;
  }
}

TEST(ole_date, rejects_what_is_no_date) {
  for (const char* text :
       {"", "2023", "abcde", "2023-02-29", "1900-02-29", "2023-13-01", "2023-00-10", "2023-04-31",
        "0000-01-01", "2023-12-31T10:00:00", "-5:00:00", "10:61:00", "2023-1-1 10:00:61",
        "20231301", "2023123114050", "99999999999999999999:1:1"}) {
    ole_date d{std::string(text)};
    EXPECT_FALSE(d.is_valid()) << text;
    EXPECT_EQ(d.kind, ole_date::invalid) << text;
    EXPECT_EQ(d.to_string(6), "") << text;
  }
}

TEST(ole_date, calendar_fields_print_by_kind_and_fraction) {
  EXPECT_EQ(ole_date(make_st(2023, 6, 15)).to_string(), "2023-06-15");
  EXPECT_EQ(ole_date(make_st(2023, 6, 15)).kind, ole_date::pure_date);
  EXPECT_EQ(ole_date(make_st(2023, 6, 15, 0, 0, 0, 250)).to_string(), "2023-06-15 00:00:00.250");
  EXPECT_EQ(ole_date(make_st(2023, 6, 15, 7, 8, 9)).to_string(), "2023-06-15 07:08:09");
  EXPECT_EQ(ole_date(make_st(0, 0, 0, 25, 1, 2)).to_string(),
            "0000-00-00 01:01:02");  // hour mod 24
  // Years of fewer or more than four digits, fields beyond two digits (a
  // damaged value): every digit is printed, the year with at least four.
  EXPECT_EQ(ole_date(make_st(44, 3, 15, 12, 0, 1)).to_string(), "0044-03-15 12:00:01");
  EXPECT_EQ(ole_date(make_st(999, 12, 31)).to_string(), "0999-12-31");
  EXPECT_EQ(ole_date(make_st(1000, 1, 1, 0, 0, 1)).to_string(), "1000-01-01 00:00:01");
  EXPECT_EQ(ole_date(make_st(9999, 12, 31, 23, 59, 59)).to_string(), "9999-12-31 23:59:59");
  EXPECT_EQ(ole_date(make_st(10000, 1, 1)).to_string(), "10000-01-01");
  EXPECT_EQ(ole_date(make_st(65535, 100, 65535, 23, 100, 65535)).to_string(),
            "65535-100-65535 23:100:65535");

  ole_date midnight(make_st(2023, 6, 15));
  midnight.kind = ole_date::datetime;
  EXPECT_EQ(midnight.to_string(), "2023-06-15");
  midnight.date_only = 0;
  EXPECT_EQ(midnight.to_string(), "2023-06-15 00:00:00");

  // A TIMESTAMP a few microseconds after midnight keeps them, even when the
  // microseconds are set after the fields were refined to a pure date.
  ole_date ts(make_st(2023, 6, 15));
  ts.microseconds = 400;
  EXPECT_EQ(ts.to_string(6), "2023-06-15 00:00:00.000400");
  EXPECT_EQ(ts.to_string(0), "2023-06-15 00:00:00");
  ts.refine_type();
  EXPECT_EQ(ts.to_string(6), "2023-06-15 00:00:00.000400");

  ole_date with_ms(make_st(2023, 6, 15, 1, 2, 3, 45));
  with_ms.microseconds = 45000;
  EXPECT_EQ(with_ms.to_string(6), "2023-06-15 01:02:03.045000");
  EXPECT_EQ(with_ms.to_string(3), "2023-06-15 01:02:03.045");

  std::string out;
  out.reserve(64);
  const char* before = out.data();
  with_ms.append_to(out);
  EXPECT_EQ(out.data(), before);
  EXPECT_EQ(out, "2023-06-15 01:02:03.045000");
}

TEST(ole_date, fractions_of_a_second_round_and_carry) {
  ole_date d(make_st(2023, 12, 31, 23, 59, 0));
  d.process_milliseconds("59.9999996");
  EXPECT_EQ(d.st.second, 0);
  EXPECT_EQ(d.st.minute, 0);
  EXPECT_EQ(d.st.hour, 0);  // hours wrap; the day stays
  EXPECT_EQ(d.microseconds, 0u);

  d.process_milliseconds("05.123456");
  EXPECT_EQ(d.st.second, 5);
  EXPECT_EQ(d.st.milliseconds, 123);
  EXPECT_EQ(d.microseconds, 123456u);

  d.process_milliseconds("7.9999994");
  EXPECT_EQ(d.st.second, 7);
  EXPECT_EQ(d.st.milliseconds, 999);
  EXPECT_EQ(d.microseconds, 999999u);

  d.process_milliseconds("-3");
  EXPECT_FALSE(d.is_valid());
  EXPECT_THROW(d.process_milliseconds(nullptr), tk_mail_assertion);
}

TEST(ole_date, validity_rules) {
  ole_date d;
  EXPECT_FALSE(d.is_valid());  // kind 0
  d.kind = ole_date::pure_time;
  d.st = make_st(0, 0, 0, 30, 60, 60);
  EXPECT_TRUE(d.is_valid());  // hours are not checked, 60 s is a leap second
  d.kind = ole_date::datetime;
  d.st = make_st(2023, 2, 28, 99, 0, 0);
  EXPECT_TRUE(d.is_valid());
  d.st.day = 0;
  EXPECT_FALSE(d.is_valid());
}
