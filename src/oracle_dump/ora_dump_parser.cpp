// Data Pump metadata parser (Xerces-C SAX).
//
// The parser keeps the path of open elements and acts when an element ends:
// leaf values are stored by where they sit (a column item, the table's
// SCHEMA_OBJ, a constraint item, the base object of an index), column lists
// and constraint items are turned into columns and indexes at their ends.
// Subtrees the model has no use for (LOB and sequence metadata, the index of
// a constraint, type attributes) are passed over.
#include "oracle_dump/ora_dump_parser.h"

#include <algorithm>
#include <cstring>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"
#include "oracle_dump/ora_charset.h"
#include "oracle_dump/ora_dump_stream.h"
#include "oracle_dump/ora_dump_table.h"
#include "oracle_dump/ora_type.h"

namespace {

bool starts_with(std::u16string_view s, std::u16string_view p) {
  return s.size() >= p.size() && s.substr(0, p.size()) == p;
}
bool ends_with(std::u16string_view s, std::u16string_view p) {
  return s.size() >= p.size() && s.substr(s.size() - p.size()) == p;
}
// CON0_LIST, CON1_LIST, CON2_LIST ... of a TABLE_T.
bool is_con_list(std::u16string_view s) {
  return s.size() >= 9 && starts_with(s, u"CON") && ends_with(s, u"_LIST");
}
bool is_con_list_item(std::u16string_view s) {
  return s.size() >= 14 && starts_with(s, u"CON") && ends_with(s, u"_LIST_ITEM");
}
bool is_column_item(std::u16string_view s) {
  return s == u"COL_LIST_ITEM" || s == u"SRC_COL_LIST_ITEM" || s == u"TGT_COL_LIST_ITEM";
}

// Standard wide integer conversion: blanks skipped, stops at the first
// non-digit, 0 without digits.
int32_t to_int(std::u16string_view t) {
  size_t i = 0;
  while (i < t.size() && (t[i] == u' ' || t[i] == u'\t' || t[i] == u'\n' || t[i] == u'\r')) ++i;
  bool neg = false;
  if (i < t.size() && (t[i] == u'-' || t[i] == u'+')) neg = t[i++] == u'-';
  int64_t v = 0;
  for (; i < t.size() && t[i] >= u'0' && t[i] <= u'9'; ++i) {
    v = v * 10 + (t[i] - u'0');
    if (v > INT32_MAX) v = INT32_MAX;
  }
  return static_cast<int32_t>(neg ? -v : v);
}

tk_wstring trim(const tk_wstring& s) {
  size_t a = 0, b = s.size();
  while (a < b && s[a] == u' ') ++a;
  while (b > a && s[b - 1] == u' ') --b;
  return s.substr(a, b - a);
}

std::string xml_message(const XMLCh* msg) { return msg == nullptr ? std::string() : tk_u8(msg); }

int g_platform_users = 0;

// Oracle's metadata documents use no entities of their own; the limit only
// matters for a crafted document that slipped past the DOCTYPE refusal.
constexpr XMLSize_t k_entity_expansion_limit = 100;

struct doctype_declared {};

// Oracle never writes a document type declaration. One that is there was
// crafted: external entities that read local files or block on a device,
// internal entities that expand without bound. The document is refused as
// soon as the declaration's name is read, before its internal subset.
class ora_sax_parser : public xercesc::SAXParser {
 public:
  ora_sax_parser() {
    // SAXParser does not install itself as its scanner's DOCTYPE handler, so
    // without this the declaration would pass unreported.
    const_cast<xercesc::XMLScanner&>(getScanner()).setDocTypeHandler(this);
  }
  void doctypeDecl(const xercesc::DTDElementDecl&, const XMLCh* const, const XMLCh* const,
                   const bool, const bool) override {
    throw doctype_declared{};
  }
};

}  // namespace

ora_xml_platform::ora_xml_platform() {
  if (g_platform_users++ == 0) xercesc::XMLPlatformUtils::Initialize("en_US");
}

