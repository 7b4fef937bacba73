// Oracle Spatial geometries (MDSYS.SDO_GEOMETRY) and their Well-Known Text.
//
// A geometry is an object of five attributes: SDO_GTYPE (a number DLTT:
// D dimensions, L the measure dimension of a linear referencing geometry,
// TT the geometry type), SDO_SRID, SDO_POINT (X, Y, Z), SDO_ELEM_INFO
// (triplets of 1-based ordinate offset, element type and interpretation)
// and SDO_ORDINATES. Dumps keep every number as an Oracle NUMBER, and so
// does this value: the WKT prints each coordinate as the exact decimal
// Oracle stored, never through a binary float.
//
// Both dump formats store the arrays as the same collection image; classic
// rows also hold the whole geometry as one object image. The readers of
// those images live here, the row decoders hand them the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "values/ole_var.h"

// One NUMBER attribute or array element; `null` when Oracle stored NULL.
struct sdo_number {
  ole_decimal value;
  bool null = true;
};

class sdo_geometry {
 public:
  enum class wkt_result {
    text,   // `out` holds the WKT
    null,   // every attribute is NULL: the value is empty, not an error
    error,  // the value cannot be written as WKT; `why` says what is wrong
  };

  // Every attribute NULL, array storage kept for the next value.
  void clean();
  bool all_null() const;

  // Appends the WKT to `out`; with `ewkt` and a SRID, "SRID=n;" comes first
  // (the EWKT that PostGIS and GDAL read). Structure follows SDO_ELEM_INFO:
  // POINT, LINESTRING, POLYGON, the MULTI forms and GEOMETRYCOLLECTION,
  // arcs and circles as the ISO SQL/MM curve forms (CIRCULARSTRING,
  // COMPOUNDCURVE, CURVEPOLYGON, MULTICURVE, MULTISURFACE), optimized
  // rectangles as their five corners, 3D solids as POLYHEDRALSURFACE Z.
  wkt_result to_wkt(std::string& out, bool ewkt, std::string& why) const;

  sdo_number gtype;
  sdo_number srid;
  bool point_null = true;  // the SDO_POINT object itself
  sdo_number point[3];
  bool elem_info_null = true;
  std::vector<sdo_number> elem_info;
  bool ordinates_null = true;
  std::vector<sdo_number> ordinates;
};

// Reads the object image of a geometry: 84 01, the image length, SDO_GTYPE
// and SDO_SRID, SDO_POINT (FD when the point object is NULL, else X, Y, Z),
// then SDO_ELEM_INFO and SDO_ORDINATES (FF when NULL, else a length and a
// collection image). Lengths are one byte, or FE and a big-endian u32. The
// image must fill exactly `n` bytes; false (with the reason) when it does
// not. Attributes missing at the end of the image are NULL.
bool sdo_read_image(const uint8_t* p, size_t n, sdo_geometry& g, std::string& why);

// Reads a collection image of NUMBERs: two header bytes (88 01), the image
// length, a prefix (a length byte and that many bytes), 00, the element
// count (one byte, or FE and a big-endian u32), then the elements, each FF
// for NULL or a length byte and a NUMBER. False (with the reason) when the
// bytes are not exactly one such image.
bool sdo_read_number_array(const uint8_t* p, size_t n, std::vector<sdo_number>& out,
                           std::string& why);

// Decodes one NUMBER attribute (FF or a zero length is NULL). False when the
// bytes are not a NUMBER.
bool sdo_decode_number(const uint8_t* p, size_t n, sdo_number& out);
