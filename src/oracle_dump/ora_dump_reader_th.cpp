// Classic record decoders and the value decoders shared with Data Pump.
//
// Classic table data, after the INSERT statement's line feed: a column
// description block, then the rows, then FF FF where a row would begin. A row
// is, for each column of the INSERT statement, a little-endian u16 length and
// that many bytes (FFFE NULL, FFFA a u32 length follows, FFFD chunked), then a
// u16 count of the LOB values stored right after the row.
#include "oracle_dump/ora_dump_reader_th.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"
#include "oracle_dump/ora_dump_pump_reader_th.h"

namespace {

const t_orcale_ftd& column_at(const udb_schema& schema, size_t i) {
  return *static_cast<const t_orcale_ftd*>(schema[i]);
}

tk_exception eof_error(int64_t pos) { return dump_error("Can't read record. EOF reached", pos, 0); }

uint32_t be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

}  // namespace

// ---- fields of a section ------------------------------------------------------

void ora_dump_reader_th::set_fields(const std::vector<tk_wstring>& names,
                                    const udb_schema& schema) {
  m_arr_fields = names;
  m_field_index.assign(names.size(), -1);
  for (size_t i = 0; i < names.size(); ++i) m_field_index[i] = schema.get_field_idx(names[i]);
  m_fields_schema = &schema;
}

int ora_dump_reader_th::text_charset(const t_orcale_ftd& col) const {
  if (col.charset_id != 0) return col.charset_id;
  const bool national = col.ora_type == ORA_NCHAR || col.ora_type == ORA_NVARCHAR2;
  return national ? m_cs.national_charset() : m_cs.database_charset();
}

// ---- rows ---------------------------------------------------------------------

bool ora_dump_reader_th::check_for_eof(ora_dump_stream& s) {
  const uint8_t* p = s.peek(2);
  // Every table section of a classic dump ends with FF FF.
  m_data_ran_out = p == nullptr;
  return p == nullptr || (p[0] == 0xFF && p[1] == 0xFF);
}

