// Dumps written as several files: the logical byte space of the dump stream
// over several pieces (reads, words and searches across a boundary, nothing
// across a missing piece), classic parts cut inside a row and inside a LOB,
// a Data Pump set whose master table lies in pieces in two files, missing
// parts named by number and name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "common/test_dir.h"
#include "engine_test_util.h"
#include "fixtures/classic_dump_writer.h"
#include "fixtures/pump_dump_writer.h"
#include "oracle_dump/ora_dump_set.h"
#include "oracle_dump/ora_dump_stream.h"

namespace {

using col = ora_dump_fx_column;
using cell = ora_dump_fx_cell;

std::vector<std::string> words_of(ora_dump_stream& s) {
  std::vector<std::string> out;
  for (std::string_view w = s.read_word(); !w.empty(); w = s.read_word()) out.emplace_back(w);
  return out;
}

// Every table of the dump, read the way the driver reads it: its columns,
// its rows and the error that ended it, if any.
using table_texts = std::map<std::string, std::vector<std::vector<std::string>>>;
table_texts read_all(ora_dump_file& db) {
  table_texts out;
  for (const tk_wstring& name : db.get_tables()) {
    const engine_table_rows r = engine_read(db, tk_u8(name));
    auto& t = out[tk_u8(name)];
    t.push_back(r.columns);
    t.insert(t.end(), r.rows.begin(), r.rows.end());
    if (!r.error.empty()) t.push_back({"error", r.error});
  }
  return out;
}

std::string message_of(ora_dump_reader& reader, const std::vector<std::string>& paths) {
  std::vector<tk_wstring> wide;
  for (const std::string& p : paths) wide.push_back(tk_u16(p));
  try {
    reader.m_b_qualify_names = true;
    reader.open(wide);
  } catch (const tk_exception& e) {
    return e.what();
  }
  return "opened";
}

}  // namespace

// A text cut anywhere into two pieces reads exactly like the whole text:
// bytes, words and searches; a byte sequence never spans a missing piece.
TEST(DumpStream, PiecesReadAsOneText) {
  const std::string text =
      "TABLE \"EMP\"\nCREATE TABLE \"EMP\" (\"A\" NUMBER)\nINSERT INTO \"EMP\" (\"A\") VALUES "
      "(:1)\n";
  ora_dump_stream whole(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  const std::vector<std::string> all_words = words_of(whole);
  for (size_t cut = 0; cut <= text.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const std::string a = text.substr(0, cut), b = text.substr(cut);
    ora_dump_stream s({a, b});
    ASSERT_EQ(s.size(), static_cast<int64_t>(text.size()));
    EXPECT_EQ(words_of(s), all_words);
    for (const std::string pattern : {"TABLE", "\"EMP\" (", "VALUES (", "\n", "NUMBER)\nINSERT"}) {
      for (int64_t from : {int64_t{0}, int64_t{7}, static_cast<int64_t>(cut)}) {
        const size_t expected = text.find(pattern, static_cast<size_t>(from));
        EXPECT_EQ(s.find(pattern, from),
                  expected == std::string::npos ? -1 : static_cast<int64_t>(expected))
            << pattern << " from " << from;
      }
    }
    EXPECT_EQ(s.find_byte('(', 0), static_cast<int64_t>(text.find('(')));
    for (size_t at = 0; at + 6 <= text.size(); at += 5) {
      s.seek(static_cast<int64_t>(at));
      const uint8_t* p = s.take(6);
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 6), text.substr(at, 6));
      EXPECT_EQ(s.tell(), static_cast<int64_t>(at + 6));
      std::string copy;
      EXPECT_TRUE(s.copy(static_cast<int64_t>(at), 6, copy));
      EXPECT_EQ(copy, text.substr(at, 6));
      EXPECT_EQ(s.byte_at(static_cast<int64_t>(at)), static_cast<uint8_t>(text[at]));
    }
  }
}

