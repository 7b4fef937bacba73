// Oracle type mapping.
#include "oracle_dump/ora_type.h"

#include <cstdlib>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"

t_orcale_ftd::t_orcale_ftd(uint32_t size_, uint32_t ora_type_, const tk_wstring& name_,
                           vartype_t vartype_, bool not_null, const ole_variant& def_value_,
                           uint32_t reserved_)
    : t_ftd(size_, name_, vartype_, not_null, def_value_, reserved_), ora_type(ora_type_) {}

bool t_orcale_ftd::is_lob_or_complex() const {
  switch (ora_type) {
    case ORA_BLOB:
    case ORA_CLOB:
    case ORA_LONG_RAW:
    case ORA_LONG:
    case ORA_XMLTYPE:
    case ORA_SDO_GEOMETRY:
    case ORA_NESTED_TABLE:
    case ORA_VARRAY:
      return true;
    default:
      return false;
  }
}

bool t_orcale_ftd::is_max_size_text() const {
  if (ora_type == ORA_CLOB) return true;
  return size == 4000 && ora_type >= ORA_CHAR && ora_type <= ORA_NVARCHAR2;
}

uint32_t native2oratype(int type_num, int charset_id) {
  const bool national = charset_id == 2000;
  switch (type_num) {
    case 1:
    case 5:
    case 9:
    case 97:
      return national ? ORA_NVARCHAR2 : ORA_VARCHAR2;
    case 96:
      return national ? ORA_NCHAR : ORA_CHAR;
    case 2:
    case 3:
    case 68:
      return ORA_NUMBER;
    case 4:
    case 100:
    case 101:
      return ORA_FLOAT;
    case 8:
      return ORA_LONG;
    case 11:
    case 69:
      return ORA_ROWID;
    case 12:
    case 184:
      return ORA_DATE;
    case 23:
      return ORA_RAW;
    case 24:
      return ORA_LONG_RAW;
    case 58:
      return ORA_XMLTYPE;
    case 112:
    case 115:
      return ORA_CLOB;
    case 113:
      return ORA_BLOB;
    case 114:
      return ORA_BFILE;
    case 121:
      return ORA_OBJECT;
    case 122:
      return ORA_NESTED_TABLE;
    case 123:
      return ORA_VARRAY;
    case 180:
    case 181:
    case 185:
    case 186:
    case 187:
    case 188:
    case 231:
    case 232:
      return ORA_TIMESTAMP;
    case 182:
    case 183:
      return ORA_INTERVAL;
    default:
      return 0;
  }
}

vartype_t ora2oletype(uint32_t ora_type, uint32_t length, uint32_t precision, uint32_t scale,
                      int charset_id) {
  (void)length;
  if (ora_type < 1 || ora_type > 22) return VT_NULL;
  switch (ora_type) {
    case ORA_NUMBER:
      if (scale != 0) return VT_DECIMAL;
      if (precision == 1 || precision == 2) return VT_I1;
      if (precision == 3 || precision == 4) return VT_I2;
      if (precision >= 5 && precision <= 9) return VT_I4;
      if (precision >= 10 && precision <= 20) return VT_I8;
      return VT_R8;
    case ORA_CHAR:
    case ORA_NCHAR:
    case ORA_VARCHAR2:
    case ORA_NVARCHAR2:
    case ORA_CLOB:
    case ORA_LONG:
    case ORA_INTERVAL:
    case ORA_KEY:
    case ORA_SDO_GEOMETRY:
      return VT_BSTR;
    case ORA_DATE:
    case ORA_TIMESTAMP:
      return VT_DATE;
    case ORA_FLOAT:
      return VT_R8;
    case ORA_XMLTYPE:
      return charset_id != 0 ? VT_BSTR : VT_BLOB;
    default:
      return VT_BLOB;
  }
}

