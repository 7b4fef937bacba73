// The catalogue listing: reads every table's definition through the dump
// database (no row is decoded unless row counts are asked for) and renders
// the result as text or JSON.
#include "converter/talvex_catalogue.h"

#include <map>
#include <nlohmann/json.hpp>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"
#include "common/csv_vali.h"
#include "oracle_dump/ora_dump_file.h"
#include "oracle_dump/ora_type.h"

namespace {

// The type of a column whose dump gives no type text, in Oracle's words.
tk_string type_of(const t_orcale_ftd& f) {
  const bool national = f.charset_id == 2000;
  const uint32_t chars = national ? f.size / 2 : f.size;
  switch (f.ora_type) {
    case ORA_NUMBER:
      if (f.precision == 0 && f.scale == 0) return "NUMBER";
      if (f.scale == 0) return tk_format("NUMBER(%u)", f.precision);
      return tk_format("NUMBER(%u,%u)", f.precision, f.scale);
    case ORA_FLOAT:
      if (f.native_type == 100) return "BINARY_FLOAT";
      if (f.native_type == 101) return "BINARY_DOUBLE";
      return f.precision != 0 ? tk_format("FLOAT(%u)", f.precision) : "FLOAT";
    case ORA_CHAR:
      return tk_format("CHAR(%u)", f.size);
    case ORA_NCHAR:
      return tk_format("NCHAR(%u)", chars);
    case ORA_VARCHAR2:
      return tk_format("VARCHAR2(%u)", f.size);
    case ORA_NVARCHAR2:
      return tk_format("NVARCHAR2(%u)", chars);
    case ORA_BLOB:
      return "BLOB";
    case ORA_BFILE:
      return "BFILE";
    case ORA_CLOB:
      return national ? "NCLOB" : "CLOB";
    case ORA_RAW:
      return tk_format("RAW(%u)", f.size);
    case ORA_LONG_RAW:
      return "LONG RAW";
    case ORA_DATE:
      return "DATE";
    case ORA_LONG:
      return "LONG";
    case ORA_ROWID:
      return f.native_type == 208 ? "UROWID" : "ROWID";
    case ORA_INTERVAL:
      if (f.native_type == 182) return tk_format("INTERVAL YEAR(%u) TO MONTH", f.precision);
      return tk_format("INTERVAL DAY(%u) TO SECOND(%u)", f.precision, f.scale);
    case ORA_TIMESTAMP:
      if (f.native_type == 231) return tk_format("TIMESTAMP(%u) WITH LOCAL TIME ZONE", f.scale);
      if (f.reserved & FTD_WITH_TIME_ZONE)
        return tk_format("TIMESTAMP(%u) WITH TIME ZONE", f.scale);
      return tk_format("TIMESTAMP(%u)", f.scale);
    case ORA_XMLTYPE:
      return "XMLTYPE";
    case ORA_SDO_GEOMETRY:
      return "SDO_GEOMETRY";
    case ORA_NESTED_TABLE:
      return "NESTED TABLE";
    case ORA_VARRAY:
      return "VARRAY";
    case ORA_OBJECT:
      return "OBJECT";
    default:
      return tk_format("TYPE %u", f.ora_type);
  }
}

tk_wstring unquoted(const tk_wstring& name) {
  if (name.size() >= 2 && name.front() == u'"' && name.back() == u'"')
    return name.substr(1, name.size() - 2);
  return name;
}

bool same_name(const tk_wstring& a, const tk_wstring& b) { return a == b; }

// The row counts the export job's master table recorded. The master table
// is found by its columns; each TABLE_DATA row (a statistics-only export
// records its one stream on a MARKER row) carries the rows written for one
// table or partition. Returns the master table's key when one was read.
tk_wstring read_master_counts(ora_dump_file& db, std::map<tk_wstring, uint64_t>& counts) {
  for (const tk_wstring& key : db.get_tables()) {
    std::unique_ptr<udb_recordset> t;
    try {
      t = db.get_table(key, 0);
    } catch (const tk_exception&) {
      continue;
    }
    const udb_schema& sc = t->get_schema();
    const int32_t c_order = sc.get_field_idx(u"PROCESS_ORDER");
    const int32_t c_dup = sc.get_field_idx(u"DUPLICATE");
    const int32_t c_type = sc.get_field_idx(u"OBJECT_TYPE");
    const int32_t c_schema = sc.get_field_idx(u"OBJECT_SCHEMA");
    const int32_t c_name = sc.get_field_idx(u"OBJECT_NAME");
    const int32_t c_rows = sc.get_field_idx(u"COMPLETED_ROWS");
    if (c_order < 0 || c_dup < 0 || c_type < 0 || c_schema < 0 || c_name < 0 || c_rows < 0)
      continue;
    log_message(2, "Reading row counts from master table '%s'", tk_u8(key).c_str());
    std::map<tk_wstring, uint64_t> found;
    try {
      for (t->reset(); !t->is_eof(); t->next()) {
        const udb_record* r = t->get_item1();
        if (r == nullptr) break;
        const tk_wstring type = (*r)[static_cast<size_t>(c_type)].to_wstring();
        const tk_wstring name = (*r)[static_cast<size_t>(c_name)].to_wstring();
        const tk_wstring rows = (*r)[static_cast<size_t>(c_rows)].to_wstring();
        if (type != u"TABLE_DATA" && !(type == u"MARKER" && !name.empty() && !rows.empty()))
          continue;
        if (std::atol(tk_u8((*r)[static_cast<size_t>(c_order)].to_wstring()).c_str()) <= 0 ||
            (*r)[static_cast<size_t>(c_dup)].to_wstring() != u"0" || rows.empty())
          continue;
        const tk_wstring owner = (*r)[static_cast<size_t>(c_schema)].to_wstring();
        found[owner + u"." + name] += std::strtoull(tk_u8(rows).c_str(), nullptr, 10);
      }
    } catch (const tk_exception& e) {
      log_message(3, "The master table '%s' could not be read: %s", tk_u8(key).c_str(), e.what());
      continue;
    }
    counts = std::move(found);
    return key;
  }
  return tk_wstring();
}

// Walks a table's rows; false when a damaged row leaves the count unsure.
bool count_rows(udb_recordset& t, uint64_t& rows) {
  rows = 0;
  bool sound = true;
  for (t.reset(); !t.is_eof(); t.next()) {
    try {
      if (t.get_item1() == nullptr) return false;
    } catch (const tk_exception&) {
      sound = false;
    }
    ++rows;
  }
  return sound;
}

}  // namespace

