// Table model of a dump: the schema from the CREATE TABLE text and the walk
// over the table's rows.
#include "oracle_dump/ora_dump_table.h"

#include <cstring>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"
#include "oracle_dump/ora_dump_reader.h"
#include "oracle_dump/ora_dump_search.h"
#include "oracle_dump/ora_dump_stream.h"

ora_dump_table::ora_dump_table(ora_dump_file* database, const tk_wstring& name_)
    : udb_recordset(name_), p_database(database) {}

ora_dump_table::~ora_dump_table() = default;

tk_wstring ora_dump_table::ddl_text(std::string_view bytes) const {
  if (m_ddl_charsets == nullptr) return tk_u16(bytes);
  tk_wstring out;
  m_ddl_charsets->decode(m_ddl_charsets->m_client_id,
                         reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out);
  return out;
}

bool ora_dump_table::init(std::shared_ptr<ora_dump_stream> stream, const table_pos& pos,
                          std::shared_ptr<ora_dump_reader_th> decoder, const tk_string& version) {
  TK_ASSERT(stream != nullptr && decoder != nullptr);
  m_stream = std::move(stream);
  m_token_handler = std::move(decoder);
  m_record_counter = pos.record_count > 0 ? static_cast<uint64_t>(pos.record_count) : 0;
  m_token_handler->reset();
  if (const ora_dump_reader* reader = ora_dump_reader::get())
    m_token_handler->m_b_ewkt = reader->m_b_ewkt;
  const int64_t saved = m_stream->tell();
  const bool ok = tk_starts_with_no_case(version, "EXPORT:") ? init_classic(pos) : init_pump(pos);
  m_stream->seek(saved);
  // The rows lie before the section's end: reading ahead stops there.
  m_stream->limit_read_ahead(m_end_pos);
  return ok;
}

namespace {

// The type of a column definition's tokens as written: the second token and
// the words that continue it (TIMESTAMP(6) WITH TIME ZONE, INTERVAL DAY(2)
// TO SECOND(6), LONG RAW).
std::string type_text_of(const std::vector<std::string>& tokens) {
  static const char* const k_continuations[] = {"WITH",  "LOCAL", "TIME", "ZONE",   "TO",
                                                "MONTH", "YEAR",  "DAY",  "SECOND", "RAW"};
  std::string text = tokens[1];
  for (size_t i = 2; i < tokens.size(); ++i) {
    const std::string word = tk_upper(tokens[i].substr(0, tokens[i].find('(')));
    bool continues = false;
    for (const char* c : k_continuations) continues = continues || word == c;
    if (!continues) break;
    text += ' ';
    text += tokens[i];
  }
  return text;
}

bool find_line_feed(ora_dump_stream& s, int64_t& at) {
  at = s.find_byte('\n', s.tell());
  return at >= 0;
}

}  // namespace

