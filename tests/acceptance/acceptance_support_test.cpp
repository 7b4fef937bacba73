// Tests of the acceptance helpers themselves: the manifest reader, the CSV
// record parser, file-name mapping and matching, and the companion SQL
// reader. They run without TALVEXCLI.
#include "acceptance_support.h"

#include <gtest/gtest.h>

TEST(manifest_parse, reads_counts_folders_and_approximations) {
  const char* text =
      "# Real Oracle dumps\n"
      "## Classic `exp` dumps (classic/)\n"
      "| file | source |\n"
      "- **a.dmp**: no tables\n"
      "- **b.dmp**: DEPT 11, EMP 106, APEX$_ACL 0, X-ARTI 5\n"
      "- **c.dmp**: SYSTEM.EMP 14\n"
      "## Data Pump `expdp` dumps (datapump/)\n"
      "- **d.dmp**: AEREO 60, SYS_EXPORT_SCHEMA_01 ~1342\n"
      "## Classic `exp` dumps with SDO_GEOMETRY (spatial) columns (spatial/)\n"
      "- **e.dmp**: ZIP5_DC 20 (geometry: GEOM), MY_MAPS 9, BI_TEST_NODE$ 121 (geometry: G2)\n"
      "## companions/\n"
      "- Jef7__file.sql\n";
  const auto m = ora_dump_manifest_parse(text);
  ASSERT_EQ(m.size(), 5u);
  EXPECT_TRUE(m.at("a.dmp").no_tables);
  EXPECT_EQ(m.at("a.dmp").folder, "classic");
  const auto& b = m.at("b.dmp").tables;
  ASSERT_EQ(b.size(), 4u);
  EXPECT_EQ(b[0].name, "DEPT");
  EXPECT_EQ(b[1].rows, 106);
  EXPECT_EQ(b[2].name, "APEX$_ACL");
  EXPECT_EQ(b[2].rows, 0);
  EXPECT_EQ(b[3].name, "X-ARTI");
  EXPECT_EQ(m.at("c.dmp").tables[0].name, "SYSTEM.EMP");
  const auto& d = m.at("d.dmp");
  EXPECT_EQ(d.folder, "datapump");
  EXPECT_FALSE(d.tables[0].approximate);
  EXPECT_TRUE(d.tables[1].approximate);
  EXPECT_EQ(d.tables[1].rows, 1342);
  const auto& e = m.at("e.dmp");
  EXPECT_EQ(e.folder, "spatial");
  ASSERT_EQ(e.tables.size(), 3u);
  EXPECT_EQ(e.tables[0].name, "ZIP5_DC");
  EXPECT_EQ(e.tables[0].rows, 20);
  EXPECT_EQ(e.tables[0].geometry, "GEOM");
  EXPECT_EQ(e.tables[1].geometry, "");
  EXPECT_EQ(e.tables[2].name, "BI_TEST_NODE$");
  EXPECT_EQ(e.tables[2].rows, 121);
  EXPECT_EQ(e.tables[2].geometry, "G2");
}

TEST(manifest_parse, reads_the_real_manifest) {
  const std::string path = std::string(TALVEX_SOURCE_DIR) + "/../shared/dumps/MANIFEST.md";
  if (!tk_test_exists(path)) GTEST_SKIP() << "no corpus at " << path;
  const auto m = ora_dump_manifest_parse(tk_test_read_file(path));
  size_t classic = 0;
  for (const auto& [file, entry] : m) classic += entry.folder == "classic";
  EXPECT_GE(classic, 27u);  // the corpus grows; these 27 were there first
  const auto& hr = m.at("javierzc05__proyecto__respaldos_hr.dmp").tables;
  ASSERT_EQ(hr.size(), 7u);
  EXPECT_EQ(hr[2].name, "HR.EMPLOYEES");
  EXPECT_EQ(hr[2].rows, 107);
  EXPECT_EQ(m.at("thom033__Station__base.dmp").tables.size(), 124u);
  EXPECT_TRUE(m.at("diondibon__Booking-Tiket-Bioskop__database.dmp").no_tables);
}

TEST(csv_parse, counts_records_with_quoted_line_breaks) {
  struct {
    const char* name;
    std::string content;
    char delimiter;
    std::vector<std::vector<std::string>> expected;
  } cases[] = {
      {"bom and crlf",
       "\xEF\xBB\xBF"
       "A,B\r\n1,2\r\n",
       ',',
       {{"A", "B"}, {"1", "2"}}},
      {"quoted crlf and quotes",
       "A,B\r\n\"x\r\ny\",\"say \"\"hi\"\"\"\r\n",
       ',',
       {{"A", "B"}, {"x\r\ny", "say \"hi\""}}},
      {"empty fields", "A;B;C\r\n;;\r\n", ';', {{"A", "B", "C"}, {"", "", ""}}},
      {"delimiter inside quotes", "A\tB\r\n\"a\tb\"\tc\r\n", '\t', {{"A", "B"}, {"a\tb", "c"}}},
      {"single column with empty value", "A\r\n\r\nx\r\n", ',', {{"A"}, {""}, {"x"}}},
      {"no final line break", "A\r\n1", ',', {{"A"}, {"1"}}},
      {"bom only", "\xEF\xBB\xBF", ',', {}},
      {"cr cr lf inside quotes", "A\r\n\"a\r\r\nb\"\r\n", ',', {{"A"}, {"a\r\r\nb"}}},
  };
  for (const auto& c : cases) {
    std::vector<std::vector<std::string>> records;
    EXPECT_TRUE(csv_test_parse(c.content, c.delimiter, records)) << c.name;
    EXPECT_EQ(records, c.expected) << c.name;
  }
  std::vector<std::vector<std::string>> records;
  EXPECT_FALSE(csv_test_parse("A\r\n\"open\r\n", ',', records));
}