talvex_catalogue talvex_read_catalogue(ora_dump_file& db, const tk_string& dump_path, bool datapump,
                                       bool count_rows_wanted) {
  log_message(2, "talvex_read_catalogue(%s)", dump_path.c_str());
  talvex_catalogue cat;
  cat.dump = dump_path;
  cat.format = datapump ? "expdp" : "exp";
  if (!datapump) cat.version = db.get_context().m_str_version;

  // Data Pump row counts that no earlier run recorded: the master table.
  if (datapump) {
    bool unknown = false;
    for (const tk_wstring& key : db.get_tables()) {
      uint64_t n = 0;
      unknown = unknown || !db.known_record_count(key, n);
    }
    if (unknown) {
      std::map<tk_wstring, uint64_t> counts;
      read_master_counts(db, counts);
      for (const tk_wstring& key : db.get_tables()) {
        const table_pos* pos = db.find_table_pos(key);
        if (pos == nullptr) continue;
        auto it = counts.find(pos->full_name);
        if (it != counts.end()) db.note_record_count(key, it->second);
      }
    }
  }

  // File names as a conversion of every table gives them out, in the same
  // order and with the same rules.
  csv_validator validator{tk_wstring()};
  for (const tk_wstring& key : db.get_tables()) {
    talvex_catalogue_table entry;
    entry.name = key;
    if (const table_pos* pos = db.find_table_pos(key)) entry.full_name = pos->full_name;
    std::unique_ptr<udb_recordset> t;
    try {
      t = db.get_table(key, 0);
    } catch (const tk_exception& e) {
      entry.error = e.what();
      cat.tables.push_back(std::move(entry));
      continue;
    }
    if (!t->get_schema().empty()) {
      const bool acceptable = validator.is_acceptable(key);
      const tk_wstring output = acceptable ? key : validator.get_safe_name(key);
      if (!acceptable) validator.add_existing_name(output);
      validator.restricted_names.push_back(output);
      entry.csv_file = tk_lower(output) + u".csv";
    }
    for (const t_ftd* f : t->get_schema()) {
      talvex_catalogue_column col;
      col.name = f->name;
      col.not_null = f->b_not_null;
      if (const auto* o = dynamic_cast<const t_orcale_ftd*>(f)) {
        col.type = o->type_text.empty() ? tk_u16(type_of(*o)) : o->type_text;
        col.has_default = !o->default_text.empty();
        col.default_text = o->default_text;
      }
      if (!col.has_default && f->def_value.get_type() != VT_EMPTY) {
        col.has_default = true;
        col.default_text = f->def_value.to_wstring();
      }
      entry.columns.push_back(std::move(col));
    }
    for (const udb_index& idx : t->indexes) {
      talvex_catalogue_key k;
      k.name = idx.name;
      k.columns = idx.fields;
      k.unique = idx.unique;
      if (idx.primary)
        entry.primary_keys.push_back(std::move(k));
      else if (idx.unique_constraint)
        entry.unique_keys.push_back(std::move(k));
      else
        entry.indexes.push_back(std::move(k));
    }
    uint64_t n = 0;
    bool known = db.known_record_count(key, n);
    if (!known) {
      // Data sections that end right after their column descriptions hold
      // no row: that much is known without reading one.
      t->reset();
      known = t->is_eof();
    }
    if (known || (count_rows_wanted && count_rows(*t, n))) {
      entry.has_rows = true;
      entry.rows = n;
      db.note_record_count(key, n);
    }
    cat.tables.push_back(std::move(entry));
  }

  // Foreign keys, as the tables reported them to the database; a Data Pump
  // document names its table without the owner.
  for (const udb_relationship& rel : db.m_relationships) {
    for (talvex_catalogue_table& entry : cat.tables) {
      const size_t dot = entry.full_name.rfind(u'.');
      const tk_wstring plain =
          dot == tk_wstring::npos ? entry.full_name : entry.full_name.substr(dot + 1);
      if (!same_name(rel.fk_table, entry.name) && !same_name(rel.fk_table, plain)) continue;
      talvex_catalogue_foreign_key fk;
      fk.name = rel.fk_name;
      fk.columns.assign(rel.fk_fields.begin(), rel.fk_fields.end());
      fk.ref_table = rel.pk_table;
      fk.ref_columns.assign(rel.pk_fields.begin(), rel.pk_fields.end());
      entry.foreign_keys.push_back(std::move(fk));
      break;
    }
  }

  for (const udb_sequence& s : db.m_sequences) {
    talvex_catalogue_sequence seq;
    seq.name = unquoted(s.name);
    seq.start = s.start;
    seq.increment = s.increment;
    seq.min_value = s.min_value;
    seq.max_value = s.max_value;
    seq.cycle = s.cycle;
    cat.sequences.push_back(std::move(seq));
  }
  return cat;
}

