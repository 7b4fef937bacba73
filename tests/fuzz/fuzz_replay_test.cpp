// Regression replays of the fuzz targets: every file under
// tests/fuzz/regressions/<target>/ once made a target crash, hang, leak or
// run out of memory (or reproduces a fault found otherwise). Each must now
// run through cleanly; the sanitizer build catches memory faults.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fixtures/classic_dump_writer.h"
#include "fixtures/pump_dump_writer.h"
#include "fixtures/sample_dump.h"
#include "fuzz_targets.h"

namespace fs = std::filesystem;

namespace {

std::string read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int run(const talvex_fuzz_target& target, const std::string& bytes) {
  return target.run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

TEST(FuzzRegressions, EveryFileReplaysCleanly) {
  // The regression files, and the project's own seeds of the targets whose
  // seeds are not cut from the real dumps.
  size_t files = 0;
  for (const char* kind : {"regressions", "seeds"}) {
    const fs::path root = fs::path(TALVEX_SOURCE_DIR) / "tests" / "fuzz" / kind;
    ASSERT_TRUE(fs::is_directory(root)) << root;
    for (const fs::directory_entry& folder : fs::directory_iterator(root)) {
      if (!folder.is_directory()) continue;
      const talvex_fuzz_target* target = talvex_fuzz_targets;
      while (target->name != nullptr && folder.path().filename() != target->name) ++target;
      ASSERT_NE(target->name, nullptr) << "no fuzz target named " << folder.path().filename();
      for (const fs::directory_entry& file : fs::directory_iterator(folder.path())) {
        if (!file.is_regular_file()) continue;
        SCOPED_TRACE(file.path().string());
        EXPECT_EQ(run(*target, read_bytes(file.path())), 0);
        ++files;
      }
    }
  }
  EXPECT_GT(files, 0u);
}

// The targets themselves: no input is refused by a crash, and well-formed
// input of each kind goes all the way through.
TEST(FuzzTargets, TakeEmptyTinyAndWellFormedInput) {
  ora_dump_fx_writer classic;
  classic.table(ora_dump_fx_scott_dept()).table(ora_dump_fx_scott_emp()).exit();
  pump_dump_writer pump(873);
  const std::vector<pump_fx_column> cols = {{"ID", 2, 22, 0, 0}, {"NAME", 1, 20, 873, 0}};
  pump.add_stream_table("S", "T", cols,
                        pump_fx_record({pump_fx_field(pump_fx_number(7)), pump_fx_field("seven")}) +
                            std::string(8, '\0'));
  const std::string xml = pump_dump_writer::table_xml("TABLE_T", "S", "T", cols);
  for (const std::string& bytes : {std::string(), std::string(1, '\0'),
                                   std::string("EMP\r\n\xEF\xBB\xBF"
                                               "DEPT"),
                                   classic.bytes(), pump.bytes(), xml}) {
    for (const talvex_fuzz_target* t = talvex_fuzz_targets; t->name != nullptr; ++t) {
      SCOPED_TRACE(t->name);
      EXPECT_EQ(run(*t, bytes), 0);
    }
  }
}
