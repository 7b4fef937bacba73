// Keys, indexes and column defaults of a classic dump table.
//
// exp writes them as statements of their own after the CREATE TABLE: CREATE
// [UNIQUE] INDEX for indexes, ALTER TABLE ... ADD [CONSTRAINT "n"] PRIMARY
// KEY / UNIQUE / FOREIGN KEY for constraints (foreign keys in a section near
// the end of the dump), and for each column default a record made of the
// line ALTER TABLE "t" MODIFY DEFAULT, a 16-bit little-endian length and the
// statement ALTER TABLE "t" MODIFY ("c" DEFAULT value). The catalogue scan
// recorded where each of them lies; they are read here when the table is
// opened. An index-organized table keeps its primary key inside the CREATE
// TABLE text instead.
#include <cstring>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"
#include "oracle_dump/ora_dump_search.h"
#include "oracle_dump/ora_dump_stream.h"
#include "oracle_dump/ora_dump_table.h"

namespace {

// Restores the stream position when leaving a scope.
struct position_guard {
  ora_dump_stream& s;
  int64_t at;
  ~position_guard() { s.seek(at); }
};

std::string without(std::string text, std::string_view chars) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text)
    if (chars.find(c) == std::string_view::npos) out.push_back(c);
  return out;
}

// The pieces of a column list, each trimmed.
std::vector<std::string> split_columns(const std::string& list) {
  std::vector<std::string> pieces;
  const std::string bare = without(tk_trim(list), "()\"");
  size_t from = 0;
  for (;;) {
    const size_t comma = bare.find(',', from);
    pieces.push_back(tk_trim(std::string_view(bare).substr(
        from, comma == std::string::npos ? std::string::npos : comma - from)));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return pieces;
}

// While longer than one character, a trailing line feed, carriage return or
// blank is dropped.
std::string smart_trim_tail(std::string value) {
  while (value.size() > 1 && (value.back() == '\n' || value.back() == '\r' || value.back() == ' '))
    value.pop_back();
  return value;
}

uint64_t fnv1a(std::u16string_view text, uint64_t h = 0xcbf29ce484222325ull) {
  for (const char16_t c : text) {
    h ^= static_cast<uint64_t>(c & 0xFF);
    h *= 0x100000001b3ull;
    h ^= static_cast<uint64_t>(c >> 8);
    h *= 0x100000001b3ull;
  }
  return h;
}

}  // namespace

std::string ora_dump_table::get_index_fields(ora_dump_stream& s) {
  log_message(1, "ora_dump_table::get_index_fields");
  uint8_t c = 0;
  do {
    if (!s.read_u8(c)) return std::string();
  } while (ora_dump_stream::is_blank(c) && c != 0);
  if (c != '(') return std::string();
  std::string text;
  for (;;) {
    if (!s.read_u8(c)) return std::string();
    // An expression (a function-based index) is no list of columns.
    if (c == '(') return std::string();
    text.push_back(static_cast<char>(c));
    if (c == ')') return text;
  }
}

std::vector<tk_wstring> ora_dump_table::get_field_list(ora_dump_stream& s) {
  log_message(1, "ora_dump_table::get_field_list");
  std::vector<tk_wstring> names;
  for (const std::string& piece : split_columns(get_index_fields(s))) {
    names.push_back(ddl_text(piece));
    if (log_enabled(1)) log_message(1, "Stored field '%s'", tk_u8(names.back()).c_str());
  }
  return names;
}

bool ora_dump_table::parse_indexes(const std::vector<table_pos::index_pos>& index_poses) {
  log_message(2, "ora_dump_table::parse_indexes");
  log_message(1, "a_index_poses.size=%d", static_cast<int>(index_poses.size()));
  ora_dump_stream& s = *m_stream;
  position_guard guard{s, s.tell()};
  for (const table_pos::index_pos& ip : index_poses) {
    if (ip.end <= ip.start) return false;
    s.seek(ip.start);
    const std::string index_name(s.read_word());
    s.read_word();  // ON
    s.read_word();  // the table
    std::vector<tk_wstring> columns;
    bool all_columns = true;
    for (const std::string& piece : split_columns(get_index_fields(s))) {
      const tk_wstring column = ddl_text(piece);
      bool found = false;
      for (const t_ftd* f : schema) found = found || f->name == column;
      if (!found) {
        all_columns = false;
        break;
      }
      columns.push_back(column);
    }
    if (!all_columns) continue;
    udb_index idx;
    idx.name = ddl_text(without(index_name, "\""));
    idx.unique = ip.unique;
    idx.fields = std::move(columns);
    indexes.push_back(idx);
    log_message(1, "Right after indexes.push_back");
    if (p_database != nullptr) p_database->add_global_idx(tk_wstring(), name, idx);
  }
  return true;
}

