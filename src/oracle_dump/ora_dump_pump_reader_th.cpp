// Record decoder of Data Pump dumps: record headers, continuation pieces,
// split texts and the LOB section after a row.
//
// Record pieces begin with a flag byte: 0x08 first piece, 0x04 last piece,
// 0x02 the piece continues the previous value, 0x01 the value goes on in the
// next piece, 0x10 a big-endian u16 length follows. A one-piece row with
// LOBs begins 0x0C; plain rows begin 0x3C (1C 00 05 01 FF is a real all-NULL
// row). Column values inside a row have one length byte: FF NULL, FE a
// chunked text, 00 the end of the row's data.
#include "oracle_dump/ora_dump_pump_reader_th.h"

#include <algorithm>
#include <cstring>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"

namespace {

const t_orcale_ftd& column_at(const udb_schema& schema, size_t i) {
  return *static_cast<const t_orcale_ftd*>(schema[i]);
}

// The entry of a record's LOB list that stands for a binary part of a
// geometry (an SDO_ELEM_INFO or SDO_ORDINATES array) rather than a column.
constexpr size_t k_geom_part = SIZE_MAX;

tk_exception eof_error(int64_t pos) { return dump_error("Can't read record. EOF reached", pos, 0); }

bool utf16_charset(int id) { return id == 871 || id == 873 || id == 2000; }

// Out of line, so that the byte readers below inline into the record loop.
[[noreturn, gnu::noinline, gnu::cold]] void throw_eof(int64_t pos) { throw eof_error(pos); }

inline uint8_t must_u8(ora_dump_stream& s) {
  uint8_t v = 0;
  if (!s.read_u8(v)) [[unlikely]]
    throw_eof(s.tell());
  return v;
}

inline uint16_t must_u16be(ora_dump_stream& s) {
  uint16_t v = 0;
  if (!s.read_u16be(v)) [[unlikely]]
    throw_eof(s.tell());
  return v;
}

void append_bytes(ora_dump_stream& s, size_t n, std::vector<uint8_t>& out) {
  const int64_t at = s.tell();
  const uint8_t* p = s.take(n);
  if (p == nullptr) throw eof_error(at);
  out.insert(out.end(), p, p + n);
}

}  // namespace

// ---- end of data --------------------------------------------------------------

bool ora_dump_pump_reader_th::check_for_eof(ora_dump_stream& s) {
  const int64_t at = s.tell();
  // A table's rows are always followed by more of the dump (the next
  // object, the master table, block padding): running into the end of the
  // file here means the file was cut.
  m_data_ran_out = false;
  uint8_t c = 0;
  if (!s.read_u8(c)) {
    m_data_ran_out = true;
    return true;
  }
  switch (c) {
    case 0x08:
    case 0x09:
    case 0x0C:
    case 0x18:
    case 0x19:
    case 0x1C:
    case 0x3C:
      s.seek(at);
      return false;
    default:
      break;
  }
  if (c >= 1 && c <= 20) {
    uint8_t next = 0;
    if (s.skip(c) && s.peek(1) != nullptr) {
      next = *s.peek(1);
      if (next == 0x1C || next == 0x3C) {
        log_message(1, "2nd attempt of reading EOF succeeds");
        return false;
      }
    } else {
      m_data_ran_out = true;
    }
  }
  s.seek(at);
  return true;
}

// ---- texts and LOBs -----------------------------------------------------------

void ora_dump_pump_reader_th::decode_pump_text(const t_orcale_ftd& col,
                                               const std::vector<uint8_t>& bytes,
                                               ole_variant& out) const {
  const int cs = text_charset(col);
  if (utf16_charset(cs) && (col.ora_type == ORA_CLOB || col.ora_type == ORA_LONG || cs == 2000)) {
    // CLOBs of a varying-width character set are stored as UTF-16BE, as
    // are national-character values.
    tk_wstring& text = out.text_buffer();
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
      const char16_t u = static_cast<char16_t>((bytes[i] << 8) | bytes[i + 1]);
      if (u == 0) break;
      text.push_back(u);
    }
    return;
  }
  size_t n = bytes.size();
  if (const void* nul = std::memchr(bytes.data(), 0, n))
    n = static_cast<size_t>(static_cast<const uint8_t*>(nul) - bytes.data());
  m_cs.decode(cs, bytes.data(), n, out);
}

