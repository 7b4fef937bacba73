// The context cache file: what a scan found comes back from the file on the
// next opening; a file that does not describe the dump (another size, older
// than the dump, truncated, garbage, another dump of the same size) is never
// trusted; a read-only dump folder puts the file into the user's cache folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "common/test_dir.h"
#include "engine_test_util.h"
#include "fixtures/classic_dump_writer.h"
#include "oracle_dump/ora_dump_stream.h"

namespace {

using col = ora_dump_fx_column;
using cell = ora_dump_fx_cell;

// Two tables with rows, an index, keys, a default and a sequence.
std::string sample_dump(const std::string& dept_name = "DEPT") {
  ora_dump_fx_writer w;
  w.sequence("DEPT_SEQ", "1", "9999", "10", "50", true);
  ora_dump_fx_table dept;
  dept.name = dept_name;
  dept.columns = {col::number("DEPTNO", 2, 0), col::varchar2("DNAME", 14)};
  dept.rows = {{{cell::number("10"), cell::text("ACCOUNTING")}},
               {{cell::number("20"), cell::text("RESEARCH")}}};
  w.table(dept);
  w.create_index("DEPT_NAME_IX", dept_name, {"DNAME"});
  w.primary_key(dept_name, "PK_DEPT", {"DEPTNO"});
  w.column_default(dept_name, "DNAME", "'NONE'");
  ora_dump_fx_table emp;
  emp.name = "EMP";
  emp.columns = {col::number("EMPNO", 4, 0), col::number("DEPTNO", 2, 0)};
  emp.rows = {{{cell::number("7369"), cell::number("20")}},
              {{cell::number("7499"), cell::number("30")}},
              {{cell::number("7521"), cell::number("30")}}};
  w.table(emp);
  w.foreign_key("EMP", "FK_DEPTNO", {"DEPTNO"}, dept_name, {"DEPTNO"});
  w.exit();
  return w.bytes();
}

struct opened {
  std::string cache_image;   // the context as the cache file would hold it
  bool counts_known = true;  // every table's row count came with the catalogue
  std::vector<std::vector<std::string>> rows;
};

// Opens the dump, reads every table like a conversion, closes it (which
// writes the cache file).
opened open_and_read(const std::string& path) {
  opened out;
  ora_dump_reader reader;
  auto db = engine_open(reader, path);
  for (const tk_wstring& t : db->get_tables()) {
    uint64_t n = 0;
    out.counts_known = out.counts_known && db->known_record_count(t, n);
    for (auto& r : engine_read(*db, tk_u8(t)).rows) out.rows.push_back(r);
  }
  out.cache_image = db->get_context().to_bytes(db->get_context().stream->size());
  return out;
}

std::string cache_path_of(const std::string& dump) {
  return dump.substr(0, dump.size() - 4) + ".tvc";
}

void set_mtime(const std::string& path, time_t seconds) {
  struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Points the user's cache folder somewhere of the test's own for its life.
struct scoped_xdg {
  explicit scoped_xdg(const std::string& dir) {
    if (const char* old = std::getenv("XDG_CACHE_HOME")) m_old = old;
    ::setenv("XDG_CACHE_HOME", dir.c_str(), 1);
  }
  ~scoped_xdg() {
    if (m_old.empty())
      ::unsetenv("XDG_CACHE_HOME");
    else
      ::setenv("XDG_CACHE_HOME", m_old.c_str(), 1);
  }
  std::string m_old;
};

}  // namespace

TEST(ContextCache, SecondOpeningReadsTheCatalogueFromTheCacheFile) {
  engine_fixture_file file(sample_dump());
  const opened first = open_and_read(file.path);
  EXPECT_FALSE(first.counts_known);  // a scan knows positions, not counts
  ASSERT_TRUE(std::filesystem::exists(cache_path_of(file.path)));

  const opened second = open_and_read(file.path);
  // The counts of the first walk came back: the catalogue is the cache's.
  EXPECT_TRUE(second.counts_known);
  EXPECT_EQ(second.rows, first.rows);
  EXPECT_EQ(second.cache_image, first.cache_image);

  // Positions, lists, alters, index groups and sequences survive a round
  // trip through the bytes.
  ora_dump_file::context c;
  ASSERT_TRUE(c.load_from_bytes(reinterpret_cast<const uint8_t*>(first.cache_image.data()),
                                first.cache_image.size(),
                                static_cast<int64_t>(std::filesystem::file_size(file.path))));
  EXPECT_EQ(c.to_bytes(c.m_file_size), first.cache_image);
  ASSERT_EQ(c.m_pmap_tables->size(), 2u);
  EXPECT_EQ(c.m_pmap_tables->at(u"DEPT").record_count, 2);
  EXPECT_EQ(c.m_pmap_tables->at(u"DEPT").alters.size(), 2u);  // the key and the default
  ASSERT_EQ(c.m_pmap_indices->count({tk_wstring(), u"DEPT"}), 1u);
  EXPECT_EQ(c.m_pmap_indices->at({tk_wstring(), u"DEPT"}).front().name, u"DEPT_NAME_IX");
  ASSERT_EQ(c.m_sequences.size(), 1u);
  EXPECT_TRUE(c.m_sequences.front().cycle);
}

TEST(ContextCache, ImagesThatDoNotDescribeTheDumpAreRefused) {
  engine_fixture_file file(sample_dump());
  const opened first = open_and_read(file.path);
  const std::string& good = first.cache_image;
  const int64_t size = static_cast<int64_t>(std::filesystem::file_size(file.path));
  auto loads = [&](const std::string& bytes, int64_t dump_size) {
    ora_dump_file::context c;
    return c.load_from_bytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                             dump_size);
  };
  ASSERT_TRUE(loads(good, size));
  EXPECT_FALSE(loads(good, size + 1)) << "recorded for a dump of another size";

