// Acceptance tests on synthetic classic dumps: the README's sample converts
// with the expected rows and values (also a second time, from the context
// cache), and the same tables written by exp of every classic version give
// the same CSV files.
#include "fixtures/sample_dump.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "acceptance_support.h"
#include "fixtures/classic_dump_writer.h"

static void expect_clean_run(const talvex_test_conversion& c) {
  const auto& r = c.result;
  ASSERT_TRUE(r.started) << "TALVEXCLI did not start";
  ASSERT_FALSE(r.timed_out) << "TALVEXCLI hung";
  ASSERT_FALSE(r.signaled) << "TALVEXCLI died of signal " << r.signal << "\n" << r.err;
  EXPECT_EQ(r.exit_code, 0) << r.err;
  for (const std::string& line : talvex_test_complaints(c)) ADD_FAILURE() << line;
}

static std::string long_note() {
  std::string text;
  for (int i = 1; i <= 400; ++i) {
    text += "Line " + std::to_string(i) + " of a long note that spans several chunks.\n";
  }
  return text;
}

TEST(sample_dump, converts_with_the_expected_rows_and_values) {
  ASSERT_TRUE(tk_test_exists(TALVEXCLI_PATH)) << "missing " << TALVEXCLI_PATH;
  tk_test_temp_dir dir;
  const std::string dump = dir.path() + "/sample.dmp";
  ASSERT_TRUE(ora_dump_fx_sample_dump().save(dump));

  talvex_test_conversion c;
  talvex_test_convert(c, dump, {}, 120);
  expect_clean_run(c);

  std::vector<std::string> want_files;
  for (const auto& [table, rows] : ora_dump_fx_sample_tables()) {
    want_files.push_back(csv_test_file_name(table).substr(0, table.size()));
    const csv_test_table t = csv_test_read_table(c.dest + "/" + csv_test_file_name(table));
    EXPECT_TRUE(t.ok) << table;
    EXPECT_EQ(t.rows.size(), static_cast<size_t>(rows)) << table;
  }
  std::sort(want_files.begin(), want_files.end());
  EXPECT_EQ(c.csv_files(), want_files);

  const std::string dept_csv = tk_test_read_file(c.dest + "/dept.csv");
  EXPECT_EQ(dept_csv.substr(0, 21),
            "\xEF\xBB\xBF"
            "DEPTNO,DNAME,LOC\r\n");
  EXPECT_NE(dept_csv.find("\r\n10,ACCOUNTING,NEW YORK\r\n"), std::string::npos);

  const csv_test_table emp = csv_test_read_table(c.dest + "/emp.csv");
  const auto* smith = emp.find("EMPNO", "7369");
  ASSERT_NE(smith, nullptr);
  EXPECT_EQ(*smith, (std::vector<std::string>{"7369", "SMITH", "CLERK", "7902", "1980-12-17", "800",
                                              "", "20"}));
  const auto* allen = emp.find("EMPNO", "7499");
  ASSERT_NE(allen, nullptr);
  EXPECT_EQ(emp.value(*allen, "COMM"), "300");
  EXPECT_EQ(emp.value(*emp.find("EMPNO", "7839"), "MGR"), "");

  const csv_test_table products = csv_test_read_table(c.dest + "/products.csv");
  ASSERT_EQ(products.rows.size(), 4u);
  EXPECT_EQ(products.value(products.rows[0], "NAME"), "Laptop 14\"");
  EXPECT_EQ(products.value(products.rows[0], "ADDED_AT").substr(0, 19), "2024-01-15 09:30:00");
  EXPECT_EQ(products.value(products.rows[1], "NAME"), "USB-C cable; 2 m");
  EXPECT_EQ(products.value(products.rows[1], "ADDED_AT"), "2024-02-01 14:05:30");
  EXPECT_EQ(products.value(products.rows[2], "NAME"), "Desk lamp, LED");
  EXPECT_EQ(products.value(products.rows[2], "PRICE"), "45");
  EXPECT_EQ(products.value(products.rows[2], "ADDED_AT"), "2024-03-10");
  EXPECT_EQ(products.rows[3], (std::vector<std::string>{"4", "Gift card", "", ""}));
  // The comma in a value is quoted with the comma delimiter.
  EXPECT_NE(tk_test_read_file(c.dest + "/products.csv").find("\"Desk lamp, LED\""),
            std::string::npos);

  const csv_test_table notes = csv_test_read_table(c.dest + "/notes.csv");
  ASSERT_EQ(notes.rows.size(), 3u);
  EXPECT_EQ(notes.value(notes.rows[0], "BODY"), "Hello, world!");
  // Its line feeds reach the file as CR LF, like every line feed written.
  std::string body = notes.value(notes.rows[1], "BODY");
  std::string lf_body;
  for (size_t i = 0; i < body.size(); ++i) {
    if (!(body[i] == '\r' && i + 1 < body.size() && body[i + 1] == '\n')) lf_body += body[i];
  }
  EXPECT_EQ(lf_body, long_note());
  EXPECT_EQ(notes.value(notes.rows[2], "BODY"), "");

  const csv_test_table customers = csv_test_read_table(c.dest + "/customers.csv");
  EXPECT_EQ(customers.values("LAST_NAME"),
            (std::vector<std::string>{"García", "Müller", "Lefèvre", "Żółć", "Ørsted"}));
  EXPECT_EQ(customers.values("CITY"),
            (std::vector<std::string>{"Málaga", "Köln", "Besançon", "Łódź", "Århus"}));

  // A second opening of the same dump reads the context cache written by the
  // first one and must give the same files.
  talvex_test_conversion again;
  talvex_test_convert(again, dump, {}, 120);
  expect_clean_run(again);
  ASSERT_EQ(again.csv_files(), c.csv_files());
  for (const std::string& base : c.csv_files()) {
    EXPECT_EQ(tk_test_read_file(again.csv_path(base)), tk_test_read_file(c.csv_path(base))) << base;
  }
}

