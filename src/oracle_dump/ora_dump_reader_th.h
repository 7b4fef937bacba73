// Record decoders: turn the bytes of a table's rows into records.
//
// One decoder serves a whole dump; its class follows the export version
// (classic 7, 8, 9, 10 and later) or the Data Pump format. Per table the
// table recordset resets it and lets it read the column description block;
// then, row by row, it asks whether the data has ended and reads the next
// record into a reused udb_record.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "UDB/udb_fld.h"
#include "oracle_dump/ora_charset.h"
#include "oracle_dump/ora_dump_stream.h"
#include "oracle_dump/ora_type.h"
#include "oracle_dump/sdo_geometry.h"

class ora_dump_reader_th {
 public:
  explicit ora_dump_reader_th(const ora_charsets& cs) : m_cs(cs) {}
  virtual ~ora_dump_reader_th() = default;

  // Reads the column description block that follows an INSERT statement and
  // leaves the stream on the first row. Records each column's character set
  // and native type word in the schema's descriptors.
  virtual void skip_field_description(ora_dump_stream& s, udb_schema& schema) = 0;
  // Reads one row at the stream position into `rec` (shaped to the schema).
  // False when the row was dropped. Raises tk_exception (level 0) with the
  // byte offset when the data is truncated or damaged.
  virtual bool get_record(ora_dump_stream& s, const udb_schema& schema, int64_t end,
                          udb_record& rec);
  // True when the next two bytes are FF FF (or the data has run out); the
  // position is unchanged. Sets m_data_ran_out when the answer is owed to
  // the end of the file rather than to an end marker.
  virtual bool check_for_eof(ora_dump_stream& s);
  virtual bool skip_two_before_lobs() const { return true; }
  virtual void reset() { m_skip_blob_flag = 0; }
  virtual bool lob_utf16_big_endian() const { return true; }

  // The column names of the section's INSERT statement, in row order.
  void set_fields(const std::vector<tk_wstring>& names, const udb_schema& schema);

  // ---- value decoders ---------------------------------------------------------
  void get_ole_value(const t_orcale_ftd& col, vartype_t vt, ora_dump_stream& s, uint32_t size,
                     ole_variant& out);
  // NUMBER bytes to an exact decimal (VT_I4 0 for zero). Raises on damage.
  static void get_floating_value2(const uint8_t* p, size_t n, ole_variant& out);
  static bool decode_number(const uint8_t* p, size_t n, ole_decimal& out);
  // A NUMBER of an integer column (vt VT_I1 to VT_I8) that is a nonzero
  // integer of that range, set without the decimal detour; false (and
  // `out` untouched) for every other value.
  static bool put_integer_number(const uint8_t* p, size_t n, vartype_t vt, ole_variant& out);
  static void get_IEEE754_value(const uint8_t* p, size_t n, ole_variant& out);
  static bool get_datetime_value(const uint8_t* p, size_t n, ole_variant& out);
  // fraction_digits: the column's declared fraction precision, 0 when unknown.
  // A TIMESTAMP WITH TIME ZONE (13 bytes) prints its local clock and offset.
  // Raise tk_exception (level 0) on a damaged fraction or zone.
  static bool get_timestamp_value(const uint8_t* p, size_t n, ole_variant& out,
                                  int fraction_digits = 0);
  static void get_interval_value(const uint8_t* p, size_t n, ole_variant& out,
                                 int fraction_digits = 0);
  void get_string_value(const t_orcale_ftd& col, const uint8_t* p, size_t n,
                        ole_variant& out) const;

  // LOB after a classic row; returns the number of bytes collected.
  size_t get_blob_value(ora_dump_stream& s, const t_orcale_ftd& col, ole_variant& out);
  virtual void get_longraw_value(ora_dump_stream& s, uint16_t len, ole_variant& out);
  void get_long_value(ora_dump_stream& s, const t_orcale_ftd& col, uint16_t len, ole_variant& out);
  void get_xmltype_value(ora_dump_stream& s, const t_orcale_ftd& col, uint32_t len,
                         ole_variant& out);
  // A geometry stored in a classic row: the object image of `len` bytes at
  // the stream position. The stream always ends up `len` bytes further; a
  // value that cannot be written as WKT leaves the field empty and adds a
  // level-0 error to the record.
  void read_sdo_geometry(ora_dump_stream& s, const t_orcale_ftd& col, uint32_t len,
                         ole_variant& out, udb_record& rec);
  // The same for an object image already in memory; `pos` is where it lies
  // in the dump.
  void put_geometry_image(const uint8_t* p, size_t n, const t_orcale_ftd& col, int64_t pos,
                          ole_variant& out, udb_record& rec);
  // The WKT of a geometry into `out`; on failure an empty value and an error
  // naming the column and the byte offset `pos` added to the record.
  void put_geometry(const sdo_geometry& g, const t_orcale_ftd& col, int64_t pos, ole_variant& out,
                    udb_record& rec);
  // The error a geometry that cannot be written as WKT adds to its record.
  static tk_exception geometry_error(const t_orcale_ftd& col, const std::string& why, int64_t pos);

