// Tests of the console program's settings profiles, run as a subprocess:
// --save_profile= writes the converter's own file and converts nothing,
// --profile= combines with the other options in command-line order, a
// profile run gives the same files as the options it was saved from, and a
// bad profile ends the run before anything is written or deleted.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "TK/tk_log.h"
#include "common/test_dir.h"
#include "console_run.h"
#include "converter/error_handler.h"
#include "converter/talvex_convertor.h"
#include "fixtures/classic_dump_writer.h"

namespace fs = std::filesystem;

namespace {

// Tables named in Korean, Chinese and Hebrew next to a plain one, in an
// AL32UTF8 dump.
ora_dump_fx_table named_table(const std::string& name, int rows) {
  ora_dump_fx_table t;
  t.name = name;
  t.columns = {ora_dump_fx_column::number("ID", 4, 0), ora_dump_fx_column::varchar2("TXT", 20)};
  for (int i = 1; i <= rows; ++i)
    t.rows.push_back({{ora_dump_fx_cell::number(std::to_string(i)),
                       ora_dump_fx_cell::text("v" + std::to_string(i) + ";x,y")}});
  return t;
}

const std::vector<std::string> table_names = {"사원", "员工", "עובדים", "PLAIN"};

class console_profile : public ::testing::Test {
 protected:
  void SetUp() override {
    ora_dump_fx_header header;
    header.client_charset = ora_dump_fx_cs_al32utf8;
    ora_dump_fx_writer w(header);
    for (size_t i = 0; i < table_names.size(); ++i)
      w.table(named_table(table_names[i], static_cast<int>(i) + 2));
    w.exit();
    dump = dir / "multi.dmp";
    ASSERT_TRUE(w.save(dump));
  }

  run_result run(const std::vector<std::string>& args) { return run_talvexcli(dir, args); }

  // Every file of a folder with its bytes.
  static std::map<std::string, std::string> folder(const std::string& path) {
    std::map<std::string, std::string> files;
    if (!fs::is_directory(path)) return files;
    for (const auto& e : fs::directory_iterator(path))
      files[e.path().filename()] = test_read_file(e.path());
    return files;
  }

  test_dir dir;
  std::string dump;
};

TEST_F(console_profile, save_profile_writes_the_converters_file_and_converts_nothing) {
  test_write_file(dir / "tables.txt", "\xEF\xBB\xBF사원\r\nPLAIN\r\n");
  const std::vector<std::string> args = {"--src=" + dump,
                                         "--dest=" + (dir / "out"),
                                         "--n_delim=0",
                                         "--tab_def",
                                         "--mode=1",
                                         "--tab_file=" + (dir / "tables.txt"),
                                         "--logfile=" + (dir / "run.log"),
                                         "--save_profile=" + (dir / "p.tlvx")};
  const run_result r = run(args);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "Settings are stored in profile '" + (dir / "p.tlvx") + "'\n");
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(fs::exists(dir / "out"));

  // Byte for byte what the converter itself stores for these settings.
  tk_logger logger(nullptr, false, 3, false);
  error_handler handler;
  talvex_convertor conv;
  conv.source_file = tk_u16(dump);
  conv.dest_folder = tk_u16(dir / "out");
  conv.delimiter_index = 0;
  conv.definitions_only = true;
  conv.existing_folder_mode = 1;
  conv.table_list = {u"사원", u"PLAIN"};
  conv.log_file = dir / "run.log";
  conv.store_profile(tk_u16(dir / "own.tlvx"));
  EXPECT_EQ(test_read_file(dir / "p.tlvx"), test_read_file(dir / "own.tlvx"));

  // A profile needs neither source nor destination; a silent run says nothing.
  EXPECT_EQ(run({"--n_delim=2", "--silent", "--save_profile=" + (dir / "t.tlvx")}).out, "");
  EXPECT_NE(test_read_file(dir / "t.tlvx").find("CSV delimiter=2\r\n"), std::string::npos);
}

TEST_F(console_profile, save_profile_refusals_write_nothing) {
  test_write_file(dir / "bad.txt", "GOOD\nA=B\n");
  struct refusal {
    std::vector<std::string> args;
    std::string out;
  };
  const refusal cases[] = {
      {{"--save_profile=" + dump},
       "Error:\n'" + dump + "' exists and is not a settings profile; it was left unchanged\n"},
      {{"--save_profile="}, "Error:\nCannot write a profile without a file name\n"},
      {{"--save_profile=" + dir.path()},
       "Error:\nCannot write profile '" + dir.path() + "': it is a folder\n"},
      {{"--tab_file=" + (dir / "bad.txt"), "--save_profile=" + (dir / "p.tlvx")},
       "Error:\nCannot store 'A=B' in section [Selected Tables] of a profile: it contains '='\n"},
  };
  const std::string dump_bytes = test_read_file(dump);
  for (const refusal& c : cases) {
    const run_result r = run(c.args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, c.out);
  }
  EXPECT_EQ(test_read_file(dump), dump_bytes);
  EXPECT_FALSE(fs::exists(dir / "p.tlvx"));
  // An unknown word still shows the usage, not a profile.
  EXPECT_EQ(run({"--save_profile=" + (dir / "p.tlvx"), "word"}).status, 255);
  EXPECT_FALSE(fs::exists(dir / "p.tlvx"));
}

