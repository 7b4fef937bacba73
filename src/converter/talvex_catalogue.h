// The catalogue of a dump as a user sees it: every table with the CSV file a
// conversion would write, its row count where known, its columns, keys,
// foreign keys and indexes, and the dump's sequences. Built without
// converting anything or touching any folder, and written as readable text
// or as one JSON document (`TALVEXCLI --list`, `--list=json`).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TK/tk_utils.h"

class ora_dump_file;

struct talvex_catalogue_column {
  tk_wstring name;
  tk_wstring type;
  bool not_null = false;
  bool has_default = false;
  tk_wstring default_text;
};

struct talvex_catalogue_key {
  tk_wstring name;
  bool unique = false;  // indexes only
  std::vector<tk_wstring> columns;
};

struct talvex_catalogue_foreign_key {
  tk_wstring name;
  std::vector<tk_wstring> columns;
  tk_wstring ref_table;
  std::vector<tk_wstring> ref_columns;
};

struct talvex_catalogue_table {
  tk_wstring name;       // catalogue key: what --tables= and --tab_file= take
  tk_wstring full_name;  // owner and name where the dump records them
  tk_wstring csv_file;   // empty when the table cannot be read
  bool has_rows = false;
  uint64_t rows = 0;
  std::vector<talvex_catalogue_column> columns;
  std::vector<talvex_catalogue_key> primary_keys;  // at most one in a sound dump
  std::vector<talvex_catalogue_key> unique_keys;
  std::vector<talvex_catalogue_foreign_key> foreign_keys;
  std::vector<talvex_catalogue_key> indexes;
  tk_string error;  // why the table could not be read
};

struct talvex_catalogue_sequence {
  tk_wstring name;
  int32_t start = 0, increment = 0, min_value = 0, max_value = 0;
  bool cycle = false;
};

struct talvex_catalogue {
  tk_string dump;
  tk_string format;   // "exp" or "expdp"
  tk_string version;  // the classic version word; empty for Data Pump
  std::vector<talvex_catalogue_table> tables;
  std::vector<talvex_catalogue_sequence> sequences;
};

// Reads the catalogue of an opened dump. Row counts come from an earlier walk
// (the cache file) or the Data Pump master table; with `count_rows` the rows
// of every table whose count is still unknown are walked.
talvex_catalogue talvex_read_catalogue(ora_dump_file& db, const tk_string& dump_path, bool datapump,
                                       bool count_rows);

tk_string talvex_catalogue_text(const talvex_catalogue& catalogue);
// One JSON document (UTF-8, ending with a line feed); the README gives its shape.
tk_string talvex_catalogue_json(const talvex_catalogue& catalogue);