bool ora_dump_reader_th::get_record(ora_dump_stream& s, const udb_schema& schema, int64_t end,
                                    udb_record& rec) {
  (void)end;
  if (rec.size() != schema.size()) rec.shape(schema);
  rec.clear_values();
  if (m_fields_schema != &schema) set_fields(m_arr_fields, schema);
  m_lob_cols.clear();
  m_lob_row_pos.clear();
  m_xml_values.clear();

  // XMLTYPE values not taken as LOBs are stored inline: a header of 8
  // bytes, then the text.
  auto decode_inline_xml = [&] {
    for (const xml_value& x : m_xml_values) {
      const t_orcale_ftd& col = column_at(schema, static_cast<size_t>(x.idx));
      m_buf.clear();
      if (!s.copy(x.at, x.len, m_buf)) throw eof_error(x.at);
      decode_xmltype(col, m_buf.data(), x.len, rec[static_cast<size_t>(x.idx)]);
    }
  };

  for (size_t i = 0; i < m_arr_fields.size(); ++i) {
    const int idx = m_field_index[i];
    if (idx < 0)
      throw tk_exception(
          "Unknown field name has been found in INSERT statement: " + tk_u8(m_arr_fields[i]), 1);
    const t_orcale_ftd& col = column_at(schema, static_cast<size_t>(idx));
    udb_field& field = rec[static_cast<size_t>(idx)];
    const int64_t pos = s.tell();
    uint16_t len = 0;
    if (pos == 0 || !s.read_u16le(len)) throw eof_error(pos);

    switch (len) {
      case 0xFFFF:
        // The data ended where a column was expected: drop the row and leave
        // the marker for the end-of-data test.
        log_message(3, "WARNING: unexpected EOR(1) at position %lld", static_cast<long long>(pos));
        s.seek(pos);
        return false;
      case 0x0000:
        log_message(3, "WARNING: unexpected EOR(2) at position %lld", static_cast<long long>(pos));
        decode_inline_xml();
        return true;
      case 0xFFFE:
        continue;  // NULL
      case 0xFFFA: {
        uint32_t len32 = 0;
        if (!s.read_u32le(len32)) throw eof_error(s.tell());
        if (len32 > s.remaining()) throw eof_error(pos);
        if (col.ora_type == ORA_SDO_GEOMETRY)
          read_sdo_geometry(s, col, len32, field, rec);
        else if (col.ora_type == ORA_XMLTYPE)
          m_xml_values.push_back({i, idx, s.tell(), len32});
        if (!s.skip(len32))
          throw eof_error(pos);
        else
          get_ole_value(col, col.vartype, s, len32, field);
        continue;
      }
      case 0xFFFD:
        if (col.ora_type == ORA_LONG || col.ora_type == ORA_CLOB) {
          get_long_value(s, col, len, field);
        } else if (col.ora_type == ORA_SDO_GEOMETRY) {
          // A geometry too large for one piece: its image in chunks.
          const int64_t at = s.tell();
          get_longraw_value(s, len, m_scratch);
          if (is_binary_vt(m_scratch.get_type()))
            put_geometry_image(m_scratch.bytes().data(), m_scratch.bytes().size(), col, at, field,
                               rec);
        } else {
          get_longraw_value(s, len, field);
          if (col.vartype == VT_BSTR) {
            // Text stored in the chunked form.
            std::vector<uint8_t> bytes = field.bytes();
            get_string_value(col, bytes.data(), bytes.size(), field);
          }
        }
        continue;
      default:
        break;
    }

    if (len >= 0x8000 && len <= 0x80FF && col.ora_type == ORA_VARCHAR2 && col.size < len) {
      // A VARCHAR2 value stored in two pieces.
      log_message(2, "Got meta-size, refine it: fld_size=%u", col.size);
      const uint8_t* a = s.take(len & 0xFF);
      if (a == nullptr) throw eof_error(pos);
      m_buf.assign(a, a + (len & 0xFF));  // a is valid until the next read
      uint16_t len2 = 0;
      if (!s.read_u16le(len2)) throw eof_error(pos);
      const uint8_t* b = s.take(len2);
      if (b == nullptr) throw eof_error(pos);
      m_buf.insert(m_buf.end(), b, b + len2);
      get_string_value(col, m_buf.data(), m_buf.size(), field);
      continue;
    }

    if (static_cast<size_t>(len) > s.remaining()) {
      log_message(2, "ERROR: unexpected EOR(1) at position %lld", static_cast<long long>(pos));
      throw eof_error(pos);
    }
    switch (col.ora_type) {
      case ORA_BLOB:
      case ORA_CLOB:
        // The row holds the LOB's locator; its value follows the row.
        m_lob_cols.push_back(idx);
        m_lob_row_pos.push_back(i);
        s.skip(len);
        break;
      case ORA_LONG:
        get_long_value(s, col, len, field);
        break;
      case ORA_XMLTYPE:
        // Inline text or the locator of a value after the row: the LOB
        // count word after the row tells.
        m_xml_values.push_back({i, idx, s.tell(), len});
        if (!s.skip(len)) throw eof_error(pos);
        break;
      case ORA_SDO_GEOMETRY:
        read_sdo_geometry(s, col, len, field, rec);
        break;
      default:
        get_ole_value(col, col.vartype, s, len, field);
        break;
    }
  }

  if (m_skip_blob_flag == 0) {
    uint16_t lob_count = 0;
    if (skip_two_before_lobs() && !s.read_u16le(lob_count)) throw eof_error(s.tell());
    // The count word tells how many LOB values follow: one per LOB column
    // of the row that is not NULL, in column order. XMLTYPE values stored
    // as CLOBs are among them, in their column's place.
    if (!m_xml_values.empty() && lob_count == m_lob_cols.size() + m_xml_values.size()) {
      for (const xml_value& x : m_xml_values) {
        const auto at = std::lower_bound(m_lob_row_pos.begin(), m_lob_row_pos.end(), x.row_pos);
        const auto k = at - m_lob_row_pos.begin();
        m_lob_row_pos.insert(at, x.row_pos);
        m_lob_cols.insert(m_lob_cols.begin() + k, x.idx);
      }
      m_xml_values.clear();
    }
    decode_inline_xml();
    for (uint16_t k = 0; k < lob_count; ++k) {
      if (k < m_lob_cols.size()) {
        udb_field& field = rec[static_cast<size_t>(m_lob_cols[k])];
        const t_orcale_ftd& col = column_at(schema, static_cast<size_t>(m_lob_cols[k]));
        field.size = static_cast<uint32_t>(get_blob_value(s, col, field));
      } else {
        ole_variant scratch;
        const t_orcale_ftd& col = column_at(schema, 0);
        get_blob_value(s, col, scratch);
      }
    }
  } else {
    decode_inline_xml();
  }

  // A 00 00 row separator is consumed; anything else starts the next row.
  if (const uint8_t* p = s.peek(2); p != nullptr && p[0] == 0 && p[1] == 0) {
    log_message(2, "Found 00 00, skip it");
    s.skip(2);
  }
  return true;
}

// ---- spatial values -----------------------------------------------------------

tk_exception ora_dump_reader_th::geometry_error(const t_orcale_ftd& col, const std::string& why,
                                                int64_t pos) {
  return dump_error(
      "Column " + tk_u8(col.name) + ": SDO_GEOMETRY value cannot be written as WKT (" + why + ")",
      pos, 0);
}

void ora_dump_reader_th::put_geometry(const sdo_geometry& g, const t_orcale_ftd& col, int64_t pos,
                                      ole_variant& out, udb_record& rec) {
  m_wkt.clear();
  switch (g.to_wkt(m_wkt, m_b_ewkt, m_why)) {
    case sdo_geometry::wkt_result::text: {
      tk_wstring& text = out.text_buffer();
      text.reserve(m_wkt.size());
      for (const char c : m_wkt) text.push_back(static_cast<char16_t>(static_cast<uint8_t>(c)));
      return;
    }
    case sdo_geometry::wkt_result::null:
      out.clear();
      return;
    case sdo_geometry::wkt_result::error:
      out.clear();
      log_message(2, "SDO_GEOMETRY at %lld: %s", static_cast<long long>(pos), m_why.c_str());
      rec.errors.push_back(geometry_error(col, m_why, pos));
      return;
  }
}