ora_xml_platform::~ora_xml_platform() {
  if (--g_platform_users == 0) xercesc::XMLPlatformUtils::Terminate();
}

// ---- field description ----------------------------------------------------------

void ora_pump_field_desc::reset() {
  segcol_num = -1;
  col_num = -1;
  type_num = charset_id = length = precision = scale = 0;
  not_null = false;
  name.clear();
  typemd_name.clear();
}

int32_t ora_pump_field_desc::effective_col_num() const {
  if (segcol_num == 0 && col_num == 0) {
    log_message(1, "0-index column to skip was found");
    return 0;
  }
  if (segcol_num != -1 && segcol_num != col_num) {
    if (log_enabled(2))
      log_message(2,
                  "XML parser warning: Field(%s) SEGCOL_NUM(%d) is not equal to COL_NUM(%d)\n\t"
                  "INTCOL_NUM=%d, BASE_INTCOL_NUM=%d",
                  tk_u8(name).c_str(), segcol_num, col_num, intcol_num, base_intcol_num);
    if (col_num <= 90) return segcol_num;
  }
  return col_num;
}

// ---- parser -------------------------------------------------------------------------

ora_dump_parser::ora_dump_parser() { m_fd.reset(); }
ora_dump_parser::~ora_dump_parser() = default;

void ora_dump_parser::reset_state() {
  m_path.clear();
  m_text.clear();
  m_name.clear();
  m_table_name.clear();
  m_name2.clear();
  m_owner.clear();
  m_kind = OBJ_NONE;
  m_contype = 0;
  m_fd = ora_pump_field_desc();
  m_fd.reset();
  m_columns.clear();
  m_ref_columns.clear();
  m_relationships.clear();
  m_added.clear();
  m_xml_columns.clear();
  m_skip_count = 0;
  m_failed = false;
  m_refusal.clear();
  m_unknown_types.clear();
}

void ora_dump_parser::parse(const char* xml, size_t length) {
  xercesc::SecurityManager limits;
  limits.setEntityExpansionLimit(k_entity_expansion_limit);
  ora_sax_parser parser;
  parser.setDocumentHandler(this);
  parser.setErrorHandler(this);
  parser.setEntityResolver(this);
  parser.setDisableDefaultEntityResolution(true);
  parser.setSecurityManager(&limits);
  parser.setValidationScheme(xercesc::SAXParser::Val_Never);
  parser.setDoNamespaces(false);
  parser.setLoadExternalDTD(false);
  xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(xml), length, "ora_dump_xml",
                                    false);
  // The text was converted to UTF-8 on its way here; an encoding named in
  // its declaration must not make the parser read the bytes differently.
  source.setEncoding(xercesc::XMLUni::fgUTF8EncodingString);
  try {
    parser.parse(source);
  } catch (const doctype_declared&) {
    throw refuse_document{"it declares a DOCTYPE, which Oracle never writes"};
  }
}

xercesc::InputSource* ora_dump_parser::resolveEntity(const XMLCh* const public_id,
                                                     const XMLCh* const system_id) {
  (void)public_id;
  log_message(3, "External entity '%s' is not resolved", xml_message(system_id).c_str());
  return nullptr;
}

tk_wstring ora_dump_parser::parse_database_objects(const char* xml, size_t length) {
  log_message(2, "ora_dump_parser::parse_database_objects");
  reset_state();
  m_table_mode = false;
  m_table = nullptr;
  try {
    parse(xml, length);
  } catch (const stop_parse&) {
  } catch (const refuse_document& r) {
    log_message(3, "%s", r.reason.c_str());
    m_refusal = r.reason;
    return tk_wstring();
  } catch (const xercesc::SAXParseException& e) {
    log_message(3, "Couldn't parse xml table description: %s", xml_message(e.getMessage()).c_str());
    return tk_wstring();
  } catch (const xercesc::XMLException& e) {
    log_message(3, "Couldn't parse xml table description: %s", xml_message(e.getMessage()).c_str());
    return tk_wstring();
  } catch (...) {
    log_message(3, "Couldn't parse xml table description. Unknown error");
    return tk_wstring();
  }
  if (m_kind != OBJ_TABLE && m_kind != OBJ_STRMTABLE) return tk_wstring();
  return m_table_name;
}

