// Tests of the conversion driver over an in-memory database: table selection,
// existing-file modes, definitions only, per-record and per-table errors, the
// console lines and the files written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "TK/tk_log.h"
#include "common/test_dir.h"
#include "converter/error_handler.h"
#include "converter/talvex_convertor.h"
#include "fake_db.h"
#include "fixtures/sample_dump.h"

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

// The run's last console line.
std::string summary(const std::string& counts, const std::string& folder) {
  return "Summary: " + counts + "; CSV files in '" + folder + "'\n";
}

TEST_F(driver, converts_every_table_in_catalogue_order) {
  use({emp_table(2),
       {u"DEPT", {u"DNAME", u"LOC"}, {{u"SALES", u"NY"}}, {}, -1},
       {u"NOCOLS", {}, {}, {}, -1}});
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(conv.exit_status(), 0);
  EXPECT_EQ(out,
            "Converting Oracle dump file (3 tables)\n"
            "Converting table EMP (2 records)\n"
            "Converting table DEPT (1 records)\n" +
                summary("2 tables converted, 3 rows written, 0 records and 0 tables skipped with "
                        "errors",
                        dir.path()));
  EXPECT_EQ(err, "");
  EXPECT_EQ(file("emp.csv"), bom + "ENAME\r\nr1\r\nr2\r\n");
  EXPECT_EQ(file("dept.csv"), bom + "DNAME;LOC\r\nSALES;NY\r\n");
  EXPECT_FALSE(exists("nocols.csv"));
  EXPECT_TRUE(conv.finished);
  EXPECT_EQ(conv.table_count, 0);
  EXPECT_EQ(conv.table_list.size(), 3u);
}

// A listed table the dump lacks makes the run partial (status 1); a table
// listed twice (emp and EMP of a dump that has only EMP) is converted once.
TEST_F(driver, a_listed_table_the_dump_lacks_is_reported_and_skipped) {
  use({emp_table(1)});
  conv.table_list = {u"NOPE", u"emp", u"EMP"};
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(conv.exit_status(), 1);
  EXPECT_EQ(err, "Table NOPE not exists\n");
  EXPECT_EQ(out, "Converting Oracle dump file (1 tables)\nConverting table EMP (1 records)\n" +
                     summary("1 table converted, 1 row written, 0 records and 0 tables skipped "
                             "with errors, 1 listed table not found",
                             dir.path()));
  EXPECT_EQ(file("emp.csv"), bom + "ENAME\r\nr1\r\n");
  EXPECT_FALSE(exists("emp000.csv"));
}

// A list in which no name matches converts nothing and is an error, raised
// before the destination is touched.
TEST_F(driver, a_list_in_which_no_name_matches_is_an_error) {
  use({emp_table(1)});
  conv.table_list = {u"NOPE", u"\u00ff\u00fe"};
  conv.table_list_file = "/lists/tables.txt";
  conv.dest_folder = tk_u16(dir / "new");
  EXPECT_EQ(run(), 255);
  EXPECT_EQ(out,
            "Error:\nNone of the 2 table names listed in '/lists/tables.txt' is a table of the "
            "dump.\n");
  EXPECT_FALSE(exists("new"));
}

// EMP and "Emp" of one schema are two tables: each gets its own rows in its
// own file, whichever spelling the list uses.
TEST_F(driver, tables_whose_names_differ_only_in_case_keep_their_own_rows) {
  use({emp_table(2), {u"Emp", {u"ENAME"}, {{u"mixed"}}, {}, -1}});
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(file("emp.csv"), bom + "ENAME\r\nr1\r\nr2\r\n");
  EXPECT_EQ(file("emp000.csv"), bom + "ENAME\r\nmixed\r\n");

  conv.table_list = {u"Emp"};
  std::filesystem::remove(dir / "emp.csv");
  std::filesystem::remove(dir / "emp000.csv");
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(file("emp.csv"), bom + "ENAME\r\nmixed\r\n");
}

