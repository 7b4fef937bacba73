// Oracle Spatial geometries: the readers of their images and the WKT writer.
//
// The WKT follows what SDO_ELEM_INFO says about the structure. Each triplet
// (offset, etype, interpretation) starts an element at its 1-based ordinate
// offset; a simple element runs to the next triplet's offset. Oracle's
// element types: 1 point (interpretation 1, or n for a cluster of n points,
// 0 for an orientation vector), 2 line string (1 straight, 2 circular arcs),
// 4 compound line string of n sub-elements, 1003/2003 exterior/interior
// polygon ring (1 straight, 2 arcs, 3 optimized rectangle given by two
// corners, 4 circle through three points), 1005/2005 compound ring of n
// sub-elements, 1006/2006 surface of n rings, 1007 solid (1 bounded by the
// surface that follows, 3 optimized box given by two corners), and the
// pre-8.1.6 forms 3 and 5 of rings whose orientation is not recorded.
// Sub-elements of a compound share their end points: each one runs to the
// first point of the next.
#include "oracle_dump/sdo_geometry.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "oracle_dump/ora_dump_reader_th.h"

// ---- images -------------------------------------------------------------------

namespace {

// Bounds-checked reading of an image's bytes.
struct image_cursor {
  const uint8_t* p;
  size_t n;
  size_t at = 0;

  size_t left() const { return n - at; }
  bool u8(uint8_t& v) {
    if (at >= n) return false;
    v = p[at++];
    return true;
  }
  // One byte, or FE and a big-endian u32 (always for 246 and up; some
  // versions use the long form for small values too).
  bool length(uint64_t& v) {
    uint8_t b = 0;
    if (!u8(b)) return false;
    if (b != 0xFE) {
      v = b;
      return true;
    }
    if (left() < 4) return false;
    v = (static_cast<uint64_t>(p[at]) << 24) | (p[at + 1] << 16) | (p[at + 2] << 8) | p[at + 3];
    at += 4;
    return true;
  }
  // FF for NULL, else a length byte and a NUMBER.
  bool number(sdo_number& out) {
    uint8_t b = 0;
    if (!u8(b)) return false;
    if (b == 0xFF) {
      out.null = true;
      return true;
    }
    if (b > left()) return false;
    const bool ok = sdo_decode_number(p + at, b, out);
    at += b;
    return ok;
  }
};

// Count, elements and end of a collection image, from `at` on.
bool read_elements(image_cursor c, std::vector<sdo_number>& out) {
  uint64_t count = 0;
  if (!c.length(count)) return false;
  // Every element takes at least one byte: a count beyond the bytes left is
  // damage, not a reason to reserve memory.
  if (count > c.left()) return false;
  out.clear();
  out.reserve(static_cast<size_t>(count));
  for (uint64_t k = 0; k < count; ++k) {
    out.emplace_back();
    if (!c.number(out.back())) return false;
  }
  return c.at == c.n;
}

}  // namespace

bool sdo_decode_number(const uint8_t* p, size_t n, sdo_number& out) {
  if (n == 0) {
    out.null = true;
    return true;
  }
  if (n > 22) return false;
  out.null = false;
  return ora_dump_reader_th::decode_number(p, n, out.value);
}

bool sdo_read_number_array(const uint8_t* p, size_t n, std::vector<sdo_number>& out,
                           std::string& why) {
  image_cursor c{p, n};
  uint64_t len = 0;
  if (n < 2) {
    why = "array image too short";
    return false;
  }
  c.at = 2;  // 88 01: a collection image
  if (!c.length(len) || len != n) {
    why = "array image length disagrees with its field";
    return false;
  }
  // The prefix: a length byte and that many bytes (01 03 in most dumps),
  // then a zero byte before the element count.
  const size_t prefix_at = c.at;
  uint8_t plen = 0;
  if (c.u8(plen) && plen < c.left() && p[c.at + plen] == 0) {
    image_cursor e = c;
    e.at += plen + 1u;
    if (read_elements(e, out)) return true;
  }
  // Prefixes of another shape: any zero byte close behind the length may end
  // it, as long as the elements then fill the image exactly.
  for (size_t z = prefix_at; z < n && z < prefix_at + 8; ++z) {
    if (p[z] != 0) continue;
    image_cursor e = c;
    e.at = z + 1;
    if (read_elements(e, out)) return true;
  }
  why = "array image holds no readable element list";
  return false;
}

