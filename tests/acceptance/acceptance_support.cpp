// Helpers of the acceptance tests: manifest and CSV parsing, companion SQL
// scripts, temporary folders and running TALVEXCLI as a child process.
#include "acceptance_support.h"

#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

static std::string trim(std::string_view text) {
  const size_t b = text.find_first_not_of(" \t\r\n");
  if (b == std::string_view::npos) return {};
  const size_t e = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(b, e - b + 1));
}

static std::string ascii_upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

static bool ascii_iequal(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ascii_upper(a) == ascii_upper(b);
}

// --- Manifest ---------------------------------------------------------------

std::map<std::string, ora_dump_manifest_entry> ora_dump_manifest_parse(std::string_view text) {
  std::map<std::string, ora_dump_manifest_entry> out;
  std::string folder;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string line = trim(text.substr(pos, end - pos));
    pos = end + 1;

    if (line.rfind("## ", 0) == 0) {
      folder.clear();
      const size_t close = line.rfind("/)");
      const size_t open = close == std::string::npos ? close : line.rfind('(', close);
      if (open != std::string::npos) folder = line.substr(open + 1, close - open - 1);
      continue;
    }
    if (line.rfind("- **", 0) != 0) continue;
    const size_t name_end = line.find("**:", 4);
    if (name_end == std::string::npos) continue;

    ora_dump_manifest_entry entry;
    entry.file = line.substr(4, name_end - 4);
    entry.folder = folder;
    const std::string list = trim(std::string_view(line).substr(name_end + 3));
    if (list == "no tables") {
      entry.no_tables = true;
    } else {
      std::stringstream items(list);
      std::string item;
      while (std::getline(items, item, ',')) {
        item = trim(item);
        // "NAME n (geometry: COLUMN)": the spatial dumps name their column.
        std::string geometry;
        if (const size_t open = item.find(" (geometry: "); open != std::string::npos) {
          const size_t close = item.find(')', open);
          geometry = trim(std::string_view(item).substr(open + 12, close - open - 12));
          item = trim(std::string_view(item).substr(0, open));
        }
        const size_t space = item.rfind(' ');
        if (space == std::string::npos) continue;
        ora_dump_manifest_table table;
        table.name = trim(std::string_view(item).substr(0, space));
        std::string count = item.substr(space + 1);
        if (!count.empty() && count[0] == '~') {
          table.approximate = true;
          count.erase(0, 1);
        }
        table.rows = std::strtol(count.c_str(), nullptr, 10);
        table.geometry = geometry;
        entry.tables.push_back(table);
      }
    }
    out[entry.file] = entry;
  }
  return out;
}

// --- CSV --------------------------------------------------------------------

bool csv_test_parse(std::string_view content, char delimiter,
                    std::vector<std::vector<std::string>>& records) {
  records.clear();
  if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);
  std::vector<std::string> record;
  std::string field;
  bool quoted = false;  // inside a quoted field
  bool any = false;     // the current record has begun
  size_t i = 0;
  auto end_field = [&] {
    record.push_back(field);
    field.clear();
  };
  auto end_record = [&] {
    end_field();
    records.push_back(record);
    record.clear();
    any = false;
  };
  while (i < content.size()) {
    const char c = content[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < content.size() && content[i + 1] == '"') {
          field += '"';
          i += 2;
          continue;
        }
        quoted = false;
      } else {
        field += c;
      }
      ++i;
      continue;
    }
    if (c == '"' && field.empty()) {
      quoted = true;
      any = true;
    } else if (c == delimiter) {
      end_field();
      any = true;
    } else if (c == '\n') {
      if (!field.empty() && field.back() == '\r') field.pop_back();
      end_record();
    } else {
      field += c;
      any = true;
    }
    ++i;
  }
  if (quoted) {
    if (any) end_record();
    return false;
  }
  if (any || !field.empty()) {
    if (!field.empty() && field.back() == '\r') field.pop_back();
    end_record();
  }
  return true;
}

