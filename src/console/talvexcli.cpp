// TALVEXCLI, the console program: turns its options into the converter's
// settings, checks the destination folder and converts one dump into CSV
// files. Exit status 0 when every table was converted completely, 1 for a
// partial run (records or tables skipped with errors, a listed table not
// found), 255 for usage errors and fatal errors.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TK/tk_exc.h"
#include "TK/tk_fname.h"
#include "TK/tk_log.h"
#include "console/cmd_line.h"
#include "console/tab_file.h"
#include "converter/error_handler.h"
#include "converter/talvex_catalogue.h"
#include "converter/talvex_convertor.h"
#include "oracle_dump/ora_dump_set.h"

// The program's build target names this file only; the tokenizer is
// compiled into it here.

namespace {

enum : int {
  OPT_DEST = 0,
  OPT_HELP = 1,
  OPT_INC_FNAMES = 2,
  OPT_LOGFILE = 3,
  OPT_MODE = 4,
  OPT_N_DELIM = 5,
  OPT_PROFILE = 6,
  OPT_SILENT = 7,
  OPT_SRC = 8,
  OPT_TAB_DEF = 9,
  OPT_TAB_FILE = 10,
  OPT_SAVE_PROFILE = 11,
  OPT_VERSION = 12,
  OPT_LIST = 13,
  OPT_COUNT = 14,
  OPT_TABLES = 15,
  OPT_EWKT = 16,
  OPT_PARTIAL = 17,
  OPT_JOBS = 18,
};

// Options with a value match by prefix ("--dest=..."), flags only whole;
// the first row that matches wins.
const cmd_option talvex_options[] = {
    {OPT_DEST, "--dest="},
    {OPT_HELP, "--help"},
    {OPT_INC_FNAMES, "--inc_fnames"},
    {OPT_LOGFILE, "--logfile="},
    {OPT_MODE, "--mode="},
    {OPT_N_DELIM, "--n_delim="},
    {OPT_PROFILE, "--profile="},
    {OPT_SILENT, "--silent"},
    {OPT_SRC, "--src="},
    {OPT_TAB_DEF, "--tab_def"},
    {OPT_TAB_FILE, "--tab_file="},
    {OPT_SAVE_PROFILE, "--save_profile="},
    {OPT_VERSION, "--version"},
    {OPT_LIST, "--list="},
    {OPT_LIST, "--list"},
    {OPT_COUNT, "--count"},
    {OPT_TABLES, "--tables="},
    {OPT_EWKT, "--ewkt"},
    {OPT_PARTIAL, "--partial"},
    {OPT_JOBS, "--jobs="},
    {-1, ""},
};

// --list: print the dump's catalogue instead of converting it.
enum class list_mode { none, text, json };
list_mode g_list = list_mode::none;
bool g_count_rows = false;

constexpr int talvex_version_major = 8;
constexpr int talvex_version_minor = 3;

std::string version_text() {
  return tk_format("TALVEXCLI v%d.%d", talvex_version_major, talvex_version_minor);
}

std::string usage_text() {
  static const char* const lines[] = {
      "Usage: TALVEXCLI OPTIONS",
      "",
      "   --count        with --list: count the rows of tables whose count is not",
      "                  recorded in the dump or its cache (reads every row)",
      "   --dest=...     path to the folder where CSV files will be stored",
      "   --ewkt         write spatial values with their SRID (SRID=n;WKT)",
      "   --help         display this help message and exit",
      "   --inc_fnames   include Oracle field names into CSV files",
      "   --jobs=...     number of tables converted at once (default: the number of",
      "                  processors); the output is the same for any number",
      "   --list         print the tables, columns, keys, indexes and sequences of",
      "                  the dump without converting it (--list=json: as JSON)",
      "   --logfile=...  path to the file where execution trace will be written",
      "   --mode=...     how to process an existing CSV folder",
      "                  (0 - overwrite the entire folder, 1 - overwrite existing",
      "                  files only, 2 - skip existing files)",
      "   --n_delim=...  delimiter symbol to use in the resulting CSV file",
      "                  (0 - tab, 1 - semicolon, 2 - comma)",
      "   --partial      convert a multifile dump whose other files are not all present",
      "   --profile=...  path to the file to load conversion settings from",
      "   --save_profile=...",
      "                  path to the file to store the conversion settings in;",
      "                  nothing is converted then",
      "   --silent       disable program output",
      "   --src=...      Oracle dump file name",
      "                  (the first file of a multifile dump; name further files with",
      "                  more --src= options or as one name with %U, e.g. exp%U.dmp)",
      "   --tab_def      convert table definitions only",
      "   --tab_file=... file containing the list of tables to convert",
      "                  (one table name per line)",
      "   --tables=...   comma-separated names of the tables to convert",
      "   --version      display the program's name and version and exit",
      "",
      "NOTES:",
      "   1) If you omit 'tab_file' parameter, all database tables will be converted.",
      "   2) If you omit 'mode' parameter, default mode 'overwrite the entire",
      "      folder' will be used. It empties a folder only when everything in",
      "      it was written by this program (CSV files); choose a new or empty",
      "      folder, or mode 1 or 2, for a folder that holds other files.",
      "   3) Command line parameters that contain spaces should be enclosed in",
      "      quotes (for example --dest=\"/home/me/my database\")",
      "",
      "EXIT STATUS:",
      "   0    every table was converted completely",
      "   1    a partial run: records or tables were skipped with errors, or a",
      "        table named in the 'tab_file' list is not in the dump",
      "   255  a fatal error (invalid options, a dump that cannot be read, ...)",
  };
  std::string text = version_text();
  for (const char* line : lines) {
    text += '\n';
    text += line;
  }
  return text;
}

// Logs the text, shows it on standard error unless silent, and ends the
// process with the failure status.
[[noreturn]] void report_and_exit(const std::string& text) {
  log_message(3, "%s", text.c_str());
  if (!talvex_convertor::instance().silent) console_err(text + "\n");
  throw error_exit{TALVEX_EXIT_FAILURE};
}

// What the user asked for (--help, --version): standard output, status 0.
[[noreturn]] void show_and_exit(const std::string& text) {
  log_message(3, "%s", text.c_str());
  if (!talvex_convertor::instance().silent) console_out(text + "\n");
  throw error_exit{TALVEX_EXIT_SUCCESS};
}

// Arguments that are no option: each is named, then the usage follows.
[[noreturn]] void report_unrecognised(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args)
    text += (arg.rfind("-", 0) == 0 ? "unknown option " : "unexpected argument ") + arg + "\n";
  report_and_exit(text + usage_text());
}