bool ora_dump_table::init_classic(const table_pos& pos) {
  ora_dump_stream& s = *m_stream;
  m_start_pos = pos.start_pos;
  m_end_pos = pos.end_pos;
  s.seek(m_start_pos);

  for (;;) {
    const std::string_view w = s.read_word();
    if (w.empty() || w == "TABLE") break;
  }
  read_name_before_paren(s);
  int64_t lf = 0;
  if (!find_line_feed(s, lf)) {
    log_message(2, "process_table_desc FAILED");
    return false;
  }
  std::string desc;
  s.copy(s.tell(), static_cast<size_t>(lf - s.tell()), desc);
  m_lst_records.clear();
  if (!process_table_desc(desc)) {
    log_message(2, "process_table_desc FAILED");
    return false;
  }

  std::string column_list;
  for (const int64_t start : pos.v_data_start_pos) {
    s.seek(start);
    int64_t at = 0, paren = 0, values = 0;
    // Each search runs to the end of the file: one that fails means the file
    // ends inside this INSERT statement, and the rows it would lead to are
    // missing (the rows of earlier sections stay).
    if (!seek_to_symbols(s, "INTO", at) || !seek_to_byte(s, '(', paren) ||
        !seek_to_symbols(s, "VALUES (", values) || !find_line_feed(s, lf)) {
      report_cut_rows(s.size());
      break;
    }
    paren -= 1;  // position of the "("
    const int64_t list_end = values - 8;
    if (list_end - paren > 1) {
      column_list.clear();
      s.copy(paren, static_cast<size_t>(list_end - paren), column_list);
    }
    s.seek(lf + 1);

    std::vector<tk_wstring> names = get_fields_names(column_list);
    if (names.size() > ORA_MAX_COLUMNS)
      throw dump_error(tk_format("The INSERT statement names more than %zu columns, the most "
                                 "Oracle allows: the table's data is damaged",
                                 ORA_MAX_COLUMNS),
                       start, 0);
    m_token_handler->set_fields(names, schema);
    m_token_handler->skip_field_description(s, schema);
    if (m_token_handler->check_for_eof(s)) {
      log_message(2, ">> EndOfTable <<");
      if (m_token_handler->m_data_ran_out) report_cut_rows(s.tell());
      continue;
    }
    if (m_partitions.empty()) {
      m_lst_records.clear();
      m_lst_records.push_back(s.tell());
      m_start_pos = s.tell();
    }
    table_partition part;
    part.start_pos = s.tell();
    part.skip_blob_flag = m_token_handler->m_skip_blob_flag;
    part.field_names = std::move(names);
    m_partitions.push_back(std::move(part));
  }

  // Indexes registered by an earlier reading of this table (the cache file
  // keeps those, not the positions of the index statements), then the
  // table's own index, constraint and default statements.
  if (p_database != nullptr) {
    if (ora_index_map* map = p_database->get_global_indices()) {
      auto it = map->find({tk_wstring(), name});
      if (it != map->end()) {
        indexes = it->second;
        log_message(1, "indexes.size=%d", static_cast<int>(indexes.size()));
      } else {
        log_message(1, "Indexes for table '%s' are not found", tk_u8(name).c_str());
      }
    }
  }
  parse_inline_constraints();
  parse_indexes(pos.indexes);
  parse_alters(pos.alters);
  return true;
}

bool ora_dump_table::process_table_desc(const std::string& text) {
  const size_t open = text.find('(');
  if (open == std::string::npos) {
    log_message(2, "Incorrect field format.");
    return false;
  }
  // The column list ends where the parentheses balance again.
  int depth = 1;
  size_t close = open + 1;
  bool quoted = false;
  for (; close < text.size(); ++close) {
    const char c = text[close];
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == '(') ++depth;
    if (c == ')' && --depth == 0) break;
  }
  const std::string_view list(text.data() + open + 1, close - open - 1);

  // Split at commas outside parentheses and quotes.
  std::vector<std::string> pieces;
  std::string cur;
  depth = 0;
  quoted = false;
  for (const char c : list) {
    if (c == '"') quoted = !quoted;
    if (!quoted) {
      if (c == '(') ++depth;
      if (c == ')' && depth > 0) --depth;
      if (c == ',' && depth == 0) {
        pieces.push_back(cur);
        cur.clear();
        continue;
      }
    }
    cur.push_back(c);
  }
  const std::string last = tk_trim(cur);
  if (!last.empty() && last.rfind("PRIMARY KEY", 0) != 0) pieces.push_back(last);
  // An unnamed primary key of an index-organized table closes the list.
  if (last.rfind("PRIMARY KEY", 0) == 0) m_inline_constraints.push_back(last);

  for (const std::string& piece : pieces) {
    if (!add_field(piece))
      throw tk_exception("Cannot parse table decription, [TABLE] " + tk_u8(name) + ": " + piece, 1);
    // Tens of thousands of columns are no table Oracle can hold, and every
    // column added is looked up among the ones before it.
    if (schema.size() > ORA_MAX_COLUMNS)
      throw dump_error(tk_format("The table has more than %zu columns, the most Oracle allows: "
                                 "its definition is damaged",
                                 ORA_MAX_COLUMNS),
                       m_start_pos, 0);
  }
  return true;
}

