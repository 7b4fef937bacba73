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
#include <vector>

#include "oracle_dump/ora_dump_reader_th.h"

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

  int version() const { return m_ui_version; }

 private:
  void decode_pump_text(const t_orcale_ftd& col, const std::vector<uint8_t>& bytes,
                        ole_variant& out) const;

  int m_ui_version = 0;
  std::vector<uint8_t> m_lob;
  ole_variant m_piece;  // a continuation piece of a split text
};
