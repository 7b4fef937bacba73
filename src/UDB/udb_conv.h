// The generic converter layers: a unit of work that may run on a thread, the
// source/destination/log settings, and the table-selection and progress state
// shared by every converter.
#pragma once

#include <cstdint>
#include <list>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "TK/tk_exc.h"
#include "TK/tk_utils.h"
#include "UDB/udb_prof.h"

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

// One key of a profile section that a converter reads and writes. A
// converter lists its keys in a table (one row per key, in the order they are
// written); the functions below check, apply and store a whole table.
template <class C>
struct udb_profile_key {
  const char16_t* section;
  const char16_t* key;
  // Complaint about a non-empty value, nullptr when it is acceptable.
  const char* (*check)(const tk_wstring& value);
  // Takes a checked non-empty value; an empty value leaves the setting alone.
  void (*apply)(C& converter, const tk_wstring& value);
  tk_wstring (*value_of)(const C& converter);
};

// Row makers for the usual kinds of setting; member is a pointer to a
// member of C or of its bases.
// A flag: "1" or "0".
template <class C, auto member>
constexpr udb_profile_key<C> udb_flag_key(const char16_t* section, const char16_t* key) {
  return {section, key,
          [](const tk_wstring& v) -> const char* {
            return v == u"0" || v == u"1" ? nullptr : "Invalid value, 0 or 1 expected";
          },
          [](C& c, const tk_wstring& v) { c.*member = v == u"1"; },
          [](const C& c) { return tk_wstring(c.*member ? u"1" : u"0"); }};
}
// Text taken as it stands.
template <class C, auto member>
constexpr udb_profile_key<C> udb_text_key(const char16_t* section, const char16_t* key) {
  return {section, key, [](const tk_wstring&) -> const char* { return nullptr; },
          [](C& c, const tk_wstring& v) { c.*member = v; }, [](const C& c) { return c.*member; }};
}

// One key's name and value check, for the non-template part of the checks.
struct udb_key_check {
  const char16_t* key;
  const char* (*check)(const tk_wstring& value);
};
// Refuses what a section holds that the converter would not take: a line
// without "=", a key not in `keys`, a key given twice, a value its check
// refuses. Messages name the file and the line (tk_exception, level 1).
void udb_check_profile_section(const udb_profile& profile, const tk_wstring& section,
                               const std::vector<udb_key_check>& keys);
// Raises e again with the file and line of the profile entry in front.
[[noreturn]] void udb_apply_failed(const udb_profile& profile, int64_t line, const tk_exception& e);

// Checks every section of a key table. The rows of a section stand together
// in one table; keys of the section found in no row are refused.
template <class C>
void udb_check_profile_keys(const udb_profile& profile, std::span<const udb_profile_key<C>> keys) {
  std::vector<std::pair<tk_wstring, std::vector<udb_key_check>>> sections;
  for (const udb_profile_key<C>& k : keys) {
    if (sections.empty() || sections.back().first != k.section) sections.push_back({k.section, {}});
    sections.back().second.push_back({k.key, k.check});
  }
  for (const auto& [section, checks] : sections)
    udb_check_profile_section(profile, section, checks);
}

// Applies the non-empty values of a checked profile, in table order.
template <class C>
void udb_apply_profile_keys(C& converter, const udb_profile& profile,
                            std::span<const udb_profile_key<C>> keys) {
  for (const udb_profile_key<C>& k : keys) {
    const udb_profile::entry* e = profile.find(k.section, k.key);
    if (e == nullptr || e->value.empty()) continue;
    try {
      k.apply(converter, e->value);
    } catch (const tk_exception& ex) {
      udb_apply_failed(profile, e->line, ex);
    }
  }
}

template <class C>
void udb_store_profile_keys(const C& converter, udb_profile& profile,
                            std::span<const udb_profile_key<C>> keys) {
  for (const udb_profile_key<C>& k : keys)
    profile.set_value(k.section, k.key, k.value_of(converter));
}

class udb_converter : public tk_converter {
 public:
  using string_pair = std::pair<tk_wstring, tk_wstring>;

  virtual bool is_ready() = 0;

  // Refuses what a profile holds that this converter cannot take
  // (tk_exception, level 1, naming the file and line): a section not in
  // profile_sections(), settings of "Generic settings" as for
  // udb_check_profile_section, and entries of "Selected Tables" that carry a
  // query or no name.
  void check_profile(const udb_profile& profile) const;
  // Checks the profile (check_profile), then takes its generic settings:
  // the non-empty values of "Generic settings", and the table list
  // of "Selected Tables" when the section names any table, which then
  // replaces table_list (as a later --tab_file= would). A log file that
  // cannot be used raises tk_exception with every setting left as it was.
  // Returns true.
  bool load_profile(const udb_profile& profile);
  // Adds the generic settings to a profile: queries, the tables of
  // table_jobs and table_list, views and "Generic settings". Returns true.
  bool store_profile(udb_profile& profile) const;
  // Sections a profile of this converter may hold.
  virtual std::vector<tk_wstring> profile_sections() const;

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
