// Recordsets and databases: the two abstract ends the conversion driver
// copies between, with the few operations the base classes implement
// themselves (unique column names, key extraction, key conditions, table
// name lookups).
#include "UDB/udb_db.h"

#include "TK/tk_exc.h"
#include "TK/tk_log.h"

// ---- udb_recordset -----------------------------------------------------------

udb_recordset::udb_recordset(const tk_wstring& name) : name(name) {
  log_message(2, "udb_recordset::ctor(default)");
}

udb_recordset::~udb_recordset() { log_message(2, "udb_recordset::dtor"); }

void udb_recordset::move_to(int64_t row) {
  log_message(2, "udb_recordset::move_to(%lld)", static_cast<long long>(row));
}

void udb_recordset::add_column(t_ftd* ftd) {
  if (ftd == nullptr) return;
  if (log_enabled(2)) log_message(2, "udb_recordset::add_column (%s)", tk_u8(ftd->name).c_str());
  // Data Pump metadata may list two columns whose names differ only in case
  // (quoted identifiers); the header line must still name each one uniquely.
  static const char16_t* const pieces[] = {u"_", u"1", u"_", u"2", u"_", u"3"};
  tk_wstring candidate = ftd->name;
  size_t step = 0;
  while (schema.find_field(candidate)) {
    candidate += pieces[step];
    step = (step + 1) % (sizeof(pieces) / sizeof(pieces[0]));
  }
  ftd->name = candidate;
  schema.push_back(ftd);
  log_message(2, "udb_recordset::add_column - END");
}

t_ftd* udb_recordset::own_column(std::unique_ptr<t_ftd> ftd) {
  t_ftd* p = ftd.get();
  if (p == nullptr) return nullptr;
  m_owned_ftds.push_back(std::move(ftd));
  schema.push_back(p);
  return p;
}

std::unique_ptr<udb_record> udb_recordset::get_key(const udb_record& record) const {
  log_message(2, "udb_recordset::get_key(that.size=%zu)", record.size());
  if (key_index < 0 || static_cast<size_t>(key_index) >= indexes.size())
    throw tk_exception("There's no primary/unique key", 0);
  auto key = std::make_unique<udb_record>();
  for (const tk_wstring& column : indexes[static_cast<size_t>(key_index)].fields) {
    const udb_field* found = nullptr;
    for (const udb_field& field : record) {
      if (tk_wcompare_no_case(field.name, column)) {
        found = &field;
        break;
      }
    }
    if (found == nullptr) {
      log_message(3, "Key field '%s' is not found in record", tk_u8(column).c_str());
      return nullptr;
    }
    key->push_back(*found);
  }
  return key;
}

static bool udb_is_numeric_vt(vartype_t vt) {
  switch (vt) {
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_BOOL:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_BLOB:
    case VT_BLOB_OBJECT:
    case VT_ARRAY_UI1:
      return true;
    default:
      return false;
  }
}

// The key arrives as XML-like elements, one per key column: <ID>7</ID><NAME>x</NAME>.
// Text values were escaped when the key was tagged, so they are unescaped
// here before they go between single quotes.
tk_wstring udb_recordset::get_filter_subquery(const tk_wstring& key) const {
  enum { outside, open_tag, value, close_tag } state = outside;
  tk_wstring result, column, text;
  const t_ftd* ftd = nullptr;
  for (char16_t c : key) {
    switch (state) {
      case outside:
        if (c == u'<') {
          column.clear();
          state = open_tag;
        }
        break;
      case open_tag:
        if (c != u'>') {
          column += c;
          break;
        }
        ftd = schema.get_field2(column);
        if (ftd == nullptr) {
          if (log_enabled(2))
            log_message(2, "Field %s not found in the schema", tk_u8(column).c_str());
          throw tk_exception(
              "The structure of data source does not conform to the destination table.", 0);
        }
        if (!result.empty()) result += u" and ";
        result += u'"';
        result += ftd->name;
        result += u'"';
        text.clear();
        state = value;
        break;
      case value:
        if (c != u'<') {
          text += c;
          break;
        }
        if (udb_is_numeric_vt(ftd->vartype)) {
          result += u'=';
          result += text;
        } else {
          tk_replace_all(text, u"&lt;", u"<");
          tk_replace_all(text, u"&gt;", u">");
          tk_replace_all(text, u"&amp;", u"&");
          result += u"='";
          result += text;
          result += u"' ";
        }
        column.clear();
        text.clear();
        state = close_tag;
        break;
      case close_tag:
        if (c == u'>') state = outside;
        break;
    }
  }
  return result;
}

// ---- udb_database ------------------------------------------------------------

udb_database::udb_database(const tk_wstring& name, int kind, bool case_sensitive)
    : name(name), case_sensitive(case_sensitive) {
  if (log_enabled(2)) log_message(2, "udb_database::ctor(%s,%d)", tk_u8(name).c_str(), kind);
}

udb_database::~udb_database() { log_message(2, "udb_database::dtor"); }

void udb_database::create_relationships(const std::list<udb_relationship>&) {}

static bool udb_same_table_name(const tk_wstring& a, const tk_wstring& b, bool case_sensitive) {
  return case_sensitive ? a == b : tk_wcompare_no_case(a, b);
}

bool udb_database::delete_tab(const tk_wstring& table) {
  for (auto it = m_tables.begin(); it != m_tables.end(); ++it) {
    if (udb_same_table_name(*it, table, case_sensitive)) {
      m_tables.erase(it);
      return true;
    }
  }
  log_message(2, "Table not found!");
  return false;
}

void udb_database::execute(const tk_wstring&) {
  log_message(2, "udb_database::execute");
  throw tk_mail_assertion(__FILE__, __LINE__);
}

void udb_database::empty_table(const tk_wstring& table) {
  if (log_enabled(2)) log_message(2, "udb_database::empty_table(%s)", tk_u8(table).c_str());
  execute(u"delete from " + table);
}

const tk_wstring* udb_database::find_table(const tk_wstring& table) const {
  for (const tk_wstring& t : m_tables)
    if (t == table) return &t;
  if (case_sensitive) return nullptr;
  for (const tk_wstring& t : m_tables)
    if (tk_wcompare_no_case(t, table)) return &t;
  return nullptr;
}

bool udb_database::is_table_exist(const tk_wstring& table) const {
  if (log_enabled(2))
    log_message(2, "udb_database::is_table_exist(%s,case_sensitive=%d)", tk_u8(table).c_str(),
                case_sensitive ? 1 : 0);
  if (m_tables.empty()) log_message(2, "Tables list is EMPTY!");
  for (const tk_wstring& t : m_tables) {
    if (udb_same_table_name(t, table, case_sensitive)) {
      log_message(2, "table exists");
      return true;
    }
  }
  log_message(2, "table not found");
  return false;
}