TEST_F(driver, existing_files_follow_the_mode) {
  use({emp_table(1)});
  test_write_file(dir / "Emp.CSV", "old");
  conv.existing_folder_mode = 2;
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(out, "Converting Oracle dump file (1 tables)\n" +
                     summary("0 tables converted, 0 rows written, 0 records and 0 tables skipped "
                             "with errors, 1 existing file kept",
                             dir.path()));
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
            "Converting Oracle dump file (2 tables)\nConverting table EMPConverting table DEPT\n" +
                summary("2 tables converted, 0 rows written, 0 records and 0 tables skipped with "
                        "errors",
                        dir.path()));
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
  EXPECT_EQ(conv.exit_status(), 1);
  EXPECT_EQ(out,
            "Converting Oracle dump file (1 tables)\n"
            "Converting table EMPError:\nEMP, record #7: bad row second line\n"
            " (9 records)\n" +
                summary("1 table converted, 8 rows written, 1 record and 0 tables skipped with "
                        "errors",
                        dir.path()));
  EXPECT_EQ(file("emp.csv"), bom + "ENAME\r\nr1\r\nr2\r\nr3\r\nr4\r\nr5\r\nr6\r\nr8\r\nr9\r\n");
}

// A value that cannot be written (a geometry WKT cannot hold) leaves its
// field empty; the row is still written and the value reported by table,
// record and column.
TEST_F(driver, a_value_error_is_reported_and_its_row_kept) {
  fake_table t = emp_table(3);
  t.value_errors[2] = "Column ENAME: SDO_GEOMETRY value cannot be written as WKT (x)";
  use({t});
  run();
  EXPECT_EQ(conv.exit_status(), 1);  // a value was lost: not a complete run
  EXPECT_EQ(out.substr(0, out.find("Summary")),
            "Converting Oracle dump file (1 tables)\n"
            "Converting table EMPError:\nEMP, record #2: Column ENAME: SDO_GEOMETRY value cannot "
            "be written as WKT (x)\n (3 records)\n");
  EXPECT_NE(
      out.find("3 rows written, 0 records and 0 tables skipped with errors, 1 value left empty"),
      std::string::npos)
      << out;
  EXPECT_EQ(file("emp.csv"), bom + "ENAME\r\nr1\r\n\r\nr3\r\n");
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
  EXPECT_EQ(conv.exit_status(), 1);
  EXPECT_EQ(out,
            "Converting Oracle dump file (2 tables)\n"
            "Error:\nBROKEN: cannot open BROKEN\n"
            "Converting table EMP (1 records)\n" +
                summary("1 table converted, 1 row written, 0 records and 1 table skipped with "
                        "errors",
                        dir.path()));
  EXPECT_TRUE(exists("emp.csv"));

  broken.open_error = 2;
  use({broken, emp_table(1)});
  std::filesystem::remove(dir / "emp.csv");
  EXPECT_EQ(run(), 255);
  EXPECT_EQ(out, "Converting Oracle dump file (2 tables)\nInternal error: cannot open BROKEN\n");
  EXPECT_FALSE(exists("emp.csv"));
}

// Recoverable errors the source recorded while it was opened, and while a
// table was opened, reach the error handler in their context and make the
// run a partial one; the tables are still converted.
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
  EXPECT_EQ(out.substr(0, out.find("Summary:")),
            "Error:\na metadata block is skipped\n"
            "Converting Oracle dump file (1 tables)\n"
            "Error:\nEMP: column ODD kept as raw bytes\n"
            "Converting table EMP (2 records)\n");
  EXPECT_EQ(conv.exit_status(), 1);
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
  EXPECT_EQ(conv.exit_status(), 1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "");
  EXPECT_EQ(file("emp.csv"), bom + "ENAME\r\nr1\r\nr3\r\n");
}

// "Converting table X" reaches the console (a pipe, a file) before the
// table's rows are read, not when the line ends.
TEST_F(driver, progress_reaches_the_console_before_the_rows_are_read) {
  const std::string path = dir / "stdout.txt";
  std::fflush(stdout);
  const int saved = dup(1);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  dup2(fd, 1);
  close(fd);
  std::string seen;
  fake_table t = emp_table(2);
  t.before_first_row = [&] { seen = test_read_file(path); };
  use({t});
  conv.dest_folder = tk_u16(dir / "out");
  conv();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  EXPECT_EQ(seen, "Converting Oracle dump file (1 tables)\nConverting table EMP");
}

