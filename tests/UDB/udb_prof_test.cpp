// Tests of the settings profile file: what the reader takes and refuses,
// the exact bytes the writer produces, what the format can and cannot hold,
// and how a stored file replaces an earlier one.
#include "UDB/udb_prof.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "TK/tk_exc.h"
#include "common/test_dir.h"

namespace {

// The message read() raises for the bytes, or "" when they are read.
std::string read_error(const std::string& bytes) {
  udb_profile p;
  try {
    p.read(bytes, "p.tlvx");
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.level(), 1);
    return e.text();
  }
  return "";
}

// Section by section, the entries as "key=value".
std::vector<std::string> dump(const udb_profile& p) {
  std::vector<std::string> out;
  for (const auto& [name, entries] : p.sections()) {
    out.push_back("[" + tk_u8(name) + "]");
    for (const udb_profile::entry& e : entries) out.push_back(tk_u8(e.key) + "=" + tk_u8(e.value));
  }
  return out;
}

TEST(udb_profile, reading_rules) {
  udb_profile p;
  p.read(
      "\r\n"
      "  [Generic settings]  \r\n"
      "  src  =  /data/x.dmp\r\n"  // blanks before the value stay
      "dest=/out=1\n"              // split at the first "="
      "mode=1\n"
      "mode=2\n"  // a repeated key is kept; lookups find the first
      "\n"
      "[Selected Tables]\n"
      "  EMP  \n"
      "DEPT=select 1\n"
      "[Generic settings]\n"  // continued
      "logfile=\n"
      "[Extra]\n"
      "[Selected Tables]\n"
      "\tTAB\n",
      "p.tlvx");
  EXPECT_EQ(p.get_value(u"Generic settings", u"src"), u"  /data/x.dmp");
  EXPECT_EQ(p.get_value(u"Generic settings", u"dest"), u"/out=1");
  EXPECT_EQ(p.get_value(u"Generic settings", u"mode"), u"1");
  EXPECT_EQ(p.get_value(u"Generic settings", u"nope"), u"");
  EXPECT_EQ(p.get_value(u"Nope", u"src"), u"");
  EXPECT_EQ(p.find(u"Generic settings", u"logfile")->line, 12);
  EXPECT_EQ(p.section_line(u"Extra"), 13);
  EXPECT_EQ(p.section_line(u"Available Queries"), 0);
  // The plain lines are kept as read, blanks included.
  EXPECT_EQ(p.get_plain_lines(u"Selected Tables"), (std::vector<tk_wstring>{u"  EMP  ", u"\tTAB"}));
  EXPECT_TRUE(p.get_selected_tables()[0].plain);
  EXPECT_FALSE(p.get_selected_tables()[1].plain);
  const std::vector<std::string> expected = {
      "[Available Queries]",
      "[Extra]",
      "[Generic settings]",
      "src=  /data/x.dmp",
      "dest=/out=1",
      "mode=1",
      "mode=2",
      "logfile=",
      "[Selected Tables]",
      "EMP=",
      "DEPT=select 1",
      "\tTAB=",
      "[Selected Views]",
  };
  EXPECT_EQ(dump(p), expected);
}

TEST(udb_profile, unreadable_text_is_refused_with_its_line) {
  const std::string long_line(5000, 'x');
  struct bad_case {
    std::string bytes;
    const char* message;
  };
  const bad_case cases[] = {
      {"", "Profile 'p.tlvx' is empty"},
      {"\r\n  \n\n", "Profile 'p.tlvx' is empty"},
      {"\xEF\xBB\xBF[Generic settings]\r\n",
       "Profile 'p.tlvx', line 1: the file begins with a byte-order mark; a profile is UTF-8 text "
       "without one"},
      {std::string("\xFF\xFE[\0G\0]\0\r\0\n\0", 12),
       "Profile 'p.tlvx', line 1: the file is UTF-16 text; a profile is UTF-8 text"},
      {std::string("[\0G\0]\0\r\0\n\0", 10),
       "Profile 'p.tlvx', line 1: zero byte; this is not a text file"},
      {"[A]\nkey=\xC3\n", "Profile 'p.tlvx', line 2: not UTF-8 text"},
      {"[A]\nkey=\xED\xA0\x80\n", "Profile 'p.tlvx', line 2: not UTF-8 text"},  // a surrogate
      {"[A]\nkey=\xC0\xAF\n", "Profile 'p.tlvx', line 2: not UTF-8 text"},      // overlong
      {"[A]\na\rb\n", "Profile 'p.tlvx', line 2: carriage return inside the line"},
      {"[A]\n[Generic settings\nsrc=x\n", "Profile 'p.tlvx', line 2: section header without ']'"},
      {"[\n", "Profile 'p.tlvx', line 1: section header without ']'"},
      {"src=x\n[A]\n", "Profile 'p.tlvx', line 1: text before the first section header"},
      {"[A]\nsrc=" + long_line + "\n[B]\n",
       "Profile 'p.tlvx', line 2: the line is longer than 4095 bytes"},
      {"[A]\n" + long_line, "Profile 'p.tlvx', line 2: the line is longer than 4095 bytes"},
  };
  for (const bad_case& c : cases) EXPECT_EQ(read_error(c.bytes), c.message) << c.bytes;

  // The longest line that is taken, with and without its CR.
  const std::string longest(udb_profile::max_line_bytes - 2, 'k');
  EXPECT_EQ(read_error("[A]\r\n" + longest + "=v\r\n"), "");
  EXPECT_EQ(read_error("[A]\n" + longest + "=v"), "");
  EXPECT_NE(read_error("[A]\n" + longest + "=vv\r\n"), "");
}

