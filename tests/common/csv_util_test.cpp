// Tests of the CSV writer: the exact bytes of header, values, quoting and
// line ends, buffered output of large files, and the reporting of files that
// cannot be created or written.
#include "common/csv_util.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "TK/tk_exc.h"
#include "test_dir.h"

namespace {

const std::string bom = "\xEF\xBB\xBF";

struct two_columns {
  t_ftd id{0, u"ID", VT_I4, false, ole_variant(), 0};
  t_ftd name{0, u"NAME", VT_BSTR, false, ole_variant(), 0};
  udb_schema schema;
  udb_record record;
  two_columns() {
    schema.push_back(&id);
    schema.push_back(&name);
    record.shape(schema);
  }
};

TEST(csv_file, empty_table_has_bom_and_optional_header) {
  test_dir dir;
  two_columns t;
  {
    csv_file with(tk_u16(dir / "h.csv"), u";", t.schema);
    csv_file without(tk_u16(dir / "n.csv"), u";");
    with.close();
    without.close();
  }
  EXPECT_EQ(test_read_file(dir / "h.csv"), bom + "ID;NAME\r\n");
  EXPECT_EQ(test_read_file(dir / "n.csv"), bom);
}

TEST(csv_file, quoting_and_line_ends) {
  struct quoting_case {
    const char16_t* delimiter;
    const char16_t* value;
    const char* expected;
  };
  const quoting_case cases[] = {
      {u";", u"a\"b", "\"a\"\"b\""},
      {u";", u"a;b", "\"a;b\""},
      {u";", u"a,b", "a,b"},
      {u",", u"a,b", "\"a,b\""},
      {u"\t", u"a\tb", "\"a\tb\""},
      {u"\t", u"a;b,c", "a;b,c"},
      {u";", u"ends in blank ", "ends in blank "},
      {u";", u" lead", " lead"},
      // Line breaks inside a value are written as stored (quoted).
      {u";", u"two\nlines", "\"two\nlines\""},
      {u";", u"crlf\r\nin", "\"crlf\r\nin\""},
      {u";", u"cr\ronly", "\"cr\ronly\""},
      {u";", u"", ""},
      {u";", u"\u00e9t\u00e9 \u4e2d", "\xC3\xA9t\xC3\xA9 \xE4\xB8\xAD"},
  };
  test_dir dir;
  two_columns t;
  for (const quoting_case& c : cases) {
    const std::string path = dir / "q.csv";
    {
      csv_file csv(tk_u16(path), c.delimiter);
      t.record[0].set_i4(1);
      t.record[1].set_text(c.value);
      csv.append_record(t.record);
      csv.close();
    }
    EXPECT_EQ(test_read_file(path), bom + "1" + tk_u8(c.delimiter) + c.expected + "\r\n")
        << tk_u8(c.value);
  }
}

TEST(csv_file, header_names_are_quoted_like_values) {
  test_dir dir;
  t_ftd a{0, u"A;B", VT_BSTR, false, ole_variant(), 0};
  t_ftd b{0, u"C\"D", VT_BSTR, false, ole_variant(), 0};
  udb_schema schema;
  schema.push_back(&a);
  schema.push_back(&b);
  csv_file(tk_u16(dir / "h.csv"), u";", schema).close();
  EXPECT_EQ(test_read_file(dir / "h.csv"), bom + "\"A;B\";\"C\"\"D\"\r\n");
}

TEST(csv_file, values_are_written_exactly) {
  test_dir dir;
  t_ftd c{0, u"C", VT_DECIMAL, false, ole_variant(), 0};
  udb_schema schema;
  for (int i = 0; i < 6; ++i) schema.push_back(&c);
  udb_record record;
  record.shape(schema);
  ole_decimal d;
  ASSERT_TRUE(d.parse("1234567.89"));
  record[0].set_decimal(d);
  record[1].set_i8(3000000000LL);
  record[2].set_i4(-2147483647 - 1);
  const uint8_t bytes[] = {0x01, 0xAB};
  record[3].set_bytes(bytes, 2);
  record[4] = udb_field();  // empty
  ole_decimal big;
  ASSERT_TRUE(big.parse("-12345678901234567890.123456789"));
  record[5].set_decimal(big);
  {
    csv_file csv(tk_u16(dir / "v.csv"), u",");
    csv.append_record(record);
    csv.close();
  }
  EXPECT_EQ(test_read_file(dir / "v.csv"),
            bom + "1234567.89,3000000000,-2147483648,0x01AB,,-12345678901234567890.123456789\r\n");
}

TEST(csv_file, large_output_crosses_the_buffer_intact) {
  test_dir dir;
  two_columns t;
  std::string expected = bom + "ID;NAME\r\n";
  {
    csv_file csv(tk_u16(dir / "big.csv"), u";", t.schema);
    for (int i = 0; i < 150000; ++i) {
      t.record[0].set_i4(i);
      t.record[1].set_text(i % 7 == 0 ? u"x;y" : u"value");
      csv.append_record(t.record);
      expected += std::to_string(i) + (i % 7 == 0 ? ";\"x;y\"\r\n" : ";value\r\n");
    }
    csv.close();
  }
  const std::string got = test_read_file(dir / "big.csv");
  ASSERT_GT(got.size(), 1u << 20);  // more than one buffer
  EXPECT_TRUE(got == expected);
}

// The file carries its final name only once it is complete: while it is
// written it has a temporary name, and a writer destroyed without close()
// (an error or an interrupted run) leaves neither file behind. Closing
// replaces an older file of the final name.
TEST(csv_file, a_file_gets_its_name_only_when_complete) {
  test_dir dir;
  two_columns t;
  const std::string path = dir / "emp.csv";
  const std::string temp = path + csv_temp_suffix;
  test_write_file(path, "old");
  {
    csv_file csv(tk_u16(path), u";", t.schema);
    t.record[0].set_i4(1);
    t.record[1].set_text(u"x");
    csv.append_record(t.record);
    EXPECT_EQ(csv.write_path(), temp);
    EXPECT_EQ(test_read_file(path), "old");
  }
  EXPECT_EQ(test_read_file(path), "old");
  EXPECT_FALSE(std::filesystem::exists(temp));

  csv_file csv(tk_u16(path), u";", t.schema);
  csv.append_record(t.record);
  csv.close();
  EXPECT_EQ(test_read_file(path), bom + "ID;NAME\r\n1;x\r\n");
  EXPECT_FALSE(std::filesystem::exists(temp));
}

// A file that cannot be created fails its table only (level 0).
TEST(csv_file, a_file_that_cannot_be_created_is_reported_with_its_path) {
  test_dir dir;
  const std::string path = dir / "missing/emp.csv";
  try {
    csv_file csv(tk_u16(path), u";");
    FAIL() << "no exception";
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.level(), 0);
    EXPECT_NE(e.text().find("'" + path + "'"), std::string::npos) << e.text();
  }
}

// A full disk ends the run (level 1).
TEST(csv_file, a_write_error_is_reported_not_swallowed) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  two_columns t;
  auto csv = std::make_unique<csv_file>(u"/dev/full", u";");
  t.record[0].set_i4(1);
  t.record[1].set_text(u"x");
  csv->append_record(t.record);
  try {
    csv->close();
    FAIL() << "no exception";
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.level(), 1);
    EXPECT_EQ(e.text().rfind("Cannot write CSV file '/dev/full': ", 0), 0u) << e.text();
  }
  // Nothing more is accepted, and destroying the writer stays quiet.
  EXPECT_THROW(csv->append_record(t.record), tk_exception);
  csv.reset();
}

}  // namespace
