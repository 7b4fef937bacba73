// Fields, records, column descriptors and schemas: construction and the
// case-insensitive lookups by column name.
//
// Lookups are linear scans: a schema holds a few dozen to a few hundred
// columns, and records are built in schema order, so an index by name would
// cost more to keep than it saves.
#include "UDB/udb_fld.h"

#include "TK/tk_log.h"

t_ftd::t_ftd(uint32_t size, const tk_wstring& name, vartype_t vartype, bool not_null,
             const ole_variant& def_value, uint32_t reserved)
    : size(size),
      name(name),
      vartype(vartype),
      b_not_null(not_null),
      def_value(def_value),
      reserved(reserved) {
  if (log_enabled(1)) {
    log_message(2, "t_ftd::ctor2");
    log_message(1, "\tfield name='%s', vartype=%d, size=%u, b_not_null=%d, reserved=%u",
                tk_u8(name).c_str(), vartype, size, not_null ? 1 : 0, reserved);
  }
}

udb_field::udb_field(const tk_wstring& name, uint32_t size, const ole_variant& value)
    : ole_variant(value), size(size), name(name) {}

// ---- udb_schema ------------------------------------------------------------

int32_t udb_schema::get_field_idx(std::u16string_view name) const {
  for (size_t i = 0; i < size(); ++i) {
    const t_ftd* ftd = (*this)[i];
    if (ftd != nullptr && tk_wcompare_no_case(ftd->name, name)) return static_cast<int32_t>(i);
  }
  return -1;
}

bool udb_schema::find_field(std::u16string_view name) const { return get_field_idx(name) >= 0; }

t_ftd* udb_schema::get_field2(std::u16string_view name) const {
  int32_t idx = get_field_idx(name);
  if (idx < 0) {
    if (log_enabled(2)) log_message(2, "Field '%s' not found", tk_u8(name).c_str());
    return nullptr;
  }
  return (*this)[static_cast<size_t>(idx)];
}

// ---- udb_record ------------------------------------------------------------

void udb_record::shape(const udb_schema& schema) {
  resize(schema.size());
  for (size_t i = 0; i < schema.size(); ++i) {
    udb_field& field = (*this)[i];
    const t_ftd* ftd = schema[i];
    field.clear();
    if (ftd != nullptr) {
      field.name = ftd->name;
      field.size = ftd->size;
    } else {
      field.name.clear();
      field.size = 0;
    }
  }
}

void udb_record::clear_values() {
  for (udb_field& field : *this) field.clear();
  errors.clear();
}

udb_field* udb_record::get_field(std::u16string_view name) {
  for (size_t i = 0; i < size(); ++i) {
    if (tk_wcompare_no_case((*this)[i].name, name)) {
      if (log_enabled(1)) log_message(1, "Field found at pos=%zu", i);
      return &(*this)[i];
    }
  }
  return nullptr;
}

bool udb_record::find_field(std::u16string_view name) const {
  for (const udb_field& field : *this)
    if (tk_wcompare_no_case(field.name, name)) return true;
  return false;
}
