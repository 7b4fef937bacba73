// Shared pieces of the acceptance tests over the real dumps of
// ../shared/dumps: the manifest, one TALVEXCLI conversion per dump and test
// process, and the checks both dump formats make on the CSV files.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "acceptance_support.h"

std::string corpus_dumps_dir();
const std::map<std::string, ora_dump_manifest_entry>& corpus_manifest();
// The manifest's dumps of one folder ("classic", "datapump"), or one empty
// name (a skipped test) when the corpus is not there.
std::vector<std::string> corpus_dumps(const std::string& folder);
// One conversion per dump and test process, reused by the spot checks.
const talvex_test_conversion& corpus_converted(const std::string& folder, const std::string& file,
                                               const std::vector<std::string>& args = {});
// Exit status 0, no crash or hang, no error or warning anywhere.
void corpus_expect_clean_run(const talvex_test_conversion& c);
// The CSV file of a table, matched with or without an owner prefix.
csv_test_table corpus_table_of(const talvex_test_conversion& c, const std::string& table);
std::string corpus_test_name(const ::testing::TestParamInfo<std::string>& info);

struct expected_row {
  const char* key_column;
  const char* key;
  std::vector<std::pair<const char*, const char*>> values;
};

// The rows found by their key column hold the given values.
void corpus_expect_rows(const talvex_test_conversion& c, const std::string& table,
                        const std::vector<expected_row>& rows);