void ora_dump_parser::parse_table_description(const char* xml, size_t length,
                                              ora_dump_table* table) {
  log_message(2, "ora_dump_parser::parse_table_description");
  reset_state();
  m_table_mode = true;
  m_table = table;
  try {
    parse(xml, length);
    if (table != nullptr && table->database() != nullptr && !m_relationships.empty())
      table->database()->append_relationships(m_relationships);
  } catch (const stop_parse&) {
  } catch (const refuse_document& r) {
    log_message(3, "%s", r.reason.c_str());
    m_refusal = r.reason;
  } catch (const xercesc::SAXParseException& e) {
    log_message(3, "Couldn't parse xml table description: %s", xml_message(e.getMessage()).c_str());
  } catch (const xercesc::XMLException& e) {
    log_message(3, "Couldn't parse xml table description: %s", xml_message(e.getMessage()).c_str());
  } catch (const tk_exception& e) {
    log_message(3, "%s", e.what());
  } catch (...) {
    log_message(3, "Couldn't parse xml table description. Unknown error");
  }
}

bool ora_dump_parser::in_skipped_subtree() const {
  for (size_t i = 3; i + 1 < m_path.size(); ++i) {
    const tk_wstring& a = m_path[i];
    if (a == u"LOBMD" || a == u"SEQUENCE" || a == u"CON" || a == u"IND" || a == u"ANC_OBJ" ||
        a == u"PART_OBJ" || a == u"STORAGE" || a == u"TYPE_OBJ")
      return true;
  }
  return false;
}

const tk_wstring& ora_dump_parser::parent(size_t up) const {
  static const tk_wstring none;
  // m_path.back() is the element being handled; its parent is one before.
  if (m_path.size() < up + 2) return none;
  return m_path[m_path.size() - 2 - up];
}

bool ora_dump_parser::inside(std::u16string_view element) const {
  for (size_t i = 0; i + 1 < m_path.size(); ++i)
    if (m_path[i] == element) return true;
  return false;
}

void ora_dump_parser::startElement(const XMLCh* const name, xercesc::AttributeList& attrs) {
  (void)attrs;
  const tk_wstring el(name);
  m_path.push_back(el);
  m_text.clear();
  const size_t depth = m_path.size();
  if (depth == 3 && m_path[0] == u"ROWSET" && m_path[1] == u"ROW") {
    if (el == u"TABLE_T") {
      m_kind = OBJ_TABLE;
      log_message(1, "TABLE_T found");
    } else if (el == u"STRMTABLE_T") {
      m_kind = OBJ_STRMTABLE;
    } else if (el == u"CONSTRAINT_T" || el == u"REF_CONSTRAINT_T") {
      m_kind = OBJ_CONSTRAINT;
    } else if (el == u"INDEX_T") {
      m_kind = OBJ_INDEX;
    }
    return;
  }
  if (depth < 4) return;
  // The column lists of a constraint's own index (IND) and of other passed
  // over subtrees must not clear the constraint's columns.
  if (in_skipped_subtree()) return;
  if (is_column_item(el)) {
    m_fd.reset();
  } else if (el == u"COL_LIST") {
    m_columns.clear();
    m_ref_columns.clear();
    m_fd.reset();
  } else if (el == u"SRC_COL_LIST") {
    m_columns.clear();
  } else if (el == u"TGT_COL_LIST") {
    m_ref_columns.clear();
  } else if ((is_con_list_item(el) && depth == 5) ||
             ((el == u"CON1" || el == u"CON2") && depth == 4)) {
    m_fd.reset();
    m_columns.clear();
    m_ref_columns.clear();
    m_name.clear();
    m_name2.clear();
    m_contype = 0;
  }
}

