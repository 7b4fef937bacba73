// Tests of the synthetic classic dump writer: value encodings against
// Oracle's documented byte images, the per-version column description
// blocks, and byte-for-byte agreement with dumps written by Oracle's exp.
#include "fixtures/classic_dump_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "acceptance_support.h"
#include "fixtures/sample_dump.h"

static std::string hex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

static std::string corpus_file(const char* name) {
  return std::string(TALVEX_SOURCE_DIR) + "/../shared/dumps/classic/" + name;
}

TEST(fx_number, encodes_like_oracle) {
  const std::pair<const char*, const char*> cases[] = {
      {"0", "80"},
      {"-0.000", "80"},
      {"7369", "c24a46"},
      {"800", "c209"},
      {"24000", "c30329"},
      {"123.45", "c202182e"},
      {"1.50", "c10233"},
      {"1000", "c20b"},
      {"0.5", "c033"},
      {"-123.45", "3d644e3866"},
      {"-1", "3e6466"},
      {"1E20", "cb02"},
      {"1.5e-3", "bf10"},  // 0.0015 = 15 * 100^-2
      {"+42", "c12b"},
      // 20 negative base-100 digits fill 21 bytes: no 0x66 terminator.
      {"-1234567890123456789012345678901234567890", "2b59432d170b59432d170b59432d170b59432d170b"},
      // A 21st base-100 digit is rounded away: 99...99.5 becomes 10^40.
      {"9999999999999999999999999999999999999999.5", "d502"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(hex(ora_dump_fx_number(text)), expected) << text;
  }
  EXPECT_THROW(ora_dump_fx_number("abc"), std::invalid_argument);
  EXPECT_THROW(ora_dump_fx_number("1x"), std::invalid_argument);
  EXPECT_THROW(ora_dump_fx_number("1E200"), std::out_of_range);
}

TEST(fx_values, encode_dates_times_floats_and_intervals) {
  const std::pair<std::string, const char*> cases[] = {
      {ora_dump_fx_date(2023, 12, 31, 23, 59, 59), "787b0c1f183c3c"},
      {ora_dump_fx_date(1980, 12, 17), "77b40c11010101"},
      {ora_dump_fx_date(-4712, 1, 1), "3558010101 0101"},
      {ora_dump_fx_timestamp(2023, 6, 15, 12, 30, 0, 500000000), "787b060f0d1f011dcd6500"},
      {ora_dump_fx_timestamp(2026, 1, 1, 8, 30, 0), "787e0101091f01"},
      {ora_dump_fx_binary_double(1.5), "bff8000000000000"},
      {ora_dump_fx_binary_double(-1.5), "4007ffffffffffff"},
      {ora_dump_fx_binary_float(1.5f), "bfc00000"},
      {ora_dump_fx_binary_float(0.0f), "80000000"},
      {ora_dump_fx_binary_float(-1.5f), "403fffff"},
      {ora_dump_fx_interval_ds(3, 2, 1, 0), "800000033e3d3c80000000"},
      {ora_dump_fx_interval_ds(-1, 0, 0, 0, -500000000), "7fffffff3c3c3c62329b00"},
      {ora_dump_fx_interval_ym(1, 6), "8000000142"},
      {ora_dump_fx_utf16be("Aé\xF0\x9D\x84\x9E"), "004100e9d834dd1e"},
      {ora_dump_fx_utf16be("\xFF"), "fffd"},
  };
  for (const auto& [bytes, expected] : cases) {
    std::string want = expected;
    want.erase(std::remove(want.begin(), want.end(), ' '), want.end());
    EXPECT_EQ(hex(bytes), want);
  }
}

TEST(fx_cells, encode_row_forms_and_lob_forms) {
  using c = ora_dump_fx_cell;
  EXPECT_EQ(hex(c::null().in_row), "feff");
  EXPECT_EQ(hex(c::text("SMITH").in_row), "0500534d495448");
  EXPECT_EQ(hex(c::long_length("ab").in_row), "faff020000006162");
  EXPECT_EQ(hex(c::two_piece("abcde", "fgh").in_row), "058061626364650300666768");
  // LONG chunks of 3, 3 and a final 1.
  EXPECT_EQ(hex(c::long_chunked("abcdefg", 3).in_row), "fdff03006162630300646566010067");
  // A value that divides evenly ends with a size of 0; the trailer follows.
  EXPECT_EQ(hex(c::long_chunked("abcd", 2, std::string("\0\0", 2)).in_row),
            "fdff020061620200636400000000");
  // Shorter than one chunk: announced with its own size.
  EXPECT_EQ(hex(c::long_chunked("ab", 8).in_row), "fdff020061620000");
  EXPECT_THROW(c::long_chunked("", 8), std::invalid_argument);

  const c single = c::lob("hello", 8);
  EXPECT_EQ(hex(single.in_row), "080000060001020c8000");
  EXPECT_EQ(hex(*single.after_row), "050068656c6c6f");
  EXPECT_EQ(hex(*c::lob_chunked("abcde", 2).after_row),
            "fcff05000000000000000200616202006364010065");
  EXPECT_EQ(hex(*c::lob_fa("0123456789", 4).after_row), "faff0a0004003031323304003435363702003839");
  EXPECT_EQ(hex(*c::lob_fa("0123", 2, true).after_row), "fafffaff0400000002003031020032330000");
  EXPECT_EQ(hex(*c::lob_empty().after_row), "0000");
  EXPECT_EQ(hex(*c::lob_chunked("").after_row), "0000");
}

TEST(fx_writer, header_places_charsets_name_and_session_block) {
  ora_dump_fx_header h;
  h.client_charset = 852;
  h.db_charset = 873;
  h.user = "HR";
  h.file_name = "x.dmp";
  ora_dump_fx_writer w(h);
  const std::string d = w.bytes();
  ASSERT_EQ(d.size(), 4096u);  // padded to the buffer size
  EXPECT_EQ(hex(d.substr(0, 3)), "030354");
  EXPECT_EQ(d.substr(3, 28), "EXPORT:V11.02.00\nUHR\nRUSERS\n");
  // The reader skips five line feeds after the third word, then reads the
  // client, database and national sets and the part number.
  size_t p = d.find("RUSERS") + 6;
  for (int i = 0; i < 5; ++i) p = d.find('\n', p) + 1;
  EXPECT_EQ(hex(d.substr(p, 8)), "0354036907d00001");
  EXPECT_EQ(d.substr(128, 5), "x.dmp");
  EXPECT_EQ(d.substr(128 - h.date.size(), h.date.size()), h.date);
  EXPECT_EQ(hex(d.substr(2048 + 60, 4)), "036907d0");        // NLS record: database sets
  EXPECT_EQ(hex(d.substr(2048 + 102 + 60, 4)), "03540354");  // client set twice
  EXPECT_EQ(w.offset(), 2048u + 204 + 56);
  EXPECT_EQ(d[w.offset() - 1], '\n');

  ora_dump_fx_header single = h;
  single.n_part = 32;
  single.version = {9, 2, 0};
  ora_dump_fx_writer w9(single);
  const std::string d9 = w9.bytes();
  p = d9.find("RUSERS") + 6;
  for (int i = 0; i < 5; ++i) p = d9.find('\n', p) + 1;
  EXPECT_EQ(d9.substr(3, 16), "EXPORT:V09.02.00");
  EXPECT_EQ(hex(d9.substr(p, 10)), "0354036907d000200005");  // no part size after 32
  EXPECT_EQ(w9.offset(), 2049u);  // a line feed after the padding starts the statements
}

// Column description blocks of one table with a VARCHAR2, a NUMBER and a
// BLOB column, as each version's reader expects them.
TEST(fx_writer, description_block_follows_the_version) {
  ora_dump_fx_table t;
  t.name = "T";
  t.columns = {ora_dump_fx_column::varchar2("NAME", 10), ora_dump_fx_column::number("ID"),
               ora_dump_fx_column::blob("PIC")};
  t.rows.push_back({{ora_dump_fx_cell::text("a"), ora_dump_fx_cell::number("1"),
                     ora_dump_fx_cell::lob("xy", 4)}});
  struct {
    ora_dump_fx_version version;
    const char* block;  // description block, then the row
  } cases[] = {
      {{7, 3, 4}, "0300 01000a00 02001600 71004000 | 010061 0200c102 0400 00020001"},
      {{8, 0, 5},
       "0300 01000a00 69030100 02001600 71004000 0100 03 504943 0000"
       " | 010061 0200c102 0400 00020001 0100 02007879"},
      {{8, 0, 6},
       "0300 01000a00 69030100 02001600 71004000 0100 03 504943 0000"
       " | 010061 0200c102 0400 00020001"},
      {{8, 1, 7},
       "0300 01000a00 69030100 02001600 71004000 0100 0000 03 504943 0000"
       " | 010061 0200c102 0400 00020001 0100 02007879"},
      {{10, 2, 1},
       "0300 01000a00 69030100 02001600 71004000 0300 000000 000000 000003504943 0000"
       " | 010061 0200c102 0400 00020001 0100 02007879"},
  };
  for (const auto& c : cases) {
    ora_dump_fx_header h;
    h.version = c.version;
    ora_dump_fx_writer w(h);
    w.table(t);
    const auto& s = w.layout("T").sections.at(0);
    const std::string& d = w.data();
    std::string want = c.block;
    want.erase(std::remove(want.begin(), want.end(), ' '), want.end());
    const std::string got = hex(d.substr(s.description_pos, s.row_pos[0] - s.description_pos)) +
                            "|" + hex(d.substr(s.row_pos[0], s.end_marker_pos - s.row_pos[0]));
    EXPECT_EQ(got, want) << h.version.text();
    EXPECT_EQ(d.substr(s.end_marker_pos), "\xFF\xFF\n");
  }
}

TEST(fx_writer, statements_and_layout) {
  ora_dump_fx_writer w;
  w.connect("SALES");
  ora_dump_fx_table t;
  t.name = "EMP";
  t.columns = {ora_dump_fx_column::number("ID", 4, 0), ora_dump_fx_column::varchar2("NAME", 20)};
  t.columns[1].not_null = true;
  t.insert_columns = {"NAME", "ID"};
  t.rows.push_back({{ora_dump_fx_cell::text("A"), ora_dump_fx_cell::number("1")}});
  t.rows.push_back({{ora_dump_fx_cell::text("B"), ora_dump_fx_cell::number("2")}});
  t.more_sections.push_back({{{ora_dump_fx_cell::text("C"), ora_dump_fx_cell::number("3")}}});
  w.table(t);
  w.create_index("EMP_NAME", "EMP", {"NAME", "ID"}, true);
  w.primary_key("EMP", "PK_EMP", {"ID"});
  w.foreign_key("EMP", "", {"DEPT"}, "DEPT", {"DEPTNO"});
  w.column_default("EMP", "ID", "0");
  w.sequence("S", "1", "99", "1", "5", true);
  w.sequence("S2", "1", "99", "1", "5", true, "");
  w.exit();
  const std::string& d = w.data();
  const auto& l = w.layout("EMP");
  EXPECT_EQ(d.substr(l.table_line_pos - 14, 14), "CONNECT SALES\n");
  EXPECT_EQ(d.substr(l.table_line_pos, l.create_pos - l.table_line_pos), "TABLE \"EMP\"\n");
  const std::string create = d.substr(l.create_pos, d.find('\n', l.create_pos) - l.create_pos);
  EXPECT_EQ(
      create.rfind(
          "CREATE TABLE \"EMP\" (\"ID\" NUMBER(4, 0), \"NAME\" VARCHAR2(20) NOT NULL ENABLE)  ", 0),
      0u);
  EXPECT_NE(create.find("TABLESPACE \"USERS\" LOGGING NOCOMPRESS"), std::string::npos);
  ASSERT_EQ(l.sections.size(), 2u);
  for (const auto& s : l.sections) {
    EXPECT_EQ(d.substr(s.insert_pos, s.description_pos - s.insert_pos),
              "INSERT INTO \"EMP\" (\"NAME\", \"ID\") VALUES (:1, :2)\n");
    EXPECT_EQ(hex(d.substr(s.description_pos, 16)),
              "0200010014006903010002001600"
              "0000");
  }
  ASSERT_EQ(l.sections[0].row_pos.size(), 2u);
  EXPECT_EQ(hex(d.substr(l.sections[0].row_pos[1], 9)), "0100420200c1030000");
  const std::string tail = d.substr(l.sections[1].end_pos);
  EXPECT_NE(tail.find("CREATE UNIQUE INDEX \"EMP_NAME\" ON \"EMP\" (\"NAME\" , \"ID\" )  PCTFREE"),
            std::string::npos);
  EXPECT_NE(tail.find("ALTER TABLE \"EMP\" ADD  CONSTRAINT \"PK_EMP\" PRIMARY KEY (\"ID\") USING"),
            std::string::npos);
  EXPECT_NE(tail.find("ALTER TABLE \"EMP\" ADD FOREIGN KEY (\"DEPT\") REFERENCES \"DEPT\" "
                      "(\"DEPTNO\") ENABLE\n"),
            std::string::npos);
  const std::string stmt = "ALTER TABLE \"EMP\" MODIFY (\"ID\" DEFAULT 0 )";
  EXPECT_NE(tail.find("ALTER TABLE \"EMP\" MODIFY DEFAULT\n" + ora_dump_fx_le16(stmt.size()) +
                      stmt + "\n"),
            std::string::npos);
  EXPECT_NE(tail.find("START WITH 5 CACHE 20 NOORDER CYCLE\n"), std::string::npos);
  EXPECT_NE(tail.find("START WITH 5 NOCACHE NOORDER CYCLE\n"), std::string::npos);
  EXPECT_EQ(tail.substr(tail.size() - 10), "EXIT\nEXIT\n");
  EXPECT_THROW(w.layout("NOPE"), std::out_of_range);
}

// The writer reproduces what exp 12.2 wrote for SCOTT's DEPT and EMP: the
// header block and the table sections match the real dump byte for byte.
TEST(fx_writer, matches_a_real_scott_export) {
  const std::string path = corpus_file("freetic__oracle__db_201912271502.dmp");
  if (!tk_test_exists(path)) GTEST_SKIP() << "no corpus at " << path;
  const std::string real = tk_test_read_file(path);

  ora_dump_fx_header h;
  h.version = {12, 2, 0};
  h.client_charset = ora_dump_fx_cs_ko16mswin949;
  h.db_charset = ora_dump_fx_cs_al32utf8;
  h.mode = "TABLES";
  h.date = "\xb1\xdd 12\xbf\xf9 27 15:3:55 2019";
  h.file_name = "c:/dev/query/db_201912271502.dmp";
  ora_dump_fx_writer w(h);
  const size_t header_size = w.offset();
  EXPECT_EQ(hex(w.data().substr(0, header_size)), hex(real.substr(0, header_size)));

  // exp puts index statistics between the index and the key constraint, so
  // the key's ALTER line is compared on its own.
  for (const auto& [table, key] : {std::pair{ora_dump_fx_scott_dept(), "DEPTNO"},
                                   std::pair{ora_dump_fx_scott_emp(), "EMPNO"}}) {
    const size_t from = w.offset();
    w.table(table);
    w.create_index("PK_" + table.name, table.name, {key}, true);
    const size_t alter = w.offset();
    w.primary_key(table.name, "PK_" + table.name, {key});
    const std::string mine = w.data().substr(from, alter - from);
    const size_t at = real.find(mine.substr(0, 40));
    ASSERT_NE(at, std::string::npos) << table.name;
    EXPECT_EQ(hex(real.substr(at, mine.size())), hex(mine)) << table.name;
    EXPECT_NE(real.find(w.data().substr(alter)), std::string::npos) << table.name;
  }
}

// Column description block of a table with a BLOB, from exp 11.2 in an
// AL32UTF8 database: LOB names in the extra description, two bytes padding.
TEST(fx_writer, matches_a_real_lob_description) {
  const std::string path = corpus_file("DeathBeforeHonor__hr__data.dmp");
  if (!tk_test_exists(path)) GTEST_SKIP() << "no corpus at " << path;
  const std::string real = tk_test_read_file(path);
  ora_dump_fx_table t;
  t.name = "PIC";
  t.columns = {
      ora_dump_fx_column::number("PIC_ID", 6, 0),     ora_dump_fx_column::varchar2("PIC_NAME", 50),
      ora_dump_fx_column::varchar2("PIC_INFO", 100),  ora_dump_fx_column::number("PIC_SIZE", 10, 0),
      ora_dump_fx_column::varchar2("PIC_AUTHOR", 50), ora_dump_fx_column::blob("PIC_DATA"),
      ora_dump_fx_column::date("PIC_DATETIME")};
  t.tablespace = "SYSTEM";
  ora_dump_fx_header h;
  h.client_charset = ora_dump_fx_cs_zhs16gbk;
  ora_dump_fx_writer w(h);
  w.table(t);
  const auto& s = w.layout("PIC").sections.at(0);
  const std::string mine = w.data().substr(s.insert_pos, s.end_marker_pos - s.insert_pos);
  const size_t at = real.find(mine.substr(0, 60));
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(hex(real.substr(at, mine.size())), hex(mine));
}

TEST(fx_writer, save_pads_and_writes_the_file) {
  tk_test_temp_dir dir;
  const std::string path = dir.path() + "/s.dmp";
  const ora_dump_fx_writer w = ora_dump_fx_sample_dump();
  ASSERT_TRUE(w.save(path));
  const std::string d = tk_test_read_file(path);
  EXPECT_EQ(d, w.bytes());
  EXPECT_EQ(d.size() % 2048, 0u);
  EXPECT_NE(d.find("EXIT\nEXIT\n"), std::string::npos);
  EXPECT_FALSE(w.save(dir.path() + "/no/such/dir/s.dmp"));
}