bool ora_dump_table::add_field(const std::string& definition) {
  const std::string def = tk_trim(definition);
  if (tk_starts_with_no_case(def, "CONSTRAINT")) {
    m_inline_constraints.push_back(def);
    return true;
  }

  std::vector<std::string> tokens;
  std::string cur;
  int depth = 0;
  bool quoted = false;
  for (size_t i = 0; i < def.size(); ++i) {
    const char c = def[i];
    if (c == '"') quoted = !quoted;
    if (!quoted) {
      if (c == '(') ++depth;
      if (c == ')' && depth > 0) --depth;
      if (c == ' ' && depth == 0) {
        // NUMBER (10, 2): a blank before "(" does not split.
        if (i + 1 < def.size() && def[i + 1] == '(') continue;
        if (!cur.empty()) tokens.push_back(cur);
        cur.clear();
        continue;
      }
    }
    cur.push_back(c);
  }
  if (!tk_trim(cur).empty()) tokens.push_back(tk_trim(cur));
  if (tokens.size() < 2) {
    log_message(2, "Missing required tokens <field name>or/and <type>");
    return false;
  }

  std::string_view raw_name = tokens[0];
  if (raw_name.size() >= 2 && raw_name.front() == '"' && raw_name.back() == '"')
    raw_name = raw_name.substr(1, raw_name.size() - 2);
  const tk_wstring col_name = ddl_text(raw_name);

  bool not_null = false;
  for (size_t i = 2; i + 1 < tokens.size(); ++i)
    if (tokens[i] == "NOT" && tokens[i + 1] == "NULL") not_null = true;

  std::string type_text = tokens[1];
  if (tokens.size() >= 3 && tk_upper(tokens[1]).find("LONG") != std::string::npos &&
      tk_upper(tokens[2]).find("RAW") != std::string::npos)
    type_text = "LONG RAW";

  ora_type_info info;
  if (!get_type(type_text, info)) {
    log_message(2, "Failed to get field type.");
    return false;
  }
  auto ftd = std::make_unique<t_orcale_ftd>(info.size, info.ora_type, col_name, info.vartype,
                                            not_null, ole_variant(), 0);
  uint32_t precision = info.precision, scale = info.scale;
  if (precision < scale) {
    if (precision != 0)
      std::swap(precision, scale);
    else
      precision = 38;
  }
  ftd->precision = precision;
  ftd->scale = scale;
  ftd->type_text = ddl_text(type_text_of(tokens));
  if (info.vartype == VT_DATE) ftd->reserved = FTD_TRUSTED_DATE;
  if (info.ora_type == ORA_SDO_GEOMETRY) ftd->reserved = FTD_SDO_GEOMETRY;
  if (info.ora_type == ORA_CHAR) ftd->reserved = FTD_FIXED_CHAR;
  if (info.ora_type == ORA_TIMESTAMP && tk_upper(def).find("WITH TIME ZONE") != std::string::npos)
    ftd->reserved += FTD_WITH_TIME_ZONE;
  if (schema.find_field(col_name)) return true;  // a repeated column is dropped
  own_column(std::move(ftd));
  return true;
}

std::vector<tk_wstring> ora_dump_table::get_fields_names(const std::string& column_list) {
  std::vector<tk_wstring> names;
  size_t i = 0;
  while (true) {
    const size_t a = column_list.find('"', i);
    if (a == std::string::npos) break;
    const size_t b = column_list.find('"', a + 1);
    if (b == std::string::npos) break;
    names.push_back(tk_u16(std::string_view(column_list).substr(a + 1, b - a - 1)));
    i = b + 1;
  }
  return names;
}

// ---- row iteration ------------------------------------------------------------

void ora_dump_table::report_cut_rows(int64_t pos) {
  // The rows read so far are kept; the run must not pass for complete.
  // Nor may the rows read pass for the table's row count.
  m_walk_whole = false;
  if (m_cut_reported || p_database == nullptr) return;
  m_cut_reported = true;
  log_message(3, "Table '%s': the dump ends inside its rows at %lld", tk_u8(name).c_str(),
              static_cast<long long>(pos));
  p_database->add_error(dump_error(
      "The dump file ends inside the table's rows: the rows after the last one read are missing",
      pos, 0));
}

void ora_dump_table::set_progress() {
  if (ora_dump_reader* r = ora_dump_reader::get())
    r->set_local_progress(m_start_pos, m_end_pos, m_stream ? m_stream->tell() : 0);
}

void ora_dump_table::enter_partition(size_t index) {
  m_current_partition = index;
  const table_partition& p = m_partitions[index];
  m_token_handler->m_skip_blob_flag = p.skip_blob_flag;
  m_token_handler->set_fields(p.field_names, schema);
}