  // Every truncation, and every image with one count or position made
  // impossible, is refused without reading out of bounds.
  // One prefix is a sound file of an earlier writer: the one that ends
  // right after the tables.
  int prefixes_loaded = 0;
  for (size_t n = 0; n < good.size(); ++n) prefixes_loaded += loads(good.substr(0, n), size);
  EXPECT_EQ(prefixes_loaded, 1);
  std::string old_magic = good;
  old_magic[0] = 0;
  EXPECT_FALSE(loads(old_magic, size));
  for (size_t at = 12; at + 4 <= good.size(); ++at) {
    std::string bad = good;
    for (int k = 0; k < 4; ++k) bad[at + k] = '\xFF';
    loads(bad, size);  // must not crash; the result depends on the field hit
  }

  // Random bytes behind a valid magic.
  std::mt19937 rng(9);
  for (int i = 0; i < 2000; ++i) {
    std::string junk = good.substr(0, 12);
    junk.resize(12 + rng() % 200);
    for (size_t k = 12; k < junk.size(); ++k) junk[k] = static_cast<char>(rng());
    loads(junk, size);
  }
}

TEST(ContextCache, StaleOrDamagedFilesFallBackToAScanAndAreRewritten) {
  const std::string bytes = sample_dump();
  for (const char* damage : {"older", "truncated", "garbage"}) {
    engine_fixture_file file(bytes);
    const opened first = open_and_read(file.path);
    const std::string cache = cache_path_of(file.path);
    if (std::string(damage) == "older") {
      set_mtime(cache, 1000000000);
    } else {
      std::string content = first.cache_image;
      content = std::string(damage) == "truncated" ? content.substr(0, content.size() / 2)
                                                   : std::string(content.size(), '\x5A');
      FILE* f = std::fopen(cache.c_str(), "wb");
      std::fwrite(content.data(), 1, content.size(), f);
      std::fclose(f);
    }
    const opened second = open_and_read(file.path);
    EXPECT_FALSE(second.counts_known) << damage << ": the catalogue came from a scan";
    EXPECT_EQ(second.rows, first.rows) << damage;
    // Replaced by a sound file: the next opening uses it again.
    EXPECT_TRUE(open_and_read(file.path).counts_known) << damage;
  }
}

TEST(ContextCache, ADifferentDumpOfTheSameSizeIsNotReadWithTheOldFile) {
  engine_fixture_file file(sample_dump("DEPT"));
  open_and_read(file.path);
  // Another dump under the same name, same size (both padded to the export
  // buffer), its tables elsewhere; its time makes the old file look fresh.
  const std::string other = sample_dump("DEPARTMENT");
  ASSERT_EQ(other.size(), std::filesystem::file_size(file.path));
  FILE* f = std::fopen(file.path.c_str(), "wb");
  std::fwrite(other.data(), 1, other.size(), f);
  std::fclose(f);
  set_mtime(file.path, 1000000000);
  const opened reopened = open_and_read(file.path);
  EXPECT_FALSE(reopened.counts_known);
  EXPECT_EQ(reopened.rows.size(), 5u);
}

TEST(ContextCache, ReadOnlyDumpFolderUsesTheUserCacheFolder) {
  test_dir dir;
  const std::string folder = dir.path() + "/dumps";
  const std::string xdg = dir.path() + "/xdg";
  std::filesystem::create_directories(folder);
  const std::string dump = folder + "/EXPDAT.DMP";
  {
    FILE* f = std::fopen(dump.c_str(), "wb");
    const std::string bytes = sample_dump();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
  scoped_xdg env(xdg);
  open_and_read(dump);
  EXPECT_FALSE(std::filesystem::exists(folder + "/EXPDAT.tvc"));
  const ora_cache_paths paths = ora_cache_paths_of(dump);
  EXPECT_EQ(paths.user_cache.rfind(xdg + "/talvex/EXPDAT.DMP-", 0), 0u) << paths.user_cache;
  EXPECT_TRUE(std::filesystem::exists(paths.user_cache));
  EXPECT_TRUE(open_and_read(dump).counts_known);
  // The same file name in another folder gets a file of its own there.
  EXPECT_NE(ora_cache_paths_of(dir.path() + "/EXPDAT.DMP").user_cache, paths.user_cache);

  // Nowhere to write: the dump still opens, reads and closes.
  std::filesystem::remove(paths.user_cache);
  test_write_file(dir.path() + "/plain_file", "x");
  scoped_xdg nowhere(dir.path() + "/plain_file/xdg");
  const opened without_cache = open_and_read(dump);
  EXPECT_EQ(without_cache.rows.size(), 5u);
  EXPECT_FALSE(std::filesystem::exists(folder + "/EXPDAT.tvc"));
  ::chmod(folder.c_str(), 0755);
}
