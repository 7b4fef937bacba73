// File names, existence and access tests, folder listing and the binary file.
#include "TK/tk_fname.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "TK/tk_exc.h"
#include "TK/tk_file.h"

namespace {

// A fresh folder per test, removed afterwards.
class tk_fname_dir : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "tk_fname_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern + "/";
  }
  void TearDown() override { (void)!system(("rm -rf '" + dir + "'").c_str()); }

  std::string write(const std::string& name, const std::string& content) {
    std::ofstream(dir + name, std::ios::binary) << content;
    return dir + name;
  }

  std::string dir;
};

std::string read_all(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(tk_fname, names_are_made_absolute_and_split) {
  struct {
    std::string name, dir, fname, ext;
  } cases[] = {
      {"/data/out.csv", "/data/", "out", ".csv"},
      {"/a/b/../c/./d.tar.gz", "/a/c/", "d.tar", ".gz"},
      {"/a//b///c", "/a/b/", "c", ""},
      {"/../../x.dmp", "/", "x", ".dmp"},
      {"/data/csv/", "/data/csv/", "", ""},
      {"/data/csv/..", "/", "data", ""},
      {"/home/u/.profile", "/home/u/", "", ".profile"},
      {"/", "/", "", ""},
  };
  for (const auto& c : cases) {
    tk_file_name fn(c.name);
    EXPECT_EQ(fn.dir, c.dir) << c.name;
    EXPECT_EQ(fn.fname, c.fname) << c.name;
    EXPECT_EQ(fn.ext, c.ext) << c.name;
    EXPECT_EQ(fn.drive, "");
    EXPECT_EQ(fn.get_drivepath(), c.dir);
    EXPECT_EQ(fn.get_full_name(), c.dir + c.fname + c.ext);
  }
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  std::string here = std::string(cwd) == "/" ? "/" : std::string(cwd) + "/";
  EXPECT_EQ(tk_file_name("sub/../exp.dmp").get_full_name(), here + "exp.dmp");
  tk_file_wname wide(u"/d\u00e4ta/\u00fcber.csv");
  EXPECT_EQ(wide.dir, u"/d\u00e4ta/");
  EXPECT_EQ(wide.fname, u"\u00fcber");
  EXPECT_EQ(wide.ext, u".csv");
}

TEST(tk_fname, empty_name_is_the_program_folder) {
  tk_file_name fn("");
  EXPECT_EQ(fn.get_drivepath(), tk_get_module_dir());
  EXPECT_EQ(fn.fname, "");
  std::string module = tk_get_module_file_name();
  EXPECT_EQ(module.rfind(tk_get_module_dir(), 0), 0u);
  EXPECT_EQ(tk_get_module_dir().back(), '/');
}

TEST(tk_fname, user_home_is_absolute_without_trailing_slash) {
  std::u16string home = tk_get_user_home_wpath();
  ASSERT_FALSE(home.empty());
  EXPECT_EQ(home[0], u'/');
  if (home.size() > 1) {
    EXPECT_NE(home.back(), u'/');
  }
}

TEST_F(tk_fname_dir, existence_tests_by_mode) {
  std::string file = write("plain.txt", "x");
  std::string read_only = write("ro.txt", "x");
  ASSERT_EQ(chmod(read_only.c_str(), 0444), 0);

  EXPECT_FALSE(tk_is_file_exist1(dir, 0x4000));  // a folder
  EXPECT_TRUE(tk_is_file_exist1(file, 0x4000));
  EXPECT_TRUE(tk_is_file_exist1(file, 1));
  EXPECT_TRUE(tk_is_file_exist1(read_only, 0x4000));
  EXPECT_FALSE(tk_is_file_exist1(read_only, 1));  // read-only, even for root
  EXPECT_FALSE(tk_is_file_exist1(dir + "missing", 0x4000));
  EXPECT_FALSE(tk_is_file_exist1("", 0x4000));

  EXPECT_TRUE(tk_is_file_exist2(tk_u16(file), 0x1000));  // empties it
  EXPECT_EQ(read_all(file), "");
  EXPECT_TRUE(tk_is_file_exist2(tk_u16(dir + "new.tvc"), 0x1000));  // creates it
  EXPECT_TRUE(tk_is_file_exist1(dir + "new.tvc", 0x4000));
  try {
    tk_is_file_exist1(dir + "no/such/folder.txt", 0x1000);
    FAIL() << "no exception";
  } catch (const tk_exception_ex& e) {
    EXPECT_EQ(e.level(), 1);
    EXPECT_EQ(e.code(), static_cast<uint32_t>(ENOENT));
  }
}

TEST_F(tk_fname_dir, folder_and_access_tests) {
  std::string file = write("f.txt", "x");
  EXPECT_TRUE(tk_is_path_exist(dir));
  EXPECT_TRUE(tk_is_path_exist(tk_u16(dir)));
  EXPECT_TRUE(tk_is_path_exist(std::string()));
  EXPECT_FALSE(tk_is_path_exist(file));
  EXPECT_FALSE(tk_is_path_exist(dir + "missing"));

  EXPECT_TRUE(tk_has_access(dir, TK_GENERIC_WRITE));
  EXPECT_TRUE(tk_has_access(tk_u16(file), TK_GENERIC_WRITE));
  EXPECT_FALSE(tk_has_access(dir + "missing", TK_GENERIC_WRITE));
  EXPECT_FALSE(tk_has_access(std::string(), TK_GENERIC_WRITE));
}

TEST_F(tk_fname_dir, find_files_lists_matches_without_dot_entries) {
  write("a.csv", "1");
  write("notes.txt", "2");
  write("README", "3");
  ASSERT_EQ(mkdir((dir + "b.csv").c_str(), 0755), 0);

  std::vector<std::u16string> names = {u"stale"};
  ASSERT_TRUE(tk_find_files(dir, "*.csv", names));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::u16string>{u"a.csv", u"b.csv"}));

  ASSERT_TRUE(tk_find_files(dir, "*.*", names));  // as on Windows: every name
  EXPECT_EQ(names.size(), 4u);

  EXPECT_FALSE(tk_find_files(dir, "*.xml", names));
  EXPECT_TRUE(names.empty());
  EXPECT_FALSE(tk_find_files(dir + "missing", "*", names));
}