void ora_dump_table::reset() {
  m_rows_walked = 0;
  m_walk_whole = true;
  if (!m_lst_records.empty()) {
    m_cur_record = 0;
    m_stream->seek(m_lst_records.front());
  } else {
    m_cur_record = 0;
    if (m_stream) m_stream->seek(m_start_pos);
  }
  if (!m_partitions.empty()) enter_partition(0);
  set_progress();
}

bool ora_dump_table::is_eof() {
  return m_lst_records.empty() || m_cur_record >= m_lst_records.size();
}

udb_record* ora_dump_table::get_item1() {
  if (is_eof()) throw tk_exception("Out of recordset range.", 0);
  ora_dump_stream& s = *m_stream;
  const int64_t saved = s.tell();
  const int64_t start = m_lst_records[m_cur_record];
  s.seek(start);
  s.clear_gap_hit();
  bool ok = false;
  try {
    ok = m_token_handler->get_record(s, schema, m_end_pos, m_record);
    // A row that takes no bytes would be read again and again: the section
    // is damaged (an INSERT statement without column names, say).
    if (ok && s.tell() == start)
      throw dump_error("Can't read record: the row holds no data", start, 0);
  } catch (const tk_exception& e) {
    s.seek(saved);
    // A damaged record: the walk no longer tells the table's row count.
    m_walk_whole = false;
    const bool gap = s.gap_hit() || s.gap_between(start, e.offset()) ||
                     (s.ends_in_gap() && e.text().find("EOF") != std::string::npos);
    if (e.offset() < 0 || (s.file_count() < 2 && !gap)) throw;
    // A dump of several files: name the file and its own offset, and say
    // when the record runs into a file that is missing.
    std::string text = e.text();
    const std::string suffix = " (offset " + std::to_string(e.offset()) + ")";
    if (text.size() >= suffix.size() &&
        text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0)
      text.resize(text.size() - suffix.size());
    if (gap) text = "The record runs into a missing file of the dump: " + text;
    const tk_string where = s.describe(e.offset());
    throw dump_error(where.empty() ? text : text + " in " + where, e.offset(), e.level());
  } catch (...) {
    s.seek(saved);
    m_walk_whole = false;
    throw;
  }
  const bool at_end = m_token_handler->check_for_eof(s);
  if (at_end && m_token_handler->m_data_ran_out) report_cut_rows(s.tell());
  if (!at_end && m_cur_record + 1 == m_lst_records.size()) m_lst_records.push_back(s.tell());
  // The progress is only shown: every 256 rows and at the end is enough.
  if (at_end || (m_rows_walked & 0xFF) == 0) set_progress();
  s.seek(saved);
  return ok ? &m_record : nullptr;
}

void ora_dump_table::next() {
  if (is_eof()) {
    log_message(2, "ERROR: EOF has been reached");
    throw tk_exception("Out of recordset range.", 0);
  }
  if (m_record_counter == 0) m_record_counter = 1;
  ++m_rows_walked;
  if (m_cur_record + 1 < m_lst_records.size()) {
    ++m_cur_record;
    ++m_record_counter;
    while (m_lst_records.size() > 5 && m_cur_record > 0) {
      m_lst_records.pop_front();
      --m_cur_record;
    }
    return;
  }
  // The section is exhausted: continue with the next one, if any.
  if (m_current_partition + 1 < m_partitions.size()) {
    enter_partition(m_current_partition + 1);
    m_lst_records.push_back(m_partitions[m_current_partition].start_pos);
    ++m_cur_record;
    ++m_record_counter;
    while (m_lst_records.size() > 5 && m_cur_record > 0) {
      m_lst_records.pop_front();
      --m_cur_record;
    }
    return;
  }
  m_cur_record = m_lst_records.size();
  if (m_walk_whole && p_database != nullptr) p_database->note_record_count(name, m_rows_walked);
}

void ora_dump_table::prev() {
  if (m_lst_records.empty() || m_cur_record == 0) throw tk_exception("Out of recordset range.", 0);
  m_walk_whole = false;
  --m_cur_record;
  m_stream->seek(m_lst_records[m_cur_record]);
  set_progress();
}