void ora_dump_reader_th::read_sdo_geometry(ora_dump_stream& s, const t_orcale_ftd& col,
                                           uint32_t len, ole_variant& out, udb_record& rec) {
  const int64_t pos = s.tell();
  const uint8_t* p = s.take(len);
  if (p == nullptr) throw eof_error(pos);
  put_geometry_image(p, len, col, pos, out, rec);
}

void ora_dump_reader_th::put_geometry_image(const uint8_t* p, size_t n, const t_orcale_ftd& col,
                                            int64_t pos, ole_variant& out, udb_record& rec) {
  if (!sdo_read_image(p, n, m_geometry, m_why)) {
    out.clear();
    log_message(2, "SDO_GEOMETRY at %lld: %s", static_cast<long long>(pos), m_why.c_str());
    rec.errors.push_back(geometry_error(col, m_why, pos));
    return;
  }
  put_geometry(m_geometry, col, pos, out, rec);
}

// ---- column description blocks ------------------------------------------------

namespace {

// Schema column of the i-th entry of a description block (INSERT order).
t_orcale_ftd* described_column(const std::vector<int>& index, udb_schema& schema, size_t i) {
  if (i >= index.size() || index[i] < 0) return nullptr;
  return static_cast<t_orcale_ftd*>(schema[static_cast<size_t>(index[i])]);
}

}  // namespace

void ora_dump_reader_th_7::skip_field_description(ora_dump_stream& s, udb_schema& schema) {
  (void)schema;
  uint16_t n = 0;
  if (!s.read_u16le(n)) throw eof_error(s.tell());
  bool has_871 = false;
  for (uint16_t i = 0; i < n; ++i) {
    uint16_t a = 0, b = 0;
    if (!s.read_u16le(a) || !s.read_u16le(b)) throw eof_error(s.tell());
    if (a == 871) has_871 = true;
  }
  if (has_871 && !s.skip(16)) throw eof_error(s.tell());
}

void ora_dump_reader_th_8::read_column_types(ora_dump_stream& s, udb_schema& schema, uint16_t n,
                                             std::vector<uint16_t>& types,
                                             bool store_clob_charset) {
  types.assign(n, 0);
  for (uint16_t i = 0; i < n; ++i) {
    uint16_t type = 0, size = 0;
    if (!s.read_u16le(type) || !s.read_u16le(size)) throw eof_error(s.tell());
    types[i] = type;
    t_orcale_ftd* col = described_column(m_field_index, schema, i);
    if (col != nullptr) col->native_type = type;
    if (type == 1 || type == 96 || (store_clob_charset && type == 112)) {
      uint16_t cs = 0, form = 0;
      if (!s.read_u16le(cs) || !s.read_u16le(form)) throw eof_error(s.tell());
      // Character columns carry the character set their bytes are in: the
      // database set (form 1) or the national one (form 2).
      if (col != nullptr && cs != 0) col->charset_id = cs;
    }
  }
}

void ora_dump_reader_th_8::skip_field_description(ora_dump_stream& s, udb_schema& schema) {
  uint16_t n = 0;
  if (!s.read_u16le(n)) throw eof_error(s.tell());
  std::vector<uint16_t> types;
  read_column_types(s, schema, n, types, false);
  uint16_t lobs = 0;
  if (!s.read_u16le(lobs)) throw eof_error(s.tell());
  if (m_major == 8 && m_minor == 0 && (m_release == 4 || m_release == 5)) {
    m_skip_blob_flag = 0;
  } else if (m_major == 8 && m_minor == 0 && m_release == 6) {
    m_skip_blob_flag = 1;
  } else if (!s.read_u16le(m_skip_blob_flag)) {
    throw eof_error(s.tell());
  }
  for (uint16_t i = 0; i < lobs; ++i) {
    uint8_t l = 0;
    if (!s.read_u8(l) || !s.skip(static_cast<size_t>(l) + 2)) throw eof_error(s.tell());
  }
}

