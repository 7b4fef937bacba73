// Acceptance tests on damaged classic dumps: TALVEXCLI must end every run
// with an exit status (never a crash or a hang), keep the rows it could read
// and refuse what is not a dump at all.
#include <gtest/gtest.h>

#include "acceptance_support.h"
#include "fixtures/classic_dump_writer.h"
#include "fixtures/sample_dump.h"

static void expect_orderly_end(const talvex_test_conversion& c) {
  const auto& r = c.result;
  ASSERT_TRUE(r.started) << "TALVEXCLI did not start";
  ASSERT_FALSE(r.timed_out) << "TALVEXCLI hung";
  ASSERT_FALSE(r.signaled) << "TALVEXCLI died of signal " << r.signal << "\n" << r.err;
}

static size_t rows_of(const talvex_test_conversion& c, const char* base) {
  const csv_test_table t = csv_test_read_table(c.csv_path(base));
  return t.ok ? t.rows.size() : static_cast<size_t>(-1);
}

class damaged_dump_test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tk_test_exists(TALVEXCLI_PATH)) << "missing " << TALVEXCLI_PATH;
    m_writer.table(ora_dump_fx_scott_dept());
  }

  // Converts the bytes as a dump file.
  void convert(const std::string& bytes) {
    const std::string dump = m_dir.path() + "/damaged.dmp";
    ASSERT_TRUE(tk_test_write_file(dump, bytes));
    talvex_test_convert(m_conversion, dump, {}, 120);
  }

  tk_test_temp_dir m_dir;
  ora_dump_fx_writer m_writer;
  talvex_test_conversion m_conversion;
};

// The file ends in the middle of EMP's fifth row: DEPT and the four complete
// EMP rows are converted, and the run says it is not complete: status 1 and
// a summary line that counts the skipped record.
TEST_F(damaged_dump_test, file_cut_inside_a_row) {
  m_writer.table(ora_dump_fx_scott_emp());
  const auto& rows = m_writer.layout("EMP").sections.at(0).row_pos;
  convert(m_writer.data().substr(0, rows.at(4) + 9));
  expect_orderly_end(m_conversion);
  EXPECT_EQ(m_conversion.result.exit_code, 1) << m_conversion.result.err;
  EXPECT_NE(m_conversion.result.out.find(
                "Summary: 2 tables converted, 8 rows written, 1 record and 0 tables skipped with "
                "errors; CSV files in '"),
            std::string::npos)
      << m_conversion.result.out;
  EXPECT_EQ(rows_of(m_conversion, "dept"), 4u);
  EXPECT_EQ(rows_of(m_conversion, "emp"), 4u);
}

// The name of EMP's third row claims 28672 bytes, far past the end of the
// file: the rows before it survive.
TEST_F(damaged_dump_test, length_pointing_past_the_end) {
  ora_dump_fx_table emp = ora_dump_fx_scott_emp();
  emp.rows[2].cells[1] = ora_dump_fx_cell::raw(ora_dump_fx_le16(0x7000) + "WARD");
  m_writer.table(emp).exit();
  convert(m_writer.bytes());
  expect_orderly_end(m_conversion);
  EXPECT_EQ(m_conversion.result.exit_code, 1) << m_conversion.result.err;
  EXPECT_EQ(rows_of(m_conversion, "dept"), 4u);
  EXPECT_EQ(rows_of(m_conversion, "emp"), 2u);
}

// Binary noise with line feeds between the header and the first statement
// is not mistaken for statements.
TEST_F(damaged_dump_test, garbage_after_the_header) {
  ora_dump_fx_writer w;
  uint32_t seed = 12345;
  std::string noise;
  for (int i = 0; i < 5000; ++i) {
    seed = seed * 1103515245u + 12345u;
    noise += static_cast<char>((seed >> 16) & 0xFF);
    if (i % 97 == 0) noise += '\n';
  }
  w.raw(noise).raw("\n");
  w.table(ora_dump_fx_scott_dept()).table(ora_dump_fx_scott_emp()).exit();
  convert(w.bytes());
  expect_orderly_end(m_conversion);
  EXPECT_EQ(m_conversion.result.exit_code, 0) << m_conversion.result.err;
  EXPECT_EQ(rows_of(m_conversion, "dept"), 4u);
  EXPECT_EQ(rows_of(m_conversion, "emp"), 14u);
}

// A table section without its FF FF end marker, followed by the next
// statements: the run ends in order and DEPT is intact.
TEST_F(damaged_dump_test, missing_end_marker) {
  ora_dump_fx_table emp = ora_dump_fx_scott_emp();
  emp.end_marker = false;
  m_writer.table(emp).primary_key("EMP", "PK_EMP", {"EMPNO"}).exit();
  convert(m_writer.bytes());
  expect_orderly_end(m_conversion);
  EXPECT_EQ(rows_of(m_conversion, "dept"), 4u);
}

// Files that are no dump at all end the run in order; an empty file and a
// text file are refused with status -1. A classic header cut after its
// first bytes may pass for a Data Pump header: it must still give no table.
TEST_F(damaged_dump_test, not_a_dump) {
  const struct {
    const char* name;
    std::string bytes;
    bool refused;
  } cases[] = {
      {"empty file", std::string(), true},
      {"text file", std::string("hello\nworld\n"), true},
      {"header cut after 10 bytes", m_writer.data().substr(0, 10), false},
      {"header cut after the character sets", m_writer.data().substr(0, 70), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    talvex_test_conversion run;
    const std::string dump = m_dir.path() + "/not_a_dump.dmp";
    ASSERT_TRUE(tk_test_write_file(dump, c.bytes));
    talvex_test_convert(run, dump, {}, 120);
    expect_orderly_end(run);
    if (c.refused) {
      EXPECT_EQ(run.result.exit_code, 255);
    }
    EXPECT_TRUE(run.csv_files().empty());
  }
}
