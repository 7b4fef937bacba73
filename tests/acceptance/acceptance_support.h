// Helpers of the acceptance tests: running TALVEXCLI as a child process,
// reading the corpus manifest, parsing the CSV files it writes, and the
// companion SQL scripts that hold the expected values.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// --- Corpus manifest --------------------------------------------------------

struct ora_dump_manifest_table {
  std::string name;  // as the manifest writes it, e.g. SYSTEM.EMP
  long rows = 0;
  bool approximate = false;  // the count was written with a leading ~
  std::string geometry;      // the SDO_GEOMETRY column, from "(geometry: NAME)"
};

struct ora_dump_manifest_entry {
  std::string file;
  std::string folder;  // classic, datapump, ...
  bool no_tables = false;
  std::vector<ora_dump_manifest_table> tables;
};

// Reads the "Expected rows per table" lists of MANIFEST.md: every line
// "- **file**: TABLE n, TABLE n, ..." (or "no tables") under a heading that
// names its folder as "(folder/)". Keyed by file name.
std::map<std::string, ora_dump_manifest_entry> ora_dump_manifest_parse(std::string_view text);

// --- CSV --------------------------------------------------------------------

// RFC 4180 records: fields split at the delimiter, quoted fields may hold
// the delimiter, doubled quotes and line breaks, records end with LF or
// CR LF. A leading UTF-8 byte-order mark is skipped. Returns false for an
// unterminated quoted field (the records read so far are kept).
bool csv_test_parse(std::string_view content, char delimiter,
                    std::vector<std::vector<std::string>>& records);

// A CSV file read back: the header line and the records after it.
struct csv_test_table {
  bool ok = false;  // the file was read and parsed
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;

  int column(std::string_view name) const;  // -1 when absent
  // The first row whose column has that value; nullptr when none.
  const std::vector<std::string>* find(std::string_view column, std::string_view value) const;
  // The value of a column in a row; empty when the column is absent.
  std::string value(const std::vector<std::string>& row, std::string_view column) const;
  // All values of one column.
  std::vector<std::string> values(std::string_view column) const;
};

csv_test_table csv_test_read_table(const std::string& path, char delimiter = ',');

// File name a table name gets: ASCII letters lower-cased, letters and digits
// of any script, '_' and '-' kept, every other character replaced by '_',
// then ".csv".
std::string csv_test_file_name(std::string_view table);

// Pairs manifest table names with the CSV files of a conversion (base names
// without ".csv"). A table name may reach the catalogue with or without an
// owner or tablespace qualifier, so candidates are tried in rounds: the full
// name, the name without its owner, a file ending in "_" + full name, a file
// ending in "_" + short name; in each round a table takes a file only when
// exactly one free file fits. Unmatched tables map to an empty string.
std::map<std::string, std::string> csv_test_match_tables(const std::vector<std::string>& tables,
                                                         const std::vector<std::string>& files);

// --- Companion SQL scripts --------------------------------------------------

// Values of every "INSERT INTO <table> ... VALUES (...)" statement (table
// compared without case), one vector per statement. String literals lose
// their quotes ('' becomes '), upper('x') becomes X, other items are kept as
// written and trimmed.
std::vector<std::vector<std::string>> sql_test_insert_values(std::string_view script,
                                                             std::string_view table);

// Column names of "CREATE TABLE <table> ( ... )" in a DDL script, upper-cased;
// constraint clauses are left out. Empty when the table is not there.
std::vector<std::string> sql_test_create_columns(std::string_view script, std::string_view table);

// --- Files, processes and text ----------------------------------------------

std::string tk_test_read_file(const std::string& path);
bool tk_test_write_file(const std::string& path, std::string_view content);
bool tk_test_exists(const std::string& path);

// Text converted between character sets with iconv; nullopt on failure.
std::optional<std::string> tk_test_iconv(std::string_view text, const char* from, const char* to);

// A fresh directory under the system's temporary folder, removed with its
// contents on destruction (kept when TALVEX_KEEP_TEST_OUTPUT is set).
class tk_test_temp_dir {
 public:
  tk_test_temp_dir();
  ~tk_test_temp_dir();
  tk_test_temp_dir(const tk_test_temp_dir&) = delete;
  tk_test_temp_dir& operator=(const tk_test_temp_dir&) = delete;
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

struct tk_test_process_result {
  bool started = false;
  bool timed_out = false;
  bool signaled = false;
  int signal = 0;
  int exit_code = -1;  // the low 8 bits of the status; -1 from the program is 255
  std::string out;
  std::string err;
};

// Runs program with the arguments (argv[0] is the program), standard output
// and standard error captured, the variables of env added to the
// environment. A child still running after timeout_seconds is killed.
tk_test_process_result tk_test_run(const std::string& program, const std::vector<std::string>& args,
                                   const std::vector<std::pair<std::string, std::string>>& env,
                                   int timeout_seconds);

// One TALVEXCLI run: --src=<dump> --dest=<fresh dir>/csv --n_delim=2
// --logfile=<fresh dir>/trace.log, with HOME pointing into the fresh folder
// so that nothing outside it is touched.
struct talvex_test_conversion {
  tk_test_temp_dir work;
  std::string dest;
  std::string log_path;
  tk_test_process_result result;
  std::string log;

  std::vector<std::string> csv_files() const;  // base names without ".csv", sorted
  std::string csv_path(const std::string& base) const;
};

// Runs the conversion; extra arguments are appended after the standard ones.
void talvex_test_convert(talvex_test_conversion& conversion, const std::string& dump,
                         const std::vector<std::string>& extra_args = {},
                         int timeout_seconds = 600);

// Lines of out, err and log that contain "Error:", "WARNING" or the
// multi-file warning: none are expected from a clean conversion.
std::vector<std::string> talvex_test_complaints(const talvex_test_conversion& conversion);