// The values of every "--src=" and "--tab_file=" on the command line: the
// files a log file must never be, known before any option takes effect.
std::vector<std::string> input_files(int argc, char** argv) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i] != nullptr ? argv[i] : "";
    for (const char* prefix : {"--src=", "--tab_file="})
      if (arg.rfind(prefix, 0) == 0 && arg.size() > std::strlen(prefix))
        files.push_back(arg.substr(std::strlen(prefix)));
  }
  return files;
}

// A log file is emptied on its first message: one that names the dump or the
// table list (by device and inode, whatever the spelling) would destroy an
// input of the run, so it is refused before anything is written.
void refuse_log_on_input(const std::string& log, const std::vector<std::string>& inputs) {
  for (const std::string& input : inputs) {
    if (log.empty() || !tk_same_file(log, input)) continue;
    throw tk_exception(tk_format("The log file '%s' is an input of the conversion ('%s'). "
                                 "Choose another log file.",
                                 log.c_str(), input.c_str()),
                       1);
  }
}

void report_log_failure(const std::string& message) {
  const talvex_convertor* converter = talvex_convertor::get();
  if (converter == nullptr || !converter->silent) console_err("Warning: " + message + "\n");
}

// "0", "1" or "2" exactly: the value must print back unchanged as a number,
// so "01", "+1", " 1" and "" are refused.
bool parse_option_index(const char* value, long long& out) {
  out = std::strtoll(value, nullptr, 10);
  return tk_format("%lld", out) == value && out >= 0 && out <= 2;
}

// --jobs=: a whole number from 1 to 256.
bool parse_jobs(const char* value, uint32_t& out) {
  const long long n = std::strtoll(value, nullptr, 10);
  if (tk_format("%lld", n) != value || n < 1 || n > 256) return false;
  out = static_cast<uint32_t>(n);
  return true;
}

