// TALVEXCLI and dumps written as several files: the first file alone, the
// files named one by one or by a pattern, missing files refused or left out
// with --partial.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/test_dir.h"
#include "console_run.h"
#include "fixtures/classic_dump_writer.h"

namespace {

class console_set : public ::testing::Test {
 protected:
  void SetUp() override {
    ora_dump_fx_writer w(m_header);
    ora_dump_fx_table t;
    t.name = "ITEMS";
    t.columns = {ora_dump_fx_column::number("ID"), ora_dump_fx_column::varchar2("NAME", 100)};
    for (int i = 1; i <= 40; ++i)
      t.rows.push_back({{ora_dump_fx_cell::number(std::to_string(i)),
                         ora_dump_fx_cell::text("item number " + std::to_string(i))}});
    w.table(t).exit();
    const std::string dump = w.bytes();
    // Three files, cut inside rows.
    m_parts = ora_dump_fx_split(
        dump, m_header, m_header.buffer_size + (dump.size() - m_header.buffer_size) / 3 + 1);
    ASSERT_EQ(m_parts.size(), 3u);
    for (size_t k = 0; k < m_parts.size(); ++k) test_write_file(part(k + 1), m_parts[k]);
  }

  std::string part(size_t n) const { return dir / ("exp" + std::to_string(n) + ".dmp"); }

  run_result run(const std::vector<std::string>& args) { return run_talvexcli(dir, args); }

  size_t csv_lines() {
    const std::string csv = test_read_file(dir / "out/items.csv");
    size_t n = 0;
    for (size_t p = csv.find("\r\n"); p != std::string::npos; p = csv.find("\r\n", p + 2)) ++n;
    return n;
  }

  ora_dump_fx_header m_header;
  std::vector<std::string> m_parts;
  test_dir dir;
};

}  // namespace

TEST_F(console_set, the_first_file_finds_the_others) {
  const run_result r = run({"--src=" + part(1), "--dest=" + dir / "out"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("Converting table ITEMS (40 records)"), std::string::npos) << r.out;
  EXPECT_EQ(csv_lines(), 41u);
}

// A set is read from its files every time: a context cache beside the first
// file could not vouch for positions that the other files make up, so none
// is written, and a second run (here with a file gone) is not misled.
TEST_F(console_set, a_set_writes_no_context_cache) {
  run_result r = run({"--src=" + part(1), "--dest=" + dir / "out"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_NE(e.path().extension(), ".tvc") << e.path();
  std::filesystem::remove(part(3));
  r = run({"--src=" + part(1), "--dest=" + dir / "out2", "--partial"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("part 3 'exp3.dmp'"), std::string::npos) << r.out;
}

TEST_F(console_set, files_named_one_by_one_or_by_a_pattern) {
  std::filesystem::rename(part(1), dir / "first.dmp");
  std::filesystem::rename(part(2), dir / "second.dmp");
  std::filesystem::rename(part(3), dir / "third.dmp");
  run_result r = run({"--src=" + dir / "first.dmp", "--src=" + dir / "third.dmp",
                      "--src=" + dir / "second.dmp", "--dest=" + dir / "out"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(csv_lines(), 41u);

  // A further file that does not exist is named.
  r = run({"--src=" + dir / "first.dmp", "--src=" + dir / "fourth.dmp", "--dest=" + dir / "out"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find("'" + dir / "fourth.dmp" + "' does not exist"), std::string::npos) << r.err;

  for (int k = 1; k <= 3; ++k)
    std::filesystem::rename(dir / (k == 1   ? "first.dmp"
                                   : k == 2 ? "second.dmp"
                                            : "third.dmp"),
                            dir / ("exp_0" + std::to_string(k) + ".dmp"));
  r = run({"--src=" + dir / "exp_%U.dmp", "--dest=" + dir / "out2"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Converting table ITEMS (40 records)"), std::string::npos) << r.out;
  r = run({"--src=" + dir / "none_%U.dmp", "--dest=" + dir / "out3"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find("Source file '" + dir / "none_%U.dmp" + "' does not exist"),
            std::string::npos)
      << r.err;
}

TEST_F(console_set, a_missing_file_is_refused_or_left_out_with_partial) {
  std::filesystem::remove(part(2));
  run_result r = run({"--src=" + part(1), "--dest=" + dir / "out"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.out.find("part 2 'exp2.dmp' is missing"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("--partial"), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(dir / "out/items.csv"));

  r = run({"--src=" + part(1), "--dest=" + dir / "out", "--partial"});
  EXPECT_EQ(r.status, 1);  // data left behind: a partial run, never a complete one
  EXPECT_NE(r.out.find("Error:\nThe multifile dump's part 2 'exp2.dmp' is missing"),
            std::string::npos)
      << r.out;
  // The rows of the first file, then the row cut by the missing file is an
  // error of its own.
  EXPECT_NE(r.out.find("runs into a missing file of the dump"), std::string::npos) << r.out;
  EXPECT_GT(csv_lines(), 2u);
  EXPECT_LT(csv_lines(), 41u);
  // A later file alone is refused: the dump cannot be read without its first.
  r = run({"--src=" + part(3), "--dest=" + dir / "out4", "--partial"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.out.find("non-leading part of multifile dump"), std::string::npos) << r.out;
}
