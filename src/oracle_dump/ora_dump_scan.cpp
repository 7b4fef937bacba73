// Classic catalogue scan.
//
// A classic dump is a stream of SQL statements, one per line, interleaved with
// binary row data. Statements are recognised by the first word after a line
// feed; row data that happens to hold a line feed followed by such a word is
// the price of a format without an index.
#include "oracle_dump/ora_dump_scan.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"
#include "oracle_dump/ora_dump_search.h"

namespace {

// The first letters of the statements the scan looks for.
struct byte_flags {
  bool flags[256] = {};
  constexpr explicit byte_flags(const char* letters) {
    for (; *letters != 0; ++letters) flags[static_cast<uint8_t>(*letters)] = true;
  }
};
constexpr byte_flags k_statement_first("CBTAI");

class classic_scan {
 public:
  classic_scan(ora_dump_stream& s, ora_dump_file::context& ctx, const ora_charsets& cs,
               bool qualify, const std::function<void(int64_t)>& progress)
      : m_s(s),
        m_ctx(ctx),
        m_cs(cs),
        m_qualify(qualify),
        m_progress(progress),
        m_header_user(ctx.m_str_username) {}

  void run();

 private:
  // One walk over the statements; false when it stopped at the first
  // CONNECT statement of a dump whose earlier tables must then be named by
  // the header's user, and must be walked again.
  bool walk();
  void restart();
  void finish();  // closes the last section and settles the names
  // A CONNECT statement begins at `at`: a line of CONNECT and one name.
  bool connect_at(int64_t at) const;
  // A CONNECT statement begins after a line feed at or after a and before
  // b (text that the walk read as part of other statements).
  bool connect_between(int64_t a, int64_t b) const;
  void report_progress(int64_t pos) {
    // Shown only: once per 256 KiB is enough, and cheap.
    if (m_progress && pos >= m_next_progress) {
      m_progress(pos);
      m_next_progress = pos + (int64_t{1} << 18);
    }
  }

  tk_wstring text(std::string_view bytes) const {
    tk_wstring out;
    m_cs.decode(m_cs.m_client_id, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                out);
    return out;
  }
  std::string qualify(const std::string& name) const {
    if (m_qualify && !m_user.empty()) return m_user + "." + name;
    return name;
  }
  table_pos* current() {
    if (m_current.empty()) return nullptr;
    auto it = m_tables.find(m_current);
    return it == m_tables.end() ? nullptr : &it->second;
  }

  void parse_table_description(int64_t pos);
  void parse_index(bool unique);
  void parse_sequence();
  bool parse_alter();
  void parse_insert(int64_t pos);

  ora_dump_stream& m_s;
  ora_dump_file::context& m_ctx;
  const ora_charsets& m_cs;
  bool m_qualify;
  const std::function<void(int64_t)>& m_progress;