bool sdo_read_image(const uint8_t* p, size_t n, sdo_geometry& g, std::string& why) {
  g.clean();
  image_cursor c{p, n};
  uint64_t len = 0;
  if (n < 3) {
    why = "object image too short";
    return false;
  }
  c.at = 2;  // 84 01: an object image
  if (!c.length(len) || len != n) {
    why = "object image length disagrees with its field";
    return false;
  }
  if (c.at < n && !c.number(g.gtype)) {
    why = "SDO_GTYPE is not a number";
    return false;
  }
  if (c.at < n && !c.number(g.srid)) {
    why = "SDO_SRID is not a number";
    return false;
  }
  if (c.at < n) {
    if (p[c.at] == 0xFD) {
      ++c.at;  // the point object is NULL
    } else {
      g.point_null = false;
      for (sdo_number& v : g.point) {
        if (!c.number(v)) {
          why = "SDO_POINT is damaged";
          return false;
        }
      }
    }
  }
  auto array = [&](bool& null, std::vector<sdo_number>& out, const char* name) {
    if (c.at >= n) return true;
    if (p[c.at] == 0xFF) {
      ++c.at;
      return true;
    }
    uint64_t size = 0;
    if (!c.length(size) || size > c.left()) {
      why = std::string(name) + " runs past the image";
      return false;
    }
    std::string inner;
    if (!sdo_read_number_array(p + c.at, static_cast<size_t>(size), out, inner)) {
      why = std::string(name) + ": " + inner;
      return false;
    }
    null = false;
    c.at += static_cast<size_t>(size);
    return true;
  };
  if (!array(g.elem_info_null, g.elem_info, "SDO_ELEM_INFO")) return false;
  if (!array(g.ordinates_null, g.ordinates, "SDO_ORDINATES")) return false;
  if (c.at != n) {
    why = "object image has bytes after SDO_ORDINATES";
    return false;
  }
  return true;
}

// ---- the value ----------------------------------------------------------------

void sdo_geometry::clean() {
  gtype.null = srid.null = true;
  point_null = true;
  for (sdo_number& v : point) v.null = true;
  elem_info_null = ordinates_null = true;
  elem_info.clear();
  ordinates.clear();
}

bool sdo_geometry::all_null() const {
  return gtype.null && srid.null && point_null && elem_info_null && ordinates_null;
}

// ---- WKT ------------------------------------------------------------------------

namespace {

bool same_number(const sdo_number& a, const sdo_number& b) {
  if (a.null || b.null) return a.null == b.null;
  const ole_decimal& x = a.value;
  const ole_decimal& y = b.value;
  if (x.is_zero() || y.is_zero()) return x.is_zero() && y.is_zero();
  return x.negative == y.negative && x.ndigits == y.ndigits && x.exponent == y.exponent &&
         std::memcmp(x.digits, y.digits, x.ndigits) == 0;
}

// A shortest text of a double that reads back the same, without exponent
// (only the computed fourth point of a circle needs one).
void append_double(std::string& out, double v) {
  if (v == 0) v = 0;  // no "-0"
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  out.append(buf, r.ptr);
}

struct element {
  size_t off;  // 0-based index of the element's first ordinate
  int64_t etype;
  int64_t interp;
};

enum class curve_kind { straight, arc, compound };

class wkt_writer {
 public:
  wkt_writer(const sdo_geometry& g, std::string& out, std::string& why)
      : m_g(g), m_out(out), m_why(why) {}

