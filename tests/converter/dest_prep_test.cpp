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
    // What an earlier conversion leaves: CSV files (one read-only), a file
    // still under its temporary name, a BLOB side file, and a link named
    // like a CSV file that points outside (removed, never followed).
    fs::create_directories(dest);
    test_write_file(dest + "/emp.csv", "x");
    test_write_file(dest + "/ro.CSV", "x");
    chmod((dest + "/ro.CSV").c_str(), 0444);
    test_write_file(dest + "/dept.csv.tmp", "x");
    test_write_file(dest + "/emp_1", "blob");
    fs::create_directories(dir / "outside");
    test_write_file(dir / "outside/precious.csv", "x");
    fs::create_symlink(dir / "outside/precious.csv", dest + "/link.csv");
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

// Checking deletes nothing (the dump is not read yet); preparing empties the
// folder of the files an earlier conversion wrote and keeps the folder.
TEST_F(dest_prep, mode_0_empties_the_files_of_an_earlier_conversion) {
  struct stat before {};
  ASSERT_EQ(stat(dest.c_str(), &before), 0);
  EXPECT_EQ(check(), "");
  EXPECT_TRUE(fs::exists(dest + "/emp.csv"));
  conv.prepare_dest();
  ASSERT_TRUE(fs::is_directory(dest));
  EXPECT_TRUE(fs::is_empty(dest));
  struct stat after {};
  ASSERT_EQ(stat(dest.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino) << "the folder itself is kept";
  EXPECT_TRUE(fs::exists(dir / "outside/precious.csv"));
}

// A folder holding anything this program does not write is refused, with up
// to three of the entries named, and nothing is deleted.
TEST_F(dest_prep, mode_0_refuses_a_folder_with_foreign_entries) {
  const std::string head = "Cannot overwrite the entire folder '" + dest + "': ";
  const std::string tail =
      ".\nChoose a new or empty folder, or mode 1 or 2 to keep the folder's other files.";
  test_write_file(dest + "/report.docx", "x");
  EXPECT_EQ(check(), head + "it holds files this program did not write (report.docx)" + tail);
  fs::create_directories(dest + "/photos");
  test_write_file(dest + "/.hidden", "x");
  test_write_file(dest + "/notes_7", "x");  // no notes.csv beside it: not a side file
  EXPECT_EQ(check(), head +
                         "it holds files this program did not write (.hidden, notes_7, photos/ "
                         "and 1 more)" +
                         tail);
  EXPECT_TRUE(fs::exists(dest + "/emp.csv"));
  EXPECT_TRUE(fs::exists(dest + "/report.docx"));

  // A foreign file that appears while the dump is read is not deleted either.
  fs::remove_all(dest + "/photos");
  fs::remove(dest + "/.hidden");
  fs::remove(dest + "/notes_7");
  fs::remove(dest + "/report.docx");
  EXPECT_EQ(check(), "");
  test_write_file(dest + "/late.txt", "x");
  EXPECT_THROW(conv.prepare_dest(), tk_exception);
  EXPECT_TRUE(fs::exists(dest + "/emp.csv"));
}

// The current folder (or a mount point) cannot be removed: it is emptied.
TEST_F(dest_prep, mode_0_on_the_current_folder_keeps_it) {
  const fs::path saved = fs::current_path();
  fs::current_path(dest);
  conv.dest_folder = tk_u16(".");
  const std::string result = check();
  if (result.empty()) conv.prepare_dest();
  fs::current_path(saved);
  EXPECT_EQ(result, "");
  EXPECT_TRUE(fs::is_directory(dest));
  EXPECT_TRUE(fs::is_empty(dest));
}

TEST_F(dest_prep, modes_1_and_2_delete_nothing) {
  test_write_file(dest + "/report.docx", "x");
  for (int mode : {1, 2}) {
    conv.existing_folder_mode = mode;
    EXPECT_EQ(check(), "");
    conv.prepare_dest();
    EXPECT_TRUE(fs::exists(dest + "/emp.csv"));
    EXPECT_TRUE(fs::exists(dest + "/report.docx"));
  }
}

TEST_F(dest_prep, mode_0_refuses_folders_holding_what_the_user_keeps) {
  const std::string tail = ".\nChoose another destination folder or another mode.";
  const std::string head = "Cannot overwrite the entire folder '" + dest + "': ";

  fs::create_directories(dest + "/sub");
  test_write_file(dest + "/sub/x.dmp", "dump");
  conv.source_file = tk_u16(dest + "/sub/x.dmp");
  EXPECT_EQ(check(), head + "it contains the source dump file" + tail);
  // A source given as a link inside the folder, to a dump outside it.
  fs::create_symlink(dir / "src.dmp", dest + "/dump.csv");
  conv.source_file = tk_u16(dest + "/dump.csv");
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
  EXPECT_TRUE(fs::is_symlink(dest + "/dump.csv"));
}

TEST_F(dest_prep, unusable_destinations_are_refused) {
  test_write_file(dir / "file", "x");
  conv.dest_folder = tk_u16(dir / "file");
  EXPECT_EQ(check(), "You should enter path to CSV folder, not a file name");
  EXPECT_EQ(test_read_file(dir / "file"), "x");

  conv.dest_folder = tk_u16(dir / "missing/out");
  EXPECT_EQ(check(), "Cannot create or write into the destination folder '" +
                         (dir / "missing/out") + "': No such file or directory ('" +
                         (dir / "missing") +
                         "').\nChoose another folder or check its permissions.");

  conv.dest_folder = tk_u16(dir / "new/");
  EXPECT_EQ(check(), "");
  EXPECT_FALSE(fs::exists(dir / "new")) << "created only once the dump is open";
  conv.prepare_dest();
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
