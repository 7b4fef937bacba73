// The dump database: the catalogue of an opened dump, handing out one table
// recordset per table on request.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "UDB/udb_db.h"

class ora_dump_stream;
class ora_dump_reader_th;
class ora_charsets;

// Where one table lies in the dump.
struct table_pos {
  struct index_pos {
    int64_t start = 0, end = 0;
    bool unique = false;
  };

  int64_t start_pos = 0;
  int64_t end_pos = 0;
  std::vector<int64_t> v_data_start_pos;
  std::vector<int64_t> v_data_end_pos;
  std::vector<int64_t> v_data_end_pos_for_progress;
  tk_wstring full_name;
  int32_t record_count = 0;
  std::vector<index_pos> indexes;
  std::vector<std::pair<int64_t, int64_t>> alters;
};

using ora_table_map = std::map<tk_wstring, table_pos>;
using ora_index_map = std::map<std::pair<tk_wstring, tk_wstring>, udb_indexes>;

class ora_dump_file : public udb_database {
 public:
  // What a catalogue scan (or a cache file) found.
  struct context {
    tk_wstring dump_path;
    int64_t m_file_size = 0;
    std::shared_ptr<ora_dump_stream> stream;
    tk_string m_str_version;
    tk_string m_str_username;
    tk_string m_str_tablespacename;
    std::shared_ptr<ora_table_map> m_pmap_tables;
    std::shared_ptr<ora_dump_reader_th> decoder;
    std::list<udb_sequence> m_sequences;
    std::shared_ptr<ora_index_map> m_pmap_indices;
    const ora_charsets* charsets = nullptr;
  };

  explicit ora_dump_file(const context& ctx);
  ~ora_dump_file() override;

  void init();  // rebuilds the table names list from the catalogue
  std::unique_ptr<udb_recordset> get_table(const tk_wstring& name, int flag) override;
  void create_relationships(const std::list<udb_relationship>& rels) override;
  void append_relationships(const std::list<udb_relationship>& rels);
  void add_global_idx(const tk_wstring& owner, const tk_wstring& table, const udb_index& index);
  ora_index_map* get_global_indices() { return m_ctx.m_pmap_indices.get(); }

  // Records, once per table and column, that a column's type number is
  // unknown and its values are kept as raw bytes (a level-0 error).
  void report_unknown_type(const tk_wstring& table, const tk_wstring& column, int32_t type_num,
                           int64_t metadata_pos);

  const context& get_context() const { return m_ctx; }
  ora_table_map* tables() { return m_ctx.m_pmap_tables.get(); }

 private:
  context m_ctx;
  std::set<std::pair<tk_wstring, tk_wstring>> m_unknown_types_reported;
};
