// Oracle column types: this system's type codes, the column descriptor that
// carries them, and the mappings from classic type texts and Data Pump type
// numbers to codes and value types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "UDB/udb_fld.h"

// Type codes (`ora_type`).
enum : uint32_t {
  ORA_NUMBER = 1,
  ORA_CHAR = 2,
  ORA_NCHAR = 3,
  ORA_VARCHAR2 = 4,
  ORA_NVARCHAR2 = 5,
  ORA_BLOB = 6,
  ORA_BFILE = 7,
  ORA_CLOB = 8,
  ORA_RAW = 9,
  ORA_LONG_RAW = 10,
  ORA_DATE = 11,
  ORA_FLOAT = 12,  // FLOAT, BINARY_FLOAT, BINARY_DOUBLE
  ORA_LONG = 13,
  ORA_ROWID = 14,
  ORA_INTERVAL = 15,
  ORA_TIMESTAMP = 16,
  ORA_KEY = 17,
  ORA_XMLTYPE = 18,
  ORA_SDO_GEOMETRY = 19,
  ORA_NESTED_TABLE = 20,
  ORA_VARRAY = 21,
  ORA_OBJECT = 22,
};

// Oracle allows at most 1000 columns in a table: a definition with more is
// damaged (and reading it would only cost time).
constexpr size_t ORA_MAX_COLUMNS = 1000;

// A column of a dump table.
struct t_orcale_ftd : public t_ftd {
  t_orcale_ftd(uint32_t size, uint32_t ora_type, const tk_wstring& name, vartype_t vartype,
               bool not_null, const ole_variant& def_value, uint32_t reserved);

  bool is_lob_or_complex() const;
  bool is_max_size_text() const;

  uint32_t ora_type = 0;
  uint16_t charset_id = 0;  // Oracle character set of the column's text; 0 when unknown
  // Type word of the classic column description block (1 VARCHAR2, 2 NUMBER,
  // 12 DATE, 96 CHAR, 100/101 BINARY_FLOAT/DOUBLE, 112 CLOB ...); 0 unknown.
  uint16_t native_type = 0;
  // The column's type as the dump's DDL writes it ("NUMBER(8, 2)"); empty
  // where the dump gives no type text (Data Pump metadata).
  tk_wstring type_text;
  // The default as the DDL writes it ("'N'", "sysdate"); empty without one.
  tk_wstring default_text;
};

uint32_t native2oratype(int type_num, int charset_id);
vartype_t ora2oletype(uint32_t ora_type, uint32_t length, uint32_t precision, uint32_t scale,
                      int charset_id);

struct ora_type_info {
  uint32_t size = 0;
  vartype_t vartype = VT_EMPTY;
  uint32_t ora_type = 0;
  uint32_t scale = 0;
  uint32_t precision = 0;
};

// Maps a classic column type text ("NUMBER(10, 2)", "VARCHAR2(30)", ...).
// False when a required size is missing. Raises an internal error for plain
// VARCHAR, which Oracle never writes into a dump.
bool get_type(const std::string& type_text, ora_type_info& info);
// The sizes between the parentheses of a type text ("*" counts as 20).
bool get_typesize(const std::string& type_text, std::vector<int>& sizes);
