// Truncation sweep over the smaller dumps of the corpus: each is cut at many
// offsets and converted. No cut may crash or hang TALVEXCLI, and no cut may
// pass for a complete run while a table came out shorter or different than
// from the whole dump: a run that ends with exit status 0 must have written
// every table it wrote exactly as the whole dump's run did, and a run that
// reported an error must not end with 0.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "corpus_support.h"

namespace {

struct sweep_dump {
  const char* folder;
  const char* file;
};

// Small dumps of both formats: LONG and NCHAR columns, several tables, a
// Data Pump dump with a master table, the first part of a dump file set.
const sweep_dump k_dumps[] = {
    {"classic", "jigneshjoshi-arch__material-by-jjsir__emp.dmp"},
    {"classic", "soyun2__DB_2021__210303_Book.dmp"},
    {"classic", "Kinoamakuma__NewRepo1__EXPDAT.DMP"},
    {"classic", "javierzc05__proyecto__respaldos_hr.dmp"},
    {"datapump_set",
     "raahoolkumeriya__useful-script__database_tutorials_STUFF_employees_exp01.dmp"},
    {"datapump", "ShreyanshPrasad__Ride__EXPDAT.DMP"},
};
constexpr size_t k_cuts = 24;

std::map<std::string, std::string> csv_contents(const talvex_test_conversion& c) {
  std::map<std::string, std::string> out;
  for (const std::string& base : c.csv_files()) out[base] = tk_test_read_file(c.csv_path(base));
  return out;
}

class truncation_sweep : public ::testing::TestWithParam<sweep_dump> {};

}  // namespace

TEST_P(truncation_sweep, no_cut_passes_for_a_complete_run) {
  const std::string path = corpus_dumps_dir() + "/" + GetParam().folder + "/" + GetParam().file;
  if (!tk_test_exists(path)) GTEST_SKIP() << "corpus not available: " << path;
  const std::string whole = tk_test_read_file(path);
  ASSERT_GT(whole.size(), 4096u);

  talvex_test_conversion full;
  talvex_test_convert(full, path, {}, 120);
  ASSERT_TRUE(full.result.started && !full.result.timed_out && !full.result.signaled);
  const std::map<std::string, std::string> expected = csv_contents(full);
  ASSERT_FALSE(expected.empty());

  tk_test_temp_dir dir;
  const std::string cut_path = dir.path() + "/cut.dmp";
  // Evenly spread, with a step that is no multiple of the usual block sizes.
  const size_t step = whole.size() / (k_cuts + 1) + 7;
  for (size_t cut = step; cut < whole.size(); cut += step) {
    SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(whole.size()));
    ASSERT_TRUE(tk_test_write_file(cut_path, std::string_view(whole).substr(0, cut)));
    talvex_test_conversion run;
    talvex_test_convert(run, cut_path, {}, 120);
    const tk_test_process_result& r = run.result;
    ASSERT_TRUE(r.started);
    ASSERT_FALSE(r.timed_out) << "TALVEXCLI hung";
    ASSERT_FALSE(r.signaled) << "TALVEXCLI died of signal " << r.signal << "\n" << r.err;
    EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 1 || r.exit_code == 255) << r.exit_code;
    if (r.exit_code != 0) continue;
    EXPECT_EQ(r.out.find("Error:"), std::string::npos) << "an error reported, exit status 0\n"
                                                       << r.out;
    for (const auto& [base, content] : csv_contents(run)) {
      auto it = expected.find(base);
      ASSERT_NE(it, expected.end()) << base << ".csv is not written from the whole dump\n" << r.out;
      EXPECT_EQ(content, it->second) << base << ".csv differs from the whole dump's, unreported\n"
                                     << r.out;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(corpus, truncation_sweep, ::testing::ValuesIn(k_dumps),
                         [](const ::testing::TestParamInfo<sweep_dump>& info) {
                           std::string name = info.param.file;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });
