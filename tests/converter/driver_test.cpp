// Tests of the conversion driver over an in-memory database: table selection,
// existing-file modes, definitions only, per-record and per-table errors, the
// console lines and the files written.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "TK/tk_log.h"
#include "common/test_dir.h"
#include "converter/error_handler.h"
#include "converter/talvex_convertor.h"
#include "fake_db.h"

namespace {

const std::string bom = "\xEF\xBB\xBF";

class driver : public ::testing::Test {
 protected:
  void SetUp() override {
    conv.dest_folder = tk_u16(dir.path());
    conv.source_file = u"/dumps/x.dmp";
  }

  void use(std::vector<fake_table> tables) {
    conv.source_db = std::make_unique<fake_database>(std::move(tables));
  }

  // Runs the conversion; returns the exit status it ended with (0 when it
  // returned normally).
  int run() {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int status = 0;
    try {
      conv();
    } catch (const error_exit& e) {
      status = e.status;
    }
    out = testing::internal::GetCapturedStdout();
    err = testing::internal::GetCapturedStderr();
    return status;
  }

  std::string file(const std::string& name) { return test_read_file(dir / name); }
  bool exists(const std::string& name) { return std::filesystem::exists(dir / name); }

  test_dir dir;
  tk_logger logger{nullptr, false, 3, false};
  error_handler handler;
  talvex_convertor conv;
  std::string out, err;
};

fake_table emp_table(size_t rows) { return {u"EMP", {u"ENAME"}, fake_rows(rows), {}, -1}; }

TEST_F(driver, converts_every_table_in_catalogue_order) {
  use({emp_table(2),
       {u"DEPT", {u"DNAME", u"LOC"}, {{u"SALES", u"NY"}}, {}, -1},
       {u"NOCOLS", {}, {}, {}, -1}});
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(out,
            "Converting Oracle dump file (3 tables)\n"
            "Converting table EMP (2 records)\n"
            "Converting table DEPT (1 records)\n");
  EXPECT_EQ(err, "");
  EXPECT_EQ(file("emp.csv"), bom + "ENAME\r\nr1\r\nr2\r\n");
  EXPECT_EQ(file("dept.csv"), bom + "DNAME;LOC\r\nSALES;NY\r\n");
  EXPECT_FALSE(exists("nocols.csv"));
  EXPECT_TRUE(conv.finished);
  EXPECT_EQ(conv.table_count, 0);
  EXPECT_EQ(conv.table_list.size(), 3u);
}

TEST_F(driver, a_listed_table_the_dump_lacks_is_reported_and_skipped) {
  use({emp_table(1)});
  conv.table_list = {u"NOPE", u"emp"};
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(err, "Table NOPE not exists\n");
  EXPECT_EQ(out, "Converting Oracle dump file (2 tables)\nConverting table emp (1 records)\n");
  EXPECT_EQ(file("emp.csv"), bom + "ENAME\r\nr1\r\n");
}

TEST_F(driver, existing_files_follow_the_mode) {
  use({emp_table(1)});
  test_write_file(dir / "Emp.CSV", "old");
  conv.existing_folder_mode = 2;
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(out, "Converting Oracle dump file (1 tables)\n");
  EXPECT_EQ(file("Emp.CSV"), "old");
  EXPECT_FALSE(exists("emp.csv"));

  conv.existing_folder_mode = 1;
  EXPECT_EQ(run(), 0);
  EXPECT_FALSE(exists("Emp.CSV"));
  EXPECT_EQ(file("emp.csv"), bom + "ENAME\r\nr1\r\n");
}

TEST_F(driver, definitions_only_writes_header_or_bom_alone) {
  use({emp_table(3), {u"DEPT", {u"DNAME"}, fake_rows(2), {}, -1}});
  conv.definitions_only = true;
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(out,
            "Converting Oracle dump file (2 tables)\nConverting table EMPConverting table DEPT");
  EXPECT_EQ(file("emp.csv"), bom + "ENAME\r\n");

  conv.include_field_names = false;
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(file("emp.csv"), bom);
  EXPECT_EQ(file("dept.csv"), bom);
}

TEST_F(driver, delimiters_and_header_switch) {
  use({{u"T", {u"A", u"B"}, {{u"1", u"x,y"}, {u"2", u"p\tq"}}, {}, -1}});
  conv.delimiter_index = 0;
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(file("t.csv"), bom + "A\tB\r\n1\tx,y\r\n2\t\"p\tq\"\r\n");
  conv.delimiter_index = 2;
  conv.include_field_names = false;
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(file("t.csv"), bom + "1,\"x,y\"\r\n2,p\tq\r\n");

  // Only a profile could set this; it must end the run, not index past the table.
  conv.delimiter_index = 7;
  std::filesystem::remove(dir / "t.csv");
  EXPECT_EQ(run(), 255);
  EXPECT_EQ(out, "Error:\nInvalid CSV delimiter\n");
  EXPECT_FALSE(exists("t.csv"));
}

TEST_F(driver, a_bad_record_is_reported_skipped_and_counted) {
  fake_table t = emp_table(9);
  t.failing_rows[7] = 0;
  use({t});
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(out,
            "Converting Oracle dump file (1 tables)\n"
            "Converting table EMPError:\nEMP, record #7: bad row second line\n"
            " (9 records)\n");
  EXPECT_EQ(file("emp.csv"), bom + "ENAME\r\nr1\r\nr2\r\nr3\r\nr4\r\nr5\r\nr6\r\nr8\r\nr9\r\n");
}

TEST_F(driver, a_fatal_record_error_ends_the_run_with_complete_lines) {
  fake_table t = emp_table(5000);
  t.failing_rows[4000] = 1;
  use({t, {u"DEPT", {u"DNAME"}, fake_rows(1), {}, -1}});
  EXPECT_EQ(run(), 255);
  EXPECT_NE(out.find("Error:\nEMP, record #4000: bad row second line\n"), std::string::npos) << out;
  EXPECT_FALSE(exists("dept.csv"));
  // The rows before the error are all on disk, each one whole.
  const std::string csv = file("emp.csv");
  ASSERT_GT(csv.size(), 7u);
  EXPECT_EQ(csv.substr(csv.size() - 7), "r3999\r\n");
  size_t lines = 0;
  for (size_t p = csv.find("\r\n"); p != std::string::npos; p = csv.find("\r\n", p + 2)) ++lines;
  EXPECT_EQ(lines, 4000u);
  EXPECT_TRUE(conv.finished);
}

TEST_F(driver, a_table_that_cannot_be_opened_is_skipped_at_level_0) {
  fake_table broken{u"BROKEN", {u"A"}, {}, {}, 0};
  use({broken, emp_table(1)});
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(out,
            "Converting Oracle dump file (2 tables)\n"
            "Error:\nBROKEN: cannot open BROKEN\n"
            "Converting table EMP (1 records)\n");
  EXPECT_TRUE(exists("emp.csv"));

  broken.open_error = 2;
  use({broken, emp_table(1)});
  std::filesystem::remove(dir / "emp.csv");
  EXPECT_EQ(run(), 255);
  EXPECT_EQ(out, "Converting Oracle dump file (2 tables)\nInternal error: cannot open BROKEN\n");
  EXPECT_FALSE(exists("emp.csv"));
}

// Recoverable errors the source recorded while it was opened, and while a
// table was opened, reach the error handler in their context; the tables
// are still converted.
TEST_F(driver, errors_the_source_recorded_are_reported) {
  // A source that records a level-0 error whenever a table is opened.
  class recording_database : public fake_database {
   public:
    using fake_database::fake_database;
    std::unique_ptr<udb_recordset> get_table(const tk_wstring& name, int flag) override {
      add_error(tk_exception("column ODD kept as raw bytes", 0));
      return fake_database::get_table(name, flag);
    }
  };
  conv.source_db = std::make_unique<recording_database>(std::vector<fake_table>{emp_table(2)});
  conv.source_db->add_error(tk_exception("a metadata block is skipped", 0));
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(out,
            "Error:\na metadata block is skipped\n"
            "Converting Oracle dump file (1 tables)\n"
            "Error:\nEMP: column ODD kept as raw bytes\n"
            "Converting table EMP (2 records)\n");
  EXPECT_EQ(file("emp.csv"), bom + "ENAME\r\nr1\r\nr2\r\n");
  EXPECT_TRUE(conv.source_db->take_errors().empty());
}

TEST_F(driver, names_that_are_no_file_names_get_distinct_safe_names) {
  use({{u"A.B", {u"C"}, fake_rows(1), {}, -1},
       {u"A B", {u"C"}, fake_rows(2), {}, -1},
       {u"A_B", {u"C"}, fake_rows(3), {}, -1},
       {u"SYS.T$1", {u"C"}, fake_rows(1), {}, -1}});
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(file("a_b.csv"), bom + "C\r\nr1\r\n");
  EXPECT_EQ(file("a_b000.csv"), bom + "C\r\nr1\r\nr2\r\n");
  EXPECT_EQ(file("a_b001.csv"), bom + "C\r\nr1\r\nr2\r\nr3\r\n");
  EXPECT_TRUE(exists("sys_t_1.csv"));
}

TEST_F(driver, silent_runs_write_nothing_to_the_console) {
  fake_table t = emp_table(3);
  t.failing_rows[2] = 0;
  use({t});
  conv.table_list = {u"NOPE", u"EMP"};
  conv.set_silent(true);
  handler.silent = true;
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "");
  EXPECT_EQ(file("emp.csv"), bom + "ENAME\r\nr1\r\nr3\r\n");
}

}  // namespace
