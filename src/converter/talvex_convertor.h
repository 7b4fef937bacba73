// The conversion driver: the one object that holds the settings of a run and
// converts the selected tables of a dump into CSV files, one per table.
#pragma once

#include <atomic>
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
  // The destination is prepared (mode 0 empties it) only once the dump is
  // open and recognised. Level-0 errors are reported and skipped; a level-1
  // or level-2 error ends the run with error_exit after the files written so
  // far are closed.
  void operator()() override;
  bool is_complete() override { return false; }
  bool is_ready() override { return true; }
  void set_silent(bool b) override { silent = b; }

  // Checks the destination folder before anything is read: write access,
  // not a file, and for mode 0 the folder holds nothing but files this
  // program writes. Deletes and creates nothing: that waits until the dump
  // has been recognised (prepare_dest). Raises tk_exception (level 1) when
  // the folder cannot be used.
  void check_dest();
  // Empties the destination (mode 0, after check_dest, keeping the folder
  // itself) and creates it when missing. Called by the conversion once the
  // dump is open.
  void prepare_dest();
  void get_all_tables(std::vector<tk_wstring>& list) const;

  // Settings profiles (the file format is udb_profile's; this converter adds
  // the section "CSV settings"). Loading checks the whole profile before it
  // changes any setting: a file that cannot be read or holds anything this
  // converter would not take raises tk_exception (level 1) naming the file
  // and line. Non-empty values replace the current settings; the rest stay.
  bool load_profile(const tk_wstring& path);
  bool load_profile(const udb_profile& profile);
  // Writes the current settings as a profile; raises tk_exception when the
  // file cannot be written or a setting cannot be held by the format.
  bool store_profile(const tk_wstring& path) const;
  void store_profile(udb_profile& profile) const;
  std::vector<tk_wstring> profile_sections() const override;

  // What the last run did: the summary line and the exit status.
  struct run_totals {
    uint32_t tables_converted = 0;  // files written without a table error
    uint64_t rows_written = 0;
    uint32_t tables_not_found = 0;  // listed names the dump does not hold
    uint32_t files_kept = 0;        // mode 2: existing files left alone
  };
  const run_totals& totals() const { return m_totals; }
  // 0 when every table was converted completely; 1 when records or tables
  // were skipped with errors or a listed table was not found.
  int exit_status() const;

  ora_dump_opener_t<talvex_convertor> opener;
  std::unique_ptr<udb_database> source_db;  // declared after the opener: released first
  bool include_field_names = true;
  uint32_t delimiter_index = 1;          // 0 tab, 1 semicolon, 2 comma
  tk_string table_list_file;             // the --tab_file= path, kept for check_dest
  std::vector<tk_string> profile_files;  // profiles loaded, kept for check_dest
  // Spatial values as EWKT: "SRID=8307;POINT (...)" when the value has a SRID.
  bool ewkt = false;
  // Further files of a dump written as several files (source_file is the
  // first), and whether a dump of which files are missing is converted
  // without them.
  std::vector<tk_wstring> source_parts;
  bool allow_partial = false;
  // Byte arrays (BLOB, RAW) go to side files beside the CSV file, whose
  // field names the file (the wizard); the console writes them as hex.
  bool blob_side_files = false;
  // Tables converted at once, each on a thread of its own (--jobs=). The
  // files, the console lines (in table order), the summary and the exit
  // status are the same for any number. The wizard converts one at a time.
  uint32_t parallel_jobs = 1;

 private:
  struct table_job;
  void convert();
  std::vector<tk_wstring> resolve_jobs();
  // A table's conversion in three steps: opened in table order (its file
  // named and created), its records converted (on a worker thread when
  // several tables run at once), then finished in table order.
  void open_table(table_job& job, csv_engine& engine, csv_validator& validator);
  void convert_rows(table_job& job);
  void finish_job(table_job& job, csv_engine& engine);
  void convert_in_parallel(const std::vector<tk_wstring>& names, csv_engine& engine,
                           csv_validator& validator, size_t threads);
  void convert_records(udb_recordset& table, csv_file& csv, const tk_wstring& name,
                       uint64_t& count);
  void finish_table(csv_file& csv, csv_engine& engine, const tk_wstring& output_name);
  void keep_partial_table(csv_file* csv) noexcept;
  void print_summary();
  void refuse_to_empty(const tk_string& dest) const;
  // Hands the recoverable errors the dump reader recorded to the error
  // handler, in the context of the table (none while the dump is opened).
  void report_source_errors(const tk_wstring& table);
  void report_missing_parts();

  run_totals m_totals;
  bool m_empty_dest = false;           // check_dest found a folder for mode 0 to empty
  bool m_line_open = false;            // a console line waits for its end
  std::atomic<bool> m_abandon{false};  // a parallel run stopped: workers stop their tables

  static inline talvex_convertor* s_instance = nullptr;
};

// The catalogue key a requested table name stands for: the name itself when
// a key matches it (in any case), else the one key whose part after the
// owner equals it (exact case first, then any case); unchanged when none or
// several do.
tk_wstring talvex_resolve_table_name(const std::vector<tk_wstring>& keys, const tk_wstring& name);

// Removes the folder with everything in it (recursive) or its files only.
// Entries whose names begin with a dot are left alone, and so is the folder
// that holds them. Symbolic links are removed, never followed. Raises
// tk_exception_ex when something cannot be deleted.
void common_delete_path(const tk_wstring& path, bool recursive);
// Creates the folder and any missing folders above it. Raises tk_exception
// (level 1) when no existing ancestor is found, tk_exception_ex when a folder
// cannot be created.
void common_create_path(const tk_wstring& path);
