// Indexes, key constraints, sequences and foreign keys of a table or database.
#pragma once

#include <list>
#include <vector>

#include "TK/tk_utils.h"

struct udb_index {
  tk_wstring name;
  bool unique = false;
  bool primary = false;
  bool unique_constraint = false;
  std::vector<tk_wstring> fields;
  std::vector<tk_wstring> fields2;
};

// Index list whose push_back merges an index into an existing one of the same
// name (primary keys win over unique constraints, which win over indexes).
class udb_indexes : public std::vector<udb_index> {
 public:
  void push_back(const udb_index& index);
};

struct udb_sequence {
  udb_sequence(const tk_wstring& name, int32_t start, int32_t increment, int32_t min_value,
               int32_t max_value, bool cycle);
  tk_wstring name;
  int32_t increment = 1;
  int32_t start = 1;
  int32_t min_value = 0;
  int32_t max_value = 0;
  bool cycle = false;
};

struct udb_relationship {
  tk_wstring fk_name, fk_table, pk_table;
  std::list<tk_wstring> fk_fields, pk_fields;
};
