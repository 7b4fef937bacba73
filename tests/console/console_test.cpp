// Tests of the console program, run as a subprocess: options, usage text,
// validation messages, exit statuses, the table-list file, and conversions
// of a real dump once the dump reader handles it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "common/test_dir.h"
#include "console_run.h"
#include "fixtures/classic_dump_writer.h"
#include "fixtures/sample_dump.h"

namespace fs = std::filesystem;

namespace {

class console : public ::testing::Test {
 protected:
  run_result run(const std::vector<std::string>& args) { return run_talvexcli(dir, args); }

  // A file that exists, for options that need an existing source.
  std::string any_file() {
    test_write_file(dir / "any.dmp", "not a dump");
    return dir / "any.dmp";
  }

  test_dir dir;
};

const char* const usage =
    "TALVEXCLI v8.3\n"
    "Usage: TALVEXCLI OPTIONS\n"
    "\n"
    "   --count        with --list: count the rows of tables whose count is not\n"
    "                  recorded in the dump or its cache (reads every row)\n"
    "   --dest=...     path to the folder where CSV files will be stored\n"
    "   --ewkt         write spatial values with their SRID (SRID=n;WKT)\n"
    "   --help         display this help message and exit\n"
    "   --inc_fnames   include Oracle field names into CSV files\n"
    "   --jobs=...     number of tables converted at once (default: the number of\n"
    "                  processors); the output is the same for any number\n"
    "   --list         print the tables, columns, keys, indexes and sequences of\n"
    "                  the dump without converting it (--list=json: as JSON)\n"
    "   --logfile=...  path to the file where execution trace will be written\n"
    "   --mode=...     how to process an existing CSV folder\n"
    "                  (0 - overwrite the entire folder, 1 - overwrite existing\n"
    "                  files only, 2 - skip existing files)\n"
    "   --n_delim=...  delimiter symbol to use in the resulting CSV file\n"
    "                  (0 - tab, 1 - semicolon, 2 - comma)\n"
    "   --partial      convert a multifile dump whose other files are not all present\n"
    "   --profile=...  path to the file to load conversion settings from\n"
    "   --save_profile=...\n"
    "                  path to the file to store the conversion settings in;\n"
    "                  nothing is converted then\n"
    "   --silent       disable program output\n"
    "   --src=...      Oracle dump file name\n"
    "                  (the first file of a multifile dump; name further files with\n"
    "                  more --src= options or as one name with %U, e.g. exp%U.dmp)\n"
    "   --tab_def      convert table definitions only\n"
    "   --tab_file=... file containing the list of tables to convert\n"
    "                  (one table name per line)\n"
    "   --tables=...   comma-separated names of the tables to convert\n"
    "   --version      display the program's name and version and exit\n"
    "\n"
    "NOTES:\n"
    "   1) If you omit 'tab_file' parameter, all database tables will be converted.\n"
    "   2) If you omit 'mode' parameter, default mode 'overwrite the entire\n"
    "      folder' will be used. It empties a folder only when everything in\n"
    "      it was written by this program (CSV files); choose a new or empty\n"
    "      folder, or mode 1 or 2, for a folder that holds other files.\n"
    "   3) Command line parameters that contain spaces should be enclosed in\n"
    "      quotes (for example --dest=\"/home/me/my database\")\n"
    "\n"
    "EXIT STATUS:\n"
    "   0    every table was converted completely\n"
    "   1    a partial run: records or tables were skipped with errors, or a\n"
    "        table named in the 'tab_file' list is not in the dump\n"
    "   255  a fatal error (invalid options, a dump that cannot be read, ...)\n";

// --help and --version answer on standard output with status 0; arguments
// that are no option are named, then the usage follows, with status 255.
TEST_F(console, help_version_and_unknown_arguments) {
  const std::string src = any_file();
  run_result r = run({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, usage);
  EXPECT_EQ(r.err, "");
  r = run({"--dest=" + dir.path(), "--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "TALVEXCLI v8.3\n");

  const struct {
    std::vector<std::string> args;
    std::string named;
  } cases[] = {
      {{}, ""},
      {{"--dest=" + dir.path(), "--helpme"}, "unknown option --helpme\n"},
      {{"--dest=" + dir.path(), "--silentXYZ", "--src=" + src}, "unknown option --silentXYZ\n"},
      {{"--dest=" + dir.path(), "--src=/no/such.dmp", "extra"},  // source not checked
       "unexpected argument extra\n"},
      {{"--dest", dir.path(), "--src=" + src},  // "=" missing
       "unknown option --dest\nunexpected argument " + dir.path() + "\n"},
      {{"--DEST=" + dir.path(), "--src=" + src},  // prefixes are case-sensitive
       "unknown option --DEST=" + dir.path() + "\n"},
  };
  for (const auto& c : cases) {
    r = run(c.args);
    EXPECT_EQ(r.status, 255) << c.named;
    EXPECT_EQ(r.err, c.named + usage) << c.named;
    EXPECT_EQ(r.out, "");
  }
  // Many unknown words are still a usage error, not an internal one.
  std::vector<std::string> many(25, "word");
  r = run(many);
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find(usage), std::string::npos);
}

TEST_F(console, silent_help_prints_nothing_but_logs_the_usage) {
  const run_result r = run({"--logfile=" + (dir / "t.log"), "--silent", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_NE(test_read_file(dir / "t.log").find("Usage: TALVEXCLI OPTIONS"), std::string::npos);
}

TEST_F(console, option_values_are_validated) {
  const std::string src = any_file();
  struct value_case {
    std::string option;
    const char* error;  // nullptr: accepted
  };
  const value_case cases[] = {
      {"--mode=01", "Invalid merge/overwrite mode\n"},
      {"--mode=3", "Invalid merge/overwrite mode\n"},
      {"--mode=-1", "Invalid merge/overwrite mode\n"},
      {"--mode=+1", "Invalid merge/overwrite mode\n"},
      {"--mode= 1", "Invalid merge/overwrite mode\n"},
      {"--mode=", "Invalid merge/overwrite mode\n"},
      {"--n_delim=", "Invalid CSV delimiter\n"},
      {"--n_delim=1 ", "Invalid CSV delimiter\n"},
      {"--n_delim=10", "Invalid CSV delimiter\n"},
      {"--mode=2", nullptr},
      {"--n_delim=0", nullptr},
  };
  for (const value_case& c : cases) {
    // The source does not exist: an accepted value gets as far as that test.
    const run_result r = run({"--dest=" + (dir / "out"), "--src=/no/such.dmp", c.option});
    EXPECT_EQ(r.status, 255) << c.option;
    EXPECT_EQ(r.err, c.error != nullptr ? c.error
                                        : "Source file '/no/such.dmp' does not exist.\nPlease "
                                          "verify the correct file name was given.\n")
        << c.option;
  }
}

TEST_F(console, required_settings_and_files) {
  const std::string src = any_file();
  struct missing_case {
    std::vector<std::string> args;
    std::string err;
  };
  const missing_case cases[] = {
      {{"--src=" + src}, "You should enter path to CSV folder\n"},
      {{"--dest=" + dir.path()}, "You should enter Oracle dump file name\n"},
      {{"--dest=" + dir.path(), "--src=" + dir.path()},
       "Source file '" + dir.path() +
           "' does not exist.\nPlease verify the correct file name was given.\n"},
      {{"--tab_file=" + (dir / "none.txt"), "--dest=x", "--src=" + src},
       "Table names file does not exist.\nPlease verify the correct path/name was given.\n"},
      {{"--silent", "--src=" + src}, ""},
  };
  for (const missing_case& c : cases) {
    const run_result r = run(c.args);
    EXPECT_EQ(r.status, 255) << c.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(console, fatal_errors_go_to_stdout_after_error) {
  const std::string src = any_file();
  test_write_file(dir / "file", "x");
  struct fatal_case {
    std::vector<std::string> args;
    std::string out;
  };
  const fatal_case cases[] = {
      {{"--profile=" + (dir / "p.tlvx")},
       "Error:\nProfile does not exist. Please verify the correct path/name was given.\n"},
      {{"--logfile=" + dir.path(), "--dest=x", "--src=" + src},
       "Error:\nLogfile name specifies an existing path.\n"},
      {{"--logfile=" + (dir / "no/x.log")},
       "Error:\nLogfile path does not exist. Please verify the correct path was given.\n"},
      {{"--dest=" + (dir / "file"), "--src=" + src},
       "Error:\nYou should enter path to CSV folder, not a file name\n"},
      {{"--silent", "--dest=" + (dir / "file"), "--src=" + src}, ""},
      // Mode 0 never empties the folder that holds the dump.
      {{"--dest=" + dir.path(), "--src=" + src},
       "Error:\nCannot overwrite the entire folder '" + dir.path() +
           "': it contains the source dump file. Choose another destination folder or another "
           "mode.\n"},
      // A log file that is the dump or the table list, whatever its spelling,
      // is refused before anything is written.
      {{"--logfile=" + (dir / "./any.dmp"), "--dest=" + (dir / "out"), "--src=" + src},
       "Error:\nThe log file '" + (dir / "./any.dmp") + "' is an input of the conversion ('" + src +
           "'). Choose another log file.\n"},
      {{"--dest=" + (dir / "out"), "--src=" + src, "--tab_file=" + (dir / "file"),
        "--logfile=" + (dir / "file")},
       "Error:\nThe log file '" + (dir / "file") + "' is an input of the conversion ('" +
           (dir / "file") + "'). Choose another log file.\n"},
  };
  for (const fatal_case& c : cases) {
    const run_result r = run(c.args);
    EXPECT_EQ(r.status, 255) << c.out;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(test_read_file(src), "not a dump");
  EXPECT_EQ(test_read_file(dir / "file"), "x");
}

// A header that says "first part of several" for a dump that ends in this
// very file (its closing EXIT is here) loses nothing: no warning, status 0.
TEST_F(console, a_first_part_that_holds_the_whole_dump_converts_without_a_warning) {
  ora_dump_fx_header h;
  h.part_size = 1u << 20;
  ora_dump_fx_writer w(h);
  w.table(ora_dump_fx_scott_dept()).exit();
  test_write_file(dir / "part1.dmp", w.bytes());
  const run_result r = run({"--src=" + (dir / "part1.dmp"), "--dest=" + (dir / "out")});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(fs::exists(dir / "out/dept.csv"));
}

// ---- conversions of a real dump ------------------------------------------------

const std::string sample_dump = std::string(TALVEX_SOURCE_DIR) +
                                "/../shared/dumps/classic/freetic__oracle__db_201912271502.dmp";

// Skips the test while the dump reader cannot convert the sample yet.
#define SKIP_UNLESS_CONVERTED(r)                                                               \
  do {                                                                                         \
    if ((r).status != 0 && ((r).out + (r).err).find("not supported yet") != std::string::npos) \
      GTEST_SKIP() << "dump reader not ready: " << (r).out << (r).err;                         \
  } while (0)

class console_dump : public console {
 protected:
  void SetUp() override {
    if (!fs::exists(sample_dump)) GTEST_SKIP() << "no sample dump";
  }
  std::vector<std::string> files(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  static size_t lines(const std::string& text) {
    size_t n = 0;
    for (size_t p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", p + 2)) ++n;
    return n;
  }
};

TEST_F(console_dump, converts_scott_dept_and_emp) {
  const std::string out = dir / "out";
  const run_result r =
      run({"--src=" + sample_dump, "--dest=" + out, "--logfile=" + (dir / "t.log"), "--n_delim=2"});
  SKIP_UNLESS_CONVERTED(r);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("Reading file " + sample_dump + "\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("Converting Oracle dump file (2 tables)\n"), std::string::npos) << r.out;
  // The run ends with one line that says it is complete.
  const std::string summary =
      "Summary: 2 tables converted, 18 rows written, 0 records and 0 "
      "tables skipped with errors; CSV files in '" +
      out + "'\n";
  ASSERT_GE(r.out.size(), summary.size());
  EXPECT_EQ(r.out.substr(r.out.size() - summary.size()), summary);
  const std::vector<std::string> names = files(out);
  ASSERT_EQ(names.size(), 2u);
  const std::string dept = test_read_file(out + "/" + names[0]);
  const std::string emp = test_read_file(out + "/" + names[1]);
  EXPECT_EQ(dept.rfind("\xEF\xBB\xBF"
                       "DEPTNO,DNAME,LOC\r\n",
                       0),
            0u)
      << dept;
  EXPECT_EQ(lines(dept), 5u);
  EXPECT_EQ(lines(emp), 15u);
  const std::string log = test_read_file(dir / "t.log");
  EXPECT_EQ(log.rfind("Conversion started on ", 0), 0u) << log;
  EXPECT_NE(log.find("Conversion ended on "), std::string::npos);
}

TEST_F(console_dump, table_list_definitions_only_and_missing_tables) {
  const std::string out = dir / "out";
  // First run to learn the output names.
  run_result r = run({"--src=" + sample_dump, "--dest=" + out, "--silent"});
  SKIP_UNLESS_CONVERTED(r);
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.out + r.err, "");

  // Names as the dump lists them are what the "Converting table" lines show.
  r = run({"--src=" + sample_dump, "--dest=" + out});
  ASSERT_EQ(r.status, 0);
  std::vector<std::string> tables;
  for (size_t p = r.out.find("Converting table "); p != std::string::npos;
       p = r.out.find("Converting table ", p + 1)) {
    const size_t start = p + 17;
    tables.push_back(r.out.substr(start, r.out.find(" (", start) - start));
  }
  ASSERT_EQ(tables.size(), 2u) << r.out;

  // A byte-order mark, CR LF, empty lines, an unknown name, a name longer
  // than any line buffer, and the same table in lower case: converted once,
  // and the names not found make the run partial (status 1).
  const std::string long_name(300, 'L');
  std::string lower = tables[1];
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  test_write_file(dir / "tables.txt",
                  "\xEF\xBB\xBF" + tables[1] + "\r\n\r\nNOPE\n" + lower + "\n" + long_name);
  r = run(
      {"--src=" + sample_dump, "--dest=" + out, "--tab_def", "--tab_file=" + (dir / "tables.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Table NOPE not exists\nTable " + long_name + " not exists\n");
  EXPECT_NE(r.out.find("Converting Oracle dump file (1 tables)\nConverting table " + tables[1]),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(", 2 listed tables not found;"), std::string::npos) << r.out;
  const std::vector<std::string> names = files(out);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(lines(test_read_file(out + "/" + names[0])), 1u);

  // A list of which no name is a table of the dump, and binary garbage, are
  // errors; the folder is left as it was.
  test_write_file(dir / "none.txt", "NOPE\nNADA\n");
  r = run({"--src=" + sample_dump, "--dest=" + out, "--tab_file=" + (dir / "none.txt")});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.out.find("Error:\nNone of the 2 table names listed in '" + (dir / "none.txt") +
                       "' is a table of the dump.\n"),
            std::string::npos)
      << r.out;
  test_write_file(dir / "garbage.txt", std::string("\x00\x9C\xFF\x01\nEMP\n", 10));
  r = run({"--src=" + sample_dump, "--dest=" + out, "--tab_file=" + (dir / "garbage.txt")});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Table names file '" + (dir / "garbage.txt") +
                       "' is not a text file of table names (UTF-8, one name per line).\n");
  EXPECT_EQ(files(out), names);
}

// Nothing is deleted before the dump has been opened and recognised: a file
// that is no dump leaves the destination as it was (and creates none).
TEST_F(console_dump, a_file_that_is_no_dump_deletes_nothing) {
  const std::string out = dir / "out";
  fs::create_directories(out);
  test_write_file(out + "/old.csv", "old");
  run_result r = run({"--src=" + any_file(), "--dest=" + out});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out.rfind("Reading file " + (dir / "any.dmp") + "\nError:\n", 0), 0u) << r.out;
  EXPECT_EQ(test_read_file(out + "/old.csv"), "old");
  r = run({"--src=" + any_file(), "--dest=" + (dir / "new")});
  EXPECT_EQ(r.status, 255);
  EXPECT_FALSE(fs::exists(dir / "new"));
}

TEST_F(console_dump, existing_files_are_kept_or_replaced_by_mode) {
  const std::string out = dir / "out";
  run_result r = run({"--src=" + sample_dump, "--dest=" + out, "--silent"});
  SKIP_UNLESS_CONVERTED(r);
  ASSERT_EQ(r.status, 0);
  const std::vector<std::string> names = files(out);
  ASSERT_FALSE(names.empty());
  const std::string first = out + "/" + names[0];
  test_write_file(first, "mine");
  test_write_file(out + "/report.docx", "keep");

  r = run({"--src=" + sample_dump, "--dest=" + out, "--mode=2", "--inc_fnames"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find("Converting table"), std::string::npos) << r.out;
  EXPECT_EQ(test_read_file(first), "mine");

  r = run({"--src=" + sample_dump, "--dest=" + out, "--mode=1", "--n_delim=0"});
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(test_read_file(first), "mine");
  EXPECT_NE(test_read_file(first).find('\t'), std::string::npos);
  EXPECT_EQ(test_read_file(out + "/report.docx"), "keep");

  // Mode 0 refuses a folder that holds a file this program did not write,
  // and deletes nothing.
  test_write_file(first, "mine");
  r = run({"--src=" + sample_dump, "--dest=" + out, "--mode=0"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "Error:\nCannot overwrite the entire folder '" + out +
                       "': it holds files this program did not write (report.docx). Choose a "
                       "new or empty folder, or mode 1 or 2 to keep the folder's other files.\n");
  EXPECT_EQ(test_read_file(first), "mine");
  EXPECT_EQ(test_read_file(out + "/report.docx"), "keep");

  fs::remove(out + "/report.docx");
  r = run({"--src=" + sample_dump, "--dest=" + out, "--mode=0"});
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(test_read_file(first), "mine");
}

// A log file that cannot be written is said once on the console; the
// conversion goes on.
TEST_F(console_dump, a_log_file_that_cannot_be_written_is_reported_once) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  fs::create_symlink("/dev/full", dir / "full.log");
  const run_result r =
      run({"--src=" + sample_dump, "--dest=" + (dir / "out"), "--logfile=" + (dir / "full.log")});
  SKIP_UNLESS_CONVERTED(r);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "Warning: Cannot write the log file '" + (dir / "full.log") +
                       "': No space left on device. The conversion goes on without it.\n");
  EXPECT_EQ(files(dir / "out").size(), 2u);
}

}  // namespace

// --- Catalogue listing and table selection -------------------------------------

TEST_F(console, listing_prints_the_catalogue_without_touching_a_destination) {
  const std::string dump = dir / "sample.dmp";
  ASSERT_TRUE(ora_dump_fx_sample_dump().save(dump));
  run_result r = run({"--src=" + dump, "--list"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Dump: " + dump + " (exp EXPORT:V11.02.00)\nTables: 5\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\nEMP -> emp.csv\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  foreign key FK_DEPTNO (DEPTNO) references DEPT (DEPTNO)\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.err, "");
  // The dump's cache file beside it is all that was written.
  std::vector<std::string> entries;
  for (const auto& e : fs::directory_iterator(dir.path()))
    entries.push_back(e.path().filename().string());
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"sample.dmp", "sample.tvc", "stderr", "stdout"}));

  // A conversion walks the rows; the next listing knows their counts, and
  // --count finds the rest.
  r = run({"--src=" + dump, "--dest=" + (dir / "out"), "--tables=emp,DEPT", "--silent"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(dir / "out")) files.push_back(e.path().filename());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"dept.csv", "emp.csv"}));
  r = run({"--src=" + dump, "--list=json"});
  EXPECT_EQ(r.status, 0) << r.err;
  const nlohmann::json doc = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_FALSE(doc.is_discarded()) << r.out;
  EXPECT_EQ(doc["format"], "exp");
  std::map<std::string, nlohmann::json> rows;
  for (const auto& t : doc["tables"]) rows[t["name"]] = t["rows"];
  EXPECT_EQ(rows["EMP"], 14);
  EXPECT_EQ(rows["DEPT"], 4);
  EXPECT_TRUE(rows["PRODUCTS"].is_null());
  r = run({"--src=" + dump, "--list=json", "--count"});
  const nlohmann::json counted = nlohmann::json::parse(r.out, nullptr, false);
  ASSERT_FALSE(counted.is_discarded()) << r.out;
  for (const auto& [name, n] : ora_dump_fx_sample_tables()) {
    bool found = false;
    for (const auto& t : counted["tables"]) {
      if (t["name"] != name) continue;
      found = true;
      EXPECT_EQ(t["rows"], n) << name;
    }
    EXPECT_TRUE(found) << name;
  }
}

TEST_F(console, listing_and_table_options_are_validated) {
  const std::string dump = dir / "sample.dmp";
  ASSERT_TRUE(ora_dump_fx_sample_dump().save(dump));
  run_result r = run({"--src=" + dump, "--list=xml"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Invalid listing format 'xml' (use --list or --list=json)\n");
  r = run({"--src=" + dump, "--dest=" + (dir / "out"), "--tables=,"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "No table names given with --tables=\n");
  r = run({"--src=" + (dir / "missing.dmp"), "--list"});
  EXPECT_EQ(r.status, 255);
  EXPECT_FALSE(fs::exists(dir / "out"));
}