void ora_dump_reader_th_9::read_description(ora_dump_stream& s, udb_schema& schema, bool v10) {
  uint16_t n = 0;
  if (!s.read_u16le(n)) throw eof_error(s.tell());
  std::vector<uint16_t> types;
  read_column_types(s, schema, n, types, true);

  bool extra = false;
  for (size_t i = 0; i < types.size(); ++i) {
    const uint16_t t = types[i];
    if (t == 112 || t == 113 || t == 121) extra = true;
    if (v10) {
      if (t == 58 || (t >= 121 && t <= 123) || t == 114) extra = true;
      t_orcale_ftd* col = described_column(m_field_index, schema, i);
      if (col != nullptr && col->ora_type == ORA_OBJECT) {
        if (t == 58) col->ora_type = ORA_XMLTYPE;
        if (t == 122) col->ora_type = ORA_NESTED_TABLE;
        if (t == 123) col->ora_type = ORA_VARRAY;
      }
    }
  }
  if (!extra) {
    uint16_t lobs = 0;
    if (!s.read_u16le(lobs) || !s.read_u16le(m_skip_blob_flag)) throw eof_error(s.tell());
    return;
  }

  const int64_t at = s.tell();
  uint16_t n2 = 0;
  if (!s.read_u16le(n2)) throw eof_error(s.tell());
  if (n2 != n) throw dump_error("Column description blocks disagree on the column count", at, 0);
  for (size_t i = 0; i < types.size(); ++i) {
    const uint16_t t = types[i];
    if (t == 58 || (t >= 121 && t <= 123)) {
      std::string_view names[3];
      for (std::string_view& name : names) {
        uint8_t l = 0;
        if (!s.read_u8(l)) throw eof_error(s.tell());
        if (l >= 0x80) throw dump_error("Invalid type name in column description", s.tell() - 1, 0);
        const uint8_t* p = s.take(l);
        if (p == nullptr) throw eof_error(s.tell());
        name = std::string_view(reinterpret_cast<const char*>(p), l);
      }
      // The owner and name of the column's type decide whether it is Oracle
      // Spatial's geometry, whatever the CREATE TABLE text spelled.
      if (t_orcale_ftd* col = described_column(m_field_index, schema, i)) {
        const bool geometry = t == 121 && names[0] == "MDSYS" && names[1] == "SDO_GEOMETRY";
        if (geometry && col->ora_type != ORA_SDO_GEOMETRY) {
          col->ora_type = ORA_SDO_GEOMETRY;
          col->vartype = VT_BSTR;
          col->reserved = FTD_SDO_GEOMETRY;
        } else if (!geometry && col->ora_type == ORA_SDO_GEOMETRY) {
          col->ora_type = t == 58    ? ORA_XMLTYPE
                          : t == 122 ? ORA_NESTED_TABLE
                          : t == 123 ? ORA_VARRAY
                                     : ORA_OBJECT;
          col->vartype = t == 58 ? VT_BSTR : VT_BLOB;
          col->reserved = 0;
        }
      }
    } else if (t >= 112 && t <= 114) {
      uint8_t c = 0;
      if (!s.skip(2) || !s.read_u8(c)) throw eof_error(s.tell());
      if (static_cast<size_t>(c) >= s.remaining()) {
        log_message(2, "Skipping LOBs failed");
        throw eof_error(s.tell());
      }
      s.skip(c);
    } else if (!s.skip(3)) {
      throw eof_error(s.tell());
    }
  }
  // Two zero bytes of padding end the block. Skip no more than that: the
  // first row's length word may itself begin with a zero byte (0x0100...).
  for (int k = 0; k < 2; ++k) {
    const uint8_t* p = s.peek(1);
    if (p == nullptr || *p != 0) break;
    s.skip(1);
  }
}

void ora_dump_reader_th_9::skip_field_description(ora_dump_stream& s, udb_schema& schema) {
  read_description(s, schema, false);
}

void ora_dump_reader_th_10::skip_field_description(ora_dump_stream& s, udb_schema& schema) {
  read_description(s, schema, true);
}

// ---- value dispatch -----------------------------------------------------------

void ora_dump_reader_th::get_ole_value(const t_orcale_ftd& col, vartype_t vt, ora_dump_stream& s,
                                       uint32_t size, ole_variant& out) {
  const int64_t pos = s.tell();
  const uint8_t* p = s.take(size);
  if (p == nullptr) throw eof_error(pos);

  // The description block's type word says how the bytes are stored, which
  // the declared type text does not always tell (FLOAT is a NUMBER inside).
  const uint16_t native = col.native_type;
  const bool ieee = native == 100 || native == 101 || (native == 0 && col.ora_type == ORA_FLOAT);

  switch (vt) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_R8:
    case VT_DECIMAL:
    case VT_R4:
      if (ieee) {
        get_IEEE754_value(p, size, out);
        return;
      }
      if ((vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_I8) &&
          put_integer_number(p, size, vt, out))
        return;
      if (!decode_number(p, size, out.decimal_buffer()))
        throw dump_error("Invalid NUMBER value", pos, 0);
      out.finish_decimal(vt);
      return;
    case VT_DATE:
      if (col.ora_type == ORA_DATE) {
        if (size != 7 && size != 4) {
          log_message(3, "Date reading error, pos: %lld", static_cast<long long>(pos));
          throw dump_error("Can't read record. Date error.", pos, 0);
        }
        get_datetime_value(p, size, out);
        return;
      }
      if (col.ora_type == ORA_TIMESTAMP) {
        if (size < 7 || size > 254) throw dump_error("Can't read record. Date error.", pos, 0);
        try {
          get_timestamp_value(p, size, out, static_cast<int>(col.scale));
        } catch (const tk_exception& e) {
          throw dump_error(e.text(), pos, 0);
        }
        return;
      }
      out.set_bytes(p, size);
      return;
    case VT_BSTR:
      if (col.ora_type == ORA_INTERVAL) {
        try {
          get_interval_value(p, size, out, static_cast<int>(col.scale));
        } catch (const tk_exception& e) {
          throw dump_error(e.text(), pos, 0);
        }
        return;
      }
      get_string_value(col, p, size, out);
      return;
    default:
      break;
  }
  if (is_binary_vt(vt)) {
    switch (col.ora_type) {
      case ORA_LONG:
        get_string_value(col, p, size, out);
        return;
      case ORA_RAW:
      case ORA_LONG_RAW:
      case ORA_ROWID:
      case ORA_BFILE:
      case ORA_NESTED_TABLE:
      case ORA_VARRAY:
        // Inside a classic row the bytes after a RAW value are the next
        // column's length word, never a chunk marker: take the value as is.
        out.set_bytes(p, size);
        return;
      default:
        out.clear();
        return;
    }
  }
  out.clear();
}