int csv_test_table::column(std::string_view name) const {
  for (size_t i = 0; i < header.size(); ++i) {
    if (header[i] == name) return static_cast<int>(i);
  }
  return -1;
}

const std::vector<std::string>* csv_test_table::find(std::string_view column_name,
                                                     std::string_view value) const {
  const int c = column(column_name);
  if (c < 0) return nullptr;
  for (const auto& row : rows) {
    if (static_cast<size_t>(c) < row.size() && row[static_cast<size_t>(c)] == value) return &row;
  }
  return nullptr;
}

std::string csv_test_table::value(const std::vector<std::string>& row,
                                  std::string_view column_name) const {
  const int c = column(column_name);
  if (c < 0 || static_cast<size_t>(c) >= row.size()) return {};
  return row[static_cast<size_t>(c)];
}

std::vector<std::string> csv_test_table::values(std::string_view column_name) const {
  std::vector<std::string> out;
  for (const auto& row : rows) out.push_back(value(row, column_name));
  return out;
}

csv_test_table csv_test_read_table(const std::string& path, char delimiter) {
  csv_test_table table;
  if (!tk_test_exists(path)) return table;
  std::vector<std::vector<std::string>> records;
  table.ok = csv_test_parse(tk_test_read_file(path), delimiter, records);
  if (!records.empty()) {
    table.header = records.front();
    table.rows.assign(records.begin() + 1, records.end());
  }
  return table;
}

std::string csv_test_file_name(std::string_view table) {
  std::string out;
  for (const char ch : table) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x80 || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '_' || c == '-') {
      out += ch;  // bytes of non-ASCII letters pass unchanged
    } else if (c >= 'A' && c <= 'Z') {
      out += static_cast<char>(c - 'A' + 'a');
    } else {
      out += '_';
    }
  }
  return out + ".csv";
}

static std::string base_of(std::string_view table) {
  std::string name = csv_test_file_name(table);
  name.resize(name.size() - 4);
  return name;
}

std::map<std::string, std::string> csv_test_match_tables(const std::vector<std::string>& tables,
                                                         const std::vector<std::string>& files) {
  std::map<std::string, std::string> out;
  std::vector<bool> taken(files.size(), false);
  for (const std::string& t : tables) out[t];

  auto ends_with = [](const std::string& s, const std::string& tail) {
    return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
  };
  for (int round = 0; round < 4; ++round) {
    for (const std::string& t : tables) {
      if (!out[t].empty()) continue;
      const std::string full = base_of(t);
      const size_t dot = t.rfind('.');
      const std::string brief = dot == std::string::npos ? full : base_of(t.substr(dot + 1));
      std::vector<size_t> fits;
      for (size_t i = 0; i < files.size(); ++i) {
        if (taken[i]) continue;
        const std::string& f = files[i];
        const bool fit = round == 0   ? f == full
                         : round == 1 ? f == brief
                         : round == 2 ? ends_with(f, "_" + full)
                                      : ends_with(f, "_" + brief);
        if (fit) fits.push_back(i);
      }
      if (fits.size() == 1) {
        taken[fits[0]] = true;
        out[t] = files[fits[0]];
      }
    }
  }
  return out;
}

// --- Companion SQL scripts --------------------------------------------------

static size_t find_ci(std::string_view text, std::string_view what, size_t from) {
  const std::string upper_text = ascii_upper(text);
  const std::string upper_what = ascii_upper(what);
  return upper_text.find(upper_what, from);
}