void process_tab_file(const std::string& path) {
  log_message(1, "process_tab_file(%s)", path.c_str());
  if (!tk_is_file_exist1(path, 0x4000))
    report_and_exit(
        "Table names file does not exist.\nPlease verify the correct path/name was given.");
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) report_and_exit(tk_format("Cannot read table names file '%s'", path.c_str()));
  std::string content;
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0) content.append(chunk, n);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) report_and_exit(tk_format("Cannot read table names file '%s'", path.c_str()));
  if (!tab_file_is_text(content))
    report_and_exit(
        tk_format("Table names file '%s' is not a text file of table names (UTF-8, "
                  "one name per line).",
                  path.c_str()));

  talvex_convertor& converter = talvex_convertor::instance();
  converter.table_list = tab_file_names(content);
  converter.table_list_file = path;
}

// --tables=A,B,...: the same list a table-list file fills.
void process_tables_option(const std::string& value) {
  std::vector<tk_wstring> names;
  for (const std::string& piece : tk_split(value, ',')) {
    const std::string name = tk_trim(piece);
    if (!name.empty()) names.push_back(tk_u16(name));
  }
  if (names.empty()) report_and_exit("No table names given with --tables=");
  talvex_convertor::instance().table_list = std::move(names);
}

// "--list" or "--list=FORMAT" (the value is what follows the '=').
void process_list_option(const std::string& value) {
  if (value.empty() || value == "text")
    g_list = list_mode::text;
  else if (value == "json")
    g_list = list_mode::json;
  else
    report_and_exit("Invalid listing format '" + value + "' (use --list or --list=json)");
}

// Opens the dump and prints its catalogue; nothing is converted and no
// folder is touched (the dump's cache file aside).
void run_listing() {
  talvex_convertor& converter = talvex_convertor::instance();
  const bool silent = converter.silent;
  // Standard output carries the listing alone.
  converter.set_silent(true);
  converter.opener();
  converter.set_silent(silent);
  ora_dump_file* db = converter.opener.database.get();
  if (db == nullptr) throw tk_exception("The dump file could not be opened", 1);
  const talvex_catalogue cat = talvex_read_catalogue(
      *db, tk_u8(converter.source_file), converter.opener.reader.m_datapump, g_count_rows);
  converter.source_db = std::move(converter.opener.database);
  const std::string text =
      g_list == list_mode::json ? talvex_catalogue_json(cat) : talvex_catalogue_text(cat);
  std::fwrite(text.data(), 1, text.size(), stdout);
}

// The --save_profile= path; none when the options are to be converted.
std::optional<std::string> save_profile_path;

// Stores the settings of the command line as a profile, exactly as the
// converter writes one, when --save_profile= asked for it. True when it did
// (nothing is converted then).
bool save_profile_if_asked() {
  if (!save_profile_path) return false;
  talvex_convertor& converter = talvex_convertor::instance();
  converter.store_profile(tk_u16(*save_profile_path));
  log_message(3, "Settings are stored in profile '%s'", save_profile_path->c_str());
  if (!converter.silent)
    console_out("Settings are stored in profile '" + *save_profile_path + "'\n");
  return true;
}

// A dump file name: an existing file, or a name with %U or %L that stands
// for at least one (the files of a multifile dump).
bool source_exists(const tk_wstring& name) {
  const tk_string path = tk_u8(name);
  if (ora_dump_is_pattern(path)) return !ora_dump_expand_pattern(path).empty();
  return tk_is_file_exist1(path, 0x4000);
}

// The first --src= names the dump; every further one another file of it.
void add_source(talvex_convertor& converter, const char* value, bool& seen) {
  if (!seen) {
    converter.source_file = tk_u16(value);
    converter.source_parts.clear();
    seen = true;
  } else {
    converter.source_parts.push_back(tk_u16(value));
  }
}