// ---- scalar decoders ----------------------------------------------------------

namespace {

// "00" to "99": two decimal digits of one base-100 digit.
constexpr char k_digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

}  // namespace

bool ora_dump_reader_th::put_integer_number(const uint8_t* p, size_t n, vartype_t vt,
                                            ole_variant& out) {
  // The integers of integer columns straight from their base-100 digits.
  // Anything else (zero, fractions, more than 18 decimal digits, damaged
  // bytes) is left to the exact decoder.
  if (n < 2 || n > 10) return false;
  const uint8_t b0 = p[0];
  const bool negative = (b0 & 0x80) == 0;
  size_t last = n;
  if (negative) {
    if (p[n - 1] != 0x66) return false;
    --last;
    if (last < 2) return false;
  }
  const int e = negative ? 62 - b0 : static_cast<int>(b0) - 193;
  const int pairs = static_cast<int>(last - 1);
  // value = D * 100^(e - pairs + 1); an integer when that power is whole.
  if (e < pairs - 1 || e > 8) return false;
  int64_t v = 0;
  for (size_t i = 1; i < last; ++i) {
    const int digit = negative ? 101 - p[i] : p[i] - 1;
    if (digit < 0 || digit > 99) return false;
    v = v * 100 + digit;
  }
  if (v == 0) return false;
  for (int k = pairs - 1; k < e; ++k) v *= 100;
  if (negative) v = -v;
  switch (vt) {
    case VT_I1:
      if (v < -128 || v > 127) return false;
      out.set_i1(static_cast<int8_t>(v));
      return true;
    case VT_I2:
      if (v < -32768 || v > 32767) return false;
      out.set_i2(static_cast<int16_t>(v));
      return true;
    case VT_I4:
      if (v < INT32_MIN || v > INT32_MAX) return false;
      out.set_i4(static_cast<int32_t>(v));
      return true;
    default:
      out.set_i8(v);
      return true;
  }
}

bool ora_dump_reader_th::decode_number(const uint8_t* p, size_t n, ole_decimal& out) {
  out = ole_decimal();
  if (n == 0) return false;
  const uint8_t b0 = p[0];
  // Zero: 80 alone, or nothing but zero bytes after the first (which only
  // a value whose second byte is zero can be).
  if (n == 1 || p[1] == 0) {
    bool all_zero = true;
    for (size_t i = 1; i < n; ++i) all_zero = all_zero && p[i] == 0;
    if ((b0 == 0x80 && n == 1) || all_zero) return true;
  }

  const bool negative = (b0 & 0x80) == 0;
  // Oracle's infinities: FF 65 and 00 (or 00 66) have no finite value.
  if ((!negative && b0 == 0xFF && n == 2 && p[1] == 0x65) || (negative && b0 == 0x00)) return false;
  size_t last = n;
  if (negative && p[n - 1] == 0x66) --last;  // terminator of a short negative mantissa
  if (last <= 1) return false;
  // Base-100 exponent of the first mantissa digit.
  const int e = negative ? 62 - b0 : static_cast<int>(b0) - 193;
  char* d = out.digits;
  int nd = 0;
  for (size_t i = 1; i < last; ++i) {
    const int digit = negative ? 101 - p[i] : p[i] - 1;
    if (digit < 0 || digit > 99) return false;
    if (nd + 2 > ole_decimal::max_digits) return false;
    std::memcpy(d + nd, k_digit_pairs + 2 * digit, 2);
    nd += 2;
  }
  const int pairs = static_cast<int>(last - 1);
  // value = D * 100^(e - pairs + 1)
  int exponent = 2 * (e - pairs + 1);
  int lead = 0;
  while (lead < nd && d[lead] == '0') ++lead;
  if (lead == nd) return true;  // all digits zero
  if (lead > 0) {
    std::memmove(d, d + lead, static_cast<size_t>(nd - lead));
    nd -= lead;
  }
  while (nd > 0 && d[nd - 1] == '0') {
    --nd;
    ++exponent;
  }
  out.ndigits = static_cast<uint8_t>(nd);
  out.exponent = static_cast<int16_t>(exponent);
  out.negative = negative;
  return true;
}

