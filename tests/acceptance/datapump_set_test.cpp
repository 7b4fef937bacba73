// Acceptance tests on the real Data Pump dump file set (six files written by
// expdp with FILESIZE=50K and DUMPFILE=employees_exp%U.dmp): given its first
// file, given as a pattern or as a list, it converts as one dump with the
// row counts of the export log and the values of the companion verification
// log; a set with a file missing names it and converts nothing unless
// --partial is given.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <sstream>

#include "corpus_support.h"

namespace {

const char* const k_prefix =
    "raahoolkumeriya__useful-script__database_tutorials_STUFF_employees_exp";

std::string set_dir() { return corpus_dumps_dir() + "/datapump_set"; }
std::string part(int n) { return std::string(k_prefix) + "0" + std::to_string(n) + ".dmp"; }

#define REQUIRE_SET()                                                                       \
  do {                                                                                      \
    if (!tk_test_exists(set_dir() + "/" + part(1))) GTEST_SKIP() << "corpus set not found"; \
  } while (0)

// A folder holding links to some files of the set.
std::string link_parts(const tk_test_temp_dir& dir, const std::vector<int>& numbers) {
  for (int n : numbers) {
    const std::string target = set_dir() + "/" + part(n);
    if (::symlink(target.c_str(), (dir.path() + "/" + part(n)).c_str()) != 0) ADD_FAILURE();
  }
  return dir.path() + "/" + part(1);
}

// The rows the verification log lists after importing the dump: SQL*Plus
// columns under a line of dashes, tabs at every eighth column.
std::vector<std::vector<std::string>> verified_rows() {
  std::istringstream in(tk_test_read_file(
      corpus_dumps_dir() +
      "/companions/raahoolkumeriya__useful-script__employees_exp_VERIFY_rows_after_impdp.log"));
  std::vector<std::vector<std::string>> rows;
  std::vector<std::pair<size_t, size_t>> spans;
  for (std::string line; std::getline(in, line);) {
    std::string text;
    for (char c : line) {
      if (c == '\t') {
        text.append(8 - text.size() % 8, ' ');
      } else {
        text += c;
      }
    }
    if (spans.empty()) {
      if (text.rfind("----------- ", 0) != 0) continue;
      for (size_t a = text.find('-'); a != std::string::npos; a = text.find('-', a)) {
        const size_t b = std::min(text.find(' ', a), text.size());
        spans.emplace_back(a, b);
        a = b;
      }
      continue;
    }
    if (text.find_first_not_of(' ') == std::string::npos) break;
    std::vector<std::string> row;
    for (const auto& [a, b] : spans) {
      std::string v = a < text.size() ? text.substr(a, b - a) : "";
      v.erase(0, std::min(v.find_first_not_of(' '), v.size()));
      v.erase(v.find_last_not_of(' ') + 1);
      row.push_back(v);
    }
    rows.push_back(row);
  }
  return rows;
}

// 17-DEC-80 as the CSV writes dates.
std::string iso_date(const std::string& d) {
  static const std::string months = "JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC";
  const int month = static_cast<int>(months.find(d.substr(3, 3)) / 3 + 1);
  const int year = std::atoi(d.substr(7).c_str());
  return std::to_string(year < 50 ? 2000 + year : 1900 + year) + (month < 10 ? "-0" : "-") +
         std::to_string(month) + "-" + d.substr(0, 2);
}

// ". . exported "AXIOMUS"."EMPLOYEES"   8.851 KB   15 rows" of the export log.
long exported_rows(const std::string& table) {
  const std::string log = tk_test_read_file(
      corpus_dumps_dir() +
      "/companions/raahoolkumeriya__useful-script__database_tutorials_STUFF_employees_exp.log");
  std::smatch m;
  const std::regex re("exported \"[^\"]+\"\\.\"" + table + "\"[^\\n]* ([0-9]+) rows");
  return std::regex_search(log, m, re) ? std::atol(m[1].str().c_str()) : -1;
}

void expect_whole_set(const talvex_test_conversion& c) {
  corpus_expect_clean_run(c);
  EXPECT_EQ(c.csv_files(),
            (std::vector<std::string>{"employees", "impdp_stats", "sys_export_table_01"}));
  // Every table the manifest lists for the files of the set.
  for (int n = 1; n <= 6; ++n) {
    const auto it = corpus_manifest().find(part(n));
    ASSERT_NE(it, corpus_manifest().end()) << part(n);
    for (const ora_dump_manifest_table& t : it->second.tables) {
      const csv_test_table csv = corpus_table_of(c, t.name);
      ASSERT_TRUE(csv.ok) << t.name;
      const double rows = static_cast<double>(csv.rows.size());
      if (t.approximate)
        EXPECT_NEAR(rows, static_cast<double>(t.rows), t.rows * 0.05 + 1) << t.name;
      else
        EXPECT_EQ(rows, t.rows) << t.name;
    }
  }
  const csv_test_table employees = corpus_table_of(c, "EMPLOYEES");
  ASSERT_TRUE(employees.ok);
  EXPECT_EQ(static_cast<long>(employees.rows.size()), exported_rows("EMPLOYEES"));
  const auto verified = verified_rows();
  ASSERT_EQ(verified.size(), 15u);
  ASSERT_EQ(employees.rows.size(), verified.size());
  for (size_t i = 0; i < verified.size(); ++i) {
    std::vector<std::string> want = verified[i];
    want[4] = iso_date(want[4]);
    EXPECT_EQ(employees.rows[i], want) << "row " << i + 1;
  }
}

}  // namespace