// ---- rendering -------------------------------------------------------------------

namespace {

tk_string join(const std::vector<tk_wstring>& names) {
  tk_string out;
  for (const tk_wstring& n : names) {
    if (!out.empty()) out += ", ";
    out += tk_u8(n);
  }
  return out;
}

tk_string key_line(const char* what, const talvex_catalogue_key& k) {
  tk_string line = tk_string("  ") + what;
  if (!k.name.empty()) line += " " + tk_u8(k.name);
  return line + " (" + join(k.columns) + ")\n";
}

nlohmann::json names_json(const std::vector<tk_wstring>& names) {
  nlohmann::json a = nlohmann::json::array();
  for (const tk_wstring& n : names) a.push_back(tk_u8(n));
  return a;
}

nlohmann::json key_json(const talvex_catalogue_key& k, bool with_unique) {
  nlohmann::json j;
  j["name"] = k.name.empty() ? nlohmann::json() : nlohmann::json(tk_u8(k.name));
  if (with_unique) j["unique"] = k.unique;
  j["columns"] = names_json(k.columns);
  return j;
}

}  // namespace

tk_string talvex_catalogue_text(const talvex_catalogue& cat) {
  tk_string out = "Dump: " + cat.dump + " (" + cat.format;
  if (!cat.version.empty()) out += " " + cat.version;
  out += tk_format(")\nTables: %zu\n", cat.tables.size());
  for (const talvex_catalogue_table& t : cat.tables) {
    out += "\n" + tk_u8(t.name);
    if (!t.csv_file.empty()) out += " -> " + tk_u8(t.csv_file);
    if (t.has_rows) out += tk_format(", %llu rows", static_cast<unsigned long long>(t.rows));
    out += "\n";
    if (!t.error.empty()) out += "  cannot be read: " + t.error + "\n";
    size_t width = 0, type_width = 0;
    for (const talvex_catalogue_column& c : t.columns) {
      width = std::max(width, tk_u8(c.name).size());
      type_width = std::max(type_width, tk_u8(c.type).size());
    }
    for (const talvex_catalogue_column& c : t.columns) {
      tk_string line = "  " + tk_u8(c.name);
      line.append(width + 2 - tk_u8(c.name).size(), ' ');
      line += tk_u8(c.type);
      if (c.not_null || c.has_default) line.append(type_width + 2 - tk_u8(c.type).size(), ' ');
      if (c.not_null) line += "NOT NULL";
      if (c.has_default)
        line += tk_string(c.not_null ? " " : "") + "DEFAULT " + tk_u8(c.default_text);
      out += line + "\n";
    }
    for (const talvex_catalogue_key& k : t.primary_keys) out += key_line("primary key", k);
    for (const talvex_catalogue_key& k : t.unique_keys) out += key_line("unique key", k);
    for (const talvex_catalogue_foreign_key& fk : t.foreign_keys) {
      out += "  foreign key";
      if (!fk.name.empty()) out += " " + tk_u8(fk.name);
      out += " (" + join(fk.columns) + ") references " + tk_u8(fk.ref_table) + " (" +
             join(fk.ref_columns) + ")\n";
    }
    for (const talvex_catalogue_key& k : t.indexes)
      out += key_line(k.unique ? "unique index" : "index", k);
  }
  if (!cat.sequences.empty()) {
    out += tk_format("\nSequences: %zu\n", cat.sequences.size());
    for (const talvex_catalogue_sequence& s : cat.sequences)
      out +=
          tk_format("  %s start %d increment %d min %d max %d %s\n", tk_u8(s.name).c_str(), s.start,
                    s.increment, s.min_value, s.max_value, s.cycle ? "cycle" : "nocycle");
  }
  return out;
}