tk_wstring ora_dump_table::gen_unique_constr_name(const std::vector<tk_wstring>& columns) const {
  log_message(2, "ora_dump_table::gen_unique_constr_name");
  // Twelve digits, as the constraint names of this form always had, but
  // derived from the table and its columns: the same dump gives the same
  // name on every run.
  uint64_t h = fnv1a(name);
  for (const tk_wstring& c : columns) h = fnv1a(c, fnv1a(u",", h));
  const tk_string digits =
      tk_format("%012llu", static_cast<unsigned long long>(h % 1000000000000ull));
  log_message(1, "buf=%s", digits.c_str());
  return name + u"_UC" + tk_u16(digits);
}

void ora_dump_table::parse_keys(ora_dump_stream& s, std::list<udb_relationship>& rels) {
  log_message(2, "ora_dump_table::parse_keys");
  std::string constraint;
  bool named = false;
  std::string word(s.read_word());
  if (word == "CONSTRAINT") {
    log_message(1, "Got CONSTRAINT");
    constraint = std::string(s.read_word());
    constraint = constraint.size() >= 2 ? constraint.substr(1, constraint.size() - 2) : "";
    named = true;
    word = std::string(s.read_word());
  }
  if (word == "PRIMARY") {
    log_message(1, "Got PK");
    s.read_word();  // KEY
    udb_index idx;
    idx.name = ddl_text(constraint);
    idx.primary = true;
    idx.fields = get_field_list(s);
    indexes.push_back(idx);
  } else if (word == "UNIQUE") {
    udb_index idx;
    idx.fields = get_field_list(s);
    idx.name = named ? ddl_text(constraint) : gen_unique_constr_name(idx.fields);
    if (log_enabled(1)) log_message(1, "Got unique constraint '%s'", tk_u8(idx.name).c_str());
    idx.unique_constraint = true;
    indexes.push_back(idx);
  } else if (word == "FOREIGN") {
    log_message(1, "Got FK");
    udb_relationship rel;
    rel.fk_name = ddl_text(constraint);
    s.read_word();  // KEY
    for (tk_wstring& f : get_field_list(s)) rel.fk_fields.push_back(std::move(f));
    rel.fk_table = name;
    s.read_word();  // REFERENCES
    rel.pk_table = ddl_text(without(std::string(s.read_word()), "\""));
    // A table of the same owner is known by its catalogue name (HR.JOBS
    // for "JOBS" referenced from HR.EMPLOYEES).
    if (p_database != nullptr && p_database->find_table_pos(rel.pk_table) == nullptr) {
      const size_t dot = name.rfind(u'.');
      if (dot != tk_wstring::npos) {
        const tk_wstring qualified = name.substr(0, dot + 1) + rel.pk_table;
        if (p_database->find_table_pos(qualified) != nullptr) rel.pk_table = qualified;
      }
    }
    for (tk_wstring& f : get_field_list(s)) rel.pk_fields.push_back(std::move(f));
    if (log_enabled(1))
      log_message(1, "rel.fk_name=%s, rel.fk_table=%s, rel.pk_table=%s", tk_u8(rel.fk_name).c_str(),
                  tk_u8(rel.fk_table).c_str(), tk_u8(rel.pk_table).c_str());
    rels.push_back(std::move(rel));
  }
  log_message(1, "ora_dump_table::parse_keys - at the end, rels.size=%d",
              static_cast<int>(rels.size()));
}

ole_variant ora_dump_table::get_def_value(vartype_t vt, const std::string& src) const {
  std::string text = tk_trim(src);
  bool unquoted = false;
  if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'') {
    text = text.substr(1, text.size() - 2);
    unquoted = true;
  }
  // Text defaults are always quoted; anything else is an expression.
  if (!unquoted && vt == VT_BSTR) {
    log_message(1, "Incorrect/empty/null default value for VT_BSTR");
    return ole_variant();
  }
  for (size_t at = text.find("''"); at != std::string::npos; at = text.find("''", at + 1))
    text.erase(at, 1);
  try {
    ole_variant v(ddl_text(text));
    v.change_type(vt);
    return v;
  } catch (const tk_exception&) {
    return ole_variant();
  }
}