  ora_table_map& m_tables = *m_ctx.m_pmap_tables;
  std::map<tk_wstring, tk_wstring> m_unique;      // plain name -> full name, met once
  std::map<tk_wstring, tk_wstring> m_non_unique;  // plain name -> full name, met again
  tk_wstring m_current;                           // full name of the table whose section is read
  tk_wstring m_current_plain;                     // its plain name
  int64_t m_current_create_end = -1;              // the line feed ending its CREATE TABLE
  std::string m_user;                             // user of the last CONNECT statement
  std::string m_header_user;                      // the exporting user of the header
  // The walk looks out for the first CONNECT statement: until one turns up,
  // nothing is named by the header's user.
  bool m_watch_connect = false;
  int64_t m_scan_start = 0;
  int64_t m_seen_to = 0;  // line feeds before it were looked at
  int64_t m_next_progress = 0;
  ora_table_map m_tables_at_start;
  size_t m_sequences_at_start = 0;
};

bool find_line_end(ora_dump_stream& s, int64_t& lf) {
  lf = s.find_byte('\n', s.tell());
  return lf >= 0;
}

// A CONNECT statement is a line of its own: CONNECT and one user name (the
// words CONNECT BY inside a view's text do not count).
bool classic_scan::connect_at(int64_t at) const {
  static const char k_connect[] = "CONNECT ";
  if (at - 1 < m_scan_start || m_s.byte_at(at - 1) != '\n') return false;
  char word[sizeof k_connect - 1];
  if (m_s.read_at(at, word, sizeof word) != sizeof word ||
      std::memcmp(word, k_connect, sizeof word) != 0)
    return false;
  const int64_t w = at + static_cast<int64_t>(sizeof word);
  int64_t q = w;
  int c = m_s.byte_at(q);
  while (c >= 0 && !ora_dump_stream::is_blank(static_cast<uint8_t>(c))) c = m_s.byte_at(++q);
  return q > w && c == '\n';
}

bool classic_scan::connect_between(int64_t a, int64_t b) const {
  static const char k_connect[] = "\nCONNECT ";
  const int64_t to = std::min(m_s.size(), b + static_cast<int64_t>(sizeof k_connect - 2));
  for (int64_t p = a; p < b;) {
    const int64_t hit = m_s.find(k_connect, sizeof k_connect - 1, p, to);
    if (hit < 0 || hit >= b) return false;
    if (connect_at(hit + 1)) return true;
    p = hit + 1;
  }
  return false;
}

void classic_scan::restart() {
  m_tables = m_tables_at_start;
  while (m_ctx.m_sequences.size() > m_sequences_at_start) m_ctx.m_sequences.pop_back();
  m_unique.clear();
  m_non_unique.clear();
  m_current.clear();
  m_current_plain.clear();
  m_current_create_end = -1;
  m_user = m_header_user;
  m_watch_connect = false;
  m_s.seek(m_scan_start);
  log_message(1, "A CONNECT statement follows: the scan starts again with the header's user");
}

void classic_scan::run() {
  // In a dump that switches users with CONNECT statements, the statements
  // before the first CONNECT belong to the exporting user named in the
  // header: name those tables by owner too, so one table never ends up under
  // two names when its section appears before and after a CONNECT. Most
  // dumps hold no CONNECT: the walk assumes none and starts again (walking
  // the statements before the CONNECT twice) when it meets the first.
  m_scan_start = m_s.tell();
  m_seen_to = m_scan_start;
  m_watch_connect = m_qualify && !m_header_user.empty();
  m_tables_at_start = m_tables;
  m_sequences_at_start = m_ctx.m_sequences.size();
  while (!walk()) restart();
  finish();
}

bool classic_scan::walk() {
  bool reuse = false;
  int64_t pos = m_s.tell();
  while (!m_s.at_end()) {
    if (!reuse) {
      // Line feeds that other statements took in were not looked at.
      const int64_t from = m_s.tell();
      if (m_watch_connect && from > m_seen_to && connect_between(m_seen_to, from)) return false;
      // The next line that may start a statement (the rest cannot).
      const int64_t lf = m_s.find_byte_near('\n', nullptr, k_statement_first.flags, from);
      if (lf < 0) {
        m_s.seek(m_s.size());
        m_seen_to = m_s.size();
        break;
      }
      pos = lf + 1;
      m_s.seek(pos);
      m_seen_to = pos;
      report_progress(pos);
      // A statement word begins right at the line start.
      const uint8_t* c = m_s.peek(1);
      if (c == nullptr) break;
      if (*c != 'C' && *c != 'B' && *c != 'T' && *c != 'A' && *c != 'I') continue;
    }
    reuse = false;
    const std::string_view word = m_s.read_word();
    if (word == "CONNECT") {
      if (m_watch_connect && connect_at(m_s.tell() - 7)) return false;
      if (m_qualify) {
        m_user = std::string(m_s.read_word());
        log_message(1, "Got __CONNECT at %lld", static_cast<long long>(pos));
      }
    } else if (word == "BEGINSYNONYM4TYPE") {
      int64_t at = 0;
      seek_to_symbols(m_s, "ENDSYNONYM4TYPE", at);
    } else if (word == "CREATE") {
      // A copy: the next read_word may reuse the buffer of a word that
      // crosses from one file of the dump into the next.
      std::string w(m_s.read_word());
      // A global temporary table holds no rows in a dump but is a table the
      // user expects to see.
      if (w == "GLOBAL" && m_s.read_word() == "TEMPORARY") w = m_s.read_word();
      if (w == "TABLE") {
        parse_table_description(pos);
      } else {
        bool unique = false;
        if (w == "UNIQUE") {
          unique = true;
          w = m_s.read_word();
        }
        if (w == "INDEX") {
          parse_index(unique);
          reuse = true;
        } else if (w == "SEQUENCE") {
          parse_sequence();
        }
      }
    } else if (word == "TABLE") {
      const int64_t after_word = m_s.tell();
      m_s.read_word();
      uint8_t b = 0;
      if (m_s.read_u8(b) && b == '\n') {
        // A table header line closes the section of the table before it.
        m_s.seek(m_s.tell() - 1);
        if (table_pos* t = current()) {
          t->end_pos = pos;
          log_message(1, "Store end pos. for previous table '%s': %lld", tk_u8(m_current).c_str(),
                      static_cast<long long>(pos));
        }
        m_current.clear();
        m_current_plain.clear();
      } else {
        m_s.seek(after_word);
      }
    } else if (word == "ALTER") {
      if (m_s.read_word() == "TABLE" && parse_alter()) reuse = true;
    } else if (word == "INSERT") {
      parse_insert(pos);
    }
  }
  return !(m_watch_connect && connect_between(m_seen_to, m_s.size()));
}

void classic_scan::finish() {
  // exp follows a table's CREATE TABLE line with its INSERT line, or with
  // other statements and at last EXIT. A file that ends before the line
  // after the CREATE TABLE is complete was cut there: a section pointing at
  // that spot lets reading the table report the rows as missing.
  if (table_pos* t = current(); t != nullptr && t->v_data_start_pos.empty()) {
    const int64_t next = m_current_create_end + 1;
    if (next <= m_s.size() && m_s.find_byte('\n', next) < 0) {
      log_message(1, "The file ends after the CREATE TABLE at %lld",
                  static_cast<long long>(m_current_create_end));
      t->v_data_start_pos.push_back(next);
    }
  }
  if (!m_tables.empty()) {
    if (table_pos* t = current()) {
      t->end_pos = m_s.size();
    } else {
      table_pos& last = m_tables.rbegin()->second;
      if (last.end_pos == 0) last.end_pos = m_s.size();
    }
  }
  m_s.seek(0);

  // Tables met once are known by their plain name.
  for (const auto& [plain, full] : m_unique) {
    if (plain == full) continue;
    auto it = m_tables.find(full);
    if (it == m_tables.end()) continue;
    table_pos moved = std::move(it->second);
    m_tables.erase(it);
    m_tables[plain] = std::move(moved);
  }
}

void classic_scan::parse_table_description(int64_t pos) {
  const std::string head = read_name_before_paren(m_s);
  if (head.empty()) return;
  if (head.find(" OF XMLTYPE ") != std::string::npos) {
    log_message(1, "Table of XML TYPE found at position %lld, skip it",
                static_cast<long long>(pos));
    return;
  }
  const std::string plain = qualify(embellish_name(head, '"'));
  if (plain.find("SELECT ") != std::string::npos || plain.find("select ") != std::string::npos) {
    log_message(1, "View found at position %lld, skip it", static_cast<long long>(pos));
    return;
  }
  int64_t lf = 0;
  if (!find_line_end(m_s, lf)) {
    log_message(1, "seek_to_symbols failed, return");
    return;
  }
  // The TABLESPACE clause names the table's tablespace.
  std::string tablespace;
  m_s.seek(pos);
  while (m_s.tell() < lf) {
    const std::string_view w = m_s.read_word();
    if (w.empty()) break;
    if (w == "TABLESPACE") {
      tablespace = embellish_name(m_s.read_word(), '"');
      break;
    }
  }
  m_s.seek(pos);

  const tk_wstring wplain = text(plain);
  const tk_wstring wfull = tablespace.empty() ? wplain : text(tablespace + "." + plain);
  log_message(3, "Read table '%s' at position %lld\r\n", tk_u8(wplain).c_str(),
              static_cast<long long>(pos));

  if (m_non_unique.count(wplain) == 0) {
    auto it = m_unique.find(wplain);
    if (it == m_unique.end()) {
      m_unique.emplace(wplain, wfull);
    } else if (it->second != wfull) {
      // Another table of the same name elsewhere: both keep their full names.
      m_non_unique.emplace(wplain, wfull);
      m_unique.erase(it);
    }
  }
  if (table_pos* t = current()) t->end_pos = pos;
  if (m_tables.count(wfull) != 0) {
    // The same table once more (a dump can repeat a whole user section):
    // the first definition and its rows stand.
    log_message(3, "Database contians 2 or more tables with the same name %s",
                tk_u8(wfull).c_str());
    m_current.clear();
    m_current_plain.clear();
    return;
  }
  table_pos& entry = m_tables[wfull];
  entry.start_pos = pos;
  m_current = wfull;
  m_current_plain = wplain;
  m_current_create_end = lf;
  report_progress(pos);
  log_message(1, "Table: %s", tk_u8(wfull).c_str());
}

void classic_scan::parse_index(bool unique) {
  const int64_t p0 = m_s.tell();
  m_s.read_word();
  if (m_s.at_end()) return;
  if (!tk_compare_no_case(m_s.read_word(), "ON")) return;
  const std::string_view table = m_s.read_word();
  if (m_s.at_end() || table.size() < 3 || table.front() != '"' || table.back() != '"') return;
  const tk_wstring plain = text(qualify(std::string(table.substr(1, table.size() - 2))));
  auto it = m_unique.find(plain);
  if (it == m_unique.end()) {
    log_message(1, "%s is not found in map_unique_names", tk_u8(plain).c_str());
    return;
  }
  auto t = m_tables.find(it->second);
  if (t == m_tables.end()) return;
  int64_t lf = 0;
  if (!seek_to_byte(m_s, '\n', lf)) return;
  t->second.indexes.push_back({p0, lf, unique});
}

void classic_scan::parse_sequence() {
  const tk_wstring name = text(m_s.read_word());
  auto number = [&]() {
    const std::string w(m_s.read_word());
    const long long v = std::strtoll(w.c_str(), nullptr, 10);
    return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : v));
  };
  m_s.read_word();
  const int32_t min_value = number();
  m_s.read_word();
  const int32_t max_value = number();
  m_s.read_word();
  m_s.read_word();
  const int32_t increment = number();
  m_s.read_word();
  m_s.read_word();
  const int32_t start = number();
  // The options after START WITH: "CACHE n NOORDER CYCLE", "NOCACHE NOORDER
  // NOCYCLE" and the like.
  bool cycle = false;
  int64_t lf = 0;
  if (find_line_end(m_s, lf)) {
    while (m_s.tell() < lf) {
      const std::string_view w = m_s.read_word();
      if (w.empty()) break;
      if (w == "CYCLE") cycle = true;
    }
  }
  m_ctx.m_sequences.emplace_back(name, start, increment, min_value, max_value, cycle);
}

