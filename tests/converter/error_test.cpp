// Tests of error reporting, the start and end lines of a run, and the log
// file setting.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <string>

#include "TK/tk_log.h"
#include "common/test_dir.h"
#include "converter/error_handler.h"
#include "converter/init_conversion.h"
#include "converter/talvex_convertor.h"

namespace {

class reporting : public ::testing::Test {
 protected:
  void SetUp() override { logger.set_file(dir / "trace.log"); }

  // Handles e; returns -1 when handle returned, else the exit status.
  int handle(const tk_exception& e) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int status = -1;
    try {
      handler.handle(e, 0);
    } catch (const error_exit& x) {
      status = x.status;
    }
    out = testing::internal::GetCapturedStdout();
    err = testing::internal::GetCapturedStderr();
    return status;
  }

  std::string log() { return test_read_file(dir / "trace.log"); }

  test_dir dir;
  tk_logger logger{nullptr, false, 3, false};
  error_handler handler;
  std::string out, err;
};

TEST_F(reporting, levels_decide_whether_the_run_goes_on) {
  handler.set_context(u"EMP", 7);
  EXPECT_EQ(handle(tk_exception("first\nsecond", 0)), -1);
  EXPECT_EQ(out, "Error:\nEMP, record #7: first second\n");
  EXPECT_EQ(err, "");
  EXPECT_NE(log().find("Error:\nEMP, record #7: first\nsecond\r\n"), std::string::npos) << log();

  handler.set_context(u"DEPT");
  EXPECT_EQ(handle(tk_exception("fatal", 1)), 255);
  EXPECT_EQ(out, "Error:\nDEPT: fatal\n");

  handler.clear_context();
  EXPECT_EQ(handle(tk_exception("plain", 0)), -1);
  EXPECT_EQ(out, "Error:\nplain\n");
}

TEST_F(reporting, silent_hides_errors_but_not_internal_ones) {
  handler.silent = true;
  EXPECT_EQ(handle(tk_exception("fatal", 1)), 255);
  EXPECT_EQ(out, "");
  EXPECT_EQ(handle(tk_exception("skip", 0)), -1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(handle(tk_mail_assertion("x", 7)), 255);
  EXPECT_EQ(out, "Internal error: Internal error: \ncode=785c37\n");
  EXPECT_NE(log().find("Internal error:\nInternal error: \ncode=785c37"), std::string::npos);
}

TEST_F(reporting, a_run_is_bracketed_by_start_and_end_lines) {
  bool finished = false;
  { init_conversion guard(&finished, false); }
  EXPECT_TRUE(finished);
  const std::regex lines(
      "Conversion started on \\d\\d/\\d\\d/\\d{4} at \\d\\d:\\d\\d:\\d\\d\r\n"
      "Conversion ended on \\d\\d/\\d\\d/\\d{4} at \\d\\d:\\d\\d:\\d\\d\r\n");
  EXPECT_TRUE(std::regex_match(log(), lines)) << log();
}

TEST(set_logfile, unusable_names_are_refused) {
  test_dir dir;
  tk_logger logger{nullptr, false, 3, false};
  tk_converter conv;
  test_write_file(dir / "ro.log", "keep");
  ASSERT_EQ(chmod((dir / "ro.log").c_str(), 0444), 0);
  struct refused {
    std::string name;
    const char* message;
  };
  const refused cases[] = {
      {dir.path(), "Logfile name specifies an existing path."},
      {dir / "ro.log", "Logfile name specifies an existing read-only file."},
      {dir / "missing/x.log",
       "Logfile path does not exist.\nPlease verify the correct path was given."},
  };
  for (const refused& c : cases) {
    try {
      conv.set_logfile(c.name);
      ADD_FAILURE() << c.name;
    } catch (const tk_exception& e) {
      EXPECT_EQ(e.text(), c.message);
      EXPECT_EQ(e.level(), 1);
    }
  }
  EXPECT_FALSE(logger.enabled());
  EXPECT_EQ(test_read_file(dir / "ro.log"), "keep");

  conv.set_logfile(dir / "ok.log");
  EXPECT_TRUE(logger.enabled());
  log_message(3, "hello");
  EXPECT_EQ(test_read_file(dir / "ok.log"), "hello\r\n");
}

}  // namespace