void ora_dump_parser::characters(const XMLCh* const chars, const XMLSize_t length) {
  m_text.append(chars, static_cast<size_t>(length));
}

void ora_dump_parser::store_value(const tk_wstring& el) {
  ora_pump_field_desc& f = m_fd;
  const int32_t v = to_int(m_text);
  if (el == u"NAME") {
    if (f.name.empty() || !inside(u"COL")) f.name = m_text;
  } else if (el == u"BASE_COL_NAME") {
    if (f.name.empty()) f.name = m_text;
  } else if (el == u"COL_NUM") {
    f.col_num = v;
  } else if (el == u"SEGCOL_NUM") {
    f.segcol_num = v;
  } else if (el == u"BASE_INTCOL_NUM") {
    f.base_intcol_num = v;
  } else if (el == u"INTCOL_NUM") {
    f.intcol_num = v;
  } else if (el == u"CHARSETID") {
    f.charset_id = v;
  } else if (el == u"PROPERTY") {
    f.property = v;
  } else if (el == u"TYPE_NUM") {
    f.type_num = v;
  } else if (el == u"LENGTH") {
    f.length = v;
  } else if (el == u"PRECISION_NUM") {
    f.precision = v;
  } else if (el == u"SCALE") {
    f.scale = v;
  } else if (el == u"NOT_NULL") {
    f.not_null = m_text == u"1";
  }
}

void ora_dump_parser::endElement(const XMLCh* const name) {
  const tk_wstring el(name);
  struct popper {
    std::vector<tk_wstring>& path;
    ~popper() {
      if (!path.empty()) path.pop_back();
    }
  } pop{m_path};
  const size_t depth = m_path.size();
  if (depth == 3 && (el == u"CONSTRAINT_T" || el == u"REF_CONSTRAINT_T")) {
    if (!m_table_name.empty()) add_global_index();
    m_table_name.clear();
    return;
  }
  if (depth == 3 && el == u"INDEX_T") {
    if (!m_name.empty()) add_global_index();
    m_table_name.clear();
    return;
  }
  if (depth < 4) return;
  const tk_wstring& obj = m_path[2];

  // Subtrees without anything for the model.
  if (in_skipped_subtree()) return;
  for (size_t i = 3; i + 1 < depth; ++i) {
    const tk_wstring& a = m_path[i];
    if (a == u"TYPEMD") {
      if (el == u"NAME" && i + 2 == depth && m_fd.typemd_name.empty()) m_fd.typemd_name = m_text;
      return;
    }
  }

  const tk_wstring& p0 = parent(0);
  const tk_wstring& p1 = parent(1);

  // Values of a column item (also inside its COL element).
  if (is_column_item(p0) || (p0 == u"COL" && is_column_item(p1))) {
    store_value(el);
    return;
  }
  if (is_column_item(el)) {
    end_column_item(el);
    return;
  }

  if (obj == u"TABLE_T" || obj == u"STRMTABLE_T") {
    const bool table_level = depth == 5 && p0 == u"SCHEMA_OBJ";
    const bool strm_level = depth == 4 && obj == u"STRMTABLE_T";
    if ((table_level || strm_level) && el == u"OWNER_NAME") {
      m_owner = m_text;
      return;
    }
    if ((table_level || strm_level) && el == u"NAME") {
      m_table_name = m_text;
      log_message(1, "Got table name: %s", tk_u8(m_text).c_str());
      if (!m_table_mode) throw stop_parse();
      return;
    }
    if (el == u"COL_LIST" && depth == 4) {
      end_column_list();
      return;
    }
    // Constraints of the table: CONn_LIST / CONn_LIST_ITEM.
    if (depth >= 6 && is_con_list(m_path[3]) && is_con_list_item(m_path[4])) {
      if (depth == 6 && el == u"NAME") m_name = m_text;
      if (depth == 6 && el == u"CONTYPE") m_contype = to_int(m_text);
      if (depth == 7 && p0 == u"SCHEMA_OBJ" && el == u"NAME") m_name2 = m_text;
      return;
    }
    if (depth == 5 && is_con_list_item(el)) add_index();
    return;
  }

  if (obj == u"CONSTRAINT_T" || obj == u"REF_CONSTRAINT_T") {
    if (depth == 5 && p0 == u"BASE_OBJ") {
      if (el == u"NAME") m_table_name = m_text;
      if (el == u"OWNER_NAME") m_owner = m_text;
    } else if (depth == 5 && (p0 == u"CON1" || p0 == u"CON2")) {
      if (el == u"NAME") m_name = m_text;
      if (el == u"CONTYPE") m_contype = to_int(m_text);
    } else if (depth == 6 && p0 == u"SCHEMA_OBJ" && (p1 == u"CON1" || p1 == u"CON2") &&
               el == u"NAME") {
      m_name2 = m_text;
    }
    return;
  }

  if (obj == u"INDEX_T") {
    if (depth == 4) {
      if (el == u"NAME") m_name = m_text;
      if (el == u"OWNER_NAME") m_owner = m_text;
    } else if (depth == 5 && p0 == u"BASE_OBJ") {
      if (el == u"NAME") m_name2 = m_text;
      if (el == u"OWNER_NAME") m_owner = m_text;
    }
  }
}