// A file that cannot be created fails its table only; the run goes on and
// ends as a partial one. The table's older file is left as it was.
TEST_F(driver, a_file_that_cannot_be_written_fails_its_table_only) {
  use({emp_table(1), {u"DEPT", {u"DNAME"}, fake_rows(1), {}, -1}});
  std::filesystem::create_directory(dir / "emp.csv.tmp");
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(conv.exit_status(), 1);
  EXPECT_NE(out.find("Error:\nEMP: Cannot create CSV file '" + (dir / "emp.csv") + "'"),
            std::string::npos)
      << out;
  EXPECT_FALSE(exists("emp.csv"));
  EXPECT_EQ(file("dept.csv"), bom + "DNAME\r\nr1\r\n");
}

// Two 128-character Oracle names: the file name is shortened to what the
// file system takes, and the second table's counter survives.
TEST_F(driver, over_long_names_are_shortened_not_fatal) {
  const tk_wstring owner(128, u'O'), table(128, u'T');
  use({{owner + u"." + table, {u"C"}, fake_rows(1), {}, -1},
       {owner + u"_" + table, {u"C"}, fake_rows(2), {}, -1}});
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(conv.exit_status(), 0) << out;
  const std::string base = tk_u8(tk_lower(owner + u"_" + table));
  EXPECT_EQ(file(base.substr(0, 247) + ".csv"), bom + "C\r\nr1\r\n");
  EXPECT_EQ(file(base.substr(0, 244) + "000.csv"), bom + "C\r\nr1\r\nr2\r\n");
}

}  // namespace

