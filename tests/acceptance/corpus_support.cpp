// Shared pieces of the acceptance tests over the real dumps.
#include "corpus_support.h"

#include <cctype>
#include <memory>

std::string corpus_dumps_dir() { return std::string(TALVEX_SOURCE_DIR) + "/../shared/dumps"; }

const std::map<std::string, ora_dump_manifest_entry>& corpus_manifest() {
  static const std::map<std::string, ora_dump_manifest_entry> m =
      ora_dump_manifest_parse(tk_test_read_file(corpus_dumps_dir() + "/MANIFEST.md"));
  return m;
}

std::vector<std::string> corpus_dumps(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& [file, entry] : corpus_manifest())
    if (entry.folder == folder) out.push_back(file);
  if (out.empty()) out.push_back("");
  return out;
}

const talvex_test_conversion& corpus_converted(const std::string& folder, const std::string& file,
                                               const std::vector<std::string>& args) {
  static std::map<std::string, std::unique_ptr<talvex_test_conversion>> cache;
  auto& slot = cache[folder + "/" + file];
  if (!slot) {
    slot = std::make_unique<talvex_test_conversion>();
    talvex_test_convert(*slot, corpus_dumps_dir() + "/" + folder + "/" + file, args);
  }
  return *slot;
}

void corpus_expect_clean_run(const talvex_test_conversion& c) {
  const auto& r = c.result;
  ASSERT_TRUE(r.started) << "TALVEXCLI did not start";
  ASSERT_FALSE(r.timed_out) << "TALVEXCLI hung";
  ASSERT_FALSE(r.signaled) << "TALVEXCLI died of signal " << r.signal << "\n" << r.err;
  EXPECT_EQ(r.exit_code, 0) << r.err;
  for (const std::string& line : talvex_test_complaints(c)) ADD_FAILURE() << line;
}

csv_test_table corpus_table_of(const talvex_test_conversion& c, const std::string& table) {
  const auto match = csv_test_match_tables({table}, c.csv_files());
  const std::string& base = match.at(table);
  if (base.empty()) return {};
  return csv_test_read_table(c.csv_path(base));
}

std::string corpus_test_name(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param.empty() ? "corpus_absent" : info.param;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

void corpus_expect_rows(const talvex_test_conversion& c, const std::string& table,
                        const std::vector<expected_row>& rows) {
  const csv_test_table t = corpus_table_of(c, table);
  ASSERT_TRUE(t.ok) << table;
  for (const expected_row& want : rows) {
    const auto* row = t.find(want.key_column, want.key);
    if (row == nullptr) {
      ADD_FAILURE() << table << ": no row with " << want.key_column << " = " << want.key;
      continue;
    }
    for (const auto& [column, value] : want.values) {
      EXPECT_EQ(t.value(*row, column), value)
          << table << " " << want.key_column << "=" << want.key << " column " << column;
    }
  }
}
