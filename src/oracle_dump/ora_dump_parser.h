// Data Pump metadata parser: reads the XML documents expdp writes for tables,
// constraints and indexes (TABLE_T, STRMTABLE_T, CONSTRAINT_T,
// REF_CONSTRAINT_T, INDEX_T) with Xerces-C's SAX parser and turns them into
// column descriptors, indexes and foreign keys.
//
// Two modes: during the catalogue scan a document only has to tell which
// table it describes (the parse stops as soon as owner and name are known);
// when a table is opened its document is read in full.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>
#include <xercesc/sax/HandlerBase.hpp>

#include "TK/tk_utils.h"
#include "UDB/udb_idx.h"
#include "oracle_dump/ora_dump_file.h"

class ora_dump_table;

// Initialises Xerces-C for the lifetime of the object (nesting is allowed).
class ora_xml_platform {
 public:
  ora_xml_platform();
  ~ora_xml_platform();
  ora_xml_platform(const ora_xml_platform&) = delete;
  ora_xml_platform& operator=(const ora_xml_platform&) = delete;
};

// One column as the metadata describes it.
struct ora_pump_field_desc {
  int32_t length = 0;
  int32_t type_num = 0;
  int32_t charset_id = 0;
  tk_wstring name;
  tk_wstring typemd_name;
  bool not_null = false;
  int32_t precision = 0;
  int32_t scale = 0;
  int32_t property = 0;
  int32_t col_num = -1;
  int32_t intcol_num = 0;
  int32_t segcol_num = -1;
  int32_t base_intcol_num = 0;

  // PROPERTY, INTCOL_NUM and BASE_INTCOL_NUM survive a reset on purpose.
  void reset();
  // The number the column is keyed by: SEGCOL_NUM where Oracle reorders
  // segment columns of small tables, else COL_NUM.
  int32_t effective_col_num() const;
};

class ora_dump_parser : public xercesc::HandlerBase {
 public:
  // What a document of the catalogue scan describes.
  enum object_kind : int32_t {
    OBJ_NONE = 0,
    OBJ_TABLE = 1,
    OBJ_STRMTABLE = 2,
    OBJ_CONSTRAINT = 3,
    OBJ_INDEX = 4
  };

  ora_dump_parser();
  ~ora_dump_parser() override;

  // Catalogue mode: returns the table a TABLE_T or STRMTABLE_T document
  // describes (empty for other documents and for unreadable ones); owner()
  // and kind() tell the rest. Constraint and index documents add their
  // indexes to the global index map when one is set.
  tk_wstring parse_database_objects(const char* xml, size_t length);
  // Table mode: adds the table's columns, indexes and foreign keys. Errors
  // are logged; the table keeps what was added before them.
  void parse_table_description(const char* xml, size_t length, ora_dump_table* table);

  // Why the last document was refused as a whole, as the end of a sentence
  // (a DOCTYPE, which Oracle never writes; a table with more columns than
  // Oracle allows); empty when it was not.
  const tk_string& refusal() const { return m_refusal; }
  // Columns of the last table document whose type number is unknown: their
  // values are kept as raw bytes.
  struct unknown_type {
    tk_wstring column;
    int32_t type_num;
  };
  const std::vector<unknown_type>& unknown_types() const { return m_unknown_types; }

  void set_global_indices(ora_index_map* map) { m_global_indices = map; }
  const tk_wstring& owner() const { return m_owner; }
  int32_t kind() const { return m_kind; }
  const std::list<udb_relationship>& relationships() const { return m_relationships; }

  // SAX callbacks.
  void startElement(const XMLCh* const name, xercesc::AttributeList& attrs) override;
  void endElement(const XMLCh* const name) override;
  void characters(const XMLCh* const chars, const XMLSize_t length) override;
  void warning(const xercesc::SAXParseException& exc) override;
  void error(const xercesc::SAXParseException& exc) override;
  void fatalError(const xercesc::SAXParseException& exc) override;
  // External entities resolve to nothing (and nothing is opened instead).
  xercesc::InputSource* resolveEntity(const XMLCh* const public_id,
                                      const XMLCh* const system_id) override;