void ora_dump_parser::end_column_item(const tk_wstring& el) {
  if (el == u"TGT_COL_LIST_ITEM") {
    m_ref_columns.push_back(m_fd);
    return;
  }
  const int32_t n = m_fd.effective_col_num();
  auto it = m_columns.find(n);
  if (it == m_columns.end()) {
    m_columns.emplace(n, m_fd);
  } else {
    // A second item for the same column (a LOB or object's hidden parts):
    // only its character set counts.
    it->second.charset_id = m_fd.charset_id;
  }
}

void ora_dump_parser::end_column_list() {
  m_added.clear();
  for (auto& [n, fd] : m_columns) {
    log_message(1, "col_num=%d, oracle_type=%d", n, fd.type_num);
    if (fd.type_num == 58) m_xml_columns.insert(n);
    if (m_xml_columns.count(n) != 0) fd.type_num = 58;
    add_field(fd);
  }
  m_columns.clear();
}

void ora_dump_parser::add_field(ora_pump_field_desc& fd) {
  if (log_enabled(2))
    log_message(2, "ora_dump_parser::add_field(%s, property=%d)", tk_u8(fd.name).c_str(),
                fd.property);
  if (m_skip_count > 0) {
    log_message(2, "Skip field after SDO_GEOMETRY");
    --m_skip_count;
    return;
  }
  // Hidden (0x100... ) and system-generated columns never reach the rows
  // as columns of their own.
  if (m_table == nullptr || (fd.property & 0x10100) != 0) {
    if (fd.property & 0x20) log_message(3, "Skip system column '%s'", tk_u8(fd.name).c_str());
    return;
  }
  // Datetime and interval types keep their scale: it is the fraction digits.
  static const int32_t no_fix[] = {12, 180, 181, 182, 183, 184, 185, 186, 187, 188, 231, 232};
  if (std::find(std::begin(no_fix), std::end(no_fix), fd.type_num) == std::end(no_fix) &&
      fd.precision < fd.scale) {
    log_message(2, "Scale(%d) > precision(%d), fix it", fd.scale, fd.precision);
    if (fd.precision != 0)
      std::swap(fd.precision, fd.scale);
    else
      fd.precision = 38;
  }
  uint32_t ora_type = native2oratype(fd.type_num, fd.charset_id);
  if (fd.typemd_name == u"SDO_GEOMETRY") {
    ora_type = ORA_SDO_GEOMETRY;
    log_message(3, "Field '%s' has SDO_GEOMETRY type", tk_u8(fd.name).c_str());
  }
  // A type number this reader does not know: the column keeps its place and
  // its bytes, so the columns after it still line up with the row data.
  const bool unknown = ora_type == 0;
  if (unknown) {
    log_message(3,
                "XML parser error, unknown field type: type %d, charset %d, precision %d, scale %d",
                fd.type_num, fd.charset_id, fd.precision, fd.scale);
    ora_type = ORA_RAW;
  }
  const int32_t n = fd.effective_col_num();
  if (m_added.count(n) != 0) {
    log_message(2, "Skip system fields, but update code page");
    udb_schema& schema = m_table->get_schema();
    if (n >= 1 && schema.size() >= static_cast<size_t>(n))
      static_cast<t_orcale_ftd*>(schema[static_cast<size_t>(n - 1)])->charset_id =
          static_cast<uint16_t>(fd.charset_id);
    return;
  }
  if (m_table->get_schema().size() >= ORA_MAX_COLUMNS)
    throw refuse_document{
        tk_format("the table has more than %zu columns, the most Oracle allows, so its "
                  "definition is damaged",
                  ORA_MAX_COLUMNS)};
  int32_t length = fd.length;
  if (ora_type == ORA_BLOB || ora_type == ORA_BFILE || ora_type == ORA_CLOB ||
      ora_type == ORA_SDO_GEOMETRY || ora_type == ORA_NESTED_TABLE || ora_type == ORA_OBJECT) {
    length = 0;
  } else if (fd.type_num == 183) {
    length = 20;
  }
  const uint32_t len = length < 0 ? 0 : static_cast<uint32_t>(length);
  const uint32_t prec = fd.precision < 0 ? 0 : static_cast<uint32_t>(fd.precision);
  const uint32_t scale = fd.scale < 0 ? 0 : static_cast<uint32_t>(fd.scale);
  const vartype_t vt = ora2oletype(ora_type, len, prec, scale, fd.charset_id);
  auto ftd =
      std::make_unique<t_orcale_ftd>(len, ora_type, fd.name, vt, fd.not_null, ole_variant(), 0);
  ftd->precision = prec;
  ftd->scale = scale;
  ftd->charset_id = static_cast<uint16_t>(fd.charset_id);
  ftd->native_type = static_cast<uint16_t>(fd.type_num);
  if (vt == VT_DATE) ftd->reserved = FTD_TRUSTED_DATE;
  if (fd.type_num == 181) ftd->reserved += FTD_WITH_TIME_ZONE;
  if (ora_type == ORA_SDO_GEOMETRY) {
    ftd->reserved = FTD_SDO_GEOMETRY;
    m_skip_count = 7;
  }
  if (ora_type == ORA_CHAR) ftd->reserved = FTD_FIXED_CHAR;
  const t_ftd* added = m_table->add_owned_column(std::move(ftd));
  if (unknown) m_unknown_types.push_back({added->name, fd.type_num});
  m_added.insert(n);
}