void ora_dump_reader_th::get_floating_value2(const uint8_t* p, size_t n, ole_variant& out) {
  if (!decode_number(p, n, out.decimal_buffer())) throw tk_exception("Invalid NUMBER value", 0);
  out.finish_decimal(VT_DECIMAL);
}

void ora_dump_reader_th::get_IEEE754_value(const uint8_t* p, size_t n, ole_variant& out) {
  // Oracle flips the sign bit of non-negative values and every bit of
  // negative ones, so that the bytes sort like the numbers.
  if (n == 8) {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | p[i];
    bits = (bits & 0x8000000000000000ull) ? (bits & 0x7FFFFFFFFFFFFFFFull) : ~bits;
    double v = 0;
    std::memcpy(&v, &bits, 8);
    out.set_r8(v);
  } else if (n == 4) {
    uint32_t bits = be32(p);
    bits = (bits & 0x80000000u) ? (bits & 0x7FFFFFFFu) : ~bits;
    float v = 0;
    std::memcpy(&v, &bits, 4);
    out.set_r4(v);
  } else {
    out.clear();
  }
}

static bool fill_date_fields(const uint8_t* p, size_t n, tk_systemtime& st) {
  const int year = ((p[0] - 100) & 0xFF) * 100 + ((p[1] - 100) & 0xFF);
  if (year > 9999) return false;
  st = tk_systemtime();
  st.year = static_cast<uint16_t>(year);
  st.month = p[2];
  st.day = p[3];
  if (n >= 7) {
    auto field = [](uint8_t b) -> uint16_t {
      return static_cast<int8_t>(b) <= 0 ? 0 : static_cast<uint16_t>(b - 1);
    };
    st.hour = field(p[4]);
    st.minute = field(p[5]);
    st.second = field(p[6]);
  }
  return true;
}

bool ora_dump_reader_th::get_datetime_value(const uint8_t* p, size_t n, ole_variant& out) {
  tk_systemtime st;
  if ((n != 7 && n != 4) || !fill_date_fields(p, n, st)) {
    out.clear();
    return false;
  }
  out.set_date(ole_date(st));
  return true;
}

bool ora_dump_reader_th::get_timestamp_value(const uint8_t* p, size_t n, ole_variant& out,
                                             int fraction_digits) {
  tk_systemtime st;
  if (n < 7 || !fill_date_fields(p, n, st)) {
    out.clear();
    return false;
  }
  ole_date d(st);
  if (n >= 11) {
    // Nanoseconds, big-endian: every stored digit is kept (TIMESTAMP(9)).
    const uint32_t ns = be32(p + 7);
    if (ns > 999999999u) throw tk_exception("Invalid TIMESTAMP fraction", 0);
    d.set_fraction_ns(ns);
  }
  if (fraction_digits > 0 && fraction_digits <= 9)
    d.fraction_digits = static_cast<uint8_t>(fraction_digits);
  if (n >= 13) {
    // TIMESTAMP WITH TIME ZONE: the clock above is UTC; two more bytes give
    // the zone the value was written in. An offset is stored as hours + 20
    // and minutes + 60 (both carrying the sign); a set top bit marks a
    // region id instead, whose rules are not in the dump: such a value keeps
    // its UTC clock and prints the offset +00:00, the same instant.
    int32_t offset = 0;
    if ((p[11] & 0x80) == 0) {
      const int hours = p[11] - 20, minutes = p[12] - 60;
      if (hours < -15 || hours > 15 || minutes < -59 || minutes > 59 ||
          (hours < 0 && minutes > 0) || (hours > 0 && minutes < 0))
        throw tk_exception("Invalid time zone in TIMESTAMP WITH TIME ZONE value", 0);
      offset = hours * 60 + minutes;
    }
    d.kind = ole_date::datetime;
    d.add_minutes(offset);
    if (d.st.year > 9999 || d.st.year == 0) {
      out.clear();
      return false;
    }
    d.time_zone = offset;
    d.has_zone = 1;
  }
  if (d.fraction_ns() != 0) d.kind = ole_date::datetime;
  out.set_date(d);
  return true;
}

