// Tests of destination preparation: emptying in mode 0 and its refusals,
// keeping in modes 1 and 2, files in place of folders, and creation of
// missing folders.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "TK/tk_log.h"
#include "common/test_dir.h"
#include "converter/error_handler.h"
#include "converter/talvex_convertor.h"

namespace fs = std::filesystem;

namespace {

class dest_prep : public ::testing::Test {
 protected:
  void SetUp() override {
    dest = dir / "out";
    fs::create_directories(dest + "/sub/deeper");
    test_write_file(dest + "/emp.csv", "x");
    test_write_file(dest + "/notes.txt", "x");
    test_write_file(dest + "/sub/deeper/a.csv", "x");
    test_write_file(dest + "/ro.csv", "x");
    chmod((dest + "/ro.csv").c_str(), 0444);
    // A link to a folder outside: removed, never followed.
    fs::create_directories(dir / "outside");
    test_write_file(dir / "outside/precious", "x");
    fs::create_directory_symlink(dir / "outside", dest + "/link");
    conv.dest_folder = tk_u16(dest);
    conv.source_file = tk_u16(dir / "src.dmp");
    test_write_file(dir / "src.dmp", "dump");
    if (const char* home = std::getenv("HOME")) saved_home = home;
    setenv("HOME", (dir / "home").c_str(), 1);
  }
  void TearDown() override { setenv("HOME", saved_home.c_str(), 1); }

  // The text of the level-1 error check_dest raises, "" when it succeeds.
  std::string check() {
    try {
      conv.check_dest();
      return "";
    } catch (const tk_exception& e) {
      EXPECT_EQ(e.level(), 1);
      return e.text();
    }
  }

  test_dir dir;
  std::string dest, saved_home;
  tk_logger logger{nullptr, false, 3, false};
  error_handler handler;
  talvex_convertor conv;
};

TEST_F(dest_prep, mode_0_empties_the_folder) {
  EXPECT_EQ(check(), "");
  ASSERT_TRUE(fs::is_directory(dest));
  EXPECT_TRUE(fs::is_empty(dest));
  EXPECT_TRUE(fs::exists(dir / "outside/precious"));
}

TEST_F(dest_prep, mode_0_leaves_dot_entries_and_their_folder) {
  test_write_file(dest + "/.keep", "x");
  test_write_file(dest + "/sub/.hidden", "x");
  EXPECT_EQ(check(), "");
  EXPECT_TRUE(fs::exists(dest + "/.keep"));
  EXPECT_TRUE(fs::exists(dest + "/sub/.hidden"));
  EXPECT_FALSE(fs::exists(dest + "/emp.csv"));
  EXPECT_FALSE(fs::exists(dest + "/sub/deeper"));
  EXPECT_FALSE(fs::exists(dest + "/ro.csv"));
}

TEST_F(dest_prep, modes_1_and_2_delete_nothing) {
  for (int mode : {1, 2}) {
    conv.existing_folder_mode = mode;
    EXPECT_EQ(check(), "");
    EXPECT_TRUE(fs::exists(dest + "/emp.csv"));
    EXPECT_TRUE(fs::exists(dest + "/sub/deeper/a.csv"));
  }
}

TEST_F(dest_prep, mode_0_refuses_folders_holding_what_the_user_keeps) {
  const std::string tail = ".\nChoose another destination folder or another mode.";
  const std::string head = "Cannot overwrite the entire folder '" + dest + "': ";

  test_write_file(dest + "/sub/x.dmp", "dump");
  conv.source_file = tk_u16(dest + "/sub/x.dmp");
  EXPECT_EQ(check(), head + "it contains the source dump file" + tail);
  conv.source_file = tk_u16(dir / "src.dmp");

  conv.log_file = dest + "/trace.log";  // not created yet
  EXPECT_EQ(check(), head + "it contains the log file" + tail);
  conv.log_file.clear();

  conv.table_list_file = dest + "/sub/../tables.txt";
  test_write_file(dest + "/tables.txt", "EMP\n");
  EXPECT_EQ(check(), head + "it contains the table list file" + tail);
  conv.table_list_file.clear();

  setenv("HOME", dest.c_str(), 1);
  EXPECT_EQ(check(), head + "it is your home folder" + tail);
  fs::create_directories(dest + "/sub/me");
  setenv("HOME", (dest + "/sub/me").c_str(), 1);
  EXPECT_EQ(check(), head + "it contains your home folder" + tail);

  EXPECT_TRUE(fs::exists(dest + "/emp.csv"));
  EXPECT_TRUE(fs::exists(dest + "/sub/x.dmp"));
}

TEST_F(dest_prep, unusable_destinations_are_refused) {
  test_write_file(dir / "file", "x");
  conv.dest_folder = tk_u16(dir / "file");
  EXPECT_EQ(check(), "You should enter path to CSV folder, not a file name");
  EXPECT_EQ(test_read_file(dir / "file"), "x");

  conv.dest_folder = tk_u16(dir / "missing/out");
  EXPECT_EQ(check(),
            "Cannot create or write into the destination folder.\nRun the program as "
            "Administrator or change folder.");

  conv.dest_folder = tk_u16(dir / "new/");
  EXPECT_EQ(check(), "");
  EXPECT_TRUE(fs::is_directory(dir / "new"));
}

TEST(common_create_path, creates_every_missing_level) {
  test_dir dir;
  common_create_path(tk_u16(dir / "a/b//c/"));
  EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
  common_create_path(tk_u16(dir / "a/b/c"));  // already there

  test_write_file(dir / "f", "x");
  try {
    common_create_path(tk_u16(dir / "f/g/h"));
    FAIL() << "no exception";
  } catch (const tk_exception& e) {
    EXPECT_NE(e.text().find(dir / "f"), std::string::npos) << e.text();
    EXPECT_NE(e.code(), 0u);
  }
}

TEST(common_delete_path, non_recursive_keeps_subfolders) {
  test_dir dir;
  fs::create_directories(dir / "d/sub");
  test_write_file(dir / "d/a", "x");
  common_delete_path(tk_u16(dir / "d"), false);
  EXPECT_FALSE(fs::exists(dir / "d/a"));
  EXPECT_TRUE(fs::exists(dir / "d/sub"));
  common_delete_path(tk_u16(dir / "d"), true);
  EXPECT_FALSE(fs::exists(dir / "d"));
  common_delete_path(tk_u16(dir / "d"), true);  // a missing folder is no error
}

}  // namespace