TEST(csv_file_name, follows_the_output_naming_rule) {
  const std::pair<const char*, const char*> cases[] = {
      {"EMP", "emp.csv"},       {"SYSTEM.EMP", "system_emp.csv"}, {"APEX$_ACL", "apex__acl.csv"},
      {"X-ARTI", "x-arti.csv"}, {"OL$HINTS", "ol_hints.csv"},     {"   ", "___.csv"},
      {"T#1", "t_1.csv"},       {"管理者", "管理者.csv"},
  };
  for (const auto& [table, file] : cases) EXPECT_EQ(csv_test_file_name(table), file) << table;
}

TEST(csv_match_tables, pairs_qualified_and_plain_names) {
  // Owner or tablespace prefixes may be present on either side.
  const std::vector<std::string> tables = {"SYSTEM.EMP", "SYSTEM.DEPT", "PHARMA.AGENCE",
                                           "EMP_X",      "ALARM_LIST",  "MISSING"};
  const std::vector<std::string> files = {"system_emp",       "dept", "agence", "emp_x",
                                          "users_alarm_list", "other"};
  const auto m = csv_test_match_tables(tables, files);
  EXPECT_EQ(m.at("SYSTEM.EMP"), "system_emp");
  EXPECT_EQ(m.at("SYSTEM.DEPT"), "dept");
  EXPECT_EQ(m.at("PHARMA.AGENCE"), "agence");
  EXPECT_EQ(m.at("EMP_X"), "emp_x");
  EXPECT_EQ(m.at("ALARM_LIST"), "users_alarm_list");
  EXPECT_EQ(m.at("MISSING"), "");
}

TEST(csv_match_tables, exact_names_win_over_suffixes) {
  // "emp" must not steal "dept_emp", and an ambiguous suffix stays unmatched.
  const auto m =
      csv_test_match_tables({"EMP", "DEPT_EMP", "LOG"}, {"dept_emp", "emp", "a_log", "b_log"});
  EXPECT_EQ(m.at("EMP"), "emp");
  EXPECT_EQ(m.at("DEPT_EMP"), "dept_emp");
  EXPECT_EQ(m.at("LOG"), "");
}

TEST(sql_companion, reads_insert_values_and_create_columns) {
  const char* script =
      "insert into book values(1,'JAVA',81.00);\n"
      "INSERT INTO Supplier (sid, sname, zipcode)\nVALUES (0001, 'P and G', 10022);\n"
      "insert into PROMOCION(A, B) values (SEQ.NEXTVAL, upper('Articulo Gratis'),15 ); --x\n"
      "insert into book values(2,'It''s (2nd)',NULL);\n"
      "CREATE TABLE Lekarz\n  (\n    id INTEGER ,\n    imie VARCHAR2 (20 CHAR) ,\n"
      "    CONSTRAINT pk PRIMARY KEY (id)\n  ) ;\n";
  const auto books = sql_test_insert_values(script, "BOOK");
  ASSERT_EQ(books.size(), 2u);
  EXPECT_EQ(books[0], (std::vector<std::string>{"1", "JAVA", "81.00"}));
  EXPECT_EQ(books[1], (std::vector<std::string>{"2", "It's (2nd)", "NULL"}));
  const auto suppliers = sql_test_insert_values(script, "supplier");
  ASSERT_EQ(suppliers.size(), 1u);
  EXPECT_EQ(suppliers[0], (std::vector<std::string>{"0001", "P and G", "10022"}));
  const auto promos = sql_test_insert_values(script, "promocion");
  ASSERT_EQ(promos.size(), 1u);
  EXPECT_EQ(promos[0][1], "ARTICULO GRATIS");
  EXPECT_EQ(sql_test_create_columns(script, "LEKARZ"), (std::vector<std::string>{"ID", "IMIE"}));
  EXPECT_TRUE(sql_test_create_columns(script, "NONE").empty());
}

TEST(process_run, captures_output_status_and_environment) {
  const auto r =
      tk_test_run("/bin/sh", {"/bin/sh", "-c", "echo out; echo err >&2; echo $TVX; exit 3"},
                  {{"TVX", "value"}}, 30);
  ASSERT_TRUE(r.started);
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.out, "out\nvalue\n");
  EXPECT_EQ(r.err, "err\n");
  const auto slow = tk_test_run("/bin/sh", {"/bin/sh", "-c", "sleep 30"}, {}, 1);
  EXPECT_TRUE(slow.timed_out);
}