udb_index ora_dump_parser::build_index() const {
  udb_index idx;
  idx.name = m_name;
  idx.primary = m_contype == 2;
  idx.unique = m_contype == 2 || m_contype == 3;
  idx.unique_constraint = m_contype == 3;
  for (const auto& [n, fd] : m_columns) {
    (void)n;
    idx.fields.push_back(trim(fd.name));
  }
  return idx;
}

void ora_dump_parser::add_index() {
  log_message(2, "ora_dump_parser::add_index(contype=%d)", m_contype);
  if (m_contype == 4) {
    add_foreign_key();
    return;
  }
  const udb_index idx = build_index();
  // Check and NOT NULL constraints (CONTYPE 1, 7 ...) name columns too, but
  // are no keys.
  const bool key = m_contype == 2 || m_contype == 3;
  m_contype = 0;
  if (key && !idx.fields.empty() && m_table != nullptr) m_table->indexes.push_back(idx);
  m_fd.reset();
  m_columns.clear();
}

void ora_dump_parser::add_global_index() {
  log_message(2, "ora_dump_parser::add_global_index(contype=%d)", m_contype);
  if (m_contype == 4) {
    add_foreign_key();
  } else if (m_global_indices == nullptr) {
    log_message(2, "p_global_indices is not set");
  } else if (m_kind == OBJ_CONSTRAINT && m_contype != 2 && m_contype != 3) {
    log_message(2, "Constraint of type %d is no key", m_contype);
  } else {
    const udb_index idx = build_index();
    if (!idx.fields.empty()) {
      const tk_wstring& table = m_name2.empty() ? m_table_name : m_name2;
      (*m_global_indices)[{m_owner, table}].push_back(idx);
    }
  }
  m_contype = 0;
  m_fd.reset();
  m_columns.clear();
  m_table_name.clear();
}

