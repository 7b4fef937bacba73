// String helpers and the conversions between UTF-16, UTF-8 and code pages.
#include "TK/tk_utils.h"

#include <gtest/gtest.h>

#include "TK/tk_exc.h"

TEST(tk_utils, split_keeps_empty_pieces) {
  struct {
    std::string text;
    std::vector<std::string> pieces;
  } cases[] = {
      {"", {}},          {"a", {"a"}},    {"a,b,", {"a", "b", ""}}, {"a,,b", {"a", "", "b"}},
      {",a", {"", "a"}}, {",", {"", ""}},
  };
  for (const auto& c : cases) EXPECT_EQ(tk_split(c.text, ','), c.pieces) << c.text;
}

TEST(tk_utils, trim_removes_blanks_only) {
  EXPECT_EQ(tk_trim(std::string_view("   ")), "");
  EXPECT_EQ(tk_trim(std::string_view("  a b  ")), "a b");
  EXPECT_EQ(tk_trim(std::string_view("\ta ")), "\ta");
  EXPECT_EQ(tk_trim(std::string_view("")), "");
  EXPECT_EQ(tk_trim(std::u16string_view(u" x\n ")), u"x\n");
  EXPECT_EQ(tk_trim(std::u16string_view(u"  ")), u"");
}

TEST(tk_utils, case_changes_touch_ascii_only) {
  std::string s = "abc\xc3\xa9z";
  EXPECT_EQ(tk_to_upper(s), "ABC\xc3\xa9Z");
  EXPECT_EQ(s, "ABC\xc3\xa9Z");
  std::u16string w = u"\u00c4B";
  EXPECT_EQ(tk_to_lower(w), u"\u00c4b");
  EXPECT_EQ(w, u"\u00c4b");
  EXPECT_EQ(tk_upper(std::u16string_view(u"ab\u00e9")), u"AB\u00e9");
  EXPECT_EQ(tk_lower(std::u16string_view(u"AB\u00c9")), u"ab\u00c9");
  EXPECT_EQ(tk_upper(std::string_view("mixed Case 1")), "MIXED CASE 1");
}

TEST(tk_utils, case_insensitive_comparisons) {
  EXPECT_TRUE(tk_compare_no_case("Yes", "yES"));
  EXPECT_FALSE(tk_compare_no_case("yes", "ye"));
  EXPECT_TRUE(tk_compare_no_case("\xc3\xa4pfel", "\xc3\x84PFEL"));  // äpfel / ÄPFEL
  EXPECT_TRUE(tk_wcompare_no_case(u"Stra\u00dfe", u"STRA\u00dfE"));
  EXPECT_TRUE(tk_wcompare_no_case(u"\u0142\u00f3d\u017a", u"\u0141\u00d3D\u0179"));  // łódź
  EXPECT_TRUE(tk_wcompare_no_case(u"\u0442\u0430\u0431\u043b\u0438\u0446\u0430",
                                  u"\u0422\u0410\u0411\u041b\u0418\u0426\u0410"));  // таблица
  EXPECT_TRUE(tk_wcompare_no_case(u"\u00ff", u"\u0178"));
  EXPECT_FALSE(tk_wcompare_no_case(u"\u00d7", u"\u00f7"));  // × and ÷ are no letter pair
  EXPECT_FALSE(tk_wcompare_no_case(u"ab", u"abc"));
  EXPECT_TRUE(tk_starts_with_no_case("Create TABLE x", "CREATE table"));
  EXPECT_FALSE(tk_starts_with_no_case("CREATE", "CREATE TABLE"));
}

TEST(tk_utils, replace_all_never_searches_its_own_replacement) {
  std::u16string w = u"aXa";
  EXPECT_EQ(tk_replace_all(w, u"a", u"aa"), u"aaXaa");
  EXPECT_EQ(w, u"aaXaa");
  std::string s = "x--y--";
  EXPECT_EQ(tk_replace_all(s, "--", "-"), "x-y-");
  std::string unchanged = "abc";
  EXPECT_EQ(tk_replace_all(unchanged, "", "z"), "abc");
}

