// The dump stream over files: it reads them through a window of a bounded
// size. With a window of a few bytes every read, word and search meets the
// window's edges, and must still return what the same bytes in memory give.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "TK/tk_exc.h"
#include "common/test_dir.h"
#include "oracle_dump/ora_dump_stream.h"

namespace {

// Restores the usual window when a test ends.
struct small_window {
  small_window(size_t window, size_t keep_back) {
    ora_dump_stream::set_window_for_tests(window, keep_back);
  }
  ~small_window() { ora_dump_stream::set_window_for_tests(0, 0); }
};

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> words_of(ora_dump_stream& s) {
  std::vector<std::string> out;
  for (std::string_view w = s.read_word(); !w.empty(); w = s.read_word()) out.emplace_back(w);
  return out;
}

// Every access of `s` gives what the same access of `ref` gives.
void expect_same_reads(ora_dump_stream& s, ora_dump_stream& ref) {
  ASSERT_EQ(s.size(), ref.size());
  const int64_t size = s.size();
  s.seek(0);
  ref.seek(0);
  EXPECT_EQ(words_of(s), words_of(ref));
  for (const std::string pattern : {"TABLE", "\"EMP\" (", "\n", "NUMBER)\nINSERT", "zz"}) {
    for (int64_t from = 0; from < size; from += 3) {
      EXPECT_EQ(s.find(pattern, from), ref.find(pattern, from)) << pattern << " from " << from;
      EXPECT_EQ(s.find_byte(pattern[0], from), ref.find_byte(pattern[0], from));
    }
  }
  for (size_t n : {size_t{1}, size_t{2}, size_t{5}, size_t{13}, size_t{40}}) {
    for (int64_t at = 0; at < size; ++at) {
      SCOPED_TRACE("at " + std::to_string(at) + " n " + std::to_string(n));
      s.seek(at);
      ref.seek(at);
      const uint8_t* a = s.take(n);
      const uint8_t* b = ref.take(n);
      ASSERT_EQ(a == nullptr, b == nullptr);
      if (a != nullptr) {
        EXPECT_EQ(std::string(a, a + n), std::string(b, b + n));
      }
      EXPECT_EQ(s.tell(), ref.tell());
      // Looking back into the record after reading on.
      if (at >= 4) {
        s.seek(at - 4);
        ref.seek(at - 4);
        const uint8_t* c = s.peek(4);
        const uint8_t* d = ref.peek(4);
        ASSERT_EQ(c == nullptr, d == nullptr);
        if (c != nullptr) {
          EXPECT_EQ(std::string(c, c + 4), std::string(d, d + 4));
        }
      }
      EXPECT_EQ(s.byte_at(at), ref.byte_at(at));
      std::string x, y;
      EXPECT_EQ(s.copy(at, n, x), ref.copy(at, n, y));
      EXPECT_EQ(x, y);
      char buf[64] = {}, buf2[64] = {};
      EXPECT_EQ(s.read_at(at, buf, n), ref.read_at(at, buf2, n));
      EXPECT_EQ(std::string(buf, n), std::string(buf2, n));
    }
  }
}

const std::string k_text =
    "TABLE \"EMP\"\nCREATE TABLE \"EMP\" (\"A\" NUMBER)\nINSERT INTO \"EMP\" (\"A\") VALUES "
    "(:1)\n\x01\x02\xff\xfe  long_word_that_crosses_many_windows_of_the_stream\n\n";

}  // namespace

TEST(DumpStreamWindow, FileReadsLikeMemoryAtEveryWindowEdge) {
  test_dir dir;
  write_file(dir / "a.dmp", k_text);
  // A window of one byte hands reads of more than 32 bytes out of a mapping.
  for (const auto& [window, keep] :
       {std::pair<size_t, size_t>{1, 0}, {5, 0}, {7, 3}, {16, 16}, {0, 0}}) {
    SCOPED_TRACE("window " + std::to_string(window) + " keep " + std::to_string(keep));
    small_window w(window, keep);
    auto file = ora_dump_stream::open_file(dir / "a.dmp");
    ora_dump_stream mem(reinterpret_cast<const uint8_t*>(k_text.data()), k_text.size());
    expect_same_reads(*file, mem);
    // A second stream over the same file reads on its own.
    auto again = file->reopen();
    file->seek(10);
    expect_same_reads(*again, mem);
  }
}