void ora_dump_reader_th::get_interval_value(const uint8_t* p, size_t n, ole_variant& out,
                                            int fraction_digits) {
  char buf[64];
  if (n == 11) {
    // INTERVAL DAY TO SECOND: every field carries the sign of the interval.
    // The fraction is in nanoseconds: all of it is printed, with the digits
    // the column declares (6 when it is not known) or more when it holds more.
    const int64_t days = static_cast<int64_t>(be32(p)) - 0x80000000LL;
    const int hours = p[4] - 60, minutes = p[5] - 60, seconds = p[6] - 60;
    const int64_t nanos = static_cast<int64_t>(be32(p + 7)) - 0x80000000LL;
    const bool neg = days < 0 || hours < 0 || minutes < 0 || seconds < 0 || nanos < 0;
    uint64_t ns = static_cast<uint64_t>(std::llabs(nanos));
    if (ns > 999999999u) throw tk_exception("Invalid INTERVAL fraction", 0);
    int digits = fraction_digits > 0 && fraction_digits <= 9 ? fraction_digits : 6;
    int needed = 9;
    for (uint64_t v = ns; needed > 0 && v % 10 == 0; v /= 10) --needed;
    if (digits < needed) digits = needed <= 3 ? 3 : needed <= 6 ? 6 : 9;
    for (int i = digits; i < 9; ++i) ns /= 10;
    std::snprintf(buf, sizeof buf, "%s%lld %02d:%02d:%02d.%0*llu", neg ? "-" : "",
                  static_cast<long long>(std::llabs(days)), std::abs(hours), std::abs(minutes),
                  std::abs(seconds), digits, static_cast<unsigned long long>(ns));
  } else if (n == 5) {
    // INTERVAL YEAR TO MONTH: years offset by 0x80000000, months by 60.
    const int64_t years = static_cast<int64_t>(be32(p)) - 0x80000000LL;
    const int months = p[4] - 60;
    const bool neg = years < 0 || months < 0;
    std::snprintf(buf, sizeof buf, "%s%lld-%02d", neg ? "-" : "",
                  static_cast<long long>(std::llabs(years)), std::abs(months));
  } else {
    out.clear();
    return;
  }
  tk_wstring& t = out.text_buffer();
  for (const char* c = buf; *c; ++c) t.push_back(static_cast<char16_t>(*c));
}

void ora_dump_reader_th::get_string_value(const t_orcale_ftd& col, const uint8_t* p, size_t n,
                                          ole_variant& out) const {
  // Most columns of a table share one character set: its decoder is kept
  // at hand instead of being looked up for every value.
  const int cs = text_charset(col);
  if (cs != m_decoder_id || m_decoder == nullptr) {
    m_decoder = &m_cs.decoder(cs);
    m_decoder_id = cs;
  }
  m_decoder->decode(p, n, out);
}

// ---- LOB and LONG decoders ----------------------------------------------------

void ora_dump_reader_th::decode_lob_text(int charset_id, bool swap_utf16, const uint8_t* p,
                                         size_t n, tk_wstring& out) const {
  if (charset_id == 871 || charset_id == 873 || charset_id == 2000) {
    // Oracle keeps CLOBs of a varying-width character set as UTF-16.
    for (size_t i = 0; i + 1 < n; i += 2) {
      const char16_t u = swap_utf16 ? static_cast<char16_t>((p[i] << 8) | p[i + 1])
                                    : static_cast<char16_t>(p[i] | (p[i + 1] << 8));
      if (u == 0) break;
      out.push_back(u);
    }
    return;
  }
  const void* nul = std::memchr(p, 0, n);
  if (nul != nullptr) n = static_cast<size_t>(static_cast<const uint8_t*>(nul) - p);
  m_cs.decode(charset_id != 0 ? charset_id : m_cs.database_charset(), p, n, out);
}

size_t ora_dump_reader_th::get_blob_value(ora_dump_stream& s, const t_orcale_ftd& col,
                                          ole_variant& out) {
  const int64_t pos = s.tell();
  uint16_t t = 0;
  if (!s.read_u16le(t)) throw eof_error(pos);
  if (t == 0) {
    out.clear();
    return 0;
  }
  std::vector<uint8_t>& bytes = m_buf;
  bytes.clear();
  auto read_chunk = [&](size_t c) {
    const uint8_t* p = s.take(c);
    if (p == nullptr) throw dump_error("Unexpected EOF", s.tell(), 0);
    bytes.insert(bytes.end(), p, p + c);
  };
  if (t != 0xFFFA && t != 0xFFFC) {
    read_chunk(t);
  } else {
    uint64_t total = 0;
    if (t == 0xFFFC) {
      if (!s.read_u64le(total)) throw eof_error(s.tell());
    } else {
      uint16_t v = 0;
      if (!s.read_u16le(v)) throw eof_error(s.tell());
      if (v == 0xFFFA) {
        uint32_t v32 = 0;
        if (!s.read_u32le(v32)) throw eof_error(s.tell());
        total = v32;
      } else {
        total = v;
      }
    }
    uint16_t c = 0;
    if (!s.read_u16le(c)) throw eof_error(s.tell());
    if (t == 0xFFFA) {
      // Equal-sized chunks; the first chunk of another size is the last.
      for (;;) {
        read_chunk(c);
        uint16_t next = 0;
        if (!s.read_u16le(next)) throw eof_error(s.tell());
        if (next != c) {
          read_chunk(next);
          break;
        }
      }
    } else {
      if (total > static_cast<uint64_t>(s.size())) throw dump_error("Invalid LOB length", pos, 0);
      read_chunk(c);
      while (bytes.size() < total) {
        if (!s.read_u16le(c)) throw eof_error(s.tell());
        if (c == 0) throw dump_error("Invalid LOB chunk", s.tell() - 2, 0);
        read_chunk(c);
      }
    }
  }
  if (col.vartype == VT_BSTR) {
    const int cs = col.charset_id != 0 ? col.charset_id : m_cs.database_charset();
    tk_wstring& text = out.text_buffer();
    decode_lob_text(cs, cs == 2000 || lob_utf16_big_endian(), bytes.data(), bytes.size(), text);
  } else {
    out.set_bytes(bytes.data(), bytes.size());
  }
  return bytes.size();
}

