// Recordsets (tables read or written row by row) and databases (named
// collections of tables), as the conversion driver sees both ends.
#pragma once

#include <list>
#include <memory>
#include <utility>
#include <vector>

#include "TK/tk_exc.h"
#include "UDB/udb_fld.h"
#include "UDB/udb_idx.h"

class udb_recordset {
 public:
  explicit udb_recordset(const tk_wstring& name);
  virtual ~udb_recordset();

  virtual void append_record(const udb_record& record) = 0;
  virtual void update2() {}
  virtual void update1() {}
  // The current record; null when there is none. Owned by the recordset and
  // valid until the next get_item1, prev or the recordset's destruction.
  virtual udb_record* get_item1() { return nullptr; }
  virtual bool is_eof() { return true; }
  bool has_source_text() const { return !source_text.empty(); }
  virtual void move_to(int64_t row);
  virtual void next() {}
  virtual void prev() {}
  virtual void reset() {}
  // A new record holding copies of the key fields; raises without a key.
  std::unique_ptr<udb_record> get_key(const udb_record& record) const;
  tk_wstring get_filter_subquery(const tk_wstring& key) const;

  // Adds a descriptor under a unique name (A, A_, A_1, A_1_, ...).
  void add_column(t_ftd* ftd);
  // Takes ownership of a descriptor and appends it to the schema.
  t_ftd* own_column(std::unique_ptr<t_ftd> ftd);

  const tk_wstring& get_name() const { return name; }
  udb_schema& get_schema() { return schema; }
  const udb_schema& get_schema() const { return schema; }

  tk_wstring source_text;
  tk_wstring name;
  int32_t key_index = -1;
  udb_schema schema;
  udb_indexes indexes;
  uint64_t m_record_counter = 0;

 protected:
  // Descriptors this recordset created; others may share them through their
  // schemas and must not outlive the recordset.
  std::vector<std::unique_ptr<t_ftd>> m_owned_ftds;
};

class udb_database {
 public:
  udb_database(const tk_wstring& name, int kind, bool case_sensitive);
  virtual ~udb_database();

  // A new recordset for the named table, owned by the caller. Raises
  // tk_exception when the table is missing or cannot be read.
  virtual std::unique_ptr<udb_recordset> get_table(const tk_wstring& name, int flag) = 0;
  virtual void create_relationships(const std::list<udb_relationship>& rels);
  virtual bool delete_tab(const tk_wstring& name);
  virtual void execute(const tk_wstring& statement);
  void empty_table(const tk_wstring& name);

  const std::vector<tk_wstring>& get_tables() const { return m_tables; }
  bool is_table_exist(const tk_wstring& name) const;
  // The table names list's entry for a name: the one spelled exactly so
  // first (EMP and "Emp" are two tables), else the first that differs only
  // in case (unless case_sensitive). Null when none matches.
  const tk_wstring* find_table(const tk_wstring& name) const;

  // Recoverable (level-0) errors met while reading the catalogue or opening
  // a table, such as a refused metadata block or a column of unknown type:
  // the reading went on, but the conversion driver reports each one through
  // its error handler so the run is not taken for a complete one.
  // A thread that reads a table on its own (tables converted in parallel)
  // collects the errors of that reading in a list of its own instead.
  void add_error(const tk_exception& e) {
    if (t_error_sink != nullptr)
      t_error_sink->push_back(e);
    else
      m_errors.push_back(e);
  }
  // The errors recorded since the last call, oldest first.
  std::vector<tk_exception> take_errors() { return std::exchange(m_errors, {}); }
  // Where add_error puts the errors of the calling thread (nullptr: here).
  static void set_thread_error_sink(std::vector<tk_exception>* sink) { t_error_sink = sink; }

  tk_wstring name;
  bool case_sensitive = false;
  std::list<udb_sequence> m_sequences;
  std::list<udb_relationship> m_relationships;

 protected:
  std::vector<tk_wstring> m_tables;
  std::vector<tk_exception> m_errors;
  static inline thread_local std::vector<tk_exception>* t_error_sink = nullptr;
};