void ora_dump_pump_reader_th::get_clob_value(ora_dump_stream& s, const t_orcale_ftd& col,
                                             ole_variant& out) {
  m_lob.clear();
  for (;;) {
    size_t n = must_u8(s);
    if (n == 0) n = must_u8(s);
    if (n == 0xFF) {
      log_message(1, "Empty CLOB/chunk found");
      break;
    }
    if (n == 0xFE) n = must_u16be(s);
    append_bytes(s, n, m_lob);
    const int64_t r = s.tell();
    const uint8_t* c = s.peek(2);
    if (c != nullptr && (c[0] == 2 || c[0] == 3 || c[0] == 6) &&
        (c[1] == 1 || c[1] == 2 || c[1] == 20 || c[1] == 28)) {
      s.skip(2);
      continue;
    }
    log_message(1, "No more CLOB-chunks to read, break");
    s.seek(r);
    break;
  }
  if (m_lob.empty()) {
    out.clear();
    return;
  }
  decode_pump_text(col, m_lob, out);
}

void ora_dump_pump_reader_th::is_blob_record(ora_dump_stream& s, const t_orcale_ftd& col,
                                             ole_variant& out, bool& is_last) {
  m_lob.clear();
  bool first = true;
  for (;;) {
    const int64_t r = s.tell();
    if (!first) {
      const uint8_t* m = s.peek(2);
      if (m == nullptr) break;
      if (m[0] == 8 || m[0] == 9 || m[0] == 12) {
        is_last = true;
        break;
      }
      if (m[0] != 3 && m[0] != 6) break;
      s.skip(2);
    }
    const uint8_t b = must_u8(s);
    size_t n = b;
    if (b == 0xFE) {
      n = must_u16be(s);
    } else if (!first) {
      s.seek(r);
      break;
    } else if (b == 0xFF) {
      out.clear();
      return;
    }
    append_bytes(s, n, m_lob);
    first = false;
    if (b != 0xFE) break;
  }
  const int cs = col.charset_id;
  if (cs == 0) {
    if (m_lob.empty())
      out.clear();
    else
      out.set_bytes(m_lob.data(), m_lob.size());
    return;
  }
  // UTF-16 character sets hold big-endian units; others their own bytes.
  decode_lob_text(cs, true, m_lob.data(), m_lob.size(), out.text_buffer());
}

size_t ora_dump_pump_reader_th::get_pump_blob_value(ora_dump_stream& s, const t_orcale_ftd& col,
                                                    uint8_t marker, ole_variant& out,
                                                    bool& is_last) {
  m_lob.clear();
  size_t n = must_u8(s);
  if (n == 0xFE) n = must_u16be(s);
  if (n == 0) {
    out.clear();
    return 0;
  }
  bool final_chunk = false;
  for (;;) {
    append_bytes(s, n, m_lob);
    const int64_t r = s.tell();
    if (final_chunk) {
      log_message(1, "This is last chunk, break");
      break;
    }
    uint8_t c = 0;
    if (!s.read_u8(c)) break;
    if (c == 0 || c == 8 || c == 9 || c == 12 || c == 0xFE || c == marker) {
      s.seek(r);
      if (c == 12) is_last = true;
      break;
    }
    if (c != 2 && c != 3 && c != 4 && c != 6) {
      log_message(1, "Abort LOB reading, pos: %lld", static_cast<long long>(r));
      s.seek(r);
      break;
    }
    const uint8_t* b = s.take(2);
    if (b == nullptr) {
      s.seek(r);
      break;
    }
    const uint8_t b0 = b[0], b1 = b[1];  // b is valid until the next read
    if (c == 4) {
      if (b0 != 3) {
        // A new LOB begins here.
        s.seek(r);
        break;
      }
      n = b1;
    } else {
      n = b1;
      if (b1 == 0xFE) n = must_u16be(s);
      if (c == 6 && b0 == 1) is_last = true;
    }
    final_chunk = c != 3;
  }
  if (col.vartype == VT_BSTR) {
    decode_lob_text(text_charset(col), true, m_lob.data(), m_lob.size(), out.text_buffer());
  } else if (m_lob.empty()) {
    out.clear();
  } else {
    out.set_bytes(m_lob.data(), m_lob.size());
  }
  return m_lob.size();
}