TEST(tk_utils, hex_rendering_appends_upper_case_pairs) {
  const uint8_t bytes[] = {0x00, 0xAB, 0x9F};
  std::string out = "0x";
  tk_to_hex(bytes, 3, out);
  EXPECT_EQ(out, "0x00AB9F");
  tk_to_hex(nullptr, 0, out);
  EXPECT_EQ(out, "0x00AB9F");
  EXPECT_THROW(tk_to_hex(nullptr, 1, out), tk_mail_assertion);
}

TEST(tk_utils, format_handles_long_results) {
  std::string long_arg(1000, 'q');
  EXPECT_EQ(tk_format("<%s>%d", long_arg.c_str(), 42), "<" + long_arg + ">42");
  EXPECT_EQ(tk_format("%04d-%02d", 7, 3), "0007-03");
}

TEST(tk_utils, utf8_decoding_replaces_each_bad_sequence) {
  struct {
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {"A\0B", u"A"},  // the text ends at a zero byte
      {"\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80", u"\u00e4\u20ac\U0001F600"},
      {"a\x80z", u"a\ufffdz"},        // stray continuation byte
      {"\xc0\xaf", u"\ufffd\ufffd"},  // overlong: two bad bytes
      {"\xe2\x82", u"\ufffd"},        // cut-off sequence: one U+FFFD
      {"\xe2\x82z", u"\ufffdz"},
      {"\xf4\x90\x80\x80", u"\ufffd\ufffd\ufffd\ufffd"},  // beyond U+10FFFF
      {"\xed\xa0\x80x", u"\ufffdx"},                      // lone surrogate
      {"\xed\xa0\xbd\xed\xb8\x80", u"\U0001F600"},        // CESU-8 pair (Oracle UTF8)
      {"\xff\xfe", u"\ufffd\ufffd"},
  };
  for (const auto& c : cases) {
    std::string_view in(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(tk_utf8_to_ucs2(in), c.text) << testing::PrintToString(c.bytes);
  }
  std::string with_zero("A\0B", 3);
  EXPECT_EQ(tk_ansi_to_ucs2(with_zero), u"A");
  std::u16string all;
  tk_append_utf8_to_ucs2(all, with_zero);
  EXPECT_EQ(all, std::u16string(u"A\0B", 3));
}

TEST(tk_utils, utf8_encoding_round_trips_and_replaces_lone_surrogates) {
  std::u16string text = u"a\u00e4\u20ac\U0001F600z";
  EXPECT_EQ(tk_utf8_to_ucs2(tk_ucs2_to_utf8(text)), text);
  EXPECT_EQ(tk_u8(u"x\xd800y"), "x\xef\xbf\xbdy");
  EXPECT_EQ(tk_u8(u"\xdc00"), "\xef\xbf\xbd");
  EXPECT_EQ(tk_ucs2_to_ansi(u"\u00e4", -1), "\xc3\xa4");
  EXPECT_EQ(tk_ucs2_to_ansi(u"\u00e4", CP_ANSI), "\xc3\xa4");
  EXPECT_EQ(tk_u16("\xc3\xa4"), u"\u00e4");
}

TEST(tk_utils, appending_does_not_allocate_when_there_is_room) {
  std::string out;
  out.reserve(64);
  const char* before = out.data();
  tk_append_utf8(out, u"\u00e4\U0001F600 row");
  EXPECT_EQ(out.data(), before);
  EXPECT_EQ(out, "\xc3\xa4\xf0\x9f\x98\x80 row");

  std::u16string wide;
  wide.reserve(64);
  const char16_t* wbefore = wide.data();
  tk_append_ucs2(wide, "\xe4\x80", 1252);
  tk_append_ucs2(wide, "\xc3\xa4", CP_UTF8);
  EXPECT_EQ(wide.data(), wbefore);
  EXPECT_EQ(wide, u"\u00e4\u20ac\u00e4");
}

TEST(tk_utils, numbered_code_pages_decode_through_iconv) {
  struct {
    int code_page;
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {1252, "\x80\xe4", u"\u20ac\u00e4"},
      {1252, "\x81", u"\ufffd"},  // undefined in windows-1252
      {1251, "\xcf\xf0\xe8", u"\u041f\u0440\u0438"},
      {20866, "\xf0\xd2\xc9", u"\u041f\u0440\u0438"},  // KOI8-R
      {28592, "\xb1", u"\u0105"},
      {37, "\xc1\xf1", u"A1"},                     // EBCDIC
      {1255, "\xe0\xe1", u"\u05d0\u05d1"},         // letters iconv may hold back
      {1258, "a\xec", u"a\u0301"},                 // no composition, as on Windows
      {932, "\x93\xfa\x96\x7b", u"\u65e5\u672c"},  // Shift-JIS
      {932, "A\x93", u"A\ufffd"},                  // cut-off double byte
      {936, "\xd6\xd0", u"\u4e2d"},
      {949, "\xc7\xd1", u"\ud55c"},
      {950, "\xa4\xa4", u"\u4e2d"},
      {54936, "\x81\x30\x81\x30", u"\u0080"},
      {65001, "\xc3\xa4", u"\u00e4"},
      {1201, std::string("\x00\x41\x00\x00\x00\x42", 6), u"A"},  // ends at a zero character
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tk_ansi_to_ucs2(c.bytes, c.code_page), c.text) << c.code_page;
  }
}

