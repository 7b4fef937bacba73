// Acceptance tests on the corpus of real Data Pump (expdp) dumps: every dump
// converts with TALVEXCLI without errors into one CSV file per table (empty
// tables and the export job's master table included) with the row counts of
// MANIFEST.md; the master table's own COMPLETED_ROWS agree with the rows
// written; spot values read right in WE8MSWIN1252 and AL32UTF8 databases;
// non-leading files of a multi-file set are refused.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "corpus_support.h"

static std::vector<std::string> pump_dumps() { return corpus_dumps("datapump"); }

static const talvex_test_conversion& converted(const std::string& file) {
  return corpus_converted("datapump", file, {"--inc_fnames"});
}

#define REQUIRE_PUMP_DUMP(file)                                                        \
  do {                                                                                 \
    if ((file).empty() || !tk_test_exists(corpus_dumps_dir() + "/datapump/" + (file))) \
      GTEST_SKIP() << "corpus dump not found: " << (file);                             \
    ASSERT_TRUE(tk_test_exists(TALVEXCLI_PATH)) << "missing " << TALVEXCLI_PATH;       \
  } while (0)

class datapump_corpus_test : public ::testing::TestWithParam<std::string> {};

TEST_P(datapump_corpus_test, converts_every_table_with_the_manifest_row_count) {
  const std::string file = GetParam();
  REQUIRE_PUMP_DUMP(file);
  const ora_dump_manifest_entry& entry = corpus_manifest().at(file);
  const talvex_test_conversion& c = converted(file);
  corpus_expect_clean_run(c);

  const std::vector<std::string> files = c.csv_files();
  EXPECT_EQ(files.size(), entry.tables.size()) << "one CSV file per table";
  std::vector<std::string> names;
  for (const auto& t : entry.tables) names.push_back(t.name);
  const auto match = csv_test_match_tables(names, files);
  for (const ora_dump_manifest_table& t : entry.tables) {
    const std::string& base = match.at(t.name);
    if (base.empty()) {
      ADD_FAILURE() << "no CSV file for " << t.name;
      continue;
    }
    std::vector<std::vector<std::string>> records;
    const std::string content = tk_test_read_file(c.csv_path(base));
    EXPECT_TRUE(csv_test_parse(content, ',', records)) << base;
    // Line breaks inside values are written as stored, never as CR CR LF.
    EXPECT_EQ(content.find("\r\r\n"), std::string::npos) << base;
    ASSERT_FALSE(records.empty()) << base << ": no header line";
    const long rows = static_cast<long>(records.size()) - 1;
    if (t.approximate) {
      EXPECT_NEAR(static_cast<double>(rows), static_cast<double>(t.rows), t.rows * 0.05 + 1)
          << t.name;
    } else {
      EXPECT_EQ(rows, t.rows) << t.name;
    }
  }
}

// The export job's own record: for every table it exported, the master
// table holds a TABLE_DATA row with the number of rows it wrote.
TEST_P(datapump_corpus_test, master_table_counts_match_the_rows_written) {
  const std::string file = GetParam();
  REQUIRE_PUMP_DUMP(file);
  const talvex_test_conversion& c = converted(file);
  std::string master;
  for (const std::string& base : c.csv_files())
    if (base.rfind("sys_export_", 0) == 0) master = base;
  ASSERT_FALSE(master.empty()) << "no master table CSV";
  const csv_test_table m = csv_test_read_table(c.csv_path(master));
  ASSERT_TRUE(m.ok);
  int checked = 0;
  for (const auto& row : m.rows) {
    // A statistics-only export records its one stream's count on the
    // statistics MARKER row instead of a TABLE_DATA row.
    const std::string type = m.value(row, "OBJECT_TYPE");
    const bool marker = type == "MARKER" && !m.value(row, "OBJECT_NAME").empty() &&
                        !m.value(row, "COMPLETED_ROWS").empty();
    if (type != "TABLE_DATA" && !marker) continue;
    if (std::atol(m.value(row, "PROCESS_ORDER").c_str()) <= 0) continue;
    if (m.value(row, "DUPLICATE") != "0") continue;
    const std::string name = m.value(row, "OBJECT_NAME");
    const long completed = std::atol(m.value(row, "COMPLETED_ROWS").c_str());
    const csv_test_table t = corpus_table_of(c, name);
    if (!t.ok) {
      ADD_FAILURE() << "no CSV file for " << m.value(row, "OBJECT_SCHEMA") << "." << name;
      continue;
    }
    EXPECT_EQ(static_cast<long>(t.rows.size()), completed) << name;
    ++checked;
  }
  EXPECT_GT(checked, 0) << "no TABLE_DATA rows in the master table";
}

