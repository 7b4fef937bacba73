// Acceptance test of settings profiles over real dumps: for three dumps with
// different settings, a profile saved by --save_profile= and run by
// --profile= writes byte for byte the CSV files of the same options given on
// the command line.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "corpus_support.h"

namespace {

struct profile_case {
  const char* dump;  // under the corpus folder
  std::vector<std::string> options;
  const char* tables;  // table-list file content, nullptr for none
};

std::map<std::string, std::string> folder_files(const std::string& path) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(path))
    files[e.path().filename()] = tk_test_read_file(e.path());
  return files;
}

TEST(profile_corpus, a_saved_profile_converts_like_its_options) {
  const profile_case cases[] = {
      {"classic/javierzc05__proyecto__respaldos_hr.dmp",
       {"--n_delim=0", "--mode=1"},
       "HR.EMPLOYEES\r\nHR.COUNTRIES\r\nHR.NO_SUCH_TABLE\r\n"},
      {"datapump/OracleDataManagementSpain__ConvergedDatabase__HR.DMP", {"--n_delim=2"}, nullptr},
      {"classic/freetic__oracle__car.dmp", {"--tab_def", "--inc_fnames"}, nullptr},
  };
  size_t ran = 0;
  for (const profile_case& c : cases) {
    const std::string dump = corpus_dumps_dir() + "/" + c.dump;
    if (!tk_test_exists(dump)) continue;
    ASSERT_TRUE(tk_test_exists(TALVEXCLI_PATH)) << "missing " << TALVEXCLI_PATH;
    tk_test_temp_dir work;
    const std::string home = work.path() + "/home";
    std::filesystem::create_directories(home);
    // A list that names a table the dump lacks makes the run partial.
    const int status = c.tables != nullptr ? 1 : 0;
    auto run = [&](std::vector<std::string> args, int want = -1) {
      args.insert(args.begin(), TALVEXCLI_PATH);
      const tk_test_process_result r = tk_test_run(TALVEXCLI_PATH, args, {{"HOME", home}}, 300);
      EXPECT_EQ(r.exit_code, want < 0 ? status : want) << c.dump << "\n" << r.out << r.err;
      return r;
    };
    std::vector<std::string> options = c.options;
    if (c.tables != nullptr) {
      ASSERT_TRUE(tk_test_write_file(work.path() + "/tables.txt", c.tables));
      options.push_back("--tab_file=" + work.path() + "/tables.txt");
    }

    std::vector<std::string> direct = {"--src=" + dump, "--dest=" + work.path() + "/direct"};
    direct.insert(direct.end(), options.begin(), options.end());
    const tk_test_process_result first = run(direct);

    std::vector<std::string> save = {"--src=" + dump, "--dest=" + work.path() + "/profiled"};
    save.insert(save.end(), options.begin(), options.end());
    save.push_back("--save_profile=" + work.path() + "/p.tlvx");
    run(save, 0);
    EXPECT_FALSE(tk_test_exists(work.path() + "/profiled")) << "saving converted";
    const tk_test_process_result second = run({"--profile=" + work.path() + "/p.tlvx"});

    const auto want = folder_files(work.path() + "/direct");
    EXPECT_FALSE(want.empty()) << c.dump;
    EXPECT_EQ(folder_files(work.path() + "/profiled"), want) << c.dump;
    // The console lines differ only in the destination the summary names.
    std::string expected_out = first.out;
    const std::string direct_dest = work.path() + "/direct'";
    const size_t at = expected_out.rfind(direct_dest);
    ASSERT_NE(at, std::string::npos) << first.out;
    expected_out.replace(at, direct_dest.size(), work.path() + "/profiled'");
    EXPECT_EQ(second.out, expected_out) << c.dump;
    EXPECT_EQ(second.err, first.err) << c.dump;
    ++ran;
  }
  if (ran == 0) GTEST_SKIP() << "corpus dumps not found under " << corpus_dumps_dir();
}

}  // namespace