TEST_F(tk_fname_dir, same_file_and_inside_resolve_links) {
  std::string file = write("dump.dmp", "x");
  ASSERT_EQ(mkdir((dir + "out").c_str(), 0755), 0);
  ASSERT_EQ(symlink(dir.c_str(), (dir + "out/up").c_str()), 0);

  EXPECT_TRUE(tk_same_file(file, dir + "out/up/dump.dmp"));
  EXPECT_TRUE(tk_same_file(file, dir + "out/../dump.dmp"));
  EXPECT_FALSE(tk_same_file(file, dir + "out"));
  EXPECT_FALSE(tk_same_file(file, dir + "missing"));

  EXPECT_TRUE(tk_path_inside(file, dir));
  EXPECT_TRUE(tk_path_inside(dir + "out/up/dump.dmp", dir));
  EXPECT_TRUE(tk_path_inside(dir + "out", dir + "out"));
  EXPECT_FALSE(tk_path_inside(file, dir + "out"));
  EXPECT_FALSE(tk_path_inside(dir, dir + "out"));
  EXPECT_FALSE(tk_path_inside(dir + "missing", dir));
  EXPECT_FALSE(tk_path_inside(file, file));  // a file contains nothing
  // A sibling whose name starts with the folder's name is not inside it.
  ASSERT_EQ(mkdir((dir + "outer").c_str(), 0755), 0);
  EXPECT_FALSE(tk_path_inside(dir + "outer", dir + "out"));
}

TEST_F(tk_fname_dir, binary_file_reads_within_bounds_only) {
  std::string name = write("data.bin", std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
  tk_stdio_file f(name, 0);
  EXPECT_EQ(f.get_length(), 8u);
  uint8_t buf[4];
  EXPECT_EQ(f.get_at(4, buf, 4), buf);  // the last 4 bytes
  EXPECT_EQ(buf[3], 0x08);
  EXPECT_EQ(f.get_u8(0), 0x01);
  EXPECT_EQ(f.get_u16(0), 0x0201);
  EXPECT_EQ(f.get_u32(4), 0x08070605u);
  for (uint64_t offset : {5ULL, 9ULL, ~0ULL - 1}) {
    try {
      f.get_at(offset, buf, 4);
      FAIL() << offset;
    } catch (const tk_exception& e) {
      EXPECT_EQ(e.text(), "Error reading from file");
      EXPECT_EQ(e.level(), 1);
    }
  }
  EXPECT_THROW(f.put_at(0, "x", 1), tk_exception);  // opened read-only
}

TEST_F(tk_fname_dir, binary_file_open_failures) {
  try {
    tk_stdio_file f(dir + "missing.tvc", 0);
    FAIL() << "opened";
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.text(), "Bad path or busy with another process");
    EXPECT_EQ(e.level(), 1);
  }
  try {
    tk_stdio_file f(dir + "no/folder.tvc", TK_FILE_WRITE | TK_FILE_CREATE);
    FAIL() << "opened";
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.text(), "Error opening file");
  }
  EXPECT_THROW(tk_stdio_file(std::string(), 0), tk_mail_assertion);
}

TEST_F(tk_fname_dir, binary_file_put_at_pads_with_zeros) {
  std::string name = write("pad.bin", "abcd");
  {
    tk_stdio_file f(dir + "./pad.bin", TK_FILE_WRITE);
    EXPECT_EQ(f.name(), name);  // canonical
    f.put_at(10, "XY", 2);
    EXPECT_EQ(f.get_length(), 12u);
    f.put_at(1, "B", 1);
    char back[3] = {};
    f.get_at(9, back, 3);
    EXPECT_EQ(std::string(back, 3), std::string("\0XY", 3));
  }
  EXPECT_EQ(read_all(name), std::string("aBcd\0\0\0\0\0\0XY", 12));
}

TEST_F(tk_fname_dir, binary_file_offsets_beyond_4_gib) {
  tk_stdio_file f(dir + "big.tvc", TK_FILE_WRITE | TK_FILE_CREATE);
  const uint64_t far = (5ULL << 30) + 3;  // sparse: no disk space used for the gap
  int fd = open((dir + "big.tvc").c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(far)), 0);  // the gap without writing it
  close(fd);
  f.put_at(far, "\x11\x22\x33\x44", 4);
  EXPECT_EQ(f.get_length(), far + 4);
  EXPECT_EQ(f.get_u32(far), 0x44332211u);
  EXPECT_EQ(f.get_u8(far - 1), 0);
}