bool classic_scan::parse_alter() {
  const tk_wstring plain = text(qualify(embellish_name(m_s.read_word(), '"')));
  auto it = m_unique.find(plain);
  if (it == m_unique.end()) return false;
  auto t = m_tables.find(it->second);
  if (t != m_tables.end()) {
    const int64_t a0 = m_s.tell();
    int64_t a1 = 0;
    if (seek_to_byte(m_s, '\n', a1)) {
      t->second.alters.emplace_back(a0, a1);
    } else {
      m_s.seek(a0);
      if (seek_to_byte(m_s, 0, a1)) t->second.alters.emplace_back(a0, a1);
    }
  }
  return true;
}

void classic_scan::parse_insert(int64_t pos) {
  if (m_s.read_word() != "INTO") return;
  // An INSERT line that the end of the file cuts before its column list
  // still belongs to the table being read: its section is kept so that
  // reading the table reports the cut.
  const bool cut = m_s.find_byte('\n', m_s.tell()) < 0;
  const tk_wstring plain = text(qualify(embellish_name(read_name_before_paren(m_s), '"')));
  // Rows follow the CREATE TABLE of their table; an INSERT of a table whose
  // definition was skipped (a repeated section) is skipped with it.
  table_pos* t = current();
  if (t != nullptr && cut && plain != m_current_plain) {
    log_message(1, "INSERT statement cut by the end of the file at %lld",
                static_cast<long long>(pos));
    t->v_data_start_pos.push_back(pos);
    return;
  }
  if (t == nullptr || plain != m_current_plain) {
    log_message(1, "Table '%s' was not found!", tk_u8(plain).c_str());
    return;
  }
  t->v_data_start_pos.push_back(pos);
  log_message(1, "Got v_data_start_pos=%lld", static_cast<long long>(pos));
}

}  // namespace

void find_ora_objects(ora_dump_stream& s, ora_dump_file::context& ctx, const ora_charsets& cs,
                      bool qualify, const std::function<void(int64_t)>& progress) {
  if (!ctx.m_pmap_tables) ctx.m_pmap_tables = std::make_shared<ora_table_map>();
  classic_scan scan(s, ctx, cs, qualify, progress);
  scan.run();
}