void ora_dump_table::apply_default(std::string_view statement) {
  const size_t open = statement.find('(');
  if (open == std::string_view::npos || statement.size() < open + 2) return;
  const std::string clause(statement.substr(open + 1, statement.size() - open - 2));
  // The keyword follows the column name, which may hold the word itself
  // ("IS_DEFAULT").
  size_t from = 0;
  const size_t name_start = clause.find_first_not_of(' ');
  if (name_start != std::string::npos && clause[name_start] == '"') {
    const size_t name_end = clause.find('"', name_start + 1);
    if (name_end != std::string::npos) from = name_end + 1;
  }
  const size_t at = clause.find("DEFAULT", from);
  if (at == std::string::npos || at == 0) return;
  const std::string field = embellish_name(tk_trim(clause.substr(0, at)), '"');
  const std::string value = smart_trim_tail(tk_trim(clause.substr(at + 7)));
  if (log_enabled(1)) log_message(1, "field=%s, value=%s", field.c_str(), value.c_str());
  const int32_t idx = schema.get_field_idx(ddl_text(field));
  if (idx < 0) return;
  t_ftd* ftd = schema[static_cast<size_t>(idx)];
  if (auto* oftd = dynamic_cast<t_orcale_ftd*>(ftd);
      oftd != nullptr && !tk_compare_no_case(value, "NULL"))
    oftd->default_text = ddl_text(value);
  // SYSDATE and NULL give no default value (the listing still shows the
  // text of SYSDATE above).
  if (tk_compare_no_case(value, "NULL") || tk_compare_no_case(value, "SYSDATE")) return;
  log_message(2, "Got def.value: '%s' for field #%d", value.c_str(), idx);
  if (ftd->vartype == VT_DATE && (tk_compare_no_case(value, "current_date") ||
                                  tk_compare_no_case(value, "current_timestamp"))) {
    // The default is the moment of the insert: no value, a flag instead; a
    // column's time zone flag stays.
    ftd->reserved = (ftd->reserved & FTD_WITH_TIME_ZONE) | FTD_DEFAULT_NOW;
    ftd->def_value = ole_variant();
    return;
  }
  ftd->def_value = get_def_value(ftd->vartype, value);
}

bool ora_dump_table::parse_alters(const std::vector<std::pair<int64_t, int64_t>>& alter_poses) {
  log_message(2, "ora_dump_table::parse_alters");
  log_message(1, "a_alter_poses.size=%d", static_cast<int>(alter_poses.size()));
  ora_dump_stream& s = *m_stream;
  position_guard guard{s, s.tell()};
  std::list<udb_relationship> rels;
  for (const auto& [start, end] : alter_poses) {
    if (start == 0) return true;
    s.seek(start);
    while (!s.at_end() && s.tell() < end && s.tell() != 0) {
      const std::string_view word = s.read_word();
      if (word.empty()) break;
      if (word == "ADD") {
        parse_keys(s, rels);
        continue;
      }
      if (word != "MODIFY") continue;
      if (s.read_word() != "DEFAULT") {
        log_message(1, "Only '... MODIFY DEFAULT' is supported");
        continue;
      }
      const uint8_t* head = s.take(3);
      if (head == nullptr) break;
      if (head[0] != '\n') continue;
      const size_t n = static_cast<size_t>(head[1] | (head[2] << 8));
      const uint8_t* text = s.take(n);
      if (text == nullptr) break;
      apply_default(std::string_view(reinterpret_cast<const char*>(text), n));
    }
  }
  log_message(1, "Right before creating relationships");
  if (p_database != nullptr) p_database->append_relationships(rels);
  return true;
}

void ora_dump_table::parse_inline_constraints() {
  // Constraints inside the CREATE TABLE text ("CONSTRAINT "PK" PRIMARY KEY
  // ("ID") ENABLE", or an unnamed "PRIMARY KEY (...)" as the last piece).
  std::list<udb_relationship> rels;
  for (const std::string& text : m_inline_constraints) {
    ora_dump_stream s(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    parse_keys(s, rels);
  }
  m_inline_constraints.clear();
  if (p_database != nullptr && !rels.empty()) p_database->append_relationships(rels);
}