// ---- spatial values -----------------------------------------------------------

void pump_geom_reader::reset() {
  state = 0;
  part_count = 0;
  count = 0;
}

void pump_geom_reader::add_geom_object(size_t column, int64_t pos) {
  log_message(2, "pump_geom_reader::add_geom_object(%d)", static_cast<int>(column));
  if (entries.size() <= count) entries.emplace_back();
  entry& e = entries[count++];
  e.column = column;
  e.pos = pos;
  e.geometry.clean();
  e.why.clear();
  state = 1;
}

bool pump_geom_reader::handle_if(ora_dump_stream& s) {
  if (!waiting()) return false;
  if (state == 6 || state == 7) {
    log_message(1, "Got SDO_ELEM_INFO/SDO_ORDINATES ref");
    ++state;
    return true;
  }
  entry& e = entries[count - 1];
  sdo_geometry& g = e.geometry;
  const int64_t at = s.tell();
  const uint8_t f = must_u8(s);
  sdo_number& target = state == 1 ? g.gtype : state == 2 ? g.srid : g.point[state - 3];
  if (f != 0xFF && f != 0) {
    const uint8_t* p = s.take(f);
    if (p == nullptr) throw eof_error(at);
    if (!sdo_decode_number(p, f, target) && e.why.empty())
      e.why = "a sub-field at offset " + std::to_string(at) + " is not a number";
    if (state >= 3 && !target.null) g.point_null = false;
  }
  ++state;
  return true;
}

void pump_geom_reader::add_binary1() {
  log_message(1, "pump_geom_reader::add_binary1(%d)", static_cast<int>(part_count));
  ++part_count;
}

void pump_geom_reader::add_binary2(const uint8_t* p, size_t n, int64_t pos) {
  log_message(1, "pump_geom_reader::add_binary2(%d)", static_cast<int>(part_count));
  const size_t k = part_count / 2;
  const bool ordinates = part_count % 2 == 1;
  ++part_count;
  if (k >= count) {
    log_message(2, "Cannot process as SDO_GEOMETRY binary");
    return;
  }
  entry& e = entries[k];
  sdo_geometry& g = e.geometry;
  std::vector<sdo_number>& target = ordinates ? g.ordinates : g.elem_info;
  if (!sdo_read_number_array(p, n, target, m_why)) {
    target.clear();
    if (e.why.empty())
      e.why = std::string(ordinates ? "SDO_ORDINATES" : "SDO_ELEM_INFO") + " at offset " +
              std::to_string(pos) + ": " + m_why;
    return;
  }
  (ordinates ? g.ordinates_null : g.elem_info_null) = false;
}

size_t ora_dump_pump_reader_th::get_sdo_geometry_value(ora_dump_stream& s, ole_variant& out,
                                                       bool& is_last) {
  log_message(2, "ora_dump_reader_th::get_sdo_geometry_value");
  m_lob.clear();
  const uint8_t* h = s.take(3);
  if (h == nullptr) throw eof_error(s.tell());
  // Groups of NULL values before it are passed over.
  while ((h[0] == 0 || h[0] == 4) && h[1] == 1 && h[2] == 0xFF) {
    h = s.take(3);
    if (h == nullptr) throw eof_error(s.tell());
  }
  uint8_t h0 = h[0], h1 = h[1], h2 = h[2];
  size_t size = 0;
  if (h0 == 1 && h1 == 1 && h2 == 0xFE) {
    log_message(2, "Reading multi-chunk value");
    for (;;) {
      append_bytes(s, must_u16be(s), m_lob);
      const uint8_t* g = s.take(3);
      if (g == nullptr) throw eof_error(s.tell());
      if (g[0] == 0 || g[0] == 4) {
        if (g[2] == 0) is_last = true;
        break;
      }
    }
  } else {
    if (h0 != 1 && h0 != 0xFE && h1 == 1 && h2 == 0xFE) {
      log_message(1, "Classic processing");
      if (h0 == 4) is_last = true;
      size = must_u16be(s);
    } else if (h0 == 0x11 && h1 == 0x88 && h2 == 1) {
      const int64_t q = s.tell();
      s.seek(q + 15);
      if (s.tell() != q + 15) throw eof_error(q);
      const uint8_t b = must_u8(s);
      if (b == 0xFE) {
        log_message(1, "2-byte size");
        size = must_u16be(s);
        const int64_t r = s.tell();
        s.seek(r + 5);
        if (s.tell() != r + 5) throw eof_error(r);
        const size_t size2 = must_u16be(s);
        if (size2 == size)
          s.seek(r);
        else
          size = size2 >= 4 ? size2 - 4 : 0;
      } else {
        log_message(1, "1-byte size");
        size = b;
        const int64_t r = s.tell();
        s.seek(r + 2);
        if (s.tell() != r + 2) throw eof_error(r);
        const size_t size2 = must_u8(s);
        if (size2 == size)
          s.seek(r);
        else
          size = size2;
      }
    } else if (h0 == 4 && h1 == 1) {
      size = h2;
    } else if (h0 == 0xFE) {
      log_message(1, "New wave processing, 2-byte size");
      size = static_cast<size_t>((h1 << 8) | h2);
    } else {
      log_message(1, "New wave processing, 1-byte size");
      size = h0;
      s.seek(s.tell() - 2);
    }
    log_message(1, "SDO_GEOMETRY BLOB SIZE=%d", static_cast<int>(size));
    append_bytes(s, size, m_lob);
  }
  if (m_lob.empty())
    out.clear();
  else
    out.set_bytes(m_lob.data(), m_lob.size());
  return m_lob.size();
}

