// Decides whether a name may be used unchanged in a destination and derives a
// safe, unique replacement when it may not.
#pragma once

#include <vector>

#include "TK/tk_utils.h"

class udb_validator {
 public:
  explicit udb_validator(uint32_t max_length);
  virtual ~udb_validator() = default;

  virtual bool is_acceptable(const tk_wstring& name) const;
  virtual bool is_duplicated(const tk_wstring& name) const;
  virtual tk_wstring get_safe_name(const tk_wstring& name) const;
  void add_existing_name(const tk_wstring& name);

  uint32_t max_length = 0;
  std::vector<char16_t> illegal_chars;
  std::vector<tk_wstring> restricted_names;
  std::vector<tk_wstring> names_in_use;
};