// Names given with --tables= or a table-list file: the key itself, or a
// plain name standing for the one table of that name under an owner.
TEST(TableNames, PlainNamesStandForTheOneQualifiedTable) {
  const std::vector<tk_wstring> keys = {u"HR.EMPLOYEES", u"HR.JOBS", u"SALES.JOBS",
                                        u"DEPT",         u"A.Mixed", u"B.MIXED"};
  const struct {
    const char16_t* asked;
    const char16_t* resolved;
  } cases[] = {
      {u"HR.EMPLOYEES", u"HR.EMPLOYEES"},
      {u"hr.employees", u"hr.employees"},  // the lookup's
      {u"EMPLOYEES", u"HR.EMPLOYEES"},
      {u"employees", u"HR.EMPLOYEES"},
      {u"JOBS", u"JOBS"},  // two owners: left as asked
      {u"DEPT", u"DEPT"},
      {u"Mixed", u"A.Mixed"},  // exact case first
      {u"NONE", u"NONE"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(talvex_resolve_table_name(keys, c.asked), c.resolved) << tk_u8(c.asked);
}

namespace {

// The wizard's side of a run, recorded: its log panel and the answers its
// error dialogs give.
struct recording_front_end : talvex_front_end {
  void write_log(const tk_string& text) override { log += text; }
  answer show_error(const tk_string& message, int level, bool quiet) override {
    errors.push_back(tk_format("%d%s:", level, quiet ? " quiet" : "") + message);
    return next_answer;
  }
  void internal_error(const tk_string& message) override { internal = message; }
  tk_string log;
  std::vector<tk_string> errors;
  tk_string internal;
  answer next_answer;
};

}  // namespace

// Cancel stops the run before the next record: the tables done stay, the
// table being written leaves neither its file nor its temporary file, and
// the run ends without an error report.
TEST_F(driver, cancel_stops_at_the_next_record_and_discards_the_table_being_written) {
  recording_front_end fe;
  handler.front_end = &fe;
  conv.set_silent(true);
  std::vector<fake_table> tables = {emp_table(2), {u"DEPT", {u"DNAME"}, fake_rows(3), {}, -1}};
  tables[1].before_first_row = [this] { conv.request_cancel(); };
  use(std::move(tables));
  EXPECT_EQ(run(), 0);
  handler.front_end = nullptr;
  EXPECT_EQ(file("emp.csv"), bom + "ENAME\r\nr1\r\nr2\r\n");
  EXPECT_FALSE(exists("dept.csv"));
  EXPECT_FALSE(exists("dept.csv.tmp"));
  EXPECT_TRUE(conv.finished);
  EXPECT_TRUE(fe.errors.empty());
  EXPECT_EQ(fe.log,
            "Converting file '/dumps/x.dmp' (2 tables)\r\n"
            "Table 'EMP' (2 records) is converted\r\n"
            "The conversion is cancelled\r\n");
  EXPECT_EQ(out, "");  // the wizard's converter is silent
}

// With a front end, errors go to its dialogs instead of the console: a
// level-0 error asks (Continue goes on, Abort stops like Cancel), a level-1
// error is shown and ends the run, not the program.
TEST_F(driver, the_wizard_front_end_shows_errors_and_may_abort) {
  recording_front_end fe;
  handler.front_end = &fe;
  conv.set_silent(true);
  std::vector<fake_table> tables = {emp_table(3), {u"DEPT", {u"DNAME"}, fake_rows(3), {}, -1}};
  tables[0].failing_rows = {{2, 0}};
  tables[1].failing_rows = {{1, 0}};
  use(tables);
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(fe.errors, (std::vector<tk_string>{"0:EMP, record #2: bad row second line",
                                               "0:DEPT, record #1: bad row second line"}));
  EXPECT_EQ(file("dept.csv"), bom + "DNAME\r\nr2\r\nr3\r\n");
  EXPECT_EQ(conv.exit_status(), 1);
  EXPECT_NE(fe.log.find("Summary: 2 tables converted, 4 rows written, 2 records and 0 tables "
                        "skipped with errors"),
            std::string::npos)
      << fe.log;

  // Abort, and "do not show again": later errors are listed quietly.
  std::filesystem::remove(dir / "dept.csv");
  fe.errors.clear();
  fe.next_answer = {true, true};
  conv.existing_folder_mode = 1;
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(fe.errors, std::vector<tk_string>{"0:EMP, record #2: bad row second line"});
  EXPECT_TRUE(handler.silent);
  EXPECT_FALSE(exists("dept.csv"));

  tables[0].failing_rows = {{1, 1}};
  use(tables);
  fe.errors.clear();
  fe.next_answer = {};
  EXPECT_EQ(run(), 255);
  EXPECT_EQ(fe.errors, std::vector<tk_string>{"1 quiet:EMP, record #1: bad row second line"});
  EXPECT_EQ(out, "");
  handler.front_end = nullptr;
}

// An internal error goes to the wizard's internal-error dialog, not to the
// console, and ends the run.
TEST_F(driver, an_internal_error_goes_to_the_front_end) {
  recording_front_end fe;
  handler.front_end = &fe;
  conv.set_silent(true);
  std::vector<fake_table> tables = {emp_table(2)};
  tables[0].failing_rows = {{1, 2}};
  use(tables);
  EXPECT_EQ(run(), 255);
  handler.front_end = nullptr;
  EXPECT_EQ(fe.internal, "bad row\nsecond line");
  EXPECT_EQ(out, "");
  EXPECT_FALSE(exists("emp.csv.tmp"));
}

// A reading cancelled through the reader stops at its next statement with
// tk_final_exception and reports nothing; the next reading goes on as usual.
TEST_F(driver, a_cancelled_reading_stops_without_an_error) {
  const std::string path = dir / "sample.dmp";
  test_write_file(path, ora_dump_fx_sample_dump().bytes());
  recording_front_end fe;
  handler.front_end = &fe;
  conv.set_silent(true);
  conv.source_file = tk_u16(path);
  conv.opener.reader.m_b_use_cache = false;
  conv.opener.reader.request_cancel();
  EXPECT_THROW(conv.opener(), tk_final_exception);
  EXPECT_EQ(conv.opener.database, nullptr);
  EXPECT_TRUE(fe.errors.empty());
  conv.opener.reader.clear_cancel();
  conv.opener();
  ASSERT_NE(conv.opener.database, nullptr);
  EXPECT_EQ(conv.opener.database->get_tables().size(), ora_dump_fx_sample_tables().size());
  EXPECT_EQ(fe.log, "Reading file '" + path + "'\r\nReading file '" + path + "'\r\n");
  handler.front_end = nullptr;
}