  bool write(bool ewkt) {
    if (!decode_gtype()) return false;
    if (ewkt && !m_g.srid.null) {
      m_out += "SRID=";
      m_g.srid.value.append_to(m_out);
      m_out += ';';
    }
    const bool no_elems = m_g.elem_info_null || m_g.elem_info.empty();
    const bool no_ords = m_g.ordinates_null || m_g.ordinates.empty();
    if (no_elems && no_ords) return write_sdo_point();
    if (no_elems || no_ords)
      return fail(no_elems ? "SDO_ORDINATES holds values but SDO_ELEM_INFO does not"
                           : "SDO_ELEM_INFO holds values but SDO_ORDINATES does not");
    if (!decode_arrays()) return false;
    size_t i = 0;
    std::string body;
    switch (m_tt) {
      case 1:
        if (!write_points(i, body, false) || !finished(i)) return false;
        if (m_point_count != 1) return fail("a point geometry holds several points");
        return put_tagged("POINT", body, true);
      case 5:
        while (i < m_elems.size())
          if (!write_points(i, body, true)) return false;
        return put_tagged("MULTIPOINT", body, true);
      case 2: {
        curve_kind kind = curve_kind::straight;
        if (!write_curve(i, false, body, kind) || !finished(i)) return false;
        return put_tagged(curve_name(kind), body);
      }
      case 6: {
        bool curved = false;
        while (i < m_elems.size()) {
          if (!body.empty()) body += ", ";
          std::string part;
          curve_kind kind = curve_kind::straight;
          if (!write_curve(i, false, part, kind)) return false;
          if (kind != curve_kind::straight) {
            curved = true;
            body += curve_name(kind);
            body += m_tag;
            body += ' ';
          }
          body += part;
        }
        return put_tagged(curved ? "MULTICURVE" : "MULTILINESTRING", body, true);
      }
      case 3: {
        if (m_elems[0].etype == 1006) {
          if (!write_solid_or_surface(i, body) || !finished(i)) return false;
          return put_tagged("POLYHEDRALSURFACE", body);
        }
        bool curved = false;
        if (!write_polygon(i, true, body, curved) || !finished(i)) return false;
        return put_tagged(curved ? "CURVEPOLYGON" : "POLYGON", body);
      }
      case 7: {
        bool any_curved = false;
        std::vector<std::pair<std::string, bool>> parts;
        while (i < m_elems.size()) {
          std::string part;
          bool curved = false;
          if (!write_polygon(i, false, part, curved)) return false;
          any_curved = any_curved || curved;
          parts.emplace_back(std::move(part), curved);
        }
        for (const auto& [part, curved] : parts) {
          if (!body.empty()) body += ", ";
          if (curved) {
            body += "CURVEPOLYGON";
            body += m_tag;
            body += ' ';
          }
          body += part;
        }
        return put_tagged(any_curved ? "MULTISURFACE" : "MULTIPOLYGON", body, true);
      }
      case 8:
        if (!is_solid(m_elems[0].etype)) return fail("a solid geometry holds no solid element");
        if (!write_solid_or_surface(i, body) || !finished(i)) return false;
        return put_tagged("POLYHEDRALSURFACE", body);
      case 9:
        while (i < m_elems.size()) {
          if (!is_solid(m_elems[i].etype))
            return fail("a multi-solid holds an element other than a solid");
          std::string part;
          if (!write_solid_or_surface(i, part)) return false;
          if (!body.empty()) body += ", ";
          body += "POLYHEDRALSURFACE";
          body += m_tag;
          body += ' ';
          body += part;
        }
        return put_tagged("GEOMETRYCOLLECTION", body, true);
      case 4:
        while (i < m_elems.size()) {
          if (!body.empty()) body += ", ";
          if (!write_member(i, body)) return false;
        }
        return put_tagged("GEOMETRYCOLLECTION", body, true);
      default:
        return fail("SDO_GTYPE " + number_text(m_g.gtype) + " has no WKT form");
    }
  }

 private:
  bool fail(const std::string& why) {
    m_why = why;
    return false;
  }

  static std::string number_text(const sdo_number& n) {
    if (n.null) return "NULL";
    return n.value.to_string();
  }

  // The whole value: its name, dimension tag and body. `list` bodies are
  // comma-separated members that still need their parentheses.
  bool put_tagged(const char* name, const std::string& body, bool list = false) {
    m_out += name;
    m_out += m_tag;
    m_out += ' ';
    if (list) m_out += '(';
    m_out += body;
    if (list) m_out += ')';
    return true;
  }

  const char* curve_name(curve_kind kind) const {
    switch (kind) {
      case curve_kind::arc:
        return "CIRCULARSTRING";
      case curve_kind::compound:
        return "COMPOUNDCURVE";
      default:
        return "LINESTRING";
    }
  }

