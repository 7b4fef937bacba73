// Fields, records, column descriptors and schemas: the smallest building
// blocks of the generic database layer.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "TK/tk_exc.h"
#include "values/ole_var.h"

// Flag word (`reserved`) values of a column descriptor.
enum : uint32_t {
  FTD_TRUSTED_DATE = 1,
  FTD_SDO_GEOMETRY = 2,
  FTD_FIXED_CHAR = 4,
  FTD_DEFAULT_NOW = 9,
  FTD_WITH_TIME_ZONE = 0x10,
};

// Description of one column.
struct t_ftd {
  t_ftd() = default;
  t_ftd(uint32_t size, const tk_wstring& name, vartype_t vartype, bool not_null,
        const ole_variant& def_value, uint32_t reserved);
  virtual ~t_ftd() = default;

  uint32_t size = 0;
  uint32_t precision = 0;
  uint32_t scale = 0;
  tk_wstring name;
  vartype_t vartype = VT_EMPTY;
  bool b_not_null = false;
  ole_variant def_value;
  uint32_t reserved = 0;
};

// One value of one column in one row.
class udb_field : public ole_variant {
 public:
  udb_field() = default;
  udb_field(const tk_wstring& name, uint32_t size, const ole_variant& value);

  ole_variant& value() { return *this; }
  const ole_variant& value() const { return *this; }

  uint32_t size = 0;
  tk_wstring name;
};

// Ordered, non-owning list of column descriptors. Descriptors are shared
// between the source table's schema and the CSV writer's copy of it; the
// table that built them keeps them alive (udb_recordset::m_owned_ftds).
class udb_schema : public std::vector<t_ftd*> {
 public:
  virtual ~udb_schema() = default;
  bool find_field(std::u16string_view name) const;
  t_ftd* get_field2(std::u16string_view name) const;      // null when absent
  int32_t get_field_idx(std::u16string_view name) const;  // -1 when absent
};

// One row: one field per schema column, in schema order. A record is reused
// row after row: shape() sets names and sizes once, decoders only set values.
class udb_record : public std::vector<udb_field> {
 public:
  virtual ~udb_record() = default;
  void shape(const udb_schema& schema);  // one empty field per column
  void clear_values();                   // every value VT_EMPTY and no errors, storage kept
  bool find_field(std::u16string_view name) const;
  udb_field* get_field(std::u16string_view name);  // null when absent

  // Level-0 errors of single values (a value that cannot be written as it
  // is stored): the record is still written, with those fields empty, and
  // the caller reports each error naming the record.
  std::vector<tk_exception> errors;
};
