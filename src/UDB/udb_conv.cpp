// The generic converter layers: the thread functor every long operation is
// packaged as, the converter's log-file setting, and the generic part of the
// settings profile.
#include "UDB/udb_conv.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <thread>
#include <tuple>

#include "TK/tk_exc.h"
#include "TK/tk_fname.h"
#include "TK/tk_log.h"

void tk_thread_functor::operator()() {
  while (!is_complete()) idle();
  final_step();
}

void tk_thread_functor::idle() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

tk_converter::tk_converter() { log_message(2, "tk_converter::ctor"); }

void tk_converter::set_logfile(const tk_string& name) {
  log_message(1, "tk_convertor::set_logfile(%s)", name.c_str());
  if (tk_logger::get() == nullptr) return;
  log_file = name;
  if (name.empty()) {
    log_message(1, "Filename is empty");
    return;
  }
  struct stat st {};
  if (::stat(name.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw tk_exception("Logfile name specifies an existing path.", 1);
    // No write bit at all is the read-only attribute of this platform; the
    // access test adds ACLs and read-only mounts (root passes it anyway).
    const bool no_write_bits = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    if (no_write_bits || ::access(name.c_str(), W_OK) != 0)
      throw tk_exception("Logfile name specifies an existing read-only file.", 1);
  }
  // The log is created on the first message, so the folder must exist now
  // and take new files.
  tk_file_name fn(name);
  const tk_string folder = fn.get_drivepath();
  if (!tk_is_path_exist(folder))
    throw tk_exception("Logfile path does not exist.\nPlease verify the correct path was given.",
                       1);
  if (!tk_has_access(folder, TK_GENERIC_WRITE))
    throw tk_exception(
        "Cannot create log file. Make sure you have sufficient\nprivileges to create files in the "
        "directory.",
        1);
  tk_logger::instance().set_file(name);
}

// ---- settings profiles -----------------------------------------------------------

namespace {

// The merge/overwrite mode is one digit, as the wizard and --mode= write it.
const char* check_mode(const tk_wstring& v) {
  return v.size() == 1 && v[0] >= u'0' && v[0] <= u'2' ? nullptr : "Invalid merge/overwrite mode";
}

void apply_logfile(udb_converter& c, const tk_wstring& v) { c.set_logfile(tk_ucs2_to_ansi(v)); }

// The keys of "Generic settings", in the order they are written.
constexpr udb_profile_key<udb_converter> k_generic_keys[] = {
    udb_text_key<udb_converter, &udb_converter::source_file>(udb_profile::generic_settings, u"src"),
    udb_text_key<udb_converter, &udb_converter::dest_folder>(udb_profile::generic_settings,
                                                             u"dest"),
    {udb_profile::generic_settings, u"logfile",
     [](const tk_wstring&) -> const char* { return nullptr; }, apply_logfile,
     [](const udb_converter& c) { return tk_ansi_to_ucs2(c.log_file); }},
    udb_flag_key<udb_converter, &udb_converter::skip_indexes>(udb_profile::generic_settings,
                                                              u"skip indexes"),
    udb_flag_key<udb_converter, &udb_converter::definitions_only>(udb_profile::generic_settings,
                                                                  u"only definitions"),
    {udb_profile::generic_settings, u"mode", check_mode,
     [](udb_converter& c, const tk_wstring& v) { c.existing_folder_mode = v[0] - u'0'; },
     [](const udb_converter& c) {
       return tk_wstring(1, static_cast<char16_t>(u'0' + c.existing_folder_mode));
     }},
};

}  // namespace

void udb_check_profile_section(const udb_profile& profile, const tk_wstring& section,
                               const std::vector<udb_key_check>& keys) {
  std::map<tk_wstring, int64_t> seen;
  for (const udb_profile::entry& e : profile.get_section(section)) {
    const tk_string where = profile.where(e.line);
    if (e.plain)
      throw tk_exception(
          where + ": '" + tk_u8(e.key) + "' is no setting; a setting is a key, '=' and a value", 1);
    const udb_key_check* row = nullptr;
    for (const udb_key_check& k : keys)
      if (e.key == k.key) row = &k;
    if (row == nullptr)
      throw tk_exception(
          where + ": unknown setting '" + tk_u8(e.key) + "' in section [" + tk_u8(section) + "]",
          1);
    auto [first, added] = seen.emplace(e.key, e.line);
    if (!added)
      throw tk_exception(
          where + tk_format(": the setting '%s' is given twice (first on line %lld)",
                            tk_u8(e.key).c_str(), static_cast<long long>(first->second)),
          1);
    if (e.value.empty()) continue;
    if (const char* why = row->check(e.value))
      throw tk_exception(where + ": '" + tk_u8(e.key) + "=" + tk_u8(e.value) + "': " + why, 1);
  }
}

void udb_apply_failed(const udb_profile& profile, int64_t line, const tk_exception& e) {
  throw tk_exception(profile.where(line) + ": " + e.text(), e.level());
}

std::vector<tk_wstring> udb_converter::profile_sections() const {
  return {udb_profile::available_queries, udb_profile::selected_tables, udb_profile::selected_views,
          udb_profile::generic_settings};
}

void udb_converter::check_profile(const udb_profile& profile) const {
  const std::vector<tk_wstring> known = profile_sections();
  for (const auto& [section, entries] : profile.sections()) {
    bool found = false;
    for (const tk_wstring& k : known) found = found || k == section;
    // A misspelt section would drop its settings without a word.
    if (!found)
      throw tk_exception(profile.where(profile.section_line(section)) + ": unknown section [" +
                             tk_u8(section) + "]",
                         1);
  }
  udb_check_profile_keys<udb_converter>(profile, k_generic_keys);
  for (const udb_profile::entry& e : profile.get_selected_tables()) {
    if (e.key.empty())
      throw tk_exception(profile.where(e.line) + ": an entry without a table name", 1);
    // A query cannot be converted into CSV, and a table name with "=" in it
    // cannot be written into a profile: either way the line would convert
    // the table named before the "=", which is not what it asks for.
    if (!e.value.empty())
      throw tk_exception(profile.where(e.line) + ": '" + tk_u8(e.key) + "=" + tk_u8(e.value) +
                             "' is a query or a table name with '='; neither can be converted",
                         1);
  }
}

bool udb_converter::load_profile(const udb_profile& profile) {
  log_message(2, "udb_converter::load_profile");
  check_profile(profile);
  // An unusable log file shows only when it is set; the settings taken
  // before it are then put back, so a refused profile changes nothing.
  auto settings = [this] {
    return std::tie(source_file, dest_folder, log_file, existing_folder_mode, definitions_only,
                    skip_indexes);
  };
  const auto saved = std::apply([](const auto&... s) { return std::make_tuple(s...); }, settings());
  try {
    udb_apply_profile_keys<udb_converter>(*this, profile, k_generic_keys);
  } catch (...) {
    settings() = saved;
    throw;
  }
  // The table selection is replaced as a whole, like a later --tab_file=
  // replaces an earlier one; a profile without tables keeps the current one.
  const udb_profile::entry_list& tables = profile.get_selected_tables();
  if (!tables.empty()) {
    std::vector<tk_wstring> names;
    names.reserve(tables.size());
    for (const udb_profile::entry& e : tables) {
      if (log_enabled(1)) log_message(1, "Loading table '%s'", tk_u8(e.key).c_str());
      names.push_back(e.key);
    }
    table_list = std::move(names);
  }
  auto pairs = [](const udb_profile::entry_list& entries, std::list<string_pair>& out) {
    if (entries.empty()) return;
    out.clear();
    for (const udb_profile::entry& e : entries) out.emplace_back(e.key, e.value);
  };
  pairs(profile.get_available_queries(), available_queries);
  pairs(profile.get_selected_views(), selected_views);
  return true;
}

bool udb_converter::store_profile(udb_profile& profile) const {
  log_message(2, "udb_converter::store_profile");
  for (const string_pair& q : available_queries) {
    if (log_enabled(1))
      log_message(1, "Available Query: (%s,%s)", tk_u8(q.first).c_str(), tk_u8(q.second).c_str());
    profile.set_value(udb_profile::available_queries, q.first, q.second);
  }
  for (const string_pair& job : table_jobs) {
    if (log_enabled(1))
      log_message(1, "Selected Query: (%s,%s)", tk_u8(job.first).c_str(),
                  tk_u8(job.second).c_str());
    profile.set_value(udb_profile::selected_tables, job.first, job.second);
  }
  for (const tk_wstring& name : table_list)
    profile.set_value(udb_profile::selected_tables, name, tk_wstring());
  for (const string_pair& v : selected_views) {
    if (log_enabled(1))
      log_message(1, "Selected View: (%s,%s)", tk_u8(v.first).c_str(), tk_u8(v.second).c_str());
    profile.set_value(udb_profile::selected_views, v.first, v.second);
  }
  udb_store_profile_keys<udb_converter>(*this, profile, k_generic_keys);
  return true;
}
