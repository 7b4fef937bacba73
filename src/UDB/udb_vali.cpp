// Name validation: whether a name may be used unchanged in a destination, and
// a safe, unique replacement when it may not.
#include "UDB/udb_vali.h"

#include <algorithm>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"

udb_validator::udb_validator(uint32_t max_length) : max_length(max_length) {
  log_message(2, "udb_validator::ctor");
}

bool udb_validator::is_acceptable(const tk_wstring& name) const {
  if (log_enabled(2)) log_message(2, "udb_validator::is_acceptable(%s)", tk_u8(name).c_str());
  if (max_length != 0 && name.size() > max_length) {
    log_message(2, "The name is too long");
    return false;
  }
  for (const tk_wstring& restricted : restricted_names) {
    if (tk_wcompare_no_case(restricted, name)) {
      log_message(2, "The name is restricted");
      return false;
    }
  }
  for (char16_t c : illegal_chars) {
    if (name.find(c) != tk_wstring::npos) {
      if (log_enabled(2))
        log_message(2, "The name contains illegal: %s", tk_u8(std::u16string_view(&c, 1)).c_str());
      return false;
    }
  }
  return true;
}

bool udb_validator::is_duplicated(const tk_wstring& name) const {
  if (log_enabled(2)) log_message(2, "udb_validator::is_duplicated(%s)", tk_u8(name).c_str());
  for (const tk_wstring& used : names_in_use) {
    if (tk_wcompare_no_case(used, name)) {
      log_message(2, "Name is duplicated");
      return true;
    }
  }
  return false;
}

tk_wstring udb_validator::get_safe_name(const tk_wstring& name) const {
  if (log_enabled(1)) log_message(1, "udb_validator::get_safe_name(%s)", tk_u8(name).c_str());
  tk_wstring copy = name;
  if (max_length != 0 && copy.size() > max_length) copy.resize(max_length - 1);
  for (char16_t c : illegal_chars) std::replace(copy.begin(), copy.end(), c, u'_');
  if (is_acceptable(copy) && !is_duplicated(copy)) return copy;

  // Leave room for the five-digit counter.
  if (max_length != 0 && copy.size() + 5 > max_length)
    copy.resize(max_length > 6 ? max_length - 6 : 0);
  for (int i = 0; i < 100000; ++i) {
    tk_wstring candidate = copy + tk_u16(tk_format("%05d", i));
    if (is_acceptable(candidate) && !is_duplicated(candidate)) return candidate;
  }
  throw tk_mail_assertion(__FILE__, __LINE__);
}

void udb_validator::add_existing_name(const tk_wstring& name) {
  if (log_enabled(1)) log_message(1, "udb_validator::add_existing_name(%s)", tk_u8(name).c_str());
  names_in_use.push_back(name);
}