void ora_dump_parser::add_foreign_key() {
  udb_relationship rel;
  rel.fk_name = m_name;
  rel.fk_table = m_table_name;
  rel.pk_table = m_name2;
  for (const auto& [n, fd] : m_columns) {
    (void)n;
    rel.fk_fields.push_back(trim(fd.name));
  }
  for (const auto& fd : m_ref_columns) rel.pk_fields.push_back(trim(fd.name));
  m_relationships.push_back(std::move(rel));
  m_fd.reset();
  m_columns.clear();
  m_ref_columns.clear();
  m_name2.clear();
  m_contype = 0;
}

void ora_dump_parser::warning(const xercesc::SAXParseException& exc) {
  log_message(3, "Couldn't parse xml table description: %s, line: %lld, column: %lld",
              xml_message(exc.getMessage()).c_str(), static_cast<long long>(exc.getLineNumber()),
              static_cast<long long>(exc.getColumnNumber()));
}

void ora_dump_parser::error(const xercesc::SAXParseException& exc) {
  warning(exc);
  throw exc;
}

void ora_dump_parser::fatalError(const xercesc::SAXParseException& exc) {
  warning(exc);
  throw exc;
}

// ---- metadata documents in the dump ---------------------------------------------

namespace {

const char k_end_tag[] = "</ROW></ROWSET>";
constexpr size_t k_end_tag_len = sizeof(k_end_tag) - 1;

std::string end_tag(int kind) {
  if (kind != 2) return std::string(k_end_tag, k_end_tag_len);
  std::string w;
  for (size_t i = 0; i < k_end_tag_len; ++i) {
    w.push_back('\0');
    w.push_back(k_end_tag[i]);
  }
  return w;
}

// "<?xml" in the text's encoding.
std::string open_tag(int kind) {
  static const char text[] = "<?xml";
  if (kind != 2) return std::string(text);
  std::string w;
  for (size_t i = 0; i + 1 < sizeof text; ++i) {
    w.push_back('\0');
    w.push_back(text[i]);
  }
  return w;
}

// Offset of the last `pattern` in [from, to); -1 when there is none.
int64_t last_of(const ora_dump_stream& s, int64_t from, int64_t to, const std::string& pattern) {
  int64_t last = -1;
  while (from < to) {
    const int64_t hit = s.find(pattern.data(), pattern.size(), from, to);
    if (hit < 0) break;
    last = hit;
    from = hit + 1;
  }
  return last;
}

}  // namespace