TEST(udb_profile, load_names_a_missing_file_and_reads_the_file) {
  test_dir dir;
  udb_profile p;
  for (const std::string& path : {dir / "none.tlvx", dir.path()}) {
    try {
      p.load(tk_u16(path));
      ADD_FAILURE() << path;
    } catch (const tk_exception& e) {
      EXPECT_STREQ(e.what(),
                   "Profile does not exist. Please verify the correct path/name was given.");
      EXPECT_EQ(e.level(), 1);
    }
  }
  // A huge line is refused without reading it all into memory.
  test_write_file(dir / "p.tlvx",
                  "[Generic settings]\r\nsrc=" + std::string(1 << 20, 'x') + "\r\n");
  try {
    p.load(tk_u16(dir / "p.tlvx"));
    ADD_FAILURE();
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.text(),
              "Profile '" + (dir / "p.tlvx") + "', line 2: the line is longer than 4095 bytes");
  }
  test_write_file(dir / "p.tlvx", "[Selected Tables]\r\n사원\r\n");
  udb_profile q;
  EXPECT_TRUE(q.load(tk_u16(dir / "p.tlvx")));
  EXPECT_EQ(q.get_selected_tables().at(0).key, u"사원");
  EXPECT_EQ(q.file_name(), dir / "p.tlvx");
}

TEST(udb_profile, writes_sections_in_ordinal_order_with_key_only_tables) {
  udb_profile p;
  p.set_value(u"Generic settings", u"src", u"/data/x.dmp");
  p.set_value(u"Generic settings", u"logfile", u"");
  p.set_value(u"Selected Tables", u"EMP", u"");
  p.set_value(u"Selected Tables", u"Q", u"select 1");
  p.set_value(u"CSV settings", u"CSV delimiter", u"1");
  p.set_value(u"Zeta", u"", u"=");
  p.set_value(u"Selected Tables", u"", u"");
  p.set_value(u"Available Queries", u"A", u"");
  EXPECT_EQ(p.to_text(),
            "[Available Queries]\r\nA=\r\n\r\n"
            "[CSV settings]\r\nCSV delimiter=1\r\n\r\n"
            "[Generic settings]\r\nsrc=/data/x.dmp\r\nlogfile=\r\n\r\n"
            "[Selected Tables]\r\nEMP\r\nQ=select 1\r\n=\r\n\r\n"
            "[Selected Views]\r\n\r\n"
            "[Zeta]\r\n==\r\n\r\n");

  // What was read without "=" is written the same way, once.
  udb_profile q;
  q.read("[Available Queries]\nplain\n[Generic settings]\nk=\n", "q");
  EXPECT_EQ(q.to_text(),
            "[Available Queries]\r\nplain\r\n\r\n[Generic settings]\r\nk=\r\n\r\n"
            "[Selected Tables]\r\n\r\n[Selected Views]\r\n\r\n");
}

TEST(udb_profile, table_names_in_any_script_read_back_exactly) {
  const std::vector<tk_wstring> names = {
      u"사원",      u"员工表", u"עובדים",     u"Ωμέγα",    u"😀_EMOJI",     u"A[1]",     u"X]",
      u"tab\there", u"a;b,c",  u"\"QUOTED\"", u"SYS.T$1#", u"ends with [", u"#comment?"};
  udb_profile p;
  for (const tk_wstring& name : names) p.set_value(u"Selected Tables", name, u"");
  p.set_value(u"Generic settings", u"dest", u" /lead/blank=and=equals[]");
  udb_profile q;
  q.read(p.to_text(), "q");
  EXPECT_EQ(dump(q), dump(p));
}

TEST(udb_profile, what_the_format_cannot_hold_is_refused_when_storing) {
  struct bad_entry {
    tk_wstring section, key, value;
    const char* why;
  };
  const bad_entry cases[] = {
      {u"Selected Tables", u"A=B", u"", "it contains '='"},
      {u"Selected Tables", u" A", u"", "it begins or ends with a blank"},
      {u"Selected Tables", u"A ", u"", "it begins or ends with a blank"},
      {u"Selected Tables", u"[A", u"", "it begins with '['"},
      {u"Selected Tables", u"A\nB", u"", "it contains a line break"},
      {u"Selected Tables", tk_wstring(u"A\0B", 3), u"", "it contains a zero character"},
      {u"Selected Tables", tk_wstring(1, char16_t(0xD800)), u"", "it is not valid UTF-16 text"},
      {u"Selected Tables", tk_wstring(5000, u'x'), u"", "its line would be longer than 4095 bytes"},
      {u"Generic settings", u"dest", u"/out ", "it ends with a blank"},
      {u"Generic settings", u"dest", u"/out\r", "it contains a line break"},
      {u"Generic settings", u"de=st", u"x", "it contains '='"},
      {u"Bad\nSection", u"k", u"v", "it contains a line break"},
  };
  for (const bad_entry& c : cases) {
    udb_profile p;
    p.set_value(c.section, c.key, c.value);
    try {
      p.to_text();
      ADD_FAILURE() << tk_u8(c.key);
    } catch (const tk_exception& e) {
      EXPECT_NE(e.text().find(std::string(": ") + c.why), std::string::npos) << e.text();
      EXPECT_EQ(e.text().rfind("Cannot store '", 0), 0u) << e.text();
      EXPECT_EQ(e.level(), 1);
    }
  }
}