TEST(tk_utils, every_known_code_page_opens) {
  const int numbers[] = {
      37,    437,   500,   708,   737,   775,   850,   852,   855,   857,   858,   860,
      861,   862,   863,   864,   865,   866,   869,   870,   874,   875,   932,   936,
      949,   950,   1026,  1047,  1140,  1141,  1142,  1143,  1144,  1145,  1146,  1147,
      1148,  1149,  1200,  1201,  1250,  1251,  1252,  1253,  1254,  1255,  1256,  1257,
      1258,  1361,  10000, 10007, 10017, 10029, 10079, 12000, 12001, 20000, 20002, 20106,
      20107, 20108, 20127, 20269, 20273, 20277, 20278, 20280, 20284, 20285, 20290, 20297,
      20420, 20423, 20424, 20866, 20871, 20932, 20936, 20949, 21025, 21866, 28591, 28592,
      28593, 28594, 28595, 28596, 28597, 28598, 28599, 28600, 28601, 28603, 28604, 28605,
      38598, 50220, 50221, 50222, 50225, 51932, 51936, 51949, 54936, 65000, 65001};
  for (int cp : numbers) {
    ASSERT_NE(tk_code_page_name(cp), nullptr) << cp;
    EXPECT_NO_THROW(tk_ansi_to_ucs2("abc", cp)) << cp;
    EXPECT_NO_THROW(tk_ucs2_to_ansi(u"abc", cp)) << cp;
  }
  EXPECT_STREQ(tk_code_page_name(CP_ANSI), "UTF-8");
  EXPECT_EQ(tk_code_page_name(4242), nullptr);
}

TEST(tk_utils, unknown_code_page_raises_a_level_0_error) {
  try {
    tk_ansi_to_ucs2("x", 4242);
    FAIL() << "no exception";
  } catch (const tk_exception_ex& e) {
    EXPECT_EQ(e.level(), 0);
    EXPECT_EQ(e.text().rfind("Cannot convert to UNICODE string: ", 0), 0u);
  }
  try {
    tk_ucs2_to_ansi(u"x", 4242);
    FAIL() << "no exception";
  } catch (const tk_exception_ex& e) {
    EXPECT_EQ(e.text().rfind("Cannot convert to ANSI string: ", 0), 0u);
  }
}

TEST(tk_utils, encoding_to_a_code_page_replaces_what_it_cannot_hold) {
  EXPECT_EQ(tk_ucs2_to_ansi(u"\u20ac\u00e4", 1252), "\x80\xe4");
  EXPECT_EQ(tk_ucs2_to_ansi(u"a\u4e2db", 1252), "a?b");
  EXPECT_EQ(tk_ucs2_to_ansi(u"a\U0001F600b", 1251), "a?b");  // a pair is one character
  EXPECT_EQ(tk_ucs2_to_ansi(u"x\xd800", 1252), "x?");
  EXPECT_EQ(tk_ucs2_to_ansi(u"\u65e5", 932), "\x93\xfa");
  // Stateful encodings end in their initial state.
  EXPECT_EQ(tk_ucs2_to_ansi(u"\u65e5", 50220), "\x1b$BF|\x1b(B");
}