// ---- records ------------------------------------------------------------------

bool ora_dump_pump_reader_th::get_record(ora_dump_stream& s, const udb_schema& schema, int64_t end,
                                         udb_record& rec) {
  (void)end;
  if (rec.size() != schema.size()) rec.shape(schema);
  rec.clear_values();
  const size_t ncols = schema.size();
  const int64_t rec_start = s.tell();

  uint8_t marker = must_u8(s);
  int rec_fields = 0;
  bool clob_file = false;
  if (marker == 8 || marker == 9 || marker == 12) {
    rec_fields = must_u8(s);
    clob_file = true;
  } else {
    if (marker != 0x3C && marker != 0x1C)
      log_message(1, "Potential error: unexpected marker (%02X instead of 0x3C)", marker);
    must_u16be(s);  // the record's length; the fields tell where it ends
    rec_fields = must_u8(s);
  }
  if (rec_fields != static_cast<int>(ncols))
    log_message(
        1, "Potential error: number of fields in the record (%d) is not equal to schema size (%d)",
        rec_fields, static_cast<int>(ncols));

  int fld_count = 0;
  int delta_rec_fields = 0;
  bool xml_clob_file = false;
  bool append = false;
  bool b_finish_record = false;
  bool continuation = false;
  int last_field = -1;
  std::vector<size_t> vec_blobs;
  // Geometry columns whose value came in the LOB section, and where.
  std::vector<std::pair<size_t, int64_t>> geom_lob_cols;
  m_geom.reset();
  bool fields_done = false;  // the record ran out of fields inside a geometry

  // One round of a geometry's sub-fields. False when the record has no
  // more fields to give.
  auto geometry_round = [&] {
    log_message(1, "Process SDO_GEOMETRY sub-field");
    m_geom.handle_if(s);
    if (m_geom.state == 7 || m_geom.state == 8)
      vec_blobs.push_back(k_geom_part);
    else
      ++fld_count;
    if (fld_count > rec_fields || (fld_count == rec_fields && m_geom.state < 6)) {
      log_message(1, "!!! No more fields to read, abort !!!");
      fields_done = true;
      return false;
    }
    return true;
  };

  // Every remaining column empty; LOB columns among them still take their
  // place in the LOB section.
  auto add_last_fields = [&](size_t from, bool last_record) {
    for (size_t k = from; k < ncols; ++k) {
      const uint32_t t = column_at(schema, k).ora_type;
      if (t == ORA_BLOB || t == ORA_BFILE || t == ORA_CLOB || t == ORA_XMLTYPE ||
          t == ORA_SDO_GEOMETRY)
        vec_blobs.push_back(k);
    }
    if (last_record) clob_file = xml_clob_file = false;
  };

  const int64_t dump_size = s.size();
  size_t col = 0;
  while (col < ncols) {
    const t_orcale_ftd& c = column_at(schema, col);
    udb_field& field = rec[col];
    if (marker == 12 && fld_count >= rec_fields) {
      log_message(1, "No more real fields, add NULLs...");
      ++col;
      continue;
    }
    // The sub-fields of a geometry opened before this column come first;
    // the column itself waits for the round after them.
    if (m_geom.waiting()) {
      if (!geometry_round()) break;
      continue;
    }
    if (c.is_lob_or_complex()) {
      if (c.ora_type == ORA_XMLTYPE) xml_clob_file = true;
      if (c.ora_type == ORA_SDO_GEOMETRY) {
        // The geometry's own field (FF when the object is NULL, else two
        // bytes); its attributes follow as sub-fields.
        m_geom.add_geom_object(col, s.tell());
        ++fld_count;
        const uint8_t* b = s.peek(1);
        if (b == nullptr) throw eof_error(s.tell());
        if (b[0] == 0xFF) {
          log_message(1, "Got NULL SDO_GEOMETRY, do not skip 2nd byte");
          s.skip(1);
        } else if (!s.skip(2)) {
          throw eof_error(s.tell());
        }
      } else if (c.ora_type == ORA_NESTED_TABLE) {
        ++delta_rec_fields;
      } else {
        vec_blobs.push_back(col);
      }
      ++col;
      continue;
    }

    const int round_start = fld_count;
    ++fld_count;
    if (fld_count > rec_fields) {
      const int64_t p = s.tell();
      bool last_record = false;
      if (marker == 0x18 || marker == 0x19) {
        const uint8_t* d = s.take(4);
        if (d == nullptr) throw eof_error(p);
        if ((d[0] == 0x3C && d[1] <= 2) || d[0] == 0x18) {
          last_record = true;
        } else {
          rec_fields += d[3];
          if (marker == 0x19) append = c.is_max_size_text();
        }
      } else if (marker == 0x09) {
        const uint8_t* d = s.peek(3);
        if (d == nullptr) throw eof_error(p);
        if (d[0] == 2 || d[0] == 3) {
          log_message(1, "Got continue of splitted record");
          rec_fields += d[1] - 1;
          if (rec_fields > static_cast<int>(ncols))
            log_message(3, "WARNING: new rec_fields leads outside of the row");
          s.seek(p + 3 + d[2]);
        } else if (d[0] == 6) {
          log_message(1, "Got continue of the last field ( marker == 0x09 )");
          append = true;
          rec_fields += d[1] - 1;
          s.seek(p + 2);
          continuation = true;
          fld_count = round_start;
        } else if (d[0] == 12) {
          log_message(1, "Got begin of new row, break");
          marker = 12;
          continue;  // rule 1 makes the column NULL
        } else {
          rec_fields = static_cast<int>(ncols);
          b_finish_record = true;
        }
      } else if (marker == 0x08) {
        const uint8_t* d = s.peek(2);
        if (d == nullptr) throw eof_error(p);
        if (d[0] == 8 || d[0] == 12) {
          last_record = true;
        } else {
          s.skip(2);
          if (d[0] == 6) {
            log_message(1, "Got continue of the last field ( marker == 0x08 )");
            append = true;
          } else {
            log_message(1, "Got extra fields: %d items", d[1]);
            if (d[0] != 0) continuation = true;
          }
          rec_fields += d[1];
        }
      } else if (rec_fields != 255) {
        last_record = true;
      }
      if (last_record) {
        s.seek(p);
        add_last_fields(col, true);
        break;
      }
    }

    const int64_t p = s.tell();
    if (p + 2 > dump_size) throw eof_error(p);
    int len = must_u8(s);
    if (len == 0) {
      if (!clob_file) {
        log_message(3, "Unexpected EOR (2) at pos=%lld", static_cast<long long>(p));
        s.seek(p);
        add_last_fields(col, false);
        break;
      }
      const uint8_t* d = s.take(2);
      if (d == nullptr) throw eof_error(p);
      if (d[0] == 0 && d[1] == 0) {
        log_message(3, "Unexpected EOR (1) at pos=%lld", static_cast<long long>(p));
        add_last_fields(col, false);
        break;
      }
      len = d[1];
    }
    if (len == 12 && b_finish_record) {
      log_message(3, "Got NEW RECORD after refining");
      s.seek(p);
      finish_geometries(schema, rec, geom_lob_cols);
      return true;
    }
    if (len == 0xFF) {
      ++col;  // NULL
      continue;
    }
    if ((len == 0xFE && c.vartype == VT_BSTR) || append) {
      s.seek(p);
      if (append && last_field >= 0) {
        get_clob_value(s, c, m_piece);
        log_message(1, "Appending to the last VT_BSTR field");
        // In place: a text split into many pieces costs its length once,
        // not once per piece.
        if (m_piece.get_type() == VT_BSTR)
          rec[static_cast<size_t>(last_field)].append_text(m_piece.text());
        append = false;
        continue;  // the same column again
      }
      if (append) {
        log_message(3, "Failed to extract last field for append");
        append = false;
      }
      get_clob_value(s, c, field);
    } else if (c.vartype == VT_BSTR && c.size == 4000) {
      log_message(1, "Got VT_BSTR/4000, process it as CLOB");
      s.seek(p);
      get_clob_value(s, c, field);
    } else {
      get_ole_value(c, c.vartype, s, static_cast<uint32_t>(len), field);
    }
    last_field = static_cast<int>(col);
    ++col;
  }

  // A geometry in the last columns: its sub-fields after the loop.
  if (!fields_done) {
    while (m_geom.waiting() && !(marker == 12 && fld_count >= rec_fields))
      if (!geometry_round()) break;
  }

  // The LOB section.
  size_t lob_count = 0;
  const int announced = rec_fields + delta_rec_fields;
  if (fld_count > announced) {
    log_message(1, "fld_count > rec_fields + delta_rec_fields -> NO BLOBs!");
  } else if (marker == 12 || continuation) {
    lob_count = std::min(vec_blobs.size(), static_cast<size_t>(announced - fld_count));
  } else {
    lob_count = vec_blobs.size();
  }

  bool is_last = false;
  if (xml_clob_file) {
    if (marker != 12 && marker != 9) {
      log_message(3, "Incorrect marker, pos: %lld", static_cast<long long>(s.tell()));
      throw dump_error("Can't read record. Date error.", rec_start, 0);
    }
    if (marker == 12) {
      const long n = static_cast<long>(vec_blobs.size()) + rec_fields - static_cast<long>(ncols);
      lob_count = n > 0 ? static_cast<size_t>(n) : 0;
    }
    for (size_t i = 0; i < lob_count && i < vec_blobs.size() && !is_last; ++i) {
      const size_t k = vec_blobs[i];
      const int64_t at = s.tell();
      if (k == k_geom_part) {
        is_blob_record(s, binary_part_column(), m_part, is_last);
        add_geom_part(m_part, at);
        continue;
      }
      is_blob_record(s, column_at(schema, k), rec[k], is_last);
      if (column_at(schema, k).ora_type == ORA_SDO_GEOMETRY) geom_lob_cols.emplace_back(k, at);
    }
  } else if (clob_file && lob_count > 0) {
    // Each geometry's two arrays come as binary parts.
    lob_count += 2 * m_geom.count;
    for (size_t i = 0; i < lob_count && i < vec_blobs.size() && !is_last; ++i) {
      const size_t k = vec_blobs[i];
      const bool part = k == k_geom_part;
      const t_orcale_ftd& c = part ? binary_part_column() : column_at(schema, k);
      udb_field& field = part ? m_part : rec[k];
      if (part) field.clear();
      if (!part && marker == 12 && (c.ora_type == ORA_CLOB || c.ora_type == ORA_LONG)) {
        log_message(1, "Processing CLOB/LONG directly, marker=%d", marker);
        const int64_t r = s.tell();
        if (must_u8(s) != 0) {
          s.seek(r);
          get_clob_value(s, c, field);
        }
        continue;
      }
      const int64_t q = s.tell();
      if (!part && c.ora_type == ORA_SDO_GEOMETRY) {
        field.size = static_cast<uint32_t>(get_sdo_geometry_value(s, field, is_last));
        geom_lob_cols.emplace_back(k, q);
        continue;
      }
      const uint8_t* h = s.peek(3);
      if (h == nullptr) {
        const uint8_t* one = s.peek(1);
        if (one != nullptr && (one[0] == 0xFF || one[0] == 0)) {
          s.skip(1);
          if (part) m_geom.add_binary1();
          continue;
        }
        throw eof_error(q);
      }
      const uint8_t h0 = h[0], h1 = h[1], h2 = h[2];
      if ((h0 == 0 || h0 == 1 || h0 == 4) && h1 != 0 && (h2 == 0x00 || h2 == 0xFF)) {
        size_t want = h1, got = 0;
        while (got < want) {
          const int b = s.byte_at(q + 2 + static_cast<int64_t>(got));
          if (b != 0x00 && b != 0xFF) break;
          ++got;
        }
        if (got != want) log_message(1, "NULL-BLOB(s): n_actual_skip != n_skip");
        log_message(1, "Found %d NULL-BLOB(s) with prefix", static_cast<int>(got));
        s.seek(q + static_cast<int64_t>(got) + 2);
        for (size_t j = i; j < i + got && j < vec_blobs.size(); ++j)
          if (vec_blobs[j] == k_geom_part) m_geom.add_binary1();
        if (got > 0) i += got - 1;
        if (h0 == 4 && h2 == 0) is_last = true;
        continue;
      }
      if ((h0 == 0 && h1 == 1) || ((h0 == 1 || h0 == 4 || h0 == 6) && h1 >= 1 && h1 <= 3)) {
        log_message(1, "Process BLOB with 2-byte prefix");
        s.seek(q + 2);
        field.size = static_cast<uint32_t>(get_pump_blob_value(s, c, marker, field, is_last));
        if (part) add_geom_part(field, q + 2);
        if (h0 == 4 && h1 == 1) is_last = true;
        continue;
      }
      if (h0 == 0 || h0 == 0xFF) {
        log_message(1, "Found single-byte NULL BLOB");
        s.seek(q + 1);
        if (part) m_geom.add_binary1();
        continue;
      }
      if (h0 == 6)
        log_message(1, "READING BLOB_6 HEADER %02X %02X %02X AT %lld", h0, h1, h2,
                    static_cast<long long>(q));
      log_message(1, "Default BLOB processing");
      field.size = static_cast<uint32_t>(get_pump_blob_value(s, c, marker, field, is_last));
      if (part) add_geom_part(field, q);
    }
  } else if (clob_file) {
    log_message(1, "No BLOBs, nothing to do");
  }
  finish_geometries(schema, rec, geom_lob_cols);
  return true;
}