TEST_F(console_profile, options_combine_in_command_line_order) {
  const std::string out = dir / "out";
  test_write_file(dir / "p.tlvx",
                  "[CSV settings]\r\nInclude field names=0\r\nCSV delimiter=2\r\n\r\n"
                  "[Generic settings]\r\nsrc=" +
                      dump + "\r\ndest=" + out + "\r\n\r\n[Selected Tables]\r\nPLAIN\r\n");
  test_write_file(dir / "t.txt", "员工\n");
  const std::string profile = "--profile=" + (dir / "p.tlvx");
  const std::string tab_file = "--tab_file=" + (dir / "t.txt");
  struct combination {
    std::vector<std::string> args;
    std::string file, first_line;
  };
  const combination cases[] = {
      {{profile}, "plain.csv", "1,\"v1;x,y\""},
      {{profile, "--inc_fnames"}, "plain.csv", "ID,TXT"},
      {{"--inc_fnames", profile}, "plain.csv", "1,\"v1;x,y\""},
      {{profile, "--n_delim=1"}, "plain.csv", "1;\"v1;x,y\""},
      {{"--n_delim=1", profile}, "plain.csv", "1,\"v1;x,y\""},
      {{profile, tab_file}, "员工.csv", "1,\"v1;x,y\""},
      {{tab_file, profile}, "plain.csv", "1,\"v1;x,y\""},
  };
  for (const combination& c : cases) {
    const run_result r = run(c.args);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto files = folder(out);
    ASSERT_EQ(files.size(), 1u) << r.out;
    ASSERT_EQ(files.begin()->first, c.file);
    const std::string& csv = files.begin()->second;
    EXPECT_EQ(csv.substr(3, csv.find("\r\n") - 3), c.first_line) << c.args.size();
  }
  // A destination given after the profile wins.
  ASSERT_EQ(run({profile, "--dest=" + (dir / "other")}).status, 0);
  EXPECT_EQ(folder(dir / "other").size(), 1u);
}

TEST_F(console_profile, a_profile_run_gives_the_files_of_its_options) {
  test_write_file(dir / "tables.txt", "עובדים\n사원\n员工\n");
  const std::vector<std::vector<std::string>> settings = {
      {"--n_delim=2", "--tab_file=" + (dir / "tables.txt")},
      {"--n_delim=0", "--tab_def", "--mode=2"},
  };
  for (const auto& s : settings) {
    std::vector<std::string> direct = {"--src=" + dump, "--dest=" + (dir / "direct")};
    direct.insert(direct.end(), s.begin(), s.end());
    ASSERT_EQ(run(direct).status, 0);

    std::vector<std::string> save = {"--src=" + dump, "--dest=" + (dir / "profiled")};
    save.insert(save.end(), s.begin(), s.end());
    save.push_back("--save_profile=" + (dir / "p.tlvx"));
    ASSERT_EQ(run(save).status, 0);
    const run_result r = run({"--profile=" + (dir / "p.tlvx")});
    ASSERT_EQ(r.status, 0) << r.out << r.err;

    const auto want = folder(dir / "direct");
    EXPECT_EQ(want.size(), s.size() == 2 ? 3u : 4u);
    EXPECT_EQ(folder(dir / "profiled"), want);
    fs::remove_all(dir / "direct");
    fs::remove_all(dir / "profiled");
  }
}

TEST_F(console_profile, a_bad_profile_ends_the_run_before_anything_is_touched) {
  const std::string out = dir / "out";
  fs::create_directory(out);
  test_write_file(out + "/keep.txt", "mine");
  const std::string good = "[Generic settings]\r\nsrc=" + dump + "\r\ndest=" + out + "\r\n";
  struct bad_profile {
    std::string bytes;
    std::string message;  // after "Error:\nProfile '<path>'"
  };
  const bad_profile cases[] = {
      {"", " is empty"},
      {std::string(4096 * 3, '\x01'), ", line 1: the line is longer than 4095 bytes"},
      {"\xEF\xBB\xBF" + good,
       ", line 1: the file begins with a byte-order mark; a profile is "
       "UTF-8 text without one"},
      {"\xFF\xFE[\0G\0", ", line 1: the file is UTF-16 text; a profile is UTF-8 text"},
      {good + "[CSV settings\r\n", ", line 4: section header without ']'"},
      {good + "only definitions\r\n",
       ", line 4: 'only definitions' is no setting; a setting is a key, '=' and a value"},
      {good + "x=" + std::string(1 << 20, 'y') + "\r\n",
       ", line 4: the line is longer than 4095 bytes"},
      {good + "[CSV settings]\r\nCSV delimiter=5\r\n",
       ", line 5: 'CSV delimiter=5': Invalid CSV delimiter"},
      {good + "mode=9\r\n", ", line 4: 'mode=9': Invalid merge/overwrite mode"},
  };
  for (const bad_profile& c : cases) {
    test_write_file(dir / "p.tlvx", c.bytes);
    const run_result r = run({"--profile=" + (dir / "p.tlvx")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Error:\nProfile '" + (dir / "p.tlvx") + "'" + c.message + "\n");
    EXPECT_EQ(folder(out), (std::map<std::string, std::string>{{"keep.txt", "mine"}}));
  }
  for (const std::string& missing : {dir / "none.tlvx", dir.path()}) {
    const run_result r =
        run({"--src=" + dump, "--dest=" + out, "--profile=" + missing, "--mode=1"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out,
              "Error:\nProfile does not exist. Please verify the correct path/name was given.\n");
  }
  // A destination that cannot be made is refused like --dest= would be.
  test_write_file(dir / "p.tlvx", "[Generic settings]\r\nsrc=" + dump +
                                      "\r\ndest=" + (dir / "no/such/out") + "\r\n");
  const run_result r = run({"--profile=" + (dir / "p.tlvx")});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(
      r.out.find("Cannot create or write into the destination folder '" + (dir / "no/such/out")),
      std::string::npos)
      << r.out;
  EXPECT_FALSE(fs::exists(dir / "no"));
  EXPECT_EQ(folder(out).size(), 1u);
}

}  // namespace