// Ends the process for --help, --version and arguments that are no option;
// returns when the conversion may run.
void parse_cmd_line(int argc, char** argv) {
  log_message(2, "parse_cmd_line");
  for (int i = 0; i < argc; ++i) log_message(1, "parameter #%d: %s", i, argv[i]);
  talvex_convertor& converter = talvex_convertor::instance();
  const std::vector<std::string> inputs = input_files(argc, argv);
  for (const std::string& input : inputs) tk_logger::instance().protect(input);
  ansi_cmd_line cmd(argc, argv, talvex_options);
  bool src_seen = false;
  // Tables in parallel, one per processor, unless --jobs= says otherwise.
  converter.parallel_jobs = std::max(1u, std::thread::hardware_concurrency());
  for (; cmd.has_more(); cmd.next()) {
    const char* value = cmd.value();
    long long index = 0;
    bool valid = false;
    switch (cmd.option_id()) {
      case OPT_DEST:
        converter.dest_folder = tk_u16(value);
        break;
      case OPT_HELP:
        show_and_exit(usage_text());
      case OPT_VERSION:
        show_and_exit(version_text());
      case OPT_INC_FNAMES:
        converter.include_field_names = true;
        break;
      case OPT_LOGFILE:
        refuse_log_on_input(value, inputs);
        converter.set_logfile(value);
        break;
      case OPT_MODE:
        valid = parse_option_index(value, index);
        log_message(2, "\tgot mode %lld", index);
        if (!valid) report_and_exit("Invalid merge/overwrite mode");
        converter.existing_folder_mode = static_cast<int32_t>(index);
        break;
      case OPT_N_DELIM:
        valid = parse_option_index(value, index);
        log_message(2, "\tgot delim %lld", index);
        if (!valid) report_and_exit("Invalid CSV delimiter");
        converter.delimiter_index = static_cast<uint32_t>(index);
        break;
      case OPT_PROFILE:
        converter.load_profile(tk_u16(value));
        break;
      case OPT_SILENT:
        converter.set_silent(true);
        error_handler::instance().silent = true;
        break;
      case OPT_SRC:
        add_source(converter, value, src_seen);
        break;
      case OPT_PARTIAL:
        converter.allow_partial = true;
        break;
      case OPT_TAB_DEF:
        converter.definitions_only = true;
        break;
      case OPT_TAB_FILE:
        process_tab_file(value);
        break;
      case OPT_SAVE_PROFILE:
        save_profile_path = value;
        break;
      case OPT_LIST:
        process_list_option(value);
        break;
      case OPT_COUNT:
        g_count_rows = true;
        break;
      case OPT_TABLES:
        process_tables_option(value);
        break;
      case OPT_EWKT:
        converter.ewkt = true;
        break;
      case OPT_JOBS:
        if (!parse_jobs(value, converter.parallel_jobs))
          report_and_exit("Invalid number of jobs (--jobs= takes a number from 1 to 256)");
        break;
      default:
        break;  // collected by the tokenizer
    }
  }
  if (!cmd.unrecognised().empty()) report_unrecognised(cmd.unrecognised());
  // A profile may leave the source or the destination to the command line
  // of the run that loads it.
  if (save_profile_path) return;
  // A listing touches no folder.
  if (converter.dest_folder.empty() && g_list == list_mode::none)
    report_and_exit("You should enter path to CSV folder");
  if (converter.source_file.empty()) report_and_exit("You should enter Oracle dump file name");
  const std::string source = tk_u8(converter.source_file);
  if (!source_exists(converter.source_file))
    report_and_exit(tk_format(
        "Source file '%s' does not exist.\nPlease verify the correct file name was given.",
        source.c_str()));
  std::vector<tk_string> inputs_to_keep = {source, converter.table_list_file};
  for (const tk_wstring& part : converter.source_parts) {
    const tk_string path = tk_u8(part);
    if (!source_exists(part))
      report_and_exit("Source file '" + path +
                      "' does not exist.\nPlease verify the correct file name was given.");
    inputs_to_keep.push_back(path);
  }
  // Settings that came from elsewhere than the command line: the same rule.
  refuse_log_on_input(converter.log_file, inputs_to_keep);
  for (const tk_string& input : inputs_to_keep) tk_logger::instance().protect(input);
}

}  // namespace

int main(int argc, char** argv) {
  // Progress lines reach a terminal or pipe as they are printed.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  int status = 0;
  try {
    tk_logger logger(nullptr, false, 3, false);
    logger.set_failure_reporter(report_log_failure);
    error_handler handler;
    talvex_convertor converter;
    try {
      try {
        if (argc < 2) report_and_exit(usage_text());
        parse_cmd_line(argc, argv);
        if (g_list != list_mode::none) {
          run_listing();
          status = converter.exit_status();
        } else if (!save_profile_if_asked()) {
          converter.check_dest();
          converter();
          status = converter.exit_status();
        }
      } catch (const tk_exception& e) {
        // Returns only for level 0: something was skipped.
        handler.handle(e, 1);
        status = TALVEX_EXIT_PARTIAL;
      } catch (const std::exception& e) {
        report_and_exit(e.what());
      }
    } catch (const error_exit& exit) {
      status = exit.status;
    }
  } catch (const error_exit& exit) {
    status = exit.status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    status = TALVEX_EXIT_FAILURE;
  } catch (...) {
    status = TALVEX_EXIT_FAILURE;
  }
  std::fflush(stdout);
  return status;
}