TEST(DumpStream, NothingCrossesAMissingPiece) {
  // "abc" "de" | missing | "fgh"
  ora_dump_stream s({"abc", "de", "", "f gh"});
  ASSERT_EQ(s.size(), 9);
  s.seek(1);
  const uint8_t* p = s.take(4);  // "bcde": two pieces, no gap
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 4), "bcde");
  s.seek(4);
  EXPECT_EQ(s.peek(2), nullptr) << "e|f lies across the gap";
  EXPECT_FALSE(s.skip(2));
  EXPECT_EQ(s.tell(), 4);
  EXPECT_NE(s.peek(1), nullptr);
  uint16_t v = 0;
  EXPECT_FALSE(s.read_u16be(v));
  EXPECT_EQ(s.find("ef", 0), -1);
  EXPECT_EQ(s.find("cd", 0), 2);
  EXPECT_EQ(s.find("gh", 0), 7);
  std::string out;
  EXPECT_FALSE(s.copy(3, 3, out));
  EXPECT_TRUE(out.empty());
  char buf[8];
  EXPECT_EQ(s.read_at(2, buf, sizeof buf), 3u) << "stops at the gap";
  EXPECT_TRUE(s.gap_between(3, 6));
  EXPECT_FALSE(s.gap_between(0, 4));
  s.seek(0);
  EXPECT_EQ(words_of(s), (std::vector<std::string>{"abcde", "f", "gh"}));
  EXPECT_EQ(s.describe(6), "file 'piece 3' offset 1");
}

// exp FILESIZE=: the second file goes on in the middle of a row, of a LOB
// value, of a statement. Wherever the cut falls, the dump reads exactly as
// the same dump in one file.
TEST(ClassicSet, PartsCutAnywhereReadLikeOneFile) {
  ora_dump_fx_header h;
  h.buffer_size = 1024;
  ora_dump_fx_writer w(h);
  ora_dump_fx_table t;
  t.name = "DOCS";
  t.columns = {col::number("ID"), col::varchar2("NAME", 30), col::clob("BODY"), col::blob("PIC"),
               col::date("AT")};
  t.rows = {
      {{cell::number("1"), cell::text("first"), cell::lob(ora_dump_fx_utf16be("short body")),
        cell::lob("\x01\x02\x03"), cell::date(2020, 1, 2)}},
      {{cell::number("2"), cell::text("second"),
        cell::lob_chunked(ora_dump_fx_utf16be(std::string(40, 'x') + "end"), 24),
        cell::lob_chunked(std::string(60, '\x07'), 16), cell::date(2021, 3, 4)}},
      {{cell::number("3"), cell::null(), cell::null(), cell::null(), cell::null()}},
  };
  ora_dump_fx_table u;
  u.name = "AFTER";
  u.columns = {col::number("N"), col::varchar2("S", 10)};
  u.rows = {{{cell::number("42"), cell::text("tail")}}};
  w.table(t).table(u).exit();
  const std::string dump = w.bytes();
  const ora_dump_fx_section_layout& rows = w.layout("DOCS").sections[0];

  test_dir dir;
  table_texts expected;
  {
    test_write_file(dir / "whole.dmp", dump);
    ora_dump_reader reader;
    auto db = engine_open(reader, dir / "whole.dmp");
    expected = read_all(*db);
  }
  ASSERT_EQ(expected.at("DOCS").size(), 4u) << "the columns and three rows";
  ASSERT_EQ(expected.at("DOCS")[2][2], std::string(40, 'x') + "end");

  // The cut walks over every byte of the rows and LOB values, and over the
  // statements around them.
  const size_t from = w.layout("DOCS").create_pos - 20;
  const size_t to = rows.end_pos + 30;
  for (size_t cut = from; cut < to; ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    auto stream = std::make_shared<ora_dump_stream>(std::vector<std::string_view>{
        std::string_view(dump).substr(0, cut), std::string_view(dump).substr(cut)});
    ora_dump_reader reader;
    reader.m_b_qualify_names = true;
    auto db = reader.open_stream(u"cut", stream);
    ASSERT_EQ(read_all(*db), expected);
  }
  // The same cut in the files exp writes.
  {
    const size_t cut = w.layout("DOCS").sections[0].row_pos[1] + 50;
    const std::vector<std::string> parts = ora_dump_fx_split_at(dump, h, {cut});
    for (size_t k = 0; k < parts.size(); ++k)
      test_write_file(dir / ("cut" + std::to_string(k + 1) + ".dmp"), parts[k]);
    ora_dump_reader reader;
    auto db = engine_open(reader, dir / "cut1.dmp");
    EXPECT_EQ(reader.m_part_paths.size(), 2u);
    EXPECT_TRUE(reader.m_missing_parts.empty());
    EXPECT_FALSE(reader.m_b_first_part);
    EXPECT_EQ(read_all(*db), expected);
  }
  // exp FILESIZE= small enough that a LOB value spans several files.
  const std::vector<std::string> parts = ora_dump_fx_split(dump, h, h.buffer_size + 100);
  ASSERT_GT(parts.size(), 20u);
  for (size_t k = 0; k < parts.size(); ++k)
    test_write_file(dir / ("small" + std::to_string(k + 1) + ".dmp"), parts[k]);
  ora_dump_reader reader;
  auto db = engine_open(reader, dir / "small1.dmp");
  EXPECT_EQ(reader.m_part_paths.size(), parts.size());
  EXPECT_EQ(read_all(*db), expected);
}

