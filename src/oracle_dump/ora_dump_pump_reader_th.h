// Record decoder of Data Pump (expdp) dumps.
//
// A table's rows are a stream of records. A record starts with a marker
// (0x3C, or 08/09/0C for records that carry LOB data), announces how many
// fields it holds and may end early: trailing NULL columns are left out, a
// long row continues in follow-up pieces whose headers add fields, a text
// may be split between pieces, and LOB values follow the row in pieces that
// carry their own lengths.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "oracle_dump/ora_dump_reader_th.h"

// Collects the SDO_GEOMETRY values of one Data Pump record. A geometry
// column is flattened in the row: after the column's own field come five
// length-prefixed sub-fields (SDO_GTYPE, SDO_SRID, and SDO_POINT's X, Y, Z,
// each FF when NULL), then two references whose arrays (SDO_ELEM_INFO,
// SDO_ORDINATES) arrive as binary parts in the record's LOB section, in
// that order, geometry after geometry.
class pump_geom_reader {
 public:
  // Nothing opened: the start of a record.
  void reset();
  // A row reached a geometry column: its sub-fields come next.
  void add_geom_object(size_t column, int64_t pos);
  // Whether the current geometry still waits for sub-fields in the row.
  bool waiting() const { return state >= 1 && state <= 7; }
  // Consumes the next sub-field of the current geometry (the two array
  // references consume no bytes). False when no geometry waits.
  bool handle_if(ora_dump_stream& s);
  // The next binary part was NULL / holds these bytes (found at `pos`).
  void add_binary1();
  void add_binary2(const uint8_t* p, size_t n, int64_t pos);

  // Which sub-field comes next: 0 none, 1 SDO_GTYPE, 2 SDO_SRID, 3 to 5 X,
  // Y, Z, 6 and 7 the array references, 8 done.
  uint32_t state = 0;
  uint32_t part_count = 0;  // binary parts met in this record, NULL ones included
  size_t count = 0;         // geometries opened in this record

  struct entry {
    size_t column = 0;
    int64_t pos = 0;
    sdo_geometry geometry;
    std::string why;  // set when a part of the value was damaged
  };
  // The first `count` entries are this record's; the rest keep their storage.
  std::vector<entry> entries;

 private:
  std::string m_why;
};

class ora_dump_pump_reader_th : public ora_dump_reader_th_9 {
 public:
  ora_dump_pump_reader_th(const ora_charsets& cs, int version)
      : ora_dump_reader_th_9(cs, 9, 0, 0), m_ui_version(version) {}

  bool get_record(ora_dump_stream& s, const udb_schema& schema, int64_t end,
                  udb_record& rec) override;
  // True when the table's data ends here. The position is kept, except when
  // a short gap (1 to 20 bytes) separates two records: then the stream
  // stands on the next record.
  bool check_for_eof(ora_dump_stream& s) override;

  // Chunked text (a value that begins with FE, or a 4000-byte text).
  void get_clob_value(ora_dump_stream& s, const t_orcale_ftd& col, ole_variant& out);
  // An XMLTYPE value after the row; sets `is_last` when the next record
  // begins right after it.
  void is_blob_record(ora_dump_stream& s, const t_orcale_ftd& col, ole_variant& out, bool& is_last);
  // A LOB value in the Data Pump piece format; returns its length in bytes.
  size_t get_pump_blob_value(ora_dump_stream& s, const t_orcale_ftd& col, uint8_t marker,
                             ole_variant& out, bool& is_last);
  // The value of a geometry column found in the LOB section (a record that
  // ended before the column): its bytes, as a byte array in `out`. Sets
  // `is_last` when it was the last value of the record.
  size_t get_sdo_geometry_value(ora_dump_stream& s, ole_variant& out, bool& is_last);

  int version() const { return m_ui_version; }

 private:
  void decode_pump_text(const t_orcale_ftd& col, const std::vector<uint8_t>& bytes,
                        ole_variant& out) const;

  static const t_orcale_ftd& binary_part_column();
  // Hands a binary part read from the LOB section to the geometry reader.
  void add_geom_part(const ole_variant& value, int64_t pos);
  // The end of a record: every geometry of it becomes its WKT, or an empty
  // value and a record error.
  void finish_geometries(const udb_schema& schema, udb_record& rec,
                         const std::vector<std::pair<size_t, int64_t>>& lob_cols);

  int m_ui_version = 0;
  std::vector<uint8_t> m_lob;
  ole_variant m_piece;  // a continuation piece of a split text
  pump_geom_reader m_geom;
  udb_field m_part;  // the binary part being read
  std::string m_part_text;
};