tk_string talvex_catalogue_json(const talvex_catalogue& cat) {
  using nlohmann::json;
  json doc;
  doc["dump"] = cat.dump;
  doc["format"] = cat.format;
  doc["version"] = cat.version.empty() ? json() : json(cat.version);
  json tables = json::array();
  for (const talvex_catalogue_table& t : cat.tables) {
    json jt;
    jt["name"] = tk_u8(t.name);
    jt["full_name"] = t.full_name.empty() ? json() : json(tk_u8(t.full_name));
    jt["csv_file"] = t.csv_file.empty() ? json() : json(tk_u8(t.csv_file));
    jt["rows"] = t.has_rows ? json(t.rows) : json();
    json cols = json::array();
    for (const talvex_catalogue_column& c : t.columns) {
      json jc;
      jc["name"] = tk_u8(c.name);
      jc["type"] = tk_u8(c.type);
      jc["nullable"] = !c.not_null;
      jc["default"] = c.has_default ? json(tk_u8(c.default_text)) : json();
      cols.push_back(std::move(jc));
    }
    jt["columns"] = std::move(cols);
    jt["primary_key"] = t.primary_keys.empty() ? json() : key_json(t.primary_keys.front(), false);
    json uks = json::array();
    for (const talvex_catalogue_key& k : t.unique_keys) uks.push_back(key_json(k, false));
    jt["unique_keys"] = std::move(uks);
    json fks = json::array();
    for (const talvex_catalogue_foreign_key& fk : t.foreign_keys) {
      json jf;
      jf["name"] = fk.name.empty() ? json() : json(tk_u8(fk.name));
      jf["columns"] = names_json(fk.columns);
      jf["references"] = {{"table", tk_u8(fk.ref_table)}, {"columns", names_json(fk.ref_columns)}};
      fks.push_back(std::move(jf));
    }
    jt["foreign_keys"] = std::move(fks);
    json idxs = json::array();
    for (const talvex_catalogue_key& k : t.indexes) idxs.push_back(key_json(k, true));
    jt["indexes"] = std::move(idxs);
    if (!t.error.empty()) jt["error"] = t.error;
    tables.push_back(std::move(jt));
  }
  doc["tables"] = std::move(tables);
  json seqs = json::array();
  for (const talvex_catalogue_sequence& s : cat.sequences)
    seqs.push_back({{"name", tk_u8(s.name)},
                    {"start", s.start},
                    {"increment", s.increment},
                    {"min", s.min_value},
                    {"max", s.max_value},
                    {"cycle", s.cycle}});
  doc["sequences"] = std::move(seqs);
  // Names that are not valid UTF-16 (a damaged dump) must not end the
  // listing: invalid sequences become U+FFFD.
  return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}