// DEPT, EMP and (from 8.1 on) a CLOB table exported by exp of each classic
// version decode to the same CSV files as the exp 11.2 dump.
TEST(classic_versions, every_version_gives_the_same_csv) {
  ASSERT_TRUE(tk_test_exists(TALVEXCLI_PATH)) << "missing " << TALVEXCLI_PATH;
  auto build = [](ora_dump_fx_version version, bool with_lob) {
    ora_dump_fx_header h;
    h.version = version;
    if (version.major <= 7) {
      // V7 keeps the database character set in bytes 1-2.
      h.client_charset = ora_dump_fx_cs_we8iso8859p1;
    }
    h.db_charset = version.major <= 8 ? ora_dump_fx_cs_we8iso8859p1 : ora_dump_fx_cs_al32utf8;
    ora_dump_fx_writer w(h);
    w.table(ora_dump_fx_scott_dept());
    w.table(ora_dump_fx_scott_emp());
    if (with_lob) {
      ora_dump_fx_table t;
      t.name = "NOTES";
      t.columns = {ora_dump_fx_column::number("NOTE_ID", 6, 0), ora_dump_fx_column::blob("DATA")};
      t.rows.push_back({{ora_dump_fx_cell::number("1"), ora_dump_fx_cell::lob("\x01\xAB")}});
      t.rows.push_back({{ora_dump_fx_cell::number("2"),
                         ora_dump_fx_cell::lob_chunked(std::string(20000, 'x'), 8132)}});
      t.rows.push_back({{ora_dump_fx_cell::number("3"), ora_dump_fx_cell::null()}});
      w.table(t);
    }
    w.exit();
    return w;
  };
  tk_test_temp_dir dir;
  const std::string reference_dump = dir.path() + "/v11.dmp";
  ASSERT_TRUE(build({11, 2, 0}, true).save(reference_dump));
  talvex_test_conversion reference;
  talvex_test_convert(reference, reference_dump, {}, 120);
  expect_clean_run(reference);
  const csv_test_table notes = csv_test_read_table(reference.csv_path("notes"));
  ASSERT_EQ(notes.rows.size(), 3u);
  EXPECT_EQ(notes.value(notes.rows[0], "DATA"), "0x01AB");
  std::string hex_x = "0x";
  for (int i = 0; i < 20000; ++i) hex_x += "78";
  EXPECT_EQ(notes.value(notes.rows[1], "DATA"), hex_x);
  EXPECT_EQ(notes.value(notes.rows[2], "DATA"), "");

  const struct {
    ora_dump_fx_version version;
    bool with_lob;
  } versions[] = {{{7, 3, 4}, false}, {{8, 0, 5}, false}, {{8, 1, 7}, true}, {{9, 2, 0}, true},
                  {{10, 2, 1}, true}, {{12, 2, 0}, true}, {{19, 0, 0}, true}};
  for (const auto& v : versions) {
    SCOPED_TRACE(v.version.text());
    const std::string dump = dir.path() + "/" + v.version.text().substr(7) + ".dmp";
    ASSERT_TRUE(build(v.version, v.with_lob).save(dump));
    talvex_test_conversion c;
    talvex_test_convert(c, dump, {}, 120);
    expect_clean_run(c);
    for (const char* base : {"dept", "emp", "notes"}) {
      if (std::string(base) == "notes" && !v.with_lob) continue;
      EXPECT_EQ(tk_test_read_file(c.csv_path(base)), tk_test_read_file(reference.csv_path(base)))
          << base;
    }
  }
}