static bool is_word_char(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// The items of a parenthesised list starting at text[open] == '(': split at
// top-level commas, quotes respected. Sets end to the closing parenthesis.
static std::vector<std::string> split_items(std::string_view text, size_t open, size_t& end) {
  std::vector<std::string> items;
  std::string item;
  int depth = 0;
  bool in_quote = false;
  for (size_t i = open; i < text.size(); ++i) {
    const char c = text[i];
    if (in_quote) {
      item += c;
      if (c == '\'') in_quote = false;
      continue;
    }
    if (c == '\'') {
      in_quote = true;
      item += c;
    } else if (c == '(') {
      if (depth++ > 0) item += c;
    } else if (c == ')') {
      if (--depth == 0) {
        items.push_back(trim(item));
        end = i;
        return items;
      }
      item += c;
    } else if (c == ',' && depth == 1) {
      items.push_back(trim(item));
      item.clear();
    } else {
      item += c;
    }
  }
  end = text.size();
  return items;
}

static std::string literal_value(std::string item) {
  bool upper = false;
  if (item.size() > 7 && ascii_upper(item.substr(0, 6)) == "UPPER(" && item.back() == ')') {
    upper = true;
    item = trim(item.substr(6, item.size() - 7));
  }
  if (item.size() >= 2 && item.front() == '\'' && item.back() == '\'') {
    std::string out;
    for (size_t i = 1; i + 1 < item.size(); ++i) {
      out += item[i];
      if (item[i] == '\'' && i + 2 < item.size() && item[i + 1] == '\'') ++i;
    }
    item = out;
  }
  return upper ? ascii_upper(item) : item;
}

std::vector<std::vector<std::string>> sql_test_insert_values(std::string_view script,
                                                             std::string_view table) {
  std::vector<std::vector<std::string>> out;
  size_t pos = 0;
  while ((pos = find_ci(script, "insert into", pos)) != std::string_view::npos) {
    size_t p = pos + 11;
    while (p < script.size() &&
           (script[p] == ' ' || script[p] == '\t' || script[p] == '\n' || script[p] == '\r')) {
      ++p;
    }
    size_t q = p;
    while (q < script.size() && (is_word_char(script[q]) || script[q] == '"')) ++q;
    std::string name(script.substr(p, q - p));
    name.erase(std::remove(name.begin(), name.end(), '"'), name.end());
    pos = q;
    if (!ascii_iequal(name, table)) continue;
    const size_t values = find_ci(script, "values", q);
    if (values == std::string_view::npos) break;
    const size_t open = script.find('(', values);
    if (open == std::string_view::npos) break;
    size_t end = open;
    std::vector<std::string> items = split_items(script, open, end);
    for (std::string& item : items) item = literal_value(item);
    out.push_back(items);
    pos = end;
  }
  return out;
}

std::vector<std::string> sql_test_create_columns(std::string_view script, std::string_view table) {
  size_t pos = 0;
  while ((pos = find_ci(script, "create table", pos)) != std::string_view::npos) {
    size_t p = pos + 12;
    while (p < script.size() && !is_word_char(script[p]) && script[p] != '"') ++p;
    size_t q = p;
    while (q < script.size() && (is_word_char(script[q]) || script[q] == '"')) ++q;
    std::string name(script.substr(p, q - p));
    name.erase(std::remove(name.begin(), name.end(), '"'), name.end());
    pos = q;
    if (!ascii_iequal(name, table)) continue;
    const size_t open = script.find('(', q);
    if (open == std::string_view::npos) return {};
    size_t end = open;
    std::vector<std::string> columns;
    for (const std::string& item : split_items(script, open, end)) {
      std::string first;
      for (const char c : item) {
        if (!is_word_char(c) && c != '"') break;
        first += c;
      }
      first.erase(std::remove(first.begin(), first.end(), '"'), first.end());
      const std::string upper = ascii_upper(first);
      if (upper.empty() || upper == "CONSTRAINT" || upper == "PRIMARY" || upper == "UNIQUE" ||
          upper == "FOREIGN" || upper == "CHECK") {
        continue;
      }
      columns.push_back(upper);
    }
    return columns;
  }
  return {};
}

// --- Files, processes and text ----------------------------------------------

std::string tk_test_read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream buffer;
  buffer << file.rdbuf();
  return buffer.str();
}

bool tk_test_write_file(const std::string& path, std::string_view content) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(content.data(), static_cast<std::streamsize>(content.size()));
  return static_cast<bool>(file);
}