TEST(udb_profile, store_replaces_profiles_only) {
  test_dir dir;
  udb_profile p;
  p.set_value(u"Generic settings", u"src", u"x");
  const std::string path = dir / "p.tlvx";

  EXPECT_TRUE(p.store(tk_u16(path)));
  EXPECT_EQ(test_read_file(path), p.to_text());
  // An earlier profile is replaced, its permissions kept, no file left over.
  test_write_file(path, "[Old]\r\n");
  ::chmod(path.c_str(), 0640);
  EXPECT_TRUE(p.store(tk_u16(path)));
  EXPECT_EQ(test_read_file(path), p.to_text());
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // Through a link the file is written and the link stays.
  std::filesystem::create_symlink(path, dir / "link.tlvx");
  test_write_file(path, "");
  EXPECT_TRUE(p.store(tk_u16(dir / "link.tlvx")));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.tlvx"));
  EXPECT_EQ(test_read_file(path), p.to_text());

  // A file that is no profile, a folder, and a name the format cannot hold
  // leave everything as it was.
  test_write_file(dir / "data.dmp", "\x03\x00EXPORT:V11.02.00");
  udb_profile bad;
  bad.set_value(u"Selected Tables", u"A=B", u"");
  const struct {
    const udb_profile& profile;
    std::string path;
    std::string message;
  } refusals[] = {
      {p, dir / "data.dmp",
       "'" + (dir / "data.dmp") + "' exists and is not a settings profile; it was left unchanged"},
      {p, dir.path(), "Cannot write profile '" + dir.path() + "': it is a folder"},
      {bad, path, "Cannot store 'A=B' in section [Selected Tables] of a profile: it contains '='"},
      {p, dir / "no/such/p.tlvx", "Cannot write profile '" + (dir / "no/such/p.tlvx") + "': "},
  };
  for (const auto& r : refusals) {
    try {
      r.profile.store(tk_u16(r.path));
      ADD_FAILURE() << r.path;
    } catch (const tk_exception& e) {
      EXPECT_EQ(e.text().rfind(r.message, 0), 0u) << e.text();
    }
  }
  EXPECT_EQ(test_read_file(dir / "data.dmp"), "\x03\x00EXPORT:V11.02.00");
  EXPECT_EQ(test_read_file(path), p.to_text());
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 3u);  // p.tlvx, link.tlvx, data.dmp: no temporary file stays
}

// Damaged variants of a good profile never crash the reader, and whatever it
// takes and can write again reads back the same.
TEST(udb_profile, damaged_profiles_are_read_safely) {
  const std::string good =
      "[Available Queries]\r\n\r\n[CSV settings]\r\nInclude field names=1\r\nCSV delimiter=1\r\n"
      "\r\n[Generic settings]\r\nsrc=/d/x.dmp\r\ndest=/out\r\nlogfile=\r\nskip indexes=0\r\n"
      "only definitions=0\r\nmode=0\r\n\r\n[Selected Tables]\r\n사원\r\nDEPT\r\n\r\n"
      "[Selected Views]\r\n\r\n";
  std::mt19937 rng(20240611);
  const char specials[] = {'[', ']', '=', ' ', '\r', '\n', '\0', '\xEF', '\xBB', '\xBF', '\xC3'};
  size_t read_ok = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = good;
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < edits && !bytes.empty(); ++k) {
      const size_t at = rng() % bytes.size();
      switch (rng() % 4) {
        case 0:
          bytes[at] = specials[rng() % sizeof specials];
          break;
        case 1:
          bytes[at] = static_cast<char>(rng());
          break;
        case 2:
          bytes.erase(at, 1 + rng() % 8);
          break;
        default:
          bytes.insert(at, 1, specials[rng() % sizeof specials]);
      }
    }
    udb_profile p;
    try {
      p.read(bytes, "fuzz");
    } catch (const tk_exception&) {
      continue;
    }
    ++read_ok;
    // Nothing read can be unfit for writing: reading only ever trims.
    std::string text;
    try {
      text = p.to_text();
    } catch (const tk_exception& e) {
      ADD_FAILURE() << e.what();
      continue;
    }
    udb_profile q;
    q.read(text, "again");
    EXPECT_EQ(dump(q), dump(p)) << bytes;
  }
  EXPECT_GT(read_ok, 100u);
}

}  // namespace
