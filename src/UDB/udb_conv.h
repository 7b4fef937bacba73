// The generic converter layers: a unit of work that may run on a thread, the
// source/destination/log settings, and the table-selection and progress state
// shared by every converter.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <utility>
#include <vector>

#include "TK/tk_utils.h"

class tk_thread_functor {
 public:
  virtual ~tk_thread_functor() = default;
  virtual void operator()();
  virtual bool is_complete() { return false; }
  virtual void idle();
  virtual void final_step() {}
};

class tk_converter : public tk_thread_functor {
 public:
  tk_converter();
  virtual void set_silent(bool b) { silent = b; }
  // Validates a log file name and switches the trace log on; raises
  // tk_exception (level 1) on an unusable name.
  void set_logfile(const tk_string& name);

  bool finished = false;
  bool silent = false;
  tk_wstring source_file;
  tk_wstring dest_folder;
  tk_string log_file;
};

class udb_converter : public tk_converter {
 public:
  using string_pair = std::pair<tk_wstring, tk_wstring>;

  virtual bool is_ready() = 0;

  int32_t existing_folder_mode = 0;  // 0 overwrite folder, 1 overwrite files, 2 skip
  int32_t table_count = 0;
  int32_t table_index = 0;
  tk_wstring current_table;
  uint64_t table_records = 0;
  uint64_t current_record = 0;
  std::vector<tk_wstring> table_list;
  std::list<string_pair> table_jobs;
  std::list<string_pair> selected_views;
  std::list<string_pair> available_queries;
  bool definitions_only = false;
  bool skip_indexes = false;
};
