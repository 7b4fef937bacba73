// The dump database: catalogue, table names and table recordsets.
#include "oracle_dump/ora_dump_file.h"

#include "TK/tk_exc.h"
#include "TK/tk_log.h"
#include "oracle_dump/ora_dump_table.h"

ora_dump_file::ora_dump_file(const context& ctx)
    : udb_database(tk_wstring(), 1, false), m_ctx(ctx) {
  m_sequences = ctx.m_sequences;
  init();
}

ora_dump_file::~ora_dump_file() = default;

void ora_dump_file::init() {
  m_tables.clear();
  if (!m_ctx.m_pmap_tables) return;
  for (const auto& [key, pos] : *m_ctx.m_pmap_tables) {
    (void)pos;
    m_tables.push_back(key);
  }
}

std::unique_ptr<udb_recordset> ora_dump_file::get_table(const tk_wstring& name_, int flag) {
  (void)flag;
  if (m_ctx.m_pmap_tables) {
    for (const auto& [key, pos] : *m_ctx.m_pmap_tables) {
      const bool match = case_sensitive ? key == name_ : tk_wcompare_no_case(key, name_);
      if (!match) continue;
      auto table = std::make_unique<ora_dump_table>(this, key);
      table->m_ddl_charsets = m_ctx.charsets;
      if (!table->init(m_ctx.stream, pos, m_ctx.decoder, m_ctx.m_str_version)) {
        log_message(3, "Failed to init table '%s'", tk_u8(key).c_str());
        throw tk_exception("Failed to initialize table", 1);
      }
      return table;
    }
  }
  const std::string text = "Table \"" + tk_u8(name_) + "\" doesn't exist in the database";
  log_message(2, "%s", text.c_str());
  throw tk_exception(text, 1);
}

void ora_dump_file::create_relationships(const std::list<udb_relationship>& rels) {
  m_relationships = rels;
}

void ora_dump_file::append_relationships(const std::list<udb_relationship>& rels) {
  m_relationships.insert(m_relationships.end(), rels.begin(), rels.end());
}

void ora_dump_file::add_global_idx(const tk_wstring& owner, const tk_wstring& table,
                                   const udb_index& index) {
  if (!m_ctx.m_pmap_indices) {
    log_message(2, "m_pmap_indices is NULL");
    return;
  }
  (*m_ctx.m_pmap_indices)[{owner, table}].push_back(index);
}

void ora_dump_file::report_unknown_type(const tk_wstring& table, const tk_wstring& column,
                                        int32_t type_num, int64_t metadata_pos) {
  if (!m_unknown_types_reported.insert({table, column}).second) return;
  add_error(dump_error(tk_format("Column '%s' has the type number %d, which the program does not "
                                 "know: its values are written as raw bytes",
                                 tk_u8(column).c_str(), type_num),
                       metadata_pos, 0));
}