  // SDO_GTYPE DLTT: D dimensions (2 to 4), L the measure's dimension (0 none;
  // 3 or 4 for linear referencing), TT the geometry type.
  bool decode_gtype() {
    int64_t gt = 0;
    if (m_g.gtype.null) return fail("SDO_GTYPE is NULL");
    if (!m_g.gtype.value.to_int64(gt) || gt < 2000 || gt > 4999)
      return fail("SDO_GTYPE " + number_text(m_g.gtype) + " is not a known geometry type");
    m_dim = static_cast<int>(gt / 1000);
    const int l = static_cast<int>(gt / 100 % 10);
    m_tt = static_cast<int>(gt % 100);
    if (m_tt < 1 || m_tt > 9)
      return fail("SDO_GTYPE " + number_text(m_g.gtype) + " is not a known geometry type");
    for (int k = 0; k < 4; ++k) m_order[k] = k;
    if (m_dim == 2 && l == 0) {
      m_tag = "";
    } else if (m_dim == 3 && l == 0) {
      m_tag = " Z";
    } else if (m_dim == 3 && l == 3) {
      m_tag = " M";
    } else if (m_dim == 4 && (l == 0 || l == 4)) {
      m_tag = " ZM";
    } else if (m_dim == 4 && l == 3) {
      // The measure is stored third; WKT wants it last.
      m_tag = " ZM";
      m_order[2] = 3;
      m_order[3] = 2;
    } else {
      return fail("SDO_GTYPE " + number_text(m_g.gtype) + " has an impossible measure dimension");
    }
    return true;
  }

  // The SDO_POINT form: a point geometry whose arrays are NULL.
  bool write_sdo_point() {
    if (m_g.point_null) return fail("the geometry holds no coordinates");
    if (m_tt != 1) return fail("SDO_POINT is set but SDO_GTYPE is not a point");
    if (m_dim > 3) return fail("SDO_POINT cannot hold four dimensions");
    std::string body;
    for (int k = 0; k < m_dim; ++k) {
      const sdo_number& v = m_g.point[k];
      if (v.null) return fail("SDO_POINT has a NULL coordinate");
      if (k > 0) body += ' ';
      v.value.append_to(body);
    }
    return put_tagged("POINT", body, true);
  }

  bool decode_arrays() {
    const size_t n = m_g.elem_info.size();
    if (n % 3 != 0)
      return fail("SDO_ELEM_INFO holds " + std::to_string(n) + " entries, not triplets");
    for (size_t k = 0; k < m_g.ordinates.size(); ++k)
      if (m_g.ordinates[k].null) return fail("ordinate " + std::to_string(k + 1) + " is NULL");
    const size_t count = m_g.ordinates.size();
    if (count % static_cast<size_t>(m_dim) != 0)
      return fail(std::to_string(count) + " ordinates do not make whole " + std::to_string(m_dim) +
                  "-dimensional points");
    m_elems.clear();
    for (size_t k = 0; k < n; k += 3) {
      int64_t v[3] = {};
      for (int j = 0; j < 3; ++j) {
        const sdo_number& e = m_g.elem_info[k + static_cast<size_t>(j)];
        if (e.null || !e.value.to_int64(v[j]))
          return fail("SDO_ELEM_INFO entry " + std::to_string(k + static_cast<size_t>(j) + 1) +
                      " is not an integer");
      }
      if (v[0] < 1 || static_cast<uint64_t>(v[0]) > count ||
          (static_cast<uint64_t>(v[0]) - 1) % static_cast<uint64_t>(m_dim) != 0)
        return fail("element offset " + std::to_string(v[0]) + " does not start a point among " +
                    std::to_string(count) + " ordinates");
      m_elems.push_back({static_cast<size_t>(v[0] - 1), v[1], v[2]});
    }
    if (m_elems[0].off != 0) return fail("the first element does not start at ordinate 1");
    return true;
  }

  bool finished(size_t i) {
    if (i != m_elems.size())
      return fail("SDO_ELEM_INFO holds more elements than the geometry type allows");
    return true;
  }

  static bool is_exterior(int64_t e) { return e == 1003 || e == 1005; }
  static bool is_interior(int64_t e) { return e == 2003 || e == 2005; }
  static bool is_legacy_ring(int64_t e) { return e == 3 || e == 5; }
  static bool is_ring(int64_t e) { return is_exterior(e) || is_interior(e) || is_legacy_ring(e); }
  static bool is_compound_ring(int64_t e) { return e == 1005 || e == 2005 || e == 5; }
  static bool is_surface(int64_t e) { return e == 1006 || e == 2006; }
  static bool is_solid(int64_t e) { return e == 1007 || e == 1008; }

