// --jobs=N: tables converted on several threads give the same files, the
// same console text (lines in table order, errors with their tables), the
// same summary and exit status as one table at a time.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/test_dir.h"
#include "console_run.h"
#include "fixtures/classic_dump_writer.h"

namespace fs = std::filesystem;

namespace {

using col = ora_dump_fx_column;
using cell = ora_dump_fx_cell;

struct run_output {
  int status = -1;
  std::string out, err;
  std::map<std::string, std::string> files;  // name -> content
};

run_output convert(const test_dir& dir, const std::string& dump, const std::string& jobs,
                   const std::vector<std::string>& more = {}) {
  const std::string dest = dir / ("out" + jobs);
  std::vector<std::string> args = {"--src=" + dump, "--dest=" + dest, "--jobs=" + jobs};
  args.insert(args.end(), more.begin(), more.end());
  const run_result run = run_talvexcli(dir, args);
  run_output r;
  r.status = run.status;
  // The destination differs per run; the rest of the text must not.
  auto strip = [&](std::string text) {
    for (size_t at = text.find(dest); at != std::string::npos; at = text.find(dest, at))
      text.replace(at, dest.size(), "DEST");
    return text;
  };
  r.out = strip(run.out);
  r.err = strip(run.err);
  if (fs::exists(dest))
    for (const auto& e : fs::directory_iterator(dest))
      r.files[e.path().filename()] = test_read_file(e.path());
  return r;
}

// Tables of different sizes, two names that differ only in case (the second
// gets a generated file name, in table order), a table without rows, and
// tables whose bad values are reported with their record numbers.
std::string mixed_dump() {
  ora_dump_fx_writer w;
  const char* names[] = {"T01", "EMP", "BAD1", "T04", "Emp", "EMPTY", "T07", "BAD2", "T09"};
  int n = 0;
  for (const char* name : names) {
    ++n;
    ora_dump_fx_table t;
    t.name = name;
    t.columns = {col::number("ID"), col::varchar2("NAME", 40), col::date("D")};
    const int rows = std::string(name) == "EMPTY" ? 0 : 50 * ((n * 7) % 5 + 1);
    for (int i = 0; i < rows; ++i) {
      const bool bad = std::string(name).rfind("BAD", 0) == 0 && i % 17 == 3;
      t.rows.push_back({{cell::number(std::to_string(i * n)),
                         cell::text("row " + std::to_string(i) + ";\"quoted\""),
                         bad ? cell::bytes("\x78\x64\x01\x01\x01")
                             : cell::date(2000 + i % 20, 1 + i % 12, 1 + i % 28)}});
    }
    w.table(t);
  }
  w.exit();
  return w.bytes();
}

}  // namespace

TEST(console_jobs, tables_in_parallel_give_the_output_of_one_at_a_time) {
  test_dir dir;
  const std::string dump = dir / "mixed.dmp";
  test_write_file(dump, mixed_dump());
  const run_output one = convert(dir, dump, "1");
  ASSERT_EQ(one.status, 1) << one.out << one.err;  // the bad values
  ASSERT_EQ(one.files.size(), 9u) << one.out;
  ASSERT_NE(one.out.find("BAD2, record #4"), std::string::npos) << one.out;
  for (const std::string jobs : {"2", "3", "8"}) {
    SCOPED_TRACE("--jobs=" + jobs);
    const run_output many = convert(dir, dump, jobs);
    EXPECT_EQ(many.status, one.status);
    EXPECT_EQ(many.out, one.out);
    EXPECT_EQ(many.err, one.err);
    EXPECT_EQ(many.files, one.files);
  }
  // Definitions only, a list of tables with one missing, a trace log.
  for (const std::vector<std::string>& more :
       {std::vector<std::string>{"--tab_def", "--inc_fnames"},
        std::vector<std::string>{"--tables=T09,NONE,EMP,Emp"},
        // The trace log is written from every thread.
        std::vector<std::string>{"--logfile=" + (dir / "trace.log")}}) {
    const run_output a = convert(dir, dump, "1", more);
    const run_output b = convert(dir, dump, "4", more);
    EXPECT_EQ(b.status, a.status);
    EXPECT_EQ(b.out, a.out);
    EXPECT_EQ(b.err, a.err);
    EXPECT_EQ(b.files, a.files);
  }
}

TEST(console_jobs, the_number_of_jobs_is_validated) {
  test_dir dir;
  for (const std::string bad : {"0", "-1", "x", "257", "2 ", ""}) {
    const run_output r = convert(dir, "/no/such.dmp", bad);
    EXPECT_EQ(r.status, 255) << bad;
    EXPECT_EQ(r.err, "Invalid number of jobs (--jobs= takes a number from 1 to 256)\n") << bad;
  }
}