bool tk_test_exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

std::optional<std::string> tk_test_iconv(std::string_view text, const char* from, const char* to) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  std::string in(text);
  char* in_ptr = in.data();
  size_t in_left = in.size();
  char buffer[4096];
  bool ok = true;
  while (in_left > 0) {
    char* out_ptr = buffer;
    size_t out_left = sizeof buffer;
    const size_t r = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    out.append(buffer, sizeof buffer - out_left);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      ok = false;
      break;
    }
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  return out;
}

tk_test_temp_dir::tk_test_temp_dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "talvex-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) m_path = pattern;
}

tk_test_temp_dir::~tk_test_temp_dir() {
  if (m_path.empty() || std::getenv("TALVEX_KEEP_TEST_OUTPUT") != nullptr) return;
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

tk_test_process_result tk_test_run(const std::string& program, const std::vector<std::string>& args,
                                   const std::vector<std::pair<std::string, std::string>>& env,
                                   int timeout_seconds) {
  tk_test_process_result result;
  tk_test_temp_dir capture;
  if (capture.path().empty()) return result;
  const std::string out_path = capture.path() + "/stdout";
  const std::string err_path = capture.path() + "/stderr";

  std::vector<std::string> env_strings;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const std::string entry = *e;
    const bool replaced = std::any_of(env.begin(), env.end(), [&entry](const auto& kv) {
      return entry.rfind(kv.first + "=", 0) == 0;
    });
    if (!replaced) env_strings.push_back(entry);
  }
  for (const auto& kv : env) env_strings.push_back(kv.first + "=" + kv.second);
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);

  std::vector<std::string> arg_strings = args;
  if (arg_strings.empty()) arg_strings.push_back(program);
  std::vector<char*> argv;
  for (std::string& s : arg_strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return result;
  result.started = true;

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) break;
    if (std::chrono::steady_clock::now() > deadline) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signaled = true;
    result.signal = WTERMSIG(status);
  }
  result.out = tk_test_read_file(out_path);
  result.err = tk_test_read_file(err_path);
  return result;
}

std::vector<std::string> talvex_test_conversion::csv_files() const {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dest, ec)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name.size() > 4 && name.substr(name.size() - 4) == ".csv") {
      out.push_back(name.substr(0, name.size() - 4));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string talvex_test_conversion::csv_path(const std::string& base) const {
  return dest + "/" + base + ".csv";
}

void talvex_test_convert(talvex_test_conversion& conversion, const std::string& dump,
                         const std::vector<std::string>& extra_args, int timeout_seconds) {
  conversion.dest = conversion.work.path() + "/csv";
  conversion.log_path = conversion.work.path() + "/trace.log";
  const std::string home = conversion.work.path() + "/home";
  std::filesystem::create_directories(home);
  std::vector<std::string> args = {TALVEXCLI_PATH, "--src=" + dump, "--dest=" + conversion.dest,
                                   "--n_delim=2", "--logfile=" + conversion.log_path};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  conversion.result =
      tk_test_run(TALVEXCLI_PATH, args, {{"HOME", home}, {"XDG_CACHE_HOME", home + "/.cache"}},
                  timeout_seconds);
  conversion.log = tk_test_read_file(conversion.log_path);
}

std::vector<std::string> talvex_test_complaints(const talvex_test_conversion& conversion) {
  std::vector<std::string> out;
  const std::pair<const char*, const std::string*> sources[] = {{"stdout", &conversion.result.out},
                                                                {"stderr", &conversion.result.err},
                                                                {"log", &conversion.log}};
  for (const auto& [where, text] : sources) {
    std::stringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.find("Error:") != std::string::npos || line.find("WARNING") != std::string::npos ||
          line.find("Warning:") != std::string::npos ||
          line.find("multifile") != std::string::npos ||
          line.find("multi-file") != std::string::npos) {
        out.push_back(std::string(where) + ": " + line);
      }
    }
  }
  return out;
}