TEST(ClassicSet, MissingPartsAreNamedAndPartialReadsStopAtThem) {
  ora_dump_fx_header h;
  ora_dump_fx_writer w(h);
  ora_dump_fx_table t;
  t.name = "BIG";
  t.columns = {col::number("ID"), col::varchar2("PAD", 200)};
  for (int i = 0; i < 60; ++i)
    t.rows.push_back(
        {{cell::number(std::to_string(i)), cell::text(std::string(150, 'a' + i % 26))}});
  w.table(t).exit();
  const std::string dump = w.bytes();
  // Four files, the last one shorter.
  const size_t part_size = h.buffer_size + (dump.size() - h.buffer_size) / 4 + 1;
  const std::vector<std::string> parts = ora_dump_fx_split(dump, h, part_size);
  ASSERT_EQ(parts.size(), 4u);

  test_dir dir;
  auto write_parts = [&](std::vector<int> numbers) {
    for (int k = 1; k <= 4; ++k) std::remove((dir / ("exp0" + std::to_string(k) + ".dmp")).c_str());
    for (int k : numbers)
      test_write_file(dir / ("exp0" + std::to_string(k) + ".dmp"), parts[k - 1]);
  };
  const std::string first = dir / "exp01.dmp";

  write_parts({1, 2, 3, 4});
  {
    ora_dump_reader reader;
    auto db = engine_open(reader, first);
    const engine_table_rows r = engine_read(*db, "BIG");
    EXPECT_EQ(r.rows.size(), 60u);
    EXPECT_EQ(r.error, "");
  }
  // A part in the middle, the last part, everything but the first.
  const struct {
    std::vector<int> present;
    const char* missing;
  } cases[] = {
      {{1, 3, 4}, "part 2 'exp02.dmp' is missing"},
      {{1, 2, 3}, "part 4 'exp04.dmp' (and possibly further parts) is missing"},
      {{1}, "part 2 'exp02.dmp' (and possibly further parts) is missing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.missing);
    write_parts(c.present);
    ora_dump_reader refusing;
    EXPECT_NE(message_of(refusing, {first}).find(c.missing), std::string::npos)
        << message_of(refusing, {first});

    ora_dump_reader partial;
    partial.m_b_allow_partial = true;
    auto db = engine_open(partial, first);
    ASSERT_EQ(partial.m_missing_parts.size(), 1u);
    EXPECT_EQ(partial.m_b_first_part, c.present.size() == 1);
    const engine_table_rows r = engine_read(*db, "BIG");
    EXPECT_LT(r.rows.size(), 60u);
    EXPECT_GT(r.rows.size(), 5u);
    if (c.present != std::vector<int>{1, 2, 3}) {
      EXPECT_NE(r.error.find("missing file of the dump"), std::string::npos) << r.error;
    }
  }

  // A later part alone is refused, naming the first one beside it.
  write_parts({1, 2, 3, 4});
  ora_dump_reader reader;
  const std::string text = message_of(reader, {dir / "exp03.dmp"});
  EXPECT_NE(text.find("non-leading part of multifile dump"), std::string::npos) << text;
  EXPECT_NE(text.find("'" + first + "'"), std::string::npos) << text;
  // Parts named one by one, in any order, under any names.
  for (int k = 1; k <= 4; ++k)
    std::rename((dir / ("exp0" + std::to_string(k) + ".dmp")).c_str(),
                (dir / ("piece_" + std::string(1, 'a' + 4 - k) + ".dmp")).c_str());
  ora_dump_reader named;
  std::vector<tk_wstring> paths;
  for (char c : std::string("abcd"))
    paths.push_back(tk_u16(dir / ("piece_" + std::string(1, c) + ".dmp")));
  std::rotate(paths.begin(), paths.begin() + 3, paths.end());  // the first part first
  auto db = named.open(paths);
  EXPECT_EQ(engine_read(*db, "BIG").rows.size(), 60u);
}

// expdp FILESIZE= with %U: blocks of 4096 bytes, a header block per file,
// table data going on from one file into the next, and the master table in
// two pieces (the first in file 2, the second in the last block of file 1).
// File 3 holds a table only; the master table's list of files is all that
// says it exists.
class PumpSet : public ::testing::Test {
 protected:
  static constexpr size_t k_block = 4096;

  void SetUp() override {
    const std::vector<pump_fx_column> t1_cols = {{"ID", 2, 22, 0, 0}, {"TXT", 1, 100, 873, 0}};
    std::string t1_rows;
    for (int i = 1; i <= 150; ++i)
      t1_rows += pump_fx_record({pump_fx_field(pump_fx_number(i)),
                                 pump_fx_field("row " + std::to_string(i) + std::string(40, '.'))});
    const std::vector<pump_fx_column> t2_cols = {{"N", 2, 22, 0, 0}};
    const std::string t2_rows = pump_fx_record({pump_fx_field(pump_fx_number(7))}) +
                                pump_fx_record({pump_fx_field(pump_fx_number(8))});
    const std::vector<pump_fx_column> m_cols = {{"PROCESS_ORDER", 2, 22, 0, 0},
                                                {"DUPLICATE", 2, 22, 0, 0},
                                                {"FILE_TYPE", 2, 22, 0, 0},
                                                {"USER_FILE_NAME", 1, 4000, 873, 0},
                                                {"FILE_NAME", 1, 4000, 873, 0}};
    std::string m_rows;
    for (int f = 1; f <= 3; ++f) {
      const std::string name = "set0" + std::to_string(f) + ".dmp";
      m_rows += pump_fx_record({pump_fx_field(ora_dump_fx_number("-21")),
                                pump_fx_field(pump_fx_number(f)), pump_fx_field(pump_fx_number(0)),
                                pump_fx_field(name), pump_fx_field("/u01/exp/" + name)});
    }
    // The dump as one logical image: header, T1 (3 blocks), T2 (1 block),
    // the master table (a block and a piece).
    pump_dump_writer w(873, 5, 1);
    w.add_stream_table("SCOTT", "T1", t1_cols, t1_rows + std::string(8, '\0'));
    ASSERT_LT(w.size(), 4 * k_block);
    ASSERT_GT(w.size(), 3 * k_block) << "T1's rows run into the third block";
    w.pad_to(4 * k_block);
    w.add_stream_table("SCOTT", "T2", t2_cols, t2_rows + std::string(8, '\0'));
    w.pad_to(5 * k_block);
    w.add_stream_table("SCOTT", "SYS_EXPORT_TABLE_01", m_cols, m_rows + std::string(8, '\0'));
    w.add_raw(std::string(k_block, '\0'));  // the master runs into its second piece
    m_image = w.bytes().substr(k_block);
    m_master_length = m_image.size() - 4 * k_block;
    ASSERT_GT(m_master_length, k_block);
    ASSERT_LT(m_master_length, 2 * k_block);

    auto header = [&](int part, uint32_t block, uint64_t length, int piece) {
      pump_dump_writer h(873, 5, 1);
      h.set_part(part);
      h.set_job("0123456789abcdef", "\"SCOTT\".\"SYS_EXPORT_TABLE_01\"");
      h.set_master_piece(block, length, 2, piece);
      return h.bytes().substr(0, k_block);
    };
    const std::string t1 = m_image.substr(0, 3 * k_block),
                      t2 = m_image.substr(3 * k_block, k_block);
    const std::string master = m_image.substr(4 * k_block);
    // File 1: T1's first two blocks, then the second master piece.
    m_files[0] = header(1, 4, master.size() - k_block, 2) + t1.substr(0, 2 * k_block) +
                 master.substr(k_block) + std::string(2 * k_block - master.size(), '\0');
    // File 2: T1's last block, then the first master piece.
    m_files[1] = header(2, 3, k_block, 1) + t1.substr(2 * k_block) + master.substr(0, k_block);
    // File 3: T2.
    m_files[2] = header(3, 0, 0, 0) + t2;
  }

  void write(const std::vector<int>& present) {
    for (int f = 1; f <= 3; ++f) {
      const std::string path = m_dir / ("set0" + std::to_string(f) + ".dmp");
      std::remove(path.c_str());
      if (std::find(present.begin(), present.end(), f) != present.end())
        test_write_file(path, m_files[f - 1]);
    }
  }

  test_dir m_dir;
  std::string m_image;
  size_t m_master_length = 0;
  std::string m_files[3];
};

TEST_F(PumpSet, ReadsAsOneDump) {
  write({1, 2, 3});
  ora_dump_reader reader;
  auto db = engine_open(reader, m_dir / "set01.dmp");
  EXPECT_EQ(reader.m_part_paths.size(), 3u);
  EXPECT_TRUE(reader.m_missing_parts.empty());
  ASSERT_EQ(db->get_tables().size(), 3u);
  const engine_table_rows t1 = engine_read(*db, "T1");
  EXPECT_EQ(t1.error, "");
  ASSERT_EQ(t1.rows.size(), 150u);
  EXPECT_EQ(t1.rows[149], (std::vector<std::string>{"150", "row 150" + std::string(40, '.')}));
  EXPECT_EQ(engine_read(*db, "T2").rows, (std::vector<std::vector<std::string>>{{"7"}, {"8"}}));
  const engine_table_rows m = engine_read(*db, "SYS_EXPORT_TABLE_01");
  EXPECT_EQ(m.error, "");
  ASSERT_EQ(m.rows.size(), 3u);
  EXPECT_EQ(m.rows[2],
            (std::vector<std::string>{"-21", "3", "0", "set03.dmp", "/u01/exp/set03.dmp"}));
}

TEST_F(PumpSet, AMissingFileIsNamedByTheMasterTable) {
  // File 3 holds no piece of the master table: only the master's list of
  // files knows it.
  write({1, 2});
  ora_dump_reader refusing;
  const std::string text = message_of(refusing, {m_dir / "set01.dmp"});
  EXPECT_NE(text.find("part 3 'set03.dmp' is missing"), std::string::npos) << text;

  ora_dump_reader partial;
  partial.m_b_allow_partial = true;
  auto db = engine_open(partial, m_dir / "set01.dmp");
  EXPECT_EQ(partial.m_missing_parts, std::vector<tk_string>{"part 3 'set03.dmp'"});
  EXPECT_EQ(engine_read(*db, "T1").rows.size(), 150u);
  EXPECT_FALSE(db->is_table_exist(u"T2"));

  // File 2 holds the first piece of the master table.
  write({1, 3});
  ora_dump_reader no_master;
  const std::string second = message_of(no_master, {m_dir / "set01.dmp"});
  EXPECT_NE(second.find("part 2 'set02.dmp' is missing"), std::string::npos) << second;
  // All files named by one pattern.
  write({1, 2, 3});
  ora_dump_reader pattern;
  auto all = engine_open(pattern, m_dir / "set%U.dmp");
  EXPECT_EQ(pattern.m_part_paths.size(), 3u);
  EXPECT_TRUE(all->is_table_exist(u"T2"));
}

TEST(DumpSetNames, PatternsMatchNumberedFiles) {
  test_dir dir;
  for (const char* name : {"exp01.dmp", "exp02.dmp", "exp10.dmp", "exp3.dmp", "exp100.dmp",
                           "expAB.dmp", "other01.dmp", "exp01.dmp.bak"})
    test_write_file(dir / name, "x");
  EXPECT_EQ(ora_dump_expand_pattern(dir / "exp%U.dmp"),
            (std::vector<std::string>{dir / "exp01.dmp", dir / "exp02.dmp", dir / "exp10.dmp"}));
  EXPECT_EQ(ora_dump_expand_pattern(dir / "exp%l.dmp"),
            (std::vector<std::string>{dir / "exp01.dmp", dir / "exp02.dmp", dir / "exp10.dmp",
                                      dir / "exp100.dmp"}));
  EXPECT_TRUE(ora_dump_expand_pattern(dir / "none%U.dmp").empty());
  EXPECT_TRUE(ora_dump_is_pattern("a/b%u.dmp"));
  EXPECT_FALSE(ora_dump_is_pattern("a%Ub/c.dmp"));
}

// A Data Pump header whose part number reads above 1 names a later file of
// a set only when the rest of it is a header: one without a block size is
// damaged (a file mangled by a text conversion, say) and reported so.
TEST(DumpSetNames, ADamagedHeaderIsNoLaterPart) {
  for (const uint32_t block : {4096u, 0u, 3000u}) {
    pump_dump_writer w(873, 5, 1);
    w.set_part(27631);
    w.set_job("\xEF\xBF\xBD", "\"X\".\"Y\"", block);
    w.add_stream_table("S", "T", {{"ID", 2, 22, 0, 0}}, pump_fx_record({pump_fx_null()}));
    test_dir dir;
    test_write_file(dir / "d.dmp", w.bytes());
    ora_dump_reader reader;
    const std::string text = message_of(reader, {dir / "d.dmp"});
    const char* const expected = block == 4096 ? "non-leading part" : "The dump file is damaged";
    EXPECT_NE(text.find(expected), std::string::npos) << block << ": " << text;
  }
}