  // End (exclusive ordinate index) of the simple element i.
  size_t end_of(size_t i) const {
    return i + 1 < m_elems.size() ? m_elems[i + 1].off : m_g.ordinates.size();
  }

  size_t points_in(size_t begin, size_t end) const {
    return end > begin ? (end - begin) / static_cast<size_t>(m_dim) : 0;
  }

  void put_point(std::string& o, size_t at) const {
    for (int k = 0; k < m_dim; ++k) {
      if (k > 0) o += ' ';
      m_g.ordinates[at + static_cast<size_t>(m_order[k])].value.append_to(o);
    }
  }

  void put_points(std::string& o, size_t begin, size_t end) const {
    for (size_t at = begin; at < end; at += static_cast<size_t>(m_dim)) {
      if (at != begin) o += ", ";
      put_point(o, at);
    }
  }

  bool same_point(size_t a, size_t b) const {
    for (int k = 0; k < m_dim; ++k)
      if (!same_number(m_g.ordinates[a + static_cast<size_t>(k)],
                       m_g.ordinates[b + static_cast<size_t>(k)]))
        return false;
    return true;
  }

  std::string where(size_t i) const {
    return "element " + std::to_string(i + 1) + " (etype " + std::to_string(m_elems[i].etype) +
           ", interpretation " + std::to_string(m_elems[i].interp) + ")";
  }

  // Point elements: interpretation 1 is one point, n > 1 a cluster of n.
  // `multi` writes each point as "(x y)", as a MULTIPOINT lists them.
  bool write_points(size_t& i, std::string& o, bool multi) {
    const element& e = m_elems[i];
    if (e.etype != 1) return fail(where(i) + " is not a point");
    if (e.interp == 0) return fail(where(i) + " is an orientation, which WKT cannot hold");
    const size_t begin = e.off, end = end_of(i);
    const size_t count = points_in(begin, end);
    if (e.interp < 1 || static_cast<uint64_t>(e.interp) != count || end <= begin)
      return fail(where(i) + " announces " + std::to_string(e.interp) + " points but holds " +
                  std::to_string(count));
    for (size_t at = begin; at < end; at += static_cast<size_t>(m_dim)) {
      if (!o.empty()) o += ", ";
      if (multi) o += '(';
      put_point(o, at);
      if (multi) o += ')';
    }
    m_point_count += count;
    ++i;
    return true;
  }

  // A line string or a ring: `o` receives "(x y, ...)"; `kind` tells whether
  // the caller must name it CIRCULARSTRING or COMPOUNDCURVE.
  bool write_curve(size_t& i, bool ring, std::string& o, curve_kind& kind) {
    const element& e = m_elems[i];
    const bool compound = ring ? is_compound_ring(e.etype) : e.etype == 4;
    if (compound) return write_compound(i, ring, o, kind);
    if (ring ? !is_ring(e.etype) : e.etype != 2)
      return fail(where(i) + " is not a " + (ring ? "ring" : "line string"));
    const size_t begin = e.off, end = end_of(i);
    const size_t count = points_in(begin, end);
    const size_t step = static_cast<size_t>(m_dim);
    kind = curve_kind::straight;
    o += '(';
    if (!ring) {
      if (e.interp == 1) {
        if (count < 2) return fail(where(i) + " holds fewer than two points");
      } else if (e.interp == 2) {
        if (count < 3 || count % 2 == 0)
          return fail(where(i) + " holds " + std::to_string(count) + " points, not whole arcs");
        kind = curve_kind::arc;
      } else {
        return fail(where(i) + " has an interpretation WKT cannot hold");
      }
      put_points(o, begin, end);
    } else if (e.interp == 1 || e.interp == 2) {
      // Straight ring, or ring of circular arcs.
      const bool arc = e.interp == 2;
      if (arc ? (count < 3 || count % 2 == 0) : count < 4)
        return fail(where(i) + " holds " + std::to_string(count) + " points, too few for a ring");
      if (!same_point(begin, end - step)) return fail(where(i) + " is not closed");
      if (arc) kind = curve_kind::arc;
      put_points(o, begin, end);
    } else if (e.interp == 3) {
      // Optimized rectangle: two corners.
      if (count != 2 || m_dim != 2)
        return fail(where(i) + " is a rectangle without two 2D corners");
      put_rectangle(o, begin, is_interior(e.etype));
    } else if (e.interp == 4) {
      // Circle through three points.
      if (count != 3 || m_dim != 2) return fail(where(i) + " is a circle without three 2D points");
      if (!put_circle(o, begin)) return fail(where(i) + " is a circle through points on one line");
      kind = curve_kind::arc;
    } else {
      return fail(where(i) + " has an interpretation WKT cannot hold");
    }
    o += ')';
    ++i;
    return true;
  }

