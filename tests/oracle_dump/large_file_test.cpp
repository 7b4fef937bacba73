// A dump larger than 4 GiB: the catalogue scan, the positions it records and
// the row reader all work with 64-bit offsets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "engine_test_util.h"
#include "fixtures/classic_dump_writer.h"

TEST(LargeDump, TableBeyondFourGibibytes) {
  using col = ora_dump_fx_column;
  using cell = ora_dump_fx_cell;
  ora_dump_fx_header h;
  h.pad_to_buffer = false;
  ora_dump_fx_writer w(h);
  ora_dump_fx_table t;
  t.name = "FAR";
  t.columns = {col::number("ID"), col::varchar2("NAME", 20)};
  t.rows = {{{cell::number("1"), cell::text("first")}},
            {{cell::number("2"), cell::text("second")}}};
  w.table(t).exit();
  const std::string bytes = w.bytes();
  const size_t table_at = w.layout("FAR").table_line_pos;

  // The header, then a hole (a sparse file: no disk space used), then the
  // table's statements and rows past the 4 GiB mark.
  engine_fixture_file file(bytes.substr(0, table_at));
  const off_t far = (off_t{1} << 32) + 12345;
  const int fd = ::open(file.path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const std::string tail = "\n" + bytes.substr(table_at);
  ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), far), static_cast<ssize_t>(tail.size()));
  ::close(fd);

  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  ASSERT_EQ(db->get_tables(), std::vector<tk_wstring>{u"FAR"});
  const engine_table_rows r = engine_read(*db, "FAR");
  EXPECT_EQ(r.error, "");
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[1], (std::vector<std::string>{"2", "second"}));
}
