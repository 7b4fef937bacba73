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

// Writes straight into the output: every name is chosen from SDO_ELEM_INFO
// before its body is written, so no text is built twice. On failure the
// caller cuts the output back.
class wkt_writer {
 public:
  wkt_writer(const sdo_geometry& g, std::vector<element>& elems, std::string& out, std::string& why)
      : m_g(g), m_elems(elems), m_out(out), m_why(why) {}

  bool write(bool ewkt) {
    if (!decode_gtype()) return false;
    std::string& o = m_out;
    if (ewkt && !m_g.srid.null) {
      o += "SRID=";
      m_g.srid.value.append_to(o);
      o += ';';
    }
    const bool no_elems = m_g.elem_info_null || m_g.elem_info.empty();
    const bool no_ords = m_g.ordinates_null || m_g.ordinates.empty();
    if (no_elems && no_ords) return write_sdo_point();
    if (no_elems || no_ords)
      return fail(no_elems ? "SDO_ORDINATES holds values but SDO_ELEM_INFO does not"
                           : "SDO_ELEM_INFO holds values but SDO_ORDINATES does not");
    if (!decode_arrays()) return false;
    size_t i = 0;
    switch (m_tt) {
      case 1:
        put_name("POINT");
        o += '(';
        if (!write_points(i, false) || !finished(i)) return false;
        if (m_point_count != 1) return fail("a point geometry holds several points");
        o += ')';
        return true;
      case 5:
        put_name("MULTIPOINT");
        o += '(';
        while (i < m_elems.size()) {
          if (i > 0) o += ", ";
          if (!write_points(i, true)) return false;
        }
        o += ')';
        return true;
      case 2:
        put_name(curve_name(kind_of(0, false)));
        return write_curve(i, false) && finished(i);
      case 6: {
        bool curved = false;
        for (const element& e : m_elems) curved = curved || e.etype == 4 || e.interp == 2;
        put_name(curved ? "MULTICURVE" : "MULTILINESTRING");
        o += '(';
        while (i < m_elems.size()) {
          if (i > 0) o += ", ";
          const curve_kind kind = kind_of(i, false);
          if (kind != curve_kind::straight) put_name(curve_name(kind));
          if (!write_curve(i, false)) return false;
        }
        o += ')';
        return true;
      }
      case 3:
        if (m_elems[0].etype == 1006) {
          put_name("POLYHEDRALSURFACE");
          return write_solid_or_surface(i) && finished(i);
        }
        put_name(polygon_curved(0, true) ? "CURVEPOLYGON" : "POLYGON");
        return write_polygon(i, true) && finished(i);
      case 7: {
        bool curved = false;
        for (size_t k = 0; k < m_elems.size(); ++k)
          curved = curved || (ring_kind(k) != curve_kind::straight && is_ring(m_elems[k].etype));
        put_name(curved ? "MULTISURFACE" : "MULTIPOLYGON");
        o += '(';
        while (i < m_elems.size()) {
          if (i > 0) o += ", ";
          if (curved && polygon_curved(i, false)) put_name("CURVEPOLYGON");
          if (!write_polygon(i, false)) return false;
        }
        o += ')';
        return true;
      }
      case 8:
        if (!is_solid(m_elems[0].etype)) return fail("a solid geometry holds no solid element");
        put_name("POLYHEDRALSURFACE");
        return write_solid_or_surface(i) && finished(i);
      case 9:
        put_name("GEOMETRYCOLLECTION");
        o += '(';
        while (i < m_elems.size()) {
          if (!is_solid(m_elems[i].etype))
            return fail("a multi-solid holds an element other than a solid");
          if (i > 0) o += ", ";
          put_name("POLYHEDRALSURFACE");
          if (!write_solid_or_surface(i)) return false;
        }
        o += ')';
        return true;
      case 4:
        put_name("GEOMETRYCOLLECTION");
        o += '(';
        while (i < m_elems.size()) {
          if (i > 0) o += ", ";
          if (!write_member(i)) return false;
        }
        o += ')';
        return true;
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

  // A name with the value's dimension tag: "POINT Z ".
  void put_name(const char* name) {
    m_out += name;
    m_out += m_tag;
    m_out += ' ';
  }

  static const char* curve_name(curve_kind kind) {
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
    put_name("POINT");
    m_out += '(';
    for (int k = 0; k < m_dim; ++k) {
      const sdo_number& v = m_g.point[k];
      if (v.null) return fail("SDO_POINT has a NULL coordinate");
      if (k > 0) m_out += ' ';
      v.value.append_to(m_out);
    }
    m_out += ')';
    return true;
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
  static bool is_solid(int64_t e) { return e == 1007 || e == 1008; }

  // How the line element i (ring: the ring element i) is written.
  curve_kind kind_of(size_t i, bool ring) const {
    const element& e = m_elems[i];
    if (ring ? is_compound_ring(e.etype) : e.etype == 4) return curve_kind::compound;
    if (e.interp == 2 || (ring && e.interp == 4)) return curve_kind::arc;
    return curve_kind::straight;
  }
  curve_kind ring_kind(size_t i) const { return kind_of(i, true); }

  // Elements a ring takes: itself and, for a compound ring, its sub-elements.
  size_t ring_span(size_t i) const {
    const element& e = m_elems[i];
    if (!is_compound_ring(e.etype) || e.interp < 1) return 1;
    return 1 +
           static_cast<size_t>(std::min<int64_t>(e.interp, static_cast<int64_t>(m_elems.size())));
  }

  // Whether the polygon starting at element i has a curved ring.
  bool polygon_curved(size_t i, bool single) const {
    const int64_t first = m_elems[i].etype;
    bool curved = false;
    for (size_t k = i; k < m_elems.size(); k += ring_span(k)) {
      const int64_t e = m_elems[k].etype;
      if (k > i && !(is_interior(e) || (single && is_legacy_ring(first) && is_legacy_ring(e))))
        break;
      curved = curved || ring_kind(k) != curve_kind::straight;
    }
    return curved;
  }

  // End (exclusive ordinate index) of the simple element i.
  size_t end_of(size_t i) const {
    return i + 1 < m_elems.size() ? m_elems[i + 1].off : m_g.ordinates.size();
  }

  size_t points_in(size_t begin, size_t end) const {
    return end > begin ? (end - begin) / static_cast<size_t>(m_dim) : 0;
  }

  void put_point(size_t at) {
    for (int k = 0; k < m_dim; ++k) {
      if (k > 0) m_out += ' ';
      m_g.ordinates[at + static_cast<size_t>(m_order[k])].value.append_to(m_out);
    }
  }

  void put_points(size_t begin, size_t end) {
    for (size_t at = begin; at < end; at += static_cast<size_t>(m_dim)) {
      if (at != begin) m_out += ", ";
      put_point(at);
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
  bool write_points(size_t& i, bool multi) {
    const element& e = m_elems[i];
    if (e.etype != 1) return fail(where(i) + " is not a point");
    if (e.interp == 0) return fail(where(i) + " is an orientation, which WKT cannot hold");
    const size_t begin = e.off, end = end_of(i);
    const size_t count = points_in(begin, end);
    if (e.interp < 1 || static_cast<uint64_t>(e.interp) != count || end <= begin)
      return fail(where(i) + " announces " + std::to_string(e.interp) + " points but holds " +
                  std::to_string(count));
    for (size_t at = begin; at < end; at += static_cast<size_t>(m_dim)) {
      if (at != begin) m_out += ", ";
      if (multi) m_out += '(';
      put_point(at);
      if (multi) m_out += ')';
    }
    m_point_count += count;
    ++i;
    return true;
  }

  // A line string or a ring as "(x y, ...)"; its name, if it needs one, is
  // the caller's (kind_of).
  bool write_curve(size_t& i, bool ring) {
    const element& e = m_elems[i];
    const bool compound = ring ? is_compound_ring(e.etype) : e.etype == 4;
    if (compound) return write_compound(i, ring);
    if (ring ? !is_ring(e.etype) : e.etype != 2)
      return fail(where(i) + " is not a " + (ring ? "ring" : "line string"));
    const size_t begin = e.off, end = end_of(i);
    const size_t count = points_in(begin, end);
    const size_t step = static_cast<size_t>(m_dim);
    m_out += '(';
    if (!ring) {
      if (e.interp == 1) {
        if (count < 2) return fail(where(i) + " holds fewer than two points");
      } else if (e.interp == 2) {
        if (count < 3 || count % 2 == 0)
          return fail(where(i) + " holds " + std::to_string(count) + " points, not whole arcs");
      } else {
        return fail(where(i) + " has an interpretation WKT cannot hold");
      }
      put_points(begin, end);
    } else if (e.interp == 1 || e.interp == 2) {
      // Straight ring, or ring of circular arcs.
      const bool arc = e.interp == 2;
      if (arc ? (count < 3 || count % 2 == 0) : count < 4)
        return fail(where(i) + " holds " + std::to_string(count) + " points, too few for a ring");
      if (!same_point(begin, end - step)) return fail(where(i) + " is not closed");
      put_points(begin, end);
    } else if (e.interp == 3) {
      // Optimized rectangle: two corners.
      if (count != 2 || m_dim != 2)
        return fail(where(i) + " is a rectangle without two 2D corners");
      put_rectangle(begin, is_interior(e.etype));
    } else if (e.interp == 4) {
      // Circle through three points.
      if (count != 3 || m_dim != 2) return fail(where(i) + " is a circle without three 2D points");
      if (!put_circle(begin)) return fail(where(i) + " is a circle through points on one line");
    } else {
      return fail(where(i) + " has an interpretation WKT cannot hold");
    }
    m_out += ')';
    ++i;
    return true;
  }

  // Compound line string (4) or ring (1005, 2005, 5) of n sub-elements.
  bool write_compound(size_t& i, bool ring) {
    const element& head = m_elems[i];
    const int64_t n = head.interp;
    if (n < 1 || static_cast<uint64_t>(n) >= m_elems.size() - i)
      return fail(where(i) + " announces more sub-elements than there are");
    if (m_elems[i + 1].off != head.off)
      return fail(where(i) + " does not start with its first sub-element");
    const size_t last = i + static_cast<size_t>(n);
    const size_t step = static_cast<size_t>(m_dim);
    m_out += '(';
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
      if (k > i + 1) m_out += ", ";
      if (sub.interp == 2) put_name("CIRCULARSTRING");
      m_out += '(';
      put_points(begin, end);
      m_out += ')';
    }
    m_out += ')';
    if (ring && !same_point(head.off, end_of(last) - step))
      return fail(where(i) + " is not closed");
    i = last + 1;
    return true;
  }

  // One ring inside a polygon's ring list: straight rings bare, curved ones
  // named.
  bool write_ring(size_t& i) {
    const curve_kind kind = ring_kind(i);
    if (kind != curve_kind::straight) put_name(curve_name(kind));
    return write_curve(i, true);
  }

  // A polygon as "(ring, ring)": its exterior ring and the interior rings
  // that follow. Rings stored without orientation (3, 5) are exterior when
  // first; after it, they are holes only in a single polygon.
  bool write_polygon(size_t& i, bool single) {
    const int64_t first = m_elems[i].etype;
    if (!is_exterior(first) && !is_legacy_ring(first))
      return fail(where(i) + " does not start a polygon");
    m_out += '(';
    if (!write_ring(i)) return false;
    while (i < m_elems.size()) {
      const int64_t e = m_elems[i].etype;
      const bool hole = is_interior(e) || (single && is_legacy_ring(first) && is_legacy_ring(e));
      if (!hole) break;
      m_out += ", ";
      if (!write_ring(i)) return false;
    }
    m_out += ')';
    // In a multi-polygon or a collection, a ring without orientation after
    // such a ring may be a hole or another polygon: nothing tells which.
    if (!single && is_legacy_ring(first) && i < m_elems.size() && is_legacy_ring(m_elems[i].etype))
      return fail(where(i) + " is a ring without orientation: hole or polygon cannot be told");
    return true;
  }

  // The faces of a surface (1006) or a simple solid (1007) as
  // "((face), (face), ...)", as POLYHEDRALSURFACE lists them.
  bool write_solid_or_surface(size_t& i) {
    const element& e = m_elems[i];
    if (e.etype == 1008) return fail(where(i) + " is a composite solid, which WKT cannot hold");
    if (e.etype == 1007) {
      if (e.interp == 3) {
        if (m_dim != 3 || points_in(e.off, end_of(i)) != 2)
          return fail(where(i) + " is a box without two 3D corners");
        put_box(e.off);
        ++i;
        return true;
      }
      if (e.interp != 1 || i + 1 >= m_elems.size() || m_elems[i + 1].etype != 1006 ||
          m_elems[i + 1].off != e.off)
        return fail(where(i) + " is a solid without its outer surface");
      ++i;
      if (!write_solid_or_surface(i)) return false;
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
    m_out += '(';
    while (k <= last) {
      if (m_elems[k].etype != 1003)
        return fail(where(k) + " cannot be a face of a polyhedral surface");
      if (k > i + 1) m_out += ", ";
      m_out += '(';
      do {
        if (ring_kind(k) != curve_kind::straight)
          return fail(where(k) + " is a curved face, which WKT cannot hold");
        if (m_out.back() != '(') m_out += ", ";
        if (!write_curve(k, true)) return false;
      } while (k <= last && m_elems[k].etype == 2003);
      m_out += ')';
    }
    m_out += ')';
    i = last + 1;
    return true;
  }

  // A member of a collection (2004): named, with its dimension tag.
  bool write_member(size_t& i) {
    const int64_t e = m_elems[i].etype;
    if (e == 1) {
      const bool cluster = m_elems[i].interp > 1;
      put_name(cluster ? "MULTIPOINT" : "POINT");
      m_out += '(';
      if (!write_points(i, cluster)) return false;
      m_out += ')';
      return true;
    }
    if (e == 2 || e == 4) {
      put_name(curve_name(kind_of(i, false)));
      return write_curve(i, false);
    }
    if (is_exterior(e) || is_legacy_ring(e)) {
      put_name(polygon_curved(i, false) ? "CURVEPOLYGON" : "POLYGON");
      return write_polygon(i, false);
    }
    if (e == 1006 || is_solid(e)) {
      put_name("POLYHEDRALSURFACE");
      return write_solid_or_surface(i);
    }
    return fail(where(i) + " cannot be part of a collection");
  }

  // An optimized rectangle as its closed ring of five corners, counter-
  // clockwise from the first corner for an exterior ring, clockwise for a
  // hole (Oracle's ring orientations).
  void put_rectangle(size_t at, bool hole) {
    std::string& o = m_out;
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
  void put_box(size_t at) {
    std::string& o = m_out;
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
  bool put_circle(size_t at) {
    std::string& o = m_out;
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
    put_points(at, at + 6);
    o += ", ";
    append_double(o, x[0] + qx);
    o += ' ';
    append_double(o, y[0] + qy);
    o += ", ";
    put_point(at);
    return true;
  }

  const sdo_geometry& m_g;
  std::vector<element>& m_elems;
  std::string& m_out;
  std::string& m_why;
  int m_dim = 2;
  int m_tt = 0;
  int m_order[4] = {0, 1, 2, 3};
  const char* m_tag = "";
  size_t m_point_count = 0;
};

}  // namespace

sdo_geometry::wkt_result sdo_geometry::to_wkt(std::string& out, bool ewkt, std::string& why) const {
  if (all_null()) return wkt_result::null;
  const size_t start = out.size();
  // The element list keeps its storage from one value to the next.
  static thread_local std::vector<element> elems;
  wkt_writer w(*this, elems, out, why);
  if (w.write(ewkt)) return wkt_result::text;
  out.resize(start);
  return wkt_result::error;
}