  // Compound line string (4) or ring (1005, 2005, 5) of n sub-elements.
  bool write_compound(size_t& i, bool ring, std::string& o, curve_kind& kind) {
    const element& head = m_elems[i];
    const int64_t n = head.interp;
    if (n < 1 || static_cast<uint64_t>(n) >= m_elems.size() - i)
      return fail(where(i) + " announces more sub-elements than there are");
    if (m_elems[i + 1].off != head.off)
      return fail(where(i) + " does not start with its first sub-element");
    const size_t last = i + static_cast<size_t>(n);
    const size_t step = static_cast<size_t>(m_dim);
    o += '(';
    for (size_t k = i + 1; k <= last; ++k) {
      const element& sub = m_elems[k];
      if (sub.etype != 2 || (sub.interp != 1 && sub.interp != 2))
        return fail(where(k) + " cannot be part of a compound curve");
      // Each sub-element runs to the first point of the next one.
      const size_t begin = sub.off;
      const size_t end = k < last ? m_elems[k + 1].off + step : end_of(last);
      const size_t count = points_in(begin, end);
      if (end > m_g.ordinates.size() || count < 2 || (sub.interp == 2 && count % 2 == 0))
        return fail(where(k) + " holds " + std::to_string(count) + " points");
      if (k > i + 1) o += ", ";
      if (sub.interp == 2) {
        o += "CIRCULARSTRING";
        o += m_tag;
        o += ' ';
      }
      o += '(';
      put_points(o, begin, end);
      o += ')';
    }
    o += ')';
    if (ring && !same_point(head.off, end_of(last) - step))
      return fail(where(i) + " is not closed");
    kind = curve_kind::compound;
    i = last + 1;
    return true;
  }

  // One ring inside a polygon's ring list: straight rings bare, curved ones
  // named.
  bool write_ring(size_t& i, std::string& o, bool& curved) {
    std::string ring;
    curve_kind kind = curve_kind::straight;
    if (!write_curve(i, true, ring, kind)) return false;
    if (kind != curve_kind::straight) {
      curved = true;
      o += curve_name(kind);
      o += m_tag;
      o += ' ';
    }
    o += ring;
    return true;
  }

  // A polygon: its exterior ring and the interior rings that follow. `o`
  // receives "(ring, ring)". Rings stored without orientation (3, 5) are
  // exterior when first; after it, they are holes only in a single polygon.
  bool write_polygon(size_t& i, bool single, std::string& o, bool& curved) {
    const int64_t first = m_elems[i].etype;
    if (!is_exterior(first) && !is_legacy_ring(first))
      return fail(where(i) + " does not start a polygon");
    o += '(';
    if (!write_ring(i, o, curved)) return false;
    while (i < m_elems.size()) {
      const int64_t e = m_elems[i].etype;
      const bool hole = is_interior(e) || (single && is_legacy_ring(first) && is_legacy_ring(e));
      if (!hole) break;
      o += ", ";
      if (!write_ring(i, o, curved)) return false;
    }
    o += ')';
    // In a multi-polygon or a collection, a ring without orientation after
    // such a ring may be a hole or another polygon: nothing tells which.
    if (!single && is_legacy_ring(first) && i < m_elems.size() && is_legacy_ring(m_elems[i].etype))
      return fail(where(i) + " is a ring without orientation: hole or polygon cannot be told");
    return true;
  }

