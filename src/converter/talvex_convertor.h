// The conversion driver: the one object that holds the settings of a run and
// converts the selected tables of a dump into CSV files, one per table.
#pragma once

#include <memory>
#include <vector>

#include "UDB/udb_conv.h"
#include "UDB/udb_db.h"
#include "converter/ora_dump_opener.h"

class csv_engine;
class csv_file;
class csv_validator;

// One converter per process: the first one constructed registers itself as
// the instance (the registration is made in the constructor's body, where
// the object is already a talvex_convertor; tk_singleton's base-class cast
// would run before that and is undefined for a polymorphic class).
class talvex_convertor : public udb_converter {
 public:
  talvex_convertor();
  ~talvex_convertor() override;

  // The registered converter; raises an internal error when there is none.
  static talvex_convertor& instance();
  static talvex_convertor* get() noexcept { return s_instance; }

  // Runs one conversion with the current settings. When no source database
  // is set yet, the dump named by source_file is opened first (console).
  // Level-0 errors are reported and skipped; a level-1 or level-2 error ends
  // the run with error_exit after the files written so far are closed.
  void operator()() override;
  bool is_complete() override { return false; }
  bool is_ready() override { return true; }
  void set_silent(bool b) override { silent = b; }

  // Prepares the destination folder (mode 0 empties it). Raises tk_exception
  // (level 1) or tk_exception_ex when the folder cannot be used.
  void check_dest();
  void get_all_tables(std::vector<tk_wstring>& list) const;
  // Settings profiles are not supported yet: raises tk_exception (level 1).
  bool load_profile(const tk_wstring& path);

  ora_dump_opener_t<talvex_convertor> opener;
  std::unique_ptr<udb_database> source_db;  // declared after the opener: released first
  bool include_field_names = true;
  uint32_t delimiter_index = 1;  // 0 tab, 1 semicolon, 2 comma
  tk_string table_list_file;     // the --tab_file= path, kept for check_dest

 private:
  void convert();
  void convert_table(const tk_wstring& name, csv_engine& engine, csv_validator& validator);
  void convert_records(udb_recordset& table, csv_file& csv, const tk_wstring& name);
  void refuse_to_empty(const tk_string& dest) const;
  // Hands the recoverable errors the dump reader recorded to the error
  // handler, in the context of the table (none while the dump is opened).
  void report_source_errors(const tk_wstring& table);

  static inline talvex_convertor* s_instance = nullptr;
};

// Removes the folder with everything in it (recursive) or its files only.
// Entries whose names begin with a dot are left alone, and so is the folder
// that holds them. Symbolic links are removed, never followed. Raises
// tk_exception_ex when something cannot be deleted.
void common_delete_path(const tk_wstring& path, bool recursive);
// Creates the folder and any missing folders above it. Raises tk_exception
// (level 1) when no existing ancestor is found, tk_exception_ex when a folder
// cannot be created.
void common_create_path(const tk_wstring& path);