bool ora_dump_reader_th::read_chunked(ora_dump_stream& s, std::vector<uint8_t>& out,
                                      bool zero_final_ends) {
  uint16_t c = 0;
  if (!s.read_u16le(c)) throw eof_error(s.tell());
  for (;;) {
    const uint8_t* p = s.take(c);
    if (p == nullptr) throw eof_error(s.tell());
    out.insert(out.end(), p, p + c);
    uint16_t next = 0;
    if (!s.read_u16le(next)) throw eof_error(s.tell());
    if (next == c) continue;
    if (next == 0 && zero_final_ends) return false;
    const uint8_t* f = s.take(next);
    if (f == nullptr) throw eof_error(s.tell());
    out.insert(out.end(), f, f + next);
    return true;
  }
}

void ora_dump_reader_th::get_longraw_value(ora_dump_stream& s, uint16_t len, ole_variant& out) {
  std::vector<uint8_t>& bytes = out.byte_buffer();
  bytes.clear();
  if (len == 0xFFFD) {
    read_chunked(s, bytes, false);
    if (!s.skip(2)) throw eof_error(s.tell());
    return;
  }
  const uint8_t* p = s.take(len);
  if (p == nullptr) throw eof_error(s.tell());
  bytes.assign(p, p + len);
}

void ora_dump_reader_th_8::get_longraw_value(ora_dump_stream& s, uint16_t len, ole_variant& out) {
  std::vector<uint8_t>& bytes = out.byte_buffer();
  bytes.clear();
  if (len == 0xFFFD) {
    if (read_chunked(s, bytes, true) && !s.skip(2)) throw eof_error(s.tell());
  } else {
    const uint8_t* p = s.take(len);
    if (p == nullptr) throw eof_error(s.tell());
    bytes.assign(p, p + len);
  }
  if (bytes.empty()) out.clear();
}

void ora_dump_reader_th::get_long_value(ora_dump_stream& s, const t_orcale_ftd& col, uint16_t len,
                                        ole_variant& out) {
  m_buf.clear();
  if (len == 0xFFFD) {
    read_chunked(s, m_buf, true);
  } else {
    const uint8_t* p = s.take(len);
    if (p == nullptr) throw eof_error(s.tell());
    m_buf.assign(p, p + len);
  }
  tk_wstring& text = out.text_buffer();
  m_cs.decode(text_charset(col), m_buf.data(), m_buf.size(), text);
}

void ora_dump_reader_th::get_xmltype_value(ora_dump_stream& s, const t_orcale_ftd& col,
                                           uint32_t len, ole_variant& out) {
  const uint8_t* p = s.take(len);
  if (p == nullptr) throw eof_error(s.tell());
  decode_xmltype(col, p, len, out);
}

void ora_dump_reader_th::decode_xmltype(const t_orcale_ftd& col, const uint8_t* p, size_t len,
                                        ole_variant& out) const {
  tk_wstring& text = out.text_buffer();
  if (len <= 8) return;
  size_t n = len - 8;
  const uint8_t* q = p + 8;
  if (const void* nul = std::memchr(q, 0, n))
    n = static_cast<size_t>(static_cast<const uint8_t*>(nul) - q);
  m_cs.decode(text_charset(col), q, n, text);
}

// ---- factory ------------------------------------------------------------------

std::shared_ptr<ora_dump_reader_th> create_token_handler(const ora_charsets& cs, int version,
                                                         int key, const tk_string& version_text) {
  switch (key) {
    case 1:
    case 2:
      // Data Pump: the key is the dump file's minor version.
      return std::make_shared<ora_dump_pump_reader_th>(cs, version);
    case 7:
      return std::make_shared<ora_dump_reader_th_7>(cs);
    case 8: {
      int major = 0, minor = 0, release = 0;
      if (!version_text.empty())
        std::sscanf(version_text.c_str(), "EXPORT:V%02d.%02d.%02d", &major, &minor, &release);
      return std::make_shared<ora_dump_reader_th_8>(cs, major, minor, release);
    }
    case 9:
      return std::make_shared<ora_dump_reader_th_9>(cs, 9, 0, 0);
    default:
      return std::make_shared<ora_dump_reader_th_10>(cs, key, 0, 0);
  }
}
