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

// The quote decision is made eight bytes at a time: a byte that forces
// quotes must be found at every position of a long field, whether the text
// is held as UTF-8 or UTF-16, and numbers or dates must be quoted when the
// delimiter is a character they contain.
TEST(csv_file, quotes_are_found_anywhere_in_long_fields) {
  test_dir dir;
  two_columns t;
  const std::string path = dir / "q.csv";
  for (const char16_t* delimiter : {u";", u",", u"\t", u"||"}) {
    const std::string d = tk_u8(delimiter);
    for (const std::string& special :
         {std::string("\""), std::string("\r"), std::string("\n"), d}) {
      for (size_t at = 0; at < 19; ++at) {
        std::string value(19, 'x');
        value.replace(at, 1, special);
        value += "\xC3\xA9";  // a letter beyond ASCII after it
        for (const bool utf8 : {false, true}) {
          {
            csv_file csv(tk_u16(path), delimiter);
            t.record[0].set_i4(1);
            if (utf8)
              t.record[1].utf8_text_buffer() = value;
            else
              t.record[1].set_text(tk_u16(value));
            csv.append_record(t.record);
            csv.close();
          }
          std::string quoted = "\"";
          for (const char c : value) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
          quoted += "\"";
          EXPECT_EQ(test_read_file(path), bom + "1" + d + quoted + "\r\n")
              << "delimiter " << d << " at " << at << (utf8 ? " utf8" : " utf16");
        }
      }
    }
  }
  // Delimiters that numbers and dates contain.
  struct plain_case {
    const char16_t* delimiter;
    const char* expected;
  };
  for (const plain_case& c : {plain_case{u".", "\"1.5\".2024-01-02 03:04:05"},
                              plain_case{u"-", "1.5-\"2024-01-02 03:04:05\""},
                              plain_case{u":", "1.5:\"2024-01-02 03:04:05\""},
                              plain_case{u";", "1.5;2024-01-02 03:04:05"}}) {
    {
      csv_file csv(tk_u16(path), c.delimiter);
      ole_decimal half;
      ASSERT_TRUE(half.parse("1.5"));
      t.record[0].set_decimal(half);
      t.record[1].set_date(ole_date(std::string("2024-01-02 03:04:05")));
      csv.append_record(t.record);
      csv.close();
    }
    EXPECT_EQ(test_read_file(path), bom + c.expected + "\r\n") << tk_u8(c.delimiter);
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

namespace {

// A table of an ID and a BLOB column, as the wizard writes it: each byte
// array in a side file named after the CSV file, the field naming it.
struct blob_columns {
  t_ftd id{0, u"ID", VT_I4, false, ole_variant(), 0};
  t_ftd pic{0, u"PIC", VT_ARRAY_UI1, false, ole_variant(), 0};
  t_ftd raw{0, u"RAW", VT_ARRAY_UI1, false, ole_variant(), 0};
  udb_schema schema;
  udb_record record;
  blob_columns() {
    schema.push_back(&id);
    schema.push_back(&pic);
    schema.push_back(&raw);
    record.shape(schema);
  }
  void set(int32_t n, const std::string& pic_bytes, const std::string* raw_bytes) {
    record[0].set_i4(n);
    record[1].set_bytes(reinterpret_cast<const uint8_t*>(pic_bytes.data()), pic_bytes.size());
    if (raw_bytes == nullptr)
      record[2].clear();
    else
      record[2].set_bytes(reinterpret_cast<const uint8_t*>(raw_bytes->data()), raw_bytes->size());
  }
};

}  // namespace

TEST(csv_file, side_files_number_byte_arrays_in_record_and_field_order) {
  test_dir dir;
  blob_columns t;
  // A side file of an earlier run is replaced, not appended to.
  test_write_file(dir / "emp_2", "old contents of an earlier run");
  const std::string raw1("\x00\xFF", 2);
  {
    csv_file csv(tk_u16(dir / "emp.csv"), u";", t.schema);
    csv.blob_side_files = true;
    t.set(1, "\x89PNG", &raw1);
    csv.append_record(t.record);
    t.set(2, "", nullptr);  // an empty value gets an empty file; NULL none
    csv.append_record(t.record);
    csv.close();
    EXPECT_EQ(csv.side_file_count(), 3u);
  }
  EXPECT_EQ(test_read_file(dir / "emp.csv"), bom + "ID;PIC;RAW\r\n1;emp_1;emp_2\r\n2;emp_3;\r\n");
  EXPECT_EQ(test_read_file(dir / "emp_1"), "\x89PNG");
  EXPECT_EQ(test_read_file(dir / "emp_2"), raw1);
  EXPECT_TRUE(std::filesystem::exists(dir / "emp_3"));
  EXPECT_EQ(std::filesystem::file_size(dir / "emp_3"), 0u);
  EXPECT_FALSE(std::filesystem::exists(dir / "emp_4"));
}

TEST(csv_file,
     without_side_files_byte_arrays_stay_inline_and_a_discarded_file_takes_its_side_files) {
  test_dir dir;
  blob_columns t;
  const std::string raw("\x0A", 1);
  {
    csv_file csv(tk_u16(dir / "inline.csv"), u",");
    t.set(1, "AB", &raw);
    csv.append_record(t.record);
    csv.close();
  }
  EXPECT_EQ(test_read_file(dir / "inline.csv"), bom + "1,0x4142,0x0A\r\n");
  {
    // A table cut off (cancelled) never reaches its name, and the side files
    // that would name nothing go with it.
    csv_file csv(tk_u16(dir / "cut.csv"), u",");
    csv.blob_side_files = true;
    t.set(1, "AB", &raw);
    csv.append_record(t.record);
    EXPECT_TRUE(std::filesystem::exists(dir / "cut_2"));
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "cut.csv"));
  EXPECT_FALSE(std::filesystem::exists(dir / "cut.csv.tmp"));
  EXPECT_FALSE(std::filesystem::exists(dir / "cut_1"));
  EXPECT_FALSE(std::filesystem::exists(dir / "cut_2"));
}

TEST(csv_file, a_side_file_that_cannot_be_written_fails_its_record_only) {
  test_dir dir;
  blob_columns t;
  // A folder where the second side file would go: the record fails, its
  // first side file goes again, and the file keeps whole lines only.
  std::filesystem::create_directory(dir / "emp_2");
  csv_file csv(tk_u16(dir / "emp.csv"), u";");
  csv.blob_side_files = true;
  const std::string raw("R");
  t.set(1, "A", &raw);
  try {
    csv.append_record(t.record);
    ADD_FAILURE() << "no error";
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.level(), 0);
    EXPECT_NE(e.text().find("emp_2"), std::string::npos) << e.text();
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "emp_1"));
  csv.close();
  EXPECT_EQ(test_read_file(dir / "emp.csv"), bom);
}