TEST(datapump_set, converts_as_one_dump_from_its_first_file) {
  REQUIRE_SET();
  talvex_test_conversion c;
  talvex_test_convert(c, set_dir() + "/" + part(1));
  expect_whole_set(c);
}

TEST(datapump_set, converts_from_a_pattern_or_a_list_of_files) {
  REQUIRE_SET();
  talvex_test_conversion by_pattern;
  talvex_test_convert(by_pattern, set_dir() + "/" + k_prefix + "%U.dmp");
  expect_whole_set(by_pattern);

  // Every file named, in no particular order, under names of no pattern.
  tk_test_temp_dir dir;
  std::vector<std::string> names;
  for (int n = 1; n <= 6; ++n) {
    const std::string name =
        dir.path() + "/piece_" + std::string(1, static_cast<char>('g' - n)) + ".dmp";
    ASSERT_EQ(::symlink((set_dir() + "/" + part(n)).c_str(), name.c_str()), 0);
    names.push_back(name);
  }
  std::vector<std::string> more;
  for (int n : {4, 6, 2, 5, 3}) more.push_back("--src=" + names[n - 1]);
  talvex_test_conversion by_list;
  talvex_test_convert(by_list, names[0], more);
  expect_whole_set(by_list);
}

TEST(datapump_set, a_missing_file_is_named_and_nothing_is_converted) {
  REQUIRE_SET();
  tk_test_temp_dir dir;
  const std::string first = link_parts(dir, {1, 2, 3, 5, 6});
  talvex_test_conversion c;
  talvex_test_convert(c, first);
  ASSERT_TRUE(c.result.started);
  EXPECT_NE(c.result.exit_code, 0);
  EXPECT_NE(c.result.out.find("part 4 '" + part(4) + "' is missing"), std::string::npos)
      << c.result.out << c.result.err;
  EXPECT_TRUE(c.csv_files().empty());

  // Asked for, the files present are converted and the missing one is an
  // error of the run.
  talvex_test_conversion partial;
  talvex_test_convert(partial, first, {"--partial"});
  ASSERT_TRUE(partial.result.started);
  EXPECT_NE(partial.result.out.find("part 4 '" + part(4) + "' is missing"), std::string::npos)
      << partial.result.out;
  EXPECT_NE(partial.result.out.find("Error:"), std::string::npos);
  EXPECT_EQ(corpus_table_of(partial, "EMPLOYEES").rows.size(), 15u);
  EXPECT_EQ(corpus_table_of(partial, "IMPDP_STATS").rows.size(), 27u);
}

TEST(datapump_set, the_first_file_alone_says_it_is_part_of_a_set) {
  REQUIRE_SET();
  tk_test_temp_dir dir;
  talvex_test_conversion c;
  talvex_test_convert(c, link_parts(dir, {1}));
  ASSERT_TRUE(c.result.started);
  EXPECT_NE(c.result.exit_code, 0);
  EXPECT_NE(c.result.out.find("written in several files, and part 2 '" + part(2)),
            std::string::npos)
      << c.result.out << c.result.err;
  EXPECT_TRUE(c.csv_files().empty());

  talvex_test_conversion partial;
  talvex_test_convert(partial, link_parts(dir, {}), {"--partial"});
  EXPECT_NE(partial.result.err.find("Warning: this is the first part of a multi-file dump"),
            std::string::npos)
      << partial.result.err;
  EXPECT_EQ(partial.csv_files(), std::vector<std::string>{"impdp_stats"});
  EXPECT_EQ(partial.result.exit_code, 1);  // data left behind: a partial run
}

// A Data Pump file mangled by a text conversion: its header's part number
// reads 27631, but it is no later file of a set, it is damaged.
TEST(datapump_set, a_damaged_header_is_not_taken_for_a_later_file) {
  const std::string dump = corpus_dumps_dir() + "/damaged/zhaoyutiandc__rds__test__cd36dbe1.dmp";
  if (!tk_test_exists(dump)) GTEST_SKIP() << "corpus dump not found";
  talvex_test_conversion c;
  talvex_test_convert(c, dump);
  ASSERT_TRUE(c.result.started);
  EXPECT_EQ(c.result.exit_code, 255);
  EXPECT_NE(c.result.out.find("The dump file is damaged"), std::string::npos) << c.result.out;
  EXPECT_EQ(c.result.out.find("non-leading"), std::string::npos) << c.result.out;
  EXPECT_TRUE(c.csv_files().empty());
}