const t_orcale_ftd& ora_dump_pump_reader_th::binary_part_column() {
  // A geometry's array comes as bytes: no text decoding.
  static const t_orcale_ftd part(0, ORA_BLOB, tk_wstring(), VT_BLOB, false, ole_variant(), 0);
  return part;
}

void ora_dump_pump_reader_th::add_geom_part(const ole_variant& value, int64_t pos) {
  const uint8_t* p = nullptr;
  const size_t n = value.get_bytes(p, m_part_text);
  if (n == 0)
    m_geom.add_binary1();
  else
    m_geom.add_binary2(p, n, pos);
}

void ora_dump_pump_reader_th::finish_geometries(
    const udb_schema& schema, udb_record& rec,
    const std::vector<std::pair<size_t, int64_t>>& lob_cols) {
  for (size_t k = 0; k < m_geom.count; ++k) {
    pump_geom_reader::entry& e = m_geom.entries[k];
    const t_orcale_ftd& col = column_at(schema, e.column);
    udb_field& field = rec[e.column];
    field.size = 0;
    if (!e.why.empty()) {
      field.clear();
      rec.errors.push_back(geometry_error(col, e.why, e.pos));
      continue;
    }
    put_geometry(e.geometry, col, e.pos, field, rec);
  }
  // A geometry column that came whole in the LOB section holds its object
  // image.
  for (const auto& [c, pos] : lob_cols) {
    udb_field& field = rec[c];
    const t_orcale_ftd& col = column_at(schema, c);
    field.size = 0;
    if (!is_binary_vt(field.get_type())) continue;
    m_buf.assign(field.bytes().begin(), field.bytes().end());
    put_geometry_image(m_buf.data(), m_buf.size(), col, pos, field, rec);
  }
}