INSTANTIATE_TEST_SUITE_P(datapump, datapump_corpus_test, ::testing::ValuesIn(pump_dumps()),
                         corpus_test_name);

// --- Spot values ------------------------------------------------------------

static void expect_rows(const std::string& file, const std::string& table,
                        const std::vector<expected_row>& rows) {
  corpus_expect_rows(converted(file), table, rows);
}

TEST(datapump_spot_values, we8mswin1252_database) {
  const std::string file = "ShreyanshPrasad__Ride__EXPDAT.DMP";
  REQUIRE_PUMP_DUMP(file);
  // Trailing NULL columns are left out of the record.
  expect_rows(file, "CUSTOMER",
              {{"V_NO", "452", {{"V_NAME", "Mahindra"}, {"CNAME", "star"}, {"SP_REQ", ""}}}});
  expect_rows(file, "DETAIL",
              {{"V_NAME",
                "KTM-390-Duke",
                {{"V_TYPE", "Bike"}, {"N_PASS", "2"}, {"L_CAPP", ""}, {"RP_DAY", "700"}}}});
}

TEST(datapump_spot_values, al32utf8_database) {
  const std::string hr = "OracleDataManagementSpain__ConvergedDatabase__HR.DMP";
  REQUIRE_PUMP_DUMP(hr);
  expect_rows(hr, "EMPLOYEES",
              {{"EMPLOYEE_ID",
                "100",
                {{"FIRST_NAME", "Steven"},
                 {"HIRE_DATE", "2003-06-17"},
                 {"SALARY", "24000"},
                 {"MANAGER_ID", ""}}},
               {"EMPLOYEE_ID", "101", {{"MANAGER_ID", "100"}, {"DEPARTMENT_ID", "90"}}}});

  // Korean text, and a TIMESTAMP(9) value with all nine digits.
  const std::string it = "gonnabe88__it_database__EXPDAT.DMP";
  REQUIRE_PUMP_DUMP(it);
  expect_rows(
      it, "TAAABB_CFILEM",
      {{"FL_MNG_NO", "FL_00000001", {{"ORC_FL_NM", "관객수 추이.png"}, {"FL_DTT", "첨부파일"}}}});
  expect_rows(it, "TAAABB_CLOGNH",
              {{"LGN_SNO",
                "63",
                {{"LGN_DTM", "2026-04-23 23:10:50.033096300"}, {"LGN_TP", "LOGIN_SUCCESS"}}}});

  // Narrow metadata is UTF-8 in an AL32UTF8 database.
  const std::string luca = "LucaGirolamodibari__Exprivia-Stage__EXPDAT.DMP";
  REQUIRE_PUMP_DUMP(luca);
  expect_rows(luca, "AEROPORTO",
              {{"ID_AEROPORTO", "1", {{"CITTÀ", "Roma"}, {"NAZIONE", "Italia"}}}});
  // An empty table known only from its UTF-16 TABLE_T document.
  const csv_test_table empty = corpus_table_of(converted(luca), "STATISTICHE");
  ASSERT_TRUE(empty.ok);
  EXPECT_TRUE(empty.rows.empty());
  EXPECT_EQ(empty.header.size(), 7u);
}

