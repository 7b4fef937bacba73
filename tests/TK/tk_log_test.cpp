// The trace log file: when it is created, emptied and what each message adds.
#include "TK/tk_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string temp_name(const char* tag) {
  return testing::TempDir() + "tk_log_" + tag + "_" + std::to_string(getpid()) + ".log";
}

std::string read_file(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string& name) {
  struct stat st;
  return stat(name.c_str(), &st) == 0;
}

void write_file(const std::string& name, const std::string& text) {
  std::ofstream(name, std::ios::binary) << text;
}

std::string own_path() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

}  // namespace

TEST(tk_log, disabled_logger_writes_nothing_and_creates_no_file) {
  std::string default_name = own_path() + ".log";
  unlink(default_name.c_str());
  {
    tk_logger logger(nullptr, false, 3, false);
    EXPECT_EQ(logger.file_name(), default_name);
    log_message(3, "not written %d", 1);
    EXPECT_FALSE(log_enabled(3));
  }
  EXPECT_FALSE(exists(default_name));
}

TEST(tk_log, messages_without_logger_are_ignored) {
  ASSERT_EQ(tk_logger::get(), nullptr);
  log_message(3, "nobody listens");
  EXPECT_FALSE(log_enabled(3));
}

TEST(tk_log, first_message_empties_the_file_then_appends_with_crlf) {
  std::string name = temp_name("append");
  write_file(name, "old content of an earlier run\r\n");
  tk_logger logger(nullptr, false, 3, false);
  logger.set_file(name);
  EXPECT_EQ(read_file(name), "old content of an earlier run\r\n");  // nothing before a message

  log_message(3, "Converting file '%s' (%d tables)\r\n", "x.dmp", 2);
  log_message(2, "function entry, below the minimum level");
  log_message(3, "Table '%s' is converted", "\xc3\x84PFEL");
  EXPECT_TRUE(log_enabled(3));
  EXPECT_FALSE(log_enabled(2));
  EXPECT_EQ(read_file(name),
            "Converting file 'x.dmp' (2 tables)\r\n\r\n"
            "Table '\xc3\x84PFEL' is converted\r\n");

  logger.m_min_level = 1;
  log_message(1, "detail");
  logger.write(3, "raw", 3);
  EXPECT_EQ(read_file(name),
            "Converting file 'x.dmp' (2 tables)\r\n\r\n"
            "Table '\xc3\x84PFEL' is converted\r\n"
            "detail\r\nraw\r\n");
  unlink(name.c_str());
}

TEST(tk_log, an_enabled_logger_empties_the_file_once) {
  std::string name = temp_name("below");
  write_file(name, "old");
  tk_logger logger(name.c_str(), true, 3, false);  // enabled: emptied at once
  EXPECT_EQ(read_file(name), "");
  log_message(3, "a");
  tk_logger* same = tk_logger::get();
  ASSERT_EQ(same, &logger);
  same->set_file(name);  // switching again does not empty the file again
  log_message(3, "b");
  EXPECT_EQ(read_file(name), "a\r\nb\r\n");
  unlink(name.c_str());
}

TEST(tk_log, time_stamps_prefix_each_message) {
  std::string name = temp_name("stamps");
  tk_logger logger(name.c_str(), true, 3, true);
  log_message(3, "stamped");
  EXPECT_TRUE(std::regex_match(read_file(name), std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9] "
                                                           "stamped\r\n")));
  unlink(name.c_str());
}

// A log that cannot be written loses its messages but is reported once, so
// that the user knows the run has no trace.
TEST(tk_log, unwritable_log_is_reported_once) {
  static std::vector<std::string> reports;
  reports.clear();
  tk_logger logger(nullptr, false, 3, false);
  logger.set_failure_reporter([](const std::string& m) { reports.push_back(m); });
  logger.set_file("/nonexistent-dir-for-talvex/x.log");
  log_message(3, "lost");
  log_message(3, "lost again");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0],
            "Cannot write the log file '/nonexistent-dir-for-talvex/x.log': No such file or "
            "directory. The conversion goes on without it.");
  EXPECT_TRUE(logger.failed());
}

// A message below the minimum level touches nothing; a log file that is an
// input of the run (same inode under another name) is never emptied.
TEST(tk_log, protected_files_are_never_emptied) {
  const std::string input = temp_name("input");
  write_file(input, "the dump");
  tk_logger logger(nullptr, false, 3, false);
  logger.protect(input);
  EXPECT_TRUE(
      logger.is_protected(testing::TempDir() + "./" + input.substr(testing::TempDir().size())));
  logger.set_file(input);
  log_message(2, "below the level");
  log_message(3, "would destroy the input");
  EXPECT_EQ(read_file(input), "the dump");
  EXPECT_FALSE(logger.enabled());
  unlink(input.c_str());
}