  // The faces of a surface (1006) or a simple solid (1007): `o` receives
  // "((face), (face), ...)" as POLYHEDRALSURFACE lists them.
  bool write_solid_or_surface(size_t& i, std::string& o) {
    const element& e = m_elems[i];
    if (e.etype == 1008) return fail(where(i) + " is a composite solid, which WKT cannot hold");
    if (e.etype == 1007) {
      if (e.interp == 3) {
        if (m_dim != 3 || points_in(e.off, end_of(i)) != 2)
          return fail(where(i) + " is a box without two 3D corners");
        put_box(o, e.off);
        ++i;
        return true;
      }
      if (e.interp != 1 || i + 1 >= m_elems.size() || m_elems[i + 1].etype != 1006 ||
          m_elems[i + 1].off != e.off)
        return fail(where(i) + " is a solid without its outer surface");
      ++i;
      if (!write_solid_or_surface(i, o)) return false;
      if (i < m_elems.size() && m_elems[i].etype == 2006)
        return fail(where(i) + " is an inner surface of a solid, which WKT cannot hold");
      return true;
    }
    if (e.etype != 1006) return fail(where(i) + " is not a surface");
    const int64_t n = e.interp;
    if (n < 1 || static_cast<uint64_t>(n) >= m_elems.size() - i)
      return fail(where(i) + " announces more faces than there are");
    if (m_elems[i + 1].off != e.off) return fail(where(i) + " does not start with its first face");
    const size_t last = i + static_cast<size_t>(n);
    size_t k = i + 1;
    o += '(';
    while (k <= last) {
      if (!is_exterior(m_elems[k].etype) || m_elems[k].etype == 1005)
        return fail(where(k) + " cannot be a face of a polyhedral surface");
      if (k > i + 1) o += ", ";
      o += '(';
      bool curved = false;
      if (!write_ring(k, o, curved)) return false;
      while (k <= last && m_elems[k].etype == 2003) {
        o += ", ";
        if (!write_ring(k, o, curved)) return false;
      }
      if (curved) return fail(where(i) + " has a curved face, which WKT cannot hold");
      o += ')';
    }
    o += ')';
    i = last + 1;
    return true;
  }

  // A member of a collection (2004): named, with its dimension tag.
  bool write_member(size_t& i, std::string& o) {
    const int64_t e = m_elems[i].etype;
    std::string body;
    if (e == 1) {
      const bool cluster = m_elems[i].interp > 1;
      if (!write_points(i, body, cluster)) return false;
      return put_member(o, cluster ? "MULTIPOINT" : "POINT", "(" + body + ")");
    }
    if (e == 2 || e == 4) {
      curve_kind kind = curve_kind::straight;
      if (!write_curve(i, false, body, kind)) return false;
      return put_member(o, curve_name(kind), body);
    }
    if (is_exterior(e) || is_legacy_ring(e)) {
      bool curved = false;
      if (!write_polygon(i, false, body, curved)) return false;
      return put_member(o, curved ? "CURVEPOLYGON" : "POLYGON", body);
    }
    if (e == 1006 || is_solid(e)) {
      if (!write_solid_or_surface(i, body)) return false;
      return put_member(o, "POLYHEDRALSURFACE", body);
    }
    return fail(where(i) + " cannot be part of a collection");
  }

  bool put_member(std::string& o, const char* name, const std::string& body) {
    o += name;
    o += m_tag;
    o += ' ';
    o += body;
    return true;
  }

  // An optimized rectangle as its closed ring of five corners, counter-
  // clockwise from the first corner for an exterior ring, clockwise for a
  // hole (Oracle's ring orientations).
  void put_rectangle(std::string& o, size_t at, bool hole) {
    const ole_decimal& x1 = m_g.ordinates[at].value;
    const ole_decimal& y1 = m_g.ordinates[at + 1].value;
    const ole_decimal& x2 = m_g.ordinates[at + 2].value;
    const ole_decimal& y2 = m_g.ordinates[at + 3].value;
    const ole_decimal* corners[5][2] = {{&x1, &y1}, {&x2, &y1}, {&x2, &y2}, {&x1, &y2}, {&x1, &y1}};
    if (hole) {
      corners[1][0] = &x1;
      corners[1][1] = &y2;
      corners[3][0] = &x2;
      corners[3][1] = &y1;
    }
    for (int k = 0; k < 5; ++k) {
      if (k > 0) o += ", ";
      corners[k][0]->append_to(o);
      o += ' ';
      corners[k][1]->append_to(o);
    }
  }