  uint16_t m_skip_blob_flag = 0;
  std::vector<tk_wstring> m_arr_fields;
  // The last check_for_eof met the end of the file instead of an end marker
  // or the next record: the dump was cut inside the table's rows.
  bool m_data_ran_out = false;
  // Geometries carry their SRID as EWKT ("SRID=8307;POINT (...)").
  bool m_b_ewkt = false;

 protected:
  // Reads chunks of a LONG or LONG RAW stored in the 0xFFFD form.
  bool read_chunked(ora_dump_stream& s, std::vector<uint8_t>& out, bool zero_final_ends);
  // Decodes LOB/LONG text stored in the character set with the given id.
  void decode_lob_text(int charset_id, bool swap_utf16, const uint8_t* p, size_t n,
                       tk_wstring& out) const;
  int text_charset(const t_orcale_ftd& col) const;
  // An inline XMLTYPE value: 8 bytes of header, then the text.
  void decode_xmltype(const t_orcale_ftd& col, const uint8_t* p, size_t len,
                      ole_variant& out) const;

  const ora_charsets& m_cs;
  mutable const ora_text_decoder* m_decoder = nullptr;  // of m_decoder_id
  mutable int m_decoder_id = -1;
  std::vector<int> m_field_index;  // m_arr_fields resolved against the schema
  const udb_schema* m_fields_schema = nullptr;
  std::vector<uint8_t> m_buf;  // scratch for values assembled from pieces
  std::vector<int> m_lob_cols;
  // XMLTYPE values of the row, kept until the LOB count word after the row
  // tells whether they are stored inline or follow the row like CLOBs.
  struct xml_value {
    size_t row_pos;  // position among the row's columns
    int idx;         // schema index
    int64_t at;      // where its bytes lie: the stream reads on meanwhile
    uint32_t len;
  };
  std::vector<xml_value> m_xml_values;
  std::vector<size_t> m_lob_row_pos;  // row position of each m_lob_cols entry
  sdo_geometry m_geometry;            // the spatial value last read
  std::string m_wkt;
  std::string m_why;
  ole_variant m_scratch;
};

class ora_dump_reader_th_7 : public ora_dump_reader_th {
 public:
  using ora_dump_reader_th::ora_dump_reader_th;
  void skip_field_description(ora_dump_stream& s, udb_schema& schema) override;
  void reset() override { m_skip_blob_flag = 1; }
};

class ora_dump_reader_th_8 : public ora_dump_reader_th {
 public:
  ora_dump_reader_th_8(const ora_charsets& cs, int major, int minor, int release)
      : ora_dump_reader_th(cs), m_major(major), m_minor(minor), m_release(release) {}
  void skip_field_description(ora_dump_stream& s, udb_schema& schema) override;
  void get_longraw_value(ora_dump_stream& s, uint16_t len, ole_variant& out) override;

 protected:
  // Reads the (type, size) pairs shared by versions 8 and later.
  void read_column_types(ora_dump_stream& s, udb_schema& schema, uint16_t n,
                         std::vector<uint16_t>& types, bool store_clob_charset);
  int m_major = 0, m_minor = 0, m_release = 0;
};

class ora_dump_reader_th_9 : public ora_dump_reader_th_8 {
 public:
  using ora_dump_reader_th_8::ora_dump_reader_th_8;
  void skip_field_description(ora_dump_stream& s, udb_schema& schema) override;
  bool lob_utf16_big_endian() const override { return false; }

 protected:
  void read_description(ora_dump_stream& s, udb_schema& schema, bool v10);
};

class ora_dump_reader_th_10 : public ora_dump_reader_th_9 {
 public:
  using ora_dump_reader_th_9::ora_dump_reader_th_9;
  void skip_field_description(ora_dump_stream& s, udb_schema& schema) override;
  bool lob_utf16_big_endian() const override { return true; }
};

// Creates the decoder that fits a dump version.
std::shared_ptr<ora_dump_reader_th> create_token_handler(const ora_charsets& cs, int version,
                                                         int key, const tk_string& version_text);