// Every TIMESTAMP(9) value of gonnabe88 that has a fraction is exactly the
// value stored: written back into Oracle's 11 bytes (century + 100, year +
// 100, month, day, hour + 1, minute + 1, second + 1, big-endian nanoseconds)
// behind its length byte, it is found in the dump. 251 of them have digits
// below the microsecond.
TEST(datapump_exact_values, timestamp9_values_of_gonnabe88_are_the_stored_bytes) {
  const std::string file = "gonnabe88__it_database__EXPDAT.DMP";
  REQUIRE_PUMP_DUMP(file);
  const std::string dump = tk_test_read_file(corpus_dumps_dir() + "/datapump/" + file);
  const talvex_test_conversion& c = converted(file);
  int fractions = 0, below_microsecond = 0;
  for (const std::string& base : c.csv_files()) {
    const csv_test_table t = csv_test_read_table(c.csv_path(base));
    ASSERT_TRUE(t.ok) << base;
    for (const auto& row : t.rows) {
      for (const std::string& v : row) {
        int y, mo, d, h, mi, s, used = 0;
        char frac[16] = "";
        if (v.size() < 21 ||
            std::sscanf(v.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%15[0-9]%n", &y, &mo, &d, &h, &mi, &s,
                        frac, &used) != 7 ||
            static_cast<size_t>(used) != v.size())
          continue;
        ++fractions;
        ASSERT_EQ(std::strlen(frac), 9u) << base << ": " << v << " (declared TIMESTAMP(9))";
        const unsigned long ns = std::strtoul(frac, nullptr, 10);
        if (ns % 1000 != 0) ++below_microsecond;
        const char bytes[] = {11,
                              static_cast<char>(y / 100 + 100),
                              static_cast<char>(y % 100 + 100),
                              static_cast<char>(mo),
                              static_cast<char>(d),
                              static_cast<char>(h + 1),
                              static_cast<char>(mi + 1),
                              static_cast<char>(s + 1),
                              static_cast<char>(ns >> 24),
                              static_cast<char>(ns >> 16),
                              static_cast<char>(ns >> 8),
                              static_cast<char>(ns)};
        EXPECT_NE(dump.find(std::string(bytes, sizeof bytes)), std::string::npos)
            << base << ": " << v << " is not a value of the dump";
      }
    }
  }
  EXPECT_EQ(fractions, 280);
  EXPECT_EQ(below_microsecond, 251);
}

// --- A damaged file -----------------------------------------------------------

// A real Data Pump file that went through a UTF-8 text round trip is
// reported as damaged, with the offset where its structure breaks.
TEST(datapump_damaged, a_text_converted_file_is_reported_as_damaged) {
  const std::string dump = corpus_dumps_dir() + "/damaged/zhaoyutiandc__rds__test__cd36dbe1.dmp";
  if (!tk_test_exists(dump)) GTEST_SKIP() << "corpus file not found";
  talvex_test_conversion c;
  talvex_test_convert(c, dump);
  ASSERT_TRUE(c.result.started);
  EXPECT_EQ(c.result.exit_code, 255);
  const std::string all = c.result.out + c.result.err;
  EXPECT_NE(all.find("The dump file is damaged: its Data Pump header breaks at offset 35"),
            std::string::npos)
      << all;
  EXPECT_NE(all.find("From offset 2 it holds UTF-8 replacement characters"), std::string::npos);
  EXPECT_EQ(all.find("non-leading"), std::string::npos) << all;
  EXPECT_TRUE(c.csv_files().empty());
}

// --- Multi-file sets --------------------------------------------------------

TEST(datapump_set, non_leading_files_are_refused) {
  const std::string dir = corpus_dumps_dir() + "/datapump_set/";
  const std::string prefix =
      "raahoolkumeriya__useful-script__database_tutorials_STUFF_employees_exp0";
  if (!tk_test_exists(dir + prefix + "2.dmp")) GTEST_SKIP() << "corpus set not found";
  for (int part = 2; part <= 6; ++part) {
    talvex_test_conversion c;
    talvex_test_convert(c, dir + prefix + std::to_string(part) + ".dmp");
    ASSERT_TRUE(c.result.started);
    EXPECT_NE(c.result.exit_code, 0) << "part " << part;
    EXPECT_NE((c.result.out + c.result.err).find("non-leading part of multifile dump"),
              std::string::npos)
        << "part " << part << ": " << c.result.out << c.result.err;
    EXPECT_TRUE(c.csv_files().empty()) << "part " << part;
  }
}