  // An optimized box (two corners) as the six faces of its polyhedral
  // surface, each counter-clockwise seen from outside.
  void put_box(std::string& o, size_t at) {
    std::string lo[3], hi[3];
    for (int k = 0; k < 3; ++k) {
      m_g.ordinates[at + static_cast<size_t>(k)].value.append_to(lo[k]);
      m_g.ordinates[at + 3 + static_cast<size_t>(k)].value.append_to(hi[k]);
    }
    // Corner c: bit 0 picks x, bit 1 y, bit 2 z from the high corner.
    auto corner = [&](int c) {
      return ((c & 1) ? hi[0] : lo[0]) + ' ' + ((c & 2) ? hi[1] : lo[1]) + ' ' +
             ((c & 4) ? hi[2] : lo[2]);
    };
    static const int faces[6][4] = {
        {0, 2, 3, 1},  // bottom
        {4, 5, 7, 6},  // top
        {0, 1, 5, 4},  // front
        {2, 6, 7, 3},  // back
        {0, 4, 6, 2},  // left
        {1, 3, 7, 5},  // right
    };
    o += '(';
    for (int f = 0; f < 6; ++f) {
      if (f > 0) o += ", ";
      o += "((";
      for (int k = 0; k < 5; ++k) {
        if (k > 0) o += ", ";
        o += corner(faces[f][k % 4]);
      }
      o += "))";
    }
    o += ')';
  }

  // A circle through three stored points as a closed CIRCULARSTRING: the
  // three points, a fourth on the arc from the third back to the first, and
  // the first again. Only that fourth point is computed (Oracle does not
  // store it); it is printed as the shortest decimal of its double.
  bool put_circle(std::string& o, size_t at) {
    double x[3], y[3];
    for (int k = 0; k < 3; ++k) {
      x[k] = m_g.ordinates[at + 2 * static_cast<size_t>(k)].value.to_double();
      y[k] = m_g.ordinates[at + 2 * static_cast<size_t>(k) + 1].value.to_double();
    }
    // Work relative to the first point: large projected coordinates keep
    // their precision.
    const double bx = x[1] - x[0], by = y[1] - y[0];
    const double cx = x[2] - x[0], cy = y[2] - y[0];
    const double d = 2 * (bx * cy - by * cx);
    const double scale = std::max({std::fabs(bx), std::fabs(by), std::fabs(cx), std::fabs(cy)});
    if (scale == 0 || std::fabs(d) <= 1e-12 * scale * scale) return false;
    const double b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
    const double ux = (cy * b2 - by * c2) / d;  // centre, relative to the first point
    const double uy = (bx * c2 - cx * b2) / d;
    const double r = std::hypot(ux, uy);
    // Direction from the centre to the middle of the chord first-third, or
    // across it when the chord is a diameter.
    double dx = cx / 2 - ux, dy = cy / 2 - uy;
    double len = std::hypot(dx, dy);
    if (len <= 1e-9 * r) {
      dx = -cy;
      dy = cx;
      len = std::hypot(dx, dy);
    }
    double qx = ux + r * dx / len, qy = uy + r * dy / len;
    // The fourth point lies on the other side of that chord than the second.
    const double side_b = cx * by - cy * bx;
    const double side_q = cx * qy - cy * qx;
    if ((side_b > 0) == (side_q > 0)) {
      qx = ux - r * dx / len;
      qy = uy - r * dy / len;
    }
    put_points(o, at, at + 6);
    o += ", ";
    append_double(o, x[0] + qx);
    o += ' ';
    append_double(o, y[0] + qy);
    o += ", ";
    put_point(o, at);
    return true;
  }

  const sdo_geometry& m_g;
  std::string& m_out;
  std::string& m_why;
  int m_dim = 2;
  int m_tt = 0;
  int m_order[4] = {0, 1, 2, 3};
  const char* m_tag = "";
  std::vector<element> m_elems;
  size_t m_point_count = 0;
};

}  // namespace

sdo_geometry::wkt_result sdo_geometry::to_wkt(std::string& out, bool ewkt, std::string& why) const {
  if (all_null()) return wkt_result::null;
  const size_t start = out.size();
  wkt_writer w(*this, out, why);
  if (w.write(ewkt)) return wkt_result::text;
  out.resize(start);
  return wkt_result::error;
}