 private:
  // Thrown to end a catalogue-mode parse once the table's name is known.
  struct stop_parse {};
  // Thrown to refuse the whole document.
  struct refuse_document {
    tk_string reason;
  };

  void parse(const char* xml, size_t length);
  void reset_state();
  const tk_wstring& parent(size_t up) const;  // 0: the element being closed's parent
  bool inside(std::u16string_view element) const;
  bool in_skipped_subtree() const;
  void end_column_item(const tk_wstring& element);
  void end_column_list();
  void add_field(ora_pump_field_desc& fd);
  void add_index();
  void add_global_index();
  void add_foreign_key();
  udb_index build_index() const;
  void store_value(const tk_wstring& element);

  std::vector<tk_wstring> m_path;  // open elements, outermost first
  tk_wstring m_text;               // text of the innermost element
  ora_dump_table* m_table = nullptr;
  bool m_table_mode = false;
  ora_index_map* m_global_indices = nullptr;

  tk_wstring m_name;        // constraint or index name
  tk_wstring m_table_name;  // table of the object
  tk_wstring m_name2;       // referenced table of a foreign key, table of an index
  tk_wstring m_owner;
  int32_t m_kind = OBJ_NONE;
  int32_t m_contype = 0;
  ora_pump_field_desc m_fd;
  std::map<int32_t, ora_pump_field_desc> m_columns;
  std::vector<ora_pump_field_desc> m_ref_columns;
  std::list<udb_relationship> m_relationships;
  std::set<int32_t> m_added;
  std::set<int32_t> m_xml_columns;
  int32_t m_skip_count = 0;
  bool m_failed = false;
  tk_string m_refusal;
  std::vector<unknown_type> m_unknown_types;
};

// ---- metadata documents in the dump ---------------------------------------------

class ora_dump_stream;
class ora_charsets;

// Reads the XML document whose 4-byte header starts at `start`. A header of
// 01 FE and a big-endian length opens a LOB-style document whose payload may
// continue in further pieces (02/03/04/06 01 FE and a length); any other
// header is followed by plain text that runs to the closing tag (when
// another document begins first, this one was cut short: the tag is the
// later one's). `kind` 1 is
// narrow text, 2 UTF-16BE. On success `payload` holds the document up to and
// including "</ROW></ROWSET>" and `end` the file position just after it.
// False when the document is incomplete (truncated dump, damaged piece).
//
// A scan passes a memo that keeps what failed collections found (where no
// closing tag follows, which piece chains lead nowhere), so that a dump full
// of unterminated documents is read once, not once per document.
struct ora_pump_xml_memo {
  // [0] narrow, [1] UTF-16 text: no closing tag at or after this position.
  int64_t no_end_tag_from[2] = {INT64_MAX, INT64_MAX};
  // [0] narrow, [1] UTF-16 text: the first closing tag at or after `from`
  // lies at `tag_at`; `last_open` is the last "<?xml" in between (-1 when
  // none; `from` -1 before the first search).
  struct plain_span {
    int64_t from = -1, tag_at = 0, last_open = -1;
  } span[2];
  // Pieces (start position << 16 | length) whose chain ended without a
  // closing tag.
  std::unordered_set<uint64_t> dead_pieces;
};
bool ora_pump_collect_xml(const ora_dump_stream& s, int64_t start, int kind,
                          std::vector<uint8_t>& payload, int64_t& end,
                          ora_pump_xml_memo* memo = nullptr);
// The document as UTF-8 for the parser: UTF-16BE when it begins with 0x00,
// otherwise text in the database character set.
std::string ora_pump_xml_utf8(const std::vector<uint8_t>& payload, const ora_charsets& cs);