bool ora_pump_collect_xml(const ora_dump_stream& s, int64_t start, int kind,
                          std::vector<uint8_t>& payload, int64_t& end, ora_pump_xml_memo* memo) {
  payload.clear();
  const int64_t size = s.size();
  if (start < 0 || start + 4 > size) return false;
  const std::string tag = end_tag(kind);
  int64_t q = start;
  uint8_t h[5];
  if (s.read_at(q, h, 4) < 4) return false;

  if (h[0] != 0x01 || h[1] != 0xFE) {
    // Plain text after the header: it runs to the closing tag. What one
    // search finds holds for every document that starts before its result,
    // so each byte is searched once however many documents are cut short.
    q += 4;
    const int k = kind == 2 ? 1 : 0;
    ora_pump_xml_memo scratch;
    ora_pump_xml_memo& m = memo != nullptr ? *memo : scratch;
    if (q >= m.no_end_tag_from[k]) return false;
    ora_pump_xml_memo::plain_span& span = m.span[k];
    if (span.from < 0 || q < span.from || q > span.tag_at) {
      const int64_t hit = s.find(tag.data(), tag.size(), q, size);
      if (hit < 0) {
        m.no_end_tag_from[k] = q;
        return false;
      }
      span.from = q;
      span.tag_at = hit;
      span.last_open = last_of(s, q + 1, hit, open_tag(kind));
    }
    // Another document begins before the closing tag: this one was cut
    // short, and the tag belongs to the later one.
    if (span.last_open > q) return false;
    const int64_t e = span.tag_at + static_cast<int64_t>(tag.size());
    if (!s.copy(q, static_cast<size_t>(e - q), payload)) return false;
    end = e;
    return true;
  }

  // LOB pieces: each header carries the length of its piece.
  std::vector<uint64_t> walked;  // pieces of this chain, for the memo
  auto fail = [&]() {
    if (memo != nullptr) memo->dead_pieces.insert(walked.begin(), walked.end());
    return false;
  };
  size_t n = (static_cast<size_t>(h[2]) << 8) | h[3];
  q += 4;
  for (;;) {
    if (static_cast<int64_t>(n) > size - q) return fail();  // truncated piece
    const uint64_t piece = (static_cast<uint64_t>(q) << 16) | n;
    if (memo != nullptr && memo->dead_pieces.count(piece) != 0) {
      // The chain goes on as one already followed to its failed end. Only a
      // closing tag straddling into this piece could still end it here.
      const size_t keep = std::min(payload.size(), tag.size() - 1);
      std::string joint(payload.end() - static_cast<std::ptrdiff_t>(keep), payload.end());
      s.copy(q, std::min(n, tag.size() - 1), joint);
      if (joint.find(tag) == std::string::npos) return fail();
    }
    walked.push_back(piece);
    const size_t piece_start = payload.size();
    if (!s.copy(q, n, payload)) return fail();
    // The closing tag may straddle two pieces: search from tag.size() back.
    const size_t from = piece_start >= tag.size() ? piece_start - tag.size() + 1 : 0;
    const void* hit =
        ::memmem(payload.data() + from, payload.size() - from, tag.data(), tag.size());
    if (hit != nullptr) {
      const size_t e =
          static_cast<size_t>(static_cast<const uint8_t*>(hit) - payload.data()) + tag.size();
      // Map the payload offset back into the dump: it lies in this piece.
      end = e >= piece_start ? q + static_cast<int64_t>(e - piece_start) : q;
      payload.resize(e);
      return true;
    }
    q += static_cast<int64_t>(n);
    if (s.read_at(q, h, 5) < 3) return fail();
    const uint8_t c = h[0], b0 = h[1], b1 = h[2];
    const bool continues = ((c == 2 || c == 3 || c == 6) && b0 == 1) || (c == 4 && b0 == 3);
    if (!continues) return fail();
    if (b1 == 0xFE) {
      if (s.read_at(q, h, 5) < 5) return fail();
      n = (static_cast<size_t>(h[3]) << 8) | h[4];
      q += 5;
    } else {
      n = b1;
      q += 3;
    }
    if (n == 0) return fail();
  }
}

std::string ora_pump_xml_utf8(const std::vector<uint8_t>& payload, const ora_charsets& cs) {
  tk_wstring text;
  if (!payload.empty() && payload[0] == 0) {
    text.reserve(payload.size() / 2);
    for (size_t i = 0; i + 1 < payload.size(); i += 2)
      text.push_back(static_cast<char16_t>((payload[i] << 8) | payload[i + 1]));
  } else {
    cs.decode(cs.database_charset(), payload.data(), payload.size(), text);
  }
  return tk_u8(text);
}
