// Tests of CSV file naming: acceptable and safe names, collisions within a
// run, full paths, and the CSV files found in the destination at the start.
#include "common/csv_vali.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "TK/tk_exc.h"
#include "test_dir.h"

namespace {

TEST(csv_validator, safe_names_keep_letters_digits_underscore_and_hyphen) {
  struct safe_case {
    const char16_t* name;
    const char16_t* expected;
  };
  const safe_case cases[] = {
      {u"EMP", u"EMP"},
      {u"X-ARTI", u"X-ARTI"},
      {u"SCOTT.EMP", u"SCOTT_EMP"},
      {u"DEF$_LOB", u"DEF__LOB"},
      {u"OL$HINTS", u"OL_HINTS"},
      {u"A#B C", u"A_B_C"},
      {u"   ", u"___"},
      {u"\u0422\u0430\u0431\u043b\u0438\u0446\u0430",
       u"\u0422\u0430\u0431\u043b\u0438\u0446\u0430"},
      {u"\u4e2d\u6587.\u00e9t\u00e9", u"\u4e2d\u6587_\u00e9t\u00e9"},
      {u"\U0001D400x", u"\U0001D400x"},  // a letter outside the BMP keeps both units
      {u"a\u00d7b", u"a_b"},             // the multiplication sign is no letter
  };
  for (const safe_case& c : cases) {
    csv_validator v(u"/out");
    const tk_wstring name = c.name;
    EXPECT_EQ(v.is_acceptable(name), name == c.expected) << tk_u8(name);
    EXPECT_EQ(v.get_safe_name(name), c.expected) << tk_u8(name);
  }
  csv_validator v(u"/out");
  EXPECT_TRUE(v.is_acceptable(u""));
  // A lone surrogate is no character of a name.
  EXPECT_EQ(v.get_safe_name(tk_wstring(1, u'\xD800') + u"A"), u"_A");
}

// The registration the conversion driver does after each table.
tk_wstring register_output(csv_validator& v, const tk_wstring& table) {
  const bool acceptable = v.is_acceptable(table);
  const tk_wstring out = acceptable ? table : v.get_safe_name(table);
  if (!acceptable) v.add_existing_name(out);
  v.restricted_names.push_back(out);
  return out;
}

TEST(csv_validator, collisions_within_a_run_get_a_counter) {
  csv_validator v(u"/out");
  EXPECT_EQ(register_output(v, u"SCOTT.EMP"), u"SCOTT_EMP");
  EXPECT_EQ(register_output(v, u"SCOTT_EMP"), u"SCOTT_EMP000");
  EXPECT_EQ(register_output(v, u"scott$emp"), u"scott_emp001");
  EXPECT_EQ(register_output(v, u"emp"), u"emp");
  EXPECT_EQ(register_output(v, u"EMP"), u"EMP000");
  EXPECT_EQ(register_output(v, u"A B"), u"A_B");
  EXPECT_EQ(register_output(v, u"A.B"), u"A_B000");
}

// Two 128-character Oracle names make a name no file system takes: it is
// shortened to fit 255 bytes with ".csv" and ".tmp", between characters, and
// the counter that keeps it unique is never cut off.
TEST(csv_validator, names_too_long_for_a_file_are_shortened) {
  csv_validator v(u"/out");
  const tk_wstring owner(128, u'O'), table(128, u'T');
  const tk_wstring first = register_output(v, owner + u"." + table);
  EXPECT_EQ(first, (owner + u"_" + table).substr(0, csv_max_name_bytes));
  const tk_wstring second = register_output(v, owner + u"_" + table);
  EXPECT_EQ(second, (owner + u"_" + table).substr(0, csv_max_name_bytes - 3) + u"000");
  EXPECT_NE(tk_lower(first), tk_lower(second));

  // Three-byte characters are not split.
  const tk_wstring wide(100, u'\u4e2d');
  const tk_wstring cut = register_output(v, wide);
  EXPECT_EQ(cut.size(), csv_max_name_bytes / 3);
  EXPECT_LE(tk_u8(cut).size() + 8, 255u);
}

TEST(csv_engine, full_file_names_lower_case_the_file_name_only) {
  test_dir dir;
  const std::string out = dir / "Out";
  ASSERT_EQ(mkdir(out.c_str(), 0777), 0);
  csv_engine e(tk_u16(out), u"");
  EXPECT_EQ(tk_u8(e.get_full_file_name(u"EMP")), out + "/emp.csv");
  EXPECT_EQ(tk_u8(e.get_full_file_name(u"DATA.CSV")), out + "/data.csv");
  // Case changes touch ASCII letters only, as everywhere in the program.
  EXPECT_EQ(e.get_full_file_name(u"\u00c9T\u00c9"), tk_u16(out) + u"/\u00c9t\u00c9.csv");
  csv_engine slash(tk_u16(out + "/"), u"");
  EXPECT_EQ(tk_u8(slash.get_full_file_name(u"EMP")), out + "/emp.csv");
  csv_engine prefixed(tk_u16(out), u"Run");
  EXPECT_EQ(tk_u8(prefixed.get_full_file_name(u"EMP")), out + "/run_emp.csv");
}

TEST(csv_engine, knows_the_csv_files_present_at_the_start) {
  test_dir dir;
  test_write_file(dir / "Emp.CSV", "x");
  test_write_file(dir / "dept.csv", "x");
  test_write_file(dir / "notes.txt", "x");
  ASSERT_EQ(mkdir((dir / "folder.csv").c_str(), 0777), 0);
  csv_engine e(tk_u16(dir.path()), u"");
  EXPECT_TRUE(e.is_table_exist(u"emp"));
  EXPECT_TRUE(e.is_table_exist(u"DEPT"));
  EXPECT_FALSE(e.is_table_exist(u"notes"));
  EXPECT_FALSE(e.is_table_exist(u"folder"));
  test_write_file(dir / "later.csv", "x");
  EXPECT_FALSE(e.is_table_exist(u"later"));

  EXPECT_TRUE(e.delete_tab(u"DEPT"));
  EXPECT_FALSE(std::filesystem::exists(dir / "dept.csv"));
  // Emp.CSV is table EMP's file, whatever the case of its name.
  EXPECT_TRUE(e.delete_tab(u"EMP"));
  EXPECT_FALSE(std::filesystem::exists(dir / "Emp.CSV"));
  EXPECT_TRUE(std::filesystem::exists(dir / "notes.txt"));
  // Already gone: nothing to do.
  EXPECT_TRUE(e.delete_tab(u"DEPT"));
}

}  // namespace