// Files of a set, with a missing file between two of them: the window never
// carries a read across the gap, and stretches inside files are honoured.
TEST(DumpStreamWindow, FileSetsReadLikePieces) {
  test_dir dir;
  const std::string a = "HEADabc de", b = "XXf gh i\njk\nXX";
  write_file(dir / "1.dmp", a);
  write_file(dir / "2.dmp", b);
  std::vector<ora_dump_stream::extent> extents = {{0, 4, 6, false}, {1, 2, 10, true}};
  small_window w(3, 1);
  auto s = ora_dump_stream::open_files({dir / "1.dmp", dir / "2.dmp"}, extents);
  ora_dump_stream ref({"abc de", "", "f gh i\njk\n"});
  expect_same_reads(*s, ref);
  s->seek(5);
  EXPECT_EQ(s->peek(2), nullptr) << "e|f lies across the gap";
  EXPECT_TRUE(s->gap_hit());
  EXPECT_EQ(s->describe(7), "file '2.dmp' offset 3");
}

// A file cut while it is being read is an error, never zero bytes passed
// off as the dump's.
TEST(DumpStreamWindow, AFileCutWhileReadIsAnError) {
  test_dir dir;
  write_file(dir / "a.dmp", std::string(100, 'x'));
  small_window w(8, 0);
  auto s = ora_dump_stream::open_file(dir / "a.dmp");
  ASSERT_NE(s->take(8), nullptr);
  ASSERT_EQ(::truncate((dir / "a.dmp").c_str(), 20), 0);
  s->seek(40);
  EXPECT_THROW(s->peek(4), tk_exception);
  EXPECT_THROW(s->find_byte('y', 0), tk_exception);
}

// The statement search of the scans: the first byte whose neighbour is one
// of a few values, found alike in memory and through windows of any size,
// also where the neighbour lies in the next window or piece.
TEST(DumpStreamWindow, ByteNearAFlaggedNeighbourIsFoundEverywhere) {
  std::string text;
  uint32_t seed = 12345;
  for (int i = 0; i < 3000; ++i) {
    seed = seed * 1103515245u + 12345u;
    const char pool[] = "\n\n\n<<?\0CBTAIxyz ";
    text.push_back(pool[(seed >> 16) % (sizeof pool - 1)]);
  }
  bool letters[256] = {}, zero[256] = {}, question[256] = {};
  for (const char c : std::string("CBTAI")) letters[static_cast<uint8_t>(c)] = true;
  zero[0] = true;
  question[static_cast<uint8_t>('?')] = true;
  bool many[256] = {};  // more values than the vector scan compares with
  for (int c = 'a'; c <= 'z'; ++c) many[c] = true;
  auto naive = [&](uint8_t byte, const bool* before, const bool* after, size_t from) -> int64_t {
    for (size_t i = from; i < text.size(); ++i) {
      if (static_cast<uint8_t>(text[i]) != byte) continue;
      if (after != nullptr && i + 1 < text.size() && after[static_cast<uint8_t>(text[i + 1])])
        return static_cast<int64_t>(i);
      if (before != nullptr && i > 0 && before[static_cast<uint8_t>(text[i - 1])])
        return static_cast<int64_t>(i);
    }
    return -1;
  };
  test_dir dir;
  write_file(dir / "a.dmp", text);
  const size_t cut = text.size() / 3;
  ora_dump_stream pieces(
      {std::string_view(text).substr(0, cut), std::string_view(text).substr(cut)});
  for (const size_t window : {size_t{3}, size_t{17}, size_t{100}, size_t{0}}) {
    small_window w(window, window / 2);
    auto file = ora_dump_stream::open_file(dir / "a.dmp");
    ora_dump_stream mem(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    for (ora_dump_stream* s : {file.get(), &mem, &pieces}) {
      for (size_t from = 0; from < text.size(); from += 7) {
        SCOPED_TRACE("window " + std::to_string(window) + " from " + std::to_string(from));
        const auto at = static_cast<int64_t>(from);
        ASSERT_EQ(s->find_byte_near('\n', nullptr, letters, at),
                  naive('\n', nullptr, letters, from));
        ASSERT_EQ(s->find_byte_near('<', zero, question, at), naive('<', zero, question, from));
        ASSERT_EQ(s->find_byte_near(' ', many, nullptr, at), naive(' ', many, nullptr, from));
      }
    }
  }
}
