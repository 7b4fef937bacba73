// A table of a dump as a recordset: its schema built from the table's
// definition, and its rows walked section by section through the record
// decoder.
#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "UDB/udb_db.h"
#include "oracle_dump/ora_dump_file.h"
#include "oracle_dump/ora_dump_reader_th.h"
#include "oracle_dump/ora_type.h"

class ora_dump_stream;

// One data section of a table (one INSERT statement of a classic dump).
struct table_partition {
  int64_t start_pos = 0;
  int64_t end_pos = 0;
  uint16_t skip_blob_flag = 0;
  std::vector<tk_wstring> field_names;
};

class ora_dump_table : public udb_recordset {
 public:
  ora_dump_table(ora_dump_file* database, const tk_wstring& name);
  ~ora_dump_table() override;

  bool init(std::shared_ptr<ora_dump_stream> stream, const table_pos& pos,
            std::shared_ptr<ora_dump_reader_th> decoder, const tk_string& version);

  void append_record(const udb_record&) override {}
  udb_record* get_item1() override;
  bool is_eof() override;
  void next() override;
  void prev() override;
  void reset() override;

  // Steps of the classic initialisation, exposed for tests.
  bool process_table_desc(const std::string& text);
  bool add_field(const std::string& definition);
  static std::vector<tk_wstring> get_fields_names(const std::string& column_list);

  // Keys, indexes and defaults of a classic table (the statements after its
  // CREATE TABLE), exposed for tests.
  bool parse_indexes(const std::vector<table_pos::index_pos>& index_poses);
  bool parse_alters(const std::vector<std::pair<int64_t, int64_t>>& alter_poses);
  void parse_keys(ora_dump_stream& s, std::list<udb_relationship>& rels);
  static std::string get_index_fields(ora_dump_stream& s);
  std::vector<tk_wstring> get_field_list(ora_dump_stream& s);
  ole_variant get_def_value(vartype_t vt, const std::string& text) const;
  // Name of an unnamed UNIQUE constraint: the table name, "_UC" and twelve
  // digits derived from the table and column names.
  tk_wstring gen_unique_constr_name(const std::vector<tk_wstring>& columns) const;

  const std::vector<table_partition>& partitions() const { return m_partitions; }
  // Data Pump metadata parser: adds a column under a unique name and keeps
  // the descriptor alive with the table.
  t_ftd* add_owned_column(std::unique_ptr<t_ftd> ftd) {
    t_ftd* p = ftd.get();
    m_owned_ftds.push_back(std::move(ftd));
    add_column(p);
    return p;
  }
  ora_dump_file* database() const { return p_database; }
  const ora_charsets* m_ddl_charsets = nullptr;  // decodes names of the DDL text

 private:
  bool init_classic(const table_pos& pos);
  void apply_default(std::string_view statement);
  void parse_inline_constraints();
  bool init_pump(const table_pos& pos);
  void set_progress();
  // Records (once) that the file ends inside the table's rows.
  void report_cut_rows(int64_t pos);
  void enter_partition(size_t index);
  tk_wstring ddl_text(std::string_view bytes) const;

  std::shared_ptr<ora_dump_stream> m_stream;
  std::shared_ptr<ora_dump_reader_th> m_token_handler;
  std::deque<int64_t> m_lst_records;
  size_t m_cur_record = 0;  // index into m_lst_records; == size() when at the end
  int64_t m_start_pos = 0;
  int64_t m_end_pos = 0;
  ora_dump_file* p_database = nullptr;
  std::vector<table_partition> m_partitions;
  size_t m_current_partition = 0;
  udb_record m_record;
  bool m_b_pump = false;
  std::vector<std::string> m_inline_constraints;  // constraint pieces of CREATE TABLE
  // Records stepped over since reset(); a walk that reached the end without
  // a damaged record tells the table's row count.
  uint64_t m_rows_walked = 0;
  bool m_walk_whole = false;
  bool m_cut_reported = false;
};
