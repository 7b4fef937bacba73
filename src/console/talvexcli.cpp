// TALVEXCLI, the console program: turns its options into the converter's
// settings, prepares the destination folder and converts one dump into CSV
// files. Exit status 0 after a conversion has run (level-0 errors included),
// 255 for usage errors and fatal errors.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "TK/tk_exc.h"
#include "TK/tk_fname.h"
#include "TK/tk_log.h"
#include "console/cmd_line.h"
#include "console/tab_file.h"
#include "converter/error_handler.h"
#include "converter/talvex_convertor.h"

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
};

// Matched by prefix, first row wins.
const cmd_option talvex_options[] = {
    {OPT_DEST, "--dest="},       {OPT_HELP, "--help"},          {OPT_INC_FNAMES, "--inc_fnames"},
    {OPT_LOGFILE, "--logfile="}, {OPT_MODE, "--mode="},         {OPT_N_DELIM, "--n_delim="},
    {OPT_PROFILE, "--profile="}, {OPT_SILENT, "--silent"},      {OPT_SRC, "--src="},
    {OPT_TAB_DEF, "--tab_def"},  {OPT_TAB_FILE, "--tab_file="}, {-1, ""},
};

constexpr int talvex_version_major = 8;
constexpr int talvex_version_minor = 3;

std::string usage_text() {
  static const char* const lines[] = {
      "Usage: TALVEXCLI.EXE OPTIONS",
      "",
      "   --dest=...     path to the folder where CSV files will be stored",
      "   --help         display this help message and exit",
      "   --inc_fnames   include Oracle field names into CSV files",
      "   --logfile=...  path to the file where execution trace will be written",
      "   --mode=...     how to process an existing CSV folder",
      "                  (0 - overwrite the entire folder, 1 - overwrite existing",
      "                  files only, 2 - skip existing files)",
      "   --n_delim=...  delimiter symbol to use in the resultinig CSV file",
      "                  (0 - tab, 1 - semicolon, 2 - comma)",
      "   --profile=...  path to the file to load conversion settings from",
      "   --silent       disable program output",
      "   --src=...      Oracle dump file name",
      "   --tab_def      convert table definitions only",
      "   --tab_file=... file containing the list of tables to convert",
      "                  (one table name per line)",
      "",
      "NOTES:",
      "   1) If you omit 'tab_file' parameter, all database tables will be converted.",
      "   2) If you omit 'mode' parameter, default mode 'overwrite the entire",
      "      folder' will be used.",
      "   3) Command line parameters that contain spaces should be enclosed in",
      "      quotes (for example --dest=\"c:\\my database\")",
  };
  std::string text = tk_format("TALVEXCLI v%d.%d", talvex_version_major, talvex_version_minor);
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

// "0", "1" or "2" exactly: the value must print back unchanged as a number,
// so "01", "+1", " 1" and "" are refused.
bool parse_option_index(const char* value, long long& out) {
  out = std::strtoll(value, nullptr, 10);
  return tk_format("%lld", out) == value && out >= 0 && out <= 2;
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

  talvex_convertor& converter = talvex_convertor::instance();
  converter.table_list = tab_file_names(content);
  converter.table_list_file = path;
}

// False when the usage is to be shown.
bool parse_cmd_line(int argc, char** argv) {
  log_message(2, "parse_cmd_line");
  for (int i = 0; i < argc; ++i) log_message(1, "parameter #%d: %s", i, argv[i]);
  talvex_convertor& converter = talvex_convertor::instance();
  ansi_cmd_line cmd(argc, argv, talvex_options);
  for (; cmd.has_more(); cmd.next()) {
    const char* value = cmd.value();
    long long index = 0;
    bool valid = false;
    switch (cmd.option_id()) {
      case OPT_DEST:
        converter.dest_folder = tk_u16(value);
        break;
      case OPT_HELP:
        report_and_exit(usage_text());
      case OPT_INC_FNAMES:
        converter.include_field_names = true;
        break;
      case OPT_LOGFILE:
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
        converter.source_file = tk_u16(value);
        break;
      case OPT_TAB_DEF:
        converter.definitions_only = true;
        break;
      case OPT_TAB_FILE:
        process_tab_file(value);
        break;
      default:
        break;  // collected by the tokenizer
    }
  }
  if (!cmd.unrecognised().empty()) return false;
  if (converter.dest_folder.empty()) report_and_exit("You should enter path to CSV folder");
  if (converter.source_file.empty()) report_and_exit("You should enter Oracle dump file name");
  if (!tk_is_file_exist1(tk_u8(converter.source_file), 0x4000))
    report_and_exit("Source file does not exist.\nPlease verify the correct file name was given.");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  try {
    tk_logger logger(nullptr, false, 3, false);
    error_handler handler;
    talvex_convertor converter;
    try {
      try {
        if (argc < 2 || !parse_cmd_line(argc, argv)) report_and_exit(usage_text());
        converter.check_dest();
        converter();
      } catch (const tk_exception& e) {
        handler.handle(e, 1);
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