bool get_typesize(const std::string& type_text, std::vector<int>& sizes) {
  sizes.clear();
  const size_t open = type_text.find('(');
  const size_t close = type_text.find(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  const tk_string inner = tk_trim(std::string_view(type_text).substr(open + 1, close - open - 1));
  for (tk_string piece : tk_split(inner, ',')) {
    if (tk_trim(piece) == "*") piece = "20";
    sizes.push_back(std::atoi(piece.c_str()));
  }
  return true;
}

bool get_type(const std::string& type_text, ora_type_info& info) {
  const std::string t = tk_upper(type_text);
  std::vector<int> sizes;
  auto contains = [&](const char* w) { return t.find(w) != std::string::npos; };
  auto one_size = [&](uint32_t& out) {
    if (!get_typesize(t, sizes) || sizes.size() != 1 || sizes[0] < 0) {
      log_message(2, "Failed to get the data type size '%s'", type_text.c_str());
      return false;
    }
    out = static_cast<uint32_t>(sizes[0]);
    return true;
  };
  auto set = [&](uint32_t size, vartype_t vt, uint32_t code) {
    info.size = size;
    info.vartype = vt;
    info.ora_type = code;
    return true;
  };
  uint32_t n = 0;
  if (contains("NVARCHAR2")) return one_size(n) && set(n, VT_BSTR, ORA_NVARCHAR2);
  if (contains("VARCHAR2")) return one_size(n) && set(n, VT_BSTR, ORA_VARCHAR2);
  if (contains("VARCHAR")) throw tk_mail_assertion(__FILE__, __LINE__);
  if (contains("NCHAR")) return one_size(n) && set(n, VT_BSTR, ORA_NCHAR);
  if (contains("CHAR")) return one_size(n) && set(n, VT_BSTR, ORA_CHAR);
  if (contains("DATE")) return set(8, VT_DATE, ORA_DATE);
  if (contains("NUMBER")) {
    get_typesize(t, sizes);
    if (sizes.empty()) {
      info.precision = info.scale = 0;
      return set(8, VT_R8, ORA_NUMBER);
    }
    const uint32_t p = sizes[0] < 0 ? 0 : static_cast<uint32_t>(sizes[0]);
    const uint32_t s = sizes.size() >= 2 && sizes[1] > 0 ? static_cast<uint32_t>(sizes[1]) : 0;
    // A negative scale (NUMBER(5,-2)) rounds to hundreds: still integers.
    info.precision = p;
    if (sizes.size() >= 2 && s != 0) {
      info.scale = s;
      return set(8, VT_DECIMAL, ORA_NUMBER);
    }
    info.scale = 0;
    if (p <= 2) return set(1, VT_I1, ORA_NUMBER);
    if (p <= 4) return set(2, VT_I2, ORA_NUMBER);
    if (p <= 9) return set(4, VT_I4, ORA_NUMBER);
    if (p <= 20) return set(8, VT_I8, ORA_NUMBER);
    return set(8, VT_R8, ORA_NUMBER);
  }
  // BINARY_FLOAT and BINARY_DOUBLE are IEEE numbers; a plain FLOAT is an
  // Oracle NUMBER of binary precision and is stored like one. The row
  // decoder goes by the description block's type word either way.
  if (contains("BINARY_DOUBLE")) return set(8, VT_R8, ORA_FLOAT);
  if (contains("FLOAT")) return set(4, VT_R8, ORA_FLOAT);
  if (contains("INTERVAL")) return set(0, VT_BSTR, ORA_INTERVAL);
  if (contains("LONG RAW")) return set(0, VT_BLOB, ORA_LONG_RAW);
  if (contains("LONG")) return set(0, VT_BSTR, ORA_LONG);
  if (contains("CLOB")) return set(0, VT_BSTR, ORA_CLOB);  // also NCLOB
  if (contains("BLOB")) return set(0, VT_BLOB, ORA_BLOB);
  if (contains("BFILE")) return set(0, VT_BLOB, ORA_BFILE);
  if (contains("ROWID")) {
    // ROWID carries no size; UROWID(n) does.
    if (get_typesize(t, sizes) && sizes.size() == 1 && sizes[0] >= 0)
      n = static_cast<uint32_t>(sizes[0]);
    return set(n, VT_BLOB, ORA_ROWID);
  }
  if (contains("RAW")) return one_size(n) && set(n, VT_BLOB, ORA_RAW);
  if (contains("TIMESTAMP")) {
    if (get_typesize(t, sizes) && sizes.size() == 1 && sizes[0] >= 0)
      info.scale = static_cast<uint32_t>(sizes[0]);
    return set(0, VT_DATE, ORA_TIMESTAMP);
  }
  if (contains("KEY")) return set(0, VT_BSTR, ORA_KEY);
  if (contains("XMLTYPE")) return set(0, VT_BSTR, ORA_XMLTYPE);
  if (contains("SDO_GEOMETRY")) return set(0, VT_BSTR, ORA_SDO_GEOMETRY);
  return set(0, VT_BLOB, ORA_OBJECT);
}
