// Spatial values: the WKT of every SDO_GEOMETRY structure, values that WKT
// cannot hold, and the readers of object and collection images. Expected
// texts are worked out by hand from the attributes.
#include "oracle_dump/sdo_geometry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/classic_dump_writer.h"

namespace {

using texts = std::vector<const char*>;

sdo_number num(const char* text) {
  sdo_number n;
  if (text == nullptr) return n;
  n.null = false;
  EXPECT_TRUE(n.value.parse(text)) << text;
  return n;
}

std::vector<sdo_number> nums(const texts& values) {
  std::vector<sdo_number> out;
  for (const char* v : values) out.push_back(num(v));
  return out;
}

sdo_geometry arrays(const char* gtype, const texts& elem_info, const texts& ordinates,
                    const char* srid = nullptr) {
  sdo_geometry g;
  g.gtype = num(gtype);
  g.srid = num(srid);
  g.elem_info_null = g.ordinates_null = false;
  g.elem_info = nums(elem_info);
  g.ordinates = nums(ordinates);
  return g;
}

sdo_geometry point(const char* gtype, const char* x, const char* y, const char* z = nullptr,
                   const char* srid = nullptr) {
  sdo_geometry g;
  g.gtype = num(gtype);
  g.srid = num(srid);
  g.point_null = false;
  g.point[0] = num(x);
  g.point[1] = num(y);
  g.point[2] = num(z);
  return g;
}

std::string wkt(const sdo_geometry& g, bool ewkt = false) {
  std::string out, why;
  const auto r = g.to_wkt(out, ewkt, why);
  if (r == sdo_geometry::wkt_result::error) return "error: " + why;
  if (r == sdo_geometry::wkt_result::null) return "null";
  return out;
}

}  // namespace

TEST(SdoGeometry, WritesEveryStructureAsWkt) {
  struct row {
    sdo_geometry g;
    const char* want;
  };
  const row rows[] = {
      // The SDO_POINT form keeps every stored digit.
      {point("2001", "-77.02298", "38.908702"), "POINT (-77.02298 38.908702)"},
      {point("3001", "1234567.89", "0.000001", "-650"), "POINT Z (1234567.89 0.000001 -650)"},
      {arrays("2001", {"1", "1", "1"}, {"100000000000000000000", "-0.5"}),
       "POINT (100000000000000000000 -0.5)"},
      {arrays("2002", {"1", "2", "1"}, {"0", "0", "1", "0"}), "LINESTRING (0 0, 1 0)"},
      {arrays("3002", {"1", "2", "1"},
              {"27228283", "44968113.4", "650", "27228290.5", "44968120", "651"}),
       "LINESTRING Z (27228283 44968113.4 650, 27228290.5 44968120 651)"},
      // Measures: 3302 is x y m; 4402 x y z m; 4302 stores the measure third.
      {arrays("3302", {"1", "2", "1"}, {"0", "0", "0", "10", "0", "10"}),
       "LINESTRING M (0 0 0, 10 0 10)"},
      {arrays("4402", {"1", "2", "1"}, {"0", "0", "5", "0", "10", "0", "5", "10"}),
       "LINESTRING ZM (0 0 5 0, 10 0 5 10)"},
      {arrays("4302", {"1", "2", "1"}, {"0", "0", "0", "5", "10", "0", "10", "5"}),
       "LINESTRING ZM (0 0 5 0, 10 0 5 10)"},
      {arrays("2002", {"1", "2", "2"}, {"0", "0", "1", "1", "2", "0"}),
       "CIRCULARSTRING (0 0, 1 1, 2 0)"},
      // Compound: the first sub-element runs to the first point of the next.
      {arrays("2002", {"1", "4", "2", "1", "2", "1", "3", "2", "2"},
              {"0", "0", "1", "0", "2", "1", "3", "0"}),
       "COMPOUNDCURVE ((0 0, 1 0), CIRCULARSTRING (1 0, 2 1, 3 0))"},
      {arrays("2003", {"1", "1003", "1", "11", "2003", "1"},
              {"0", "0", "10", "0", "10", "10", "0", "10", "0", "0",
               "2", "2", "2",  "4", "4",  "4",  "4", "2",  "2", "2"}),
       "POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0), (2 2, 2 4, 4 4, 4 2, 2 2))"},
      // The orientation-less ring of old dumps (etype 3).
      {arrays("2003", {"1", "3", "1"}, {"0", "0", "1", "0", "1", "1", "0", "0"}),
       "POLYGON ((0 0, 1 0, 1 1, 0 0))"},
      {arrays("2003", {"1", "1003", "3"}, {"1", "2", "3", "4"}),
       "POLYGON ((1 2, 3 2, 3 4, 1 4, 1 2))"},
      {arrays("2003", {"1", "1003", "1", "11", "2003", "3"},
              {"0", "0", "10", "0", "10", "10", "0", "10", "0", "0", "2", "2", "4", "4"}),
       "POLYGON ((0 0, 10 0, 10 10, 0 10, 0 0), (2 2, 2 4, 4 4, 4 2, 2 2))"},
      // A circle: the three stored points, the point opposite the second on
      // the circle, and the first again.
      {arrays("2003", {"1", "1003", "4"}, {"0", "1", "1", "0", "0", "-1"}),
       "CURVEPOLYGON (CIRCULARSTRING (0 1, 1 0, 0 -1, -1 0, 0 1))"},
      {arrays("2003", {"1", "1003", "4"}, {"3", "4", "-5", "0", "3", "-4"}),
       "CURVEPOLYGON (CIRCULARSTRING (3 4, -5 0, 3 -4, 5 0, 3 4))"},
      {arrays("2003", {"1", "1003", "2", "11", "2003", "1"},
              {"-2", "0", "0", "2", "2", "0", "0", "-2", "-2", "0", "-1", "0", "0", "1", "1", "0",
               "-1", "0"}),
       "CURVEPOLYGON (CIRCULARSTRING (-2 0, 0 2, 2 0, 0 -2, -2 0), (-1 0, 0 1, 1 0, -1 0))"},
      {arrays("2003", {"1", "1005", "2", "1", "2", "1", "3", "2", "2"},
              {"0", "0", "4", "0", "2", "3", "0", "0"}),
       "CURVEPOLYGON (COMPOUNDCURVE ((0 0, 4 0), CIRCULARSTRING (4 0, 2 3, 0 0)))"},
      {arrays("2005", {"1", "1", "3"}, {"1", "2", "3", "4", "5", "6"}),
       "MULTIPOINT ((1 2), (3 4), (5 6))"},
      {arrays("2005", {"1", "1", "1", "3", "1", "1"}, {"1", "2", "3", "4"}),
       "MULTIPOINT ((1 2), (3 4))"},
      // Parts split where the offsets say, whatever their point counts.
      {arrays("2006", {"1", "2", "1", "5", "2", "1"},
              {"0", "0", "1", "1", "2", "2", "3", "3", "4", "4"}),
       "MULTILINESTRING ((0 0, 1 1), (2 2, 3 3, 4 4))"},
      {arrays("2006", {"1", "2", "1", "5", "2", "2"},
              {"0", "0", "1", "1", "2", "2", "3", "3", "4", "2"}),
       "MULTICURVE ((0 0, 1 1), CIRCULARSTRING (2 2, 3 3, 4 2))"},
      {arrays("2007", {"1", "1003", "1", "11", "1003", "3"},
              {"0", "0", "1", "0", "1", "1", "0", "1", "0", "0", "5", "5", "7", "6"}),
       "MULTIPOLYGON (((0 0, 1 0, 1 1, 0 1, 0 0)), ((5 5, 7 5, 7 6, 5 6, 5 5)))"},
      {arrays("2007", {"1", "1003", "1", "9", "1003", "4"},
              {"0", "0", "1", "0", "1", "1", "0", "0", "0", "1", "1", "0", "0", "-1"}),
       "MULTISURFACE (((0 0, 1 0, 1 1, 0 0)), "
       "CURVEPOLYGON (CIRCULARSTRING (0 1, 1 0, 0 -1, -1 0, 0 1)))"},
      {arrays("2004", {"1", "1", "1", "3", "2", "1", "7", "1003", "1"},
              {"9", "9", "0", "0", "1", "1", "0", "0", "2", "0", "2", "2", "0", "0"}),
       "GEOMETRYCOLLECTION (POINT (9 9), LINESTRING (0 0, 1 1), POLYGON ((0 0, 2 0, 2 2, 0 0)))"},
      {arrays("3004", {"1", "1", "2", "7", "2", "2"},
              {"1", "2", "3", "4", "5", "6", "0", "0", "0", "1", "1", "1", "2", "0", "2"}),
       "GEOMETRYCOLLECTION Z (MULTIPOINT Z ((1 2 3), (4 5 6)), "
       "CIRCULARSTRING Z (0 0 0, 1 1 1, 2 0 2))"},
      // Solids: an optimized box as its six faces, a simple solid as the
      // faces of its outer surface.
      {arrays("3008", {"1", "1007", "3"}, {"0", "0", "0", "1", "2", "3"}),
       "POLYHEDRALSURFACE Z (((0 0 0, 0 2 0, 1 2 0, 1 0 0, 0 0 0)), "
       "((0 0 3, 1 0 3, 1 2 3, 0 2 3, 0 0 3)), ((0 0 0, 1 0 0, 1 0 3, 0 0 3, 0 0 0)), "
       "((0 2 0, 0 2 3, 1 2 3, 1 2 0, 0 2 0)), ((0 0 0, 0 0 3, 0 2 3, 0 2 0, 0 0 0)), "
       "((1 0 0, 1 2 0, 1 2 3, 1 0 3, 1 0 0)))"},
      {arrays("3008",
              {"1", "1007", "1", "1", "1006", "4", "1", "1003", "1", "13", "1003", "1", "25",
               "1003", "1", "37", "1003", "1"},
              {"0", "0", "0", "0", "1", "0", "1", "0", "0", "0", "0", "0",  // A C B A
               "0", "0", "0", "1", "0", "0", "0", "0", "1", "0", "0", "0",  // A B D A
               "0", "0", "0", "0", "0", "1", "0", "1", "0", "0", "0", "0",  // A D C A
               "1", "0", "0", "0", "1", "0", "0", "0", "1", "1", "0", "0"}),
       "POLYHEDRALSURFACE Z (((0 0 0, 0 1 0, 1 0 0, 0 0 0)), ((0 0 0, 1 0 0, 0 0 1, 0 0 0)), "
       "((0 0 0, 0 0 1, 0 1 0, 0 0 0)), ((1 0 0, 0 1 0, 0 0 1, 1 0 0)))"},
      {arrays("3009", {"1", "1007", "3", "7", "1007", "3"},
              {"0", "0", "0", "1", "1", "1", "5", "5", "5", "6", "6", "6"}),
       "GEOMETRYCOLLECTION Z (POLYHEDRALSURFACE Z (((0 0 0, 0 1 0, 1 1 0, 1 0 0, 0 0 0)), "
       "((0 0 1, 1 0 1, 1 1 1, 0 1 1, 0 0 1)), ((0 0 0, 1 0 0, 1 0 1, 0 0 1, 0 0 0)), "
       "((0 1 0, 0 1 1, 1 1 1, 1 1 0, 0 1 0)), ((0 0 0, 0 0 1, 0 1 1, 0 1 0, 0 0 0)), "
       "((1 0 0, 1 1 0, 1 1 1, 1 0 1, 1 0 0))), POLYHEDRALSURFACE Z (((5 5 5, 5 6 5, 6 6 5, "
       "6 5 5, 5 5 5)), ((5 5 6, 6 5 6, 6 6 6, 5 6 6, 5 5 6)), ((5 5 5, 6 5 5, 6 5 6, 5 5 6, "
       "5 5 5)), ((5 6 5, 5 6 6, 6 6 6, 6 6 5, 5 6 5)), ((5 5 5, 5 5 6, 5 6 6, 5 6 5, 5 5 5)), "
       "((6 5 5, 6 6 5, 6 6 6, 6 5 6, 6 5 5))))"},
      // SDO_POINT is ignored when the arrays describe the geometry.
      [] {
        sdo_geometry g = arrays("2001", {"1", "1", "1"}, {"5", "6"});
        g.point_null = false;
        g.point[0] = num("1");
        g.point[1] = num("2");
        return row{g, "POINT (5 6)"};
      }(),
      // Every attribute NULL: an empty value, not an error.
      {sdo_geometry(), "null"},
  };
  for (const row& r : rows) EXPECT_EQ(wkt(r.g), r.want);
}

TEST(SdoGeometry, EwktCarriesTheSridWhenThereIsOne) {
  EXPECT_EQ(wkt(point("2001", "-77.02298", "38.908702", nullptr, "8307"), true),
            "SRID=8307;POINT (-77.02298 38.908702)");
  EXPECT_EQ(wkt(point("2001", "-77.02298", "38.908702", nullptr, "8307"), false),
            "POINT (-77.02298 38.908702)");
  EXPECT_EQ(wkt(arrays("2002", {"1", "2", "1"}, {"0", "0", "1", "0"}), true),
            "LINESTRING (0 0, 1 0)");
  EXPECT_EQ(wkt(arrays("2002", {"1", "2", "1"}, {"0", "0", "1", "0"}, "27700"), true),
            "SRID=27700;LINESTRING (0 0, 1 0)");
}

// Values WKT cannot hold come back as errors that say why; nothing is
// guessed and no partial text is left behind.
TEST(SdoGeometry, RefusesWhatWktCannotHold) {
  struct row {
    sdo_geometry g;
    const char* reason;  // a piece of the error text
  };
  const row rows[] = {
      {arrays("2000", {"1", "1", "1"}, {"1", "2"}), "not a known geometry type"},
      {arrays("2010", {"1", "1", "1"}, {"1", "2"}), "not a known geometry type"},
      {arrays("1", {"1", "1", "1"}, {"1", "2"}), "not a known geometry type"},
      {arrays("2202", {"1", "2", "1"}, {"0", "0", "1", "1"}), "measure dimension"},
      {arrays(nullptr, {"1", "2", "1"}, {"0", "0", "1", "1"}), "SDO_GTYPE is NULL"},
      {arrays("2002", {"1", "2"}, {"0", "0", "1", "1"}), "not triplets"},
      {arrays("2002", {"1", "2", "1"}, {"0", "0", "1"}), "whole 2-dimensional points"},
      {arrays("2002", {"2", "2", "1"}, {"0", "0", "1", "1"}), "does not start a point"},
      {arrays("2002", {"1", "2", "1", "9", "2", "1"}, {"0", "0", "1", "1"}), "offset 9"},
      {arrays("2006", {"1", "2", "1", "3", "2", "1"}, {"0", "0", "1", "1"}), "fewer than two"},
      {arrays("2002", {"1", "1003", "1"}, {"0", "0", "1", "1"}), "not a line string"},
      {arrays("2002", {"1", "2", "5"}, {"0", "0", "1", "1"}), "interpretation"},
      {arrays("2002", {"1", "2", "2"}, {"0", "0", "1", "1"}), "not whole arcs"},
      {arrays("2001", {"1", "1", "0"}, {"1", "2"}), "orientation"},
      {arrays("2005", {"1", "1", "3"}, {"1", "2", "3", "4"}), "announces 3 points"},
      {arrays("2003", {"1", "1003", "1"}, {"0", "0", "1", "0", "1", "1", "0", "1"}), "not closed"},
      {arrays("2003", {"1", "2003", "1"}, {"0", "0", "1", "0", "1", "1", "0", "0"}),
       "does not start a polygon"},
      {arrays("2003", {"1", "1003", "1", "9", "1003", "1"},
              {"0", "0", "1", "0", "1", "1", "0", "0", "5", "5", "6", "5", "6", "6", "5", "5"}),
       "more elements"},
      {arrays("2003", {"1", "1003", "4"}, {"0", "0", "1", "1", "2", "2"}), "one line"},
      {arrays("2003", {"1", "1003", "3"}, {"1", "2", "3", "4", "5", "6"}), "two 2D corners"},
      {arrays("2007", {"1", "3", "1", "9", "3", "1"},
              {"0", "0", "9", "0", "9", "9", "0", "0", "1", "1", "2", "1", "2", "2", "1", "1"}),
       "without orientation"},
      {arrays("2002", {"1", "4", "3", "1", "2", "1", "3", "2", "1"},
              {"0", "0", "1", "1", "2", "2"}),
       "more sub-elements"},
      {arrays("2002", {"1", "0", "1"}, {"0", "0", "1", "1"}), "not a line string"},
      {arrays("3008", {"1", "1008", "2"}, {"0", "0", "0", "1", "1", "1"}), "composite solid"},
      {arrays("2002", {"1", "2", "1"}, {"0", nullptr, "1", "1"}), "ordinate 2 is NULL"},
      {arrays("2002", {"1", nullptr, "1"}, {"0", "0", "1", "1"}), "entry 2"},
      {arrays("2002", {"1", "2", "1"}, {"0", "0.5", "1", "1", "2"}), "whole 2-dimensional"},
      {point("2002", "1", "2"), "not a point"},
      {point("3001", "1", "2", nullptr), "NULL coordinate"},
      {point("2001", nullptr, "2"), "NULL coordinate"},
      [] {
        sdo_geometry g = arrays("2001", {"1", "1", "1"}, {"1", "2"});
        g.elem_info_null = true;
        g.elem_info.clear();
        return row{g, "SDO_ORDINATES holds values but SDO_ELEM_INFO does not"};
      }(),
      [] {
        sdo_geometry g;
        g.gtype = num("2001");
        return row{g, "no coordinates"};
      }(),
  };
  for (const row& r : rows) {
    std::string out = "kept", why;
    EXPECT_EQ(r.g.to_wkt(out, true, why), sdo_geometry::wkt_result::error) << r.reason;
    EXPECT_EQ(out, "kept") << r.reason;
    EXPECT_NE(why.find(r.reason), std::string::npos) << why;
  }
}

// The first customer point of a real 10.1 dump (app_with_loc.dmp), typed
// from its bytes: GTYPE 03 C2 15 02 = 2001, SRID 03 C2 54 08 = 8307,
// X 06 3E 18 63 48 15 66 = -(77, 02, 29, 80) = -77.02298, Y 05 C1 27 5B 58 03
// = 38, 90, 87, 02 = 38.908702, then Z, SDO_ELEM_INFO and SDO_ORDINATES NULL.
TEST(SdoGeometry, ReadsTheObjectImageOfARealPoint) {
  const std::string image(
      "\x84\x01\xFE\x00\x00\x00\x1F\x03\xC2\x15\x02\x03\xC2\x54\x08\x06\x3E\x18\x63\x48\x15\x66"
      "\x05\xC1\x27\x5B\x58\x03\xFF\xFF\xFF",
      31);
  sdo_geometry g;
  std::string why;
  ASSERT_TRUE(sdo_read_image(reinterpret_cast<const uint8_t*>(image.data()), image.size(), g, why))
      << why;
  EXPECT_TRUE(g.elem_info_null);
  EXPECT_TRUE(g.ordinates_null);
  EXPECT_EQ(wkt(g, true), "SRID=8307;POINT (-77.02298 38.908702)");
}

// Lengths in both forms, the prefixes seen in real dumps, counts beyond 255
// and NULL elements read back to the numbers written.
TEST(SdoGeometry, ReadsArrayImagesOfEveryShape) {
  std::vector<std::optional<std::string>> many;
  for (int k = 0; k < 300; ++k) many.push_back(std::to_string(k) + ".25");
  const std::vector<std::optional<std::string>> small = {"1", std::nullopt, "-3.5"};
  struct row {
    std::vector<std::optional<std::string>> numbers;
    bool long_lengths;
    std::string prefix;
  };
  const row rows[] = {
      {small, false, std::string("\x01\x03", 2)},
      {small, true, std::string("\x01\x03", 2)},
      {small, false, std::string("\x01\x01", 2)},
      {small, false, std::string("\x03\x13\x00\x01", 4)},
      {many, false, std::string("\x01\x03", 2)},
      {many, true, std::string("\x03\x13\x00\x01", 4)},
      {{}, false, std::string("\x01\x03", 2)},
  };
  for (const row& r : rows) {
    const std::string image = ora_dump_fx_sdo_array(r.numbers, r.long_lengths, r.prefix);
    std::vector<sdo_number> out;
    std::string why;
    ASSERT_TRUE(sdo_read_number_array(reinterpret_cast<const uint8_t*>(image.data()), image.size(),
                                      out, why))
        << why << " " << r.numbers.size();
    ASSERT_EQ(out.size(), r.numbers.size());
    for (size_t k = 0; k < out.size(); ++k) {
      ASSERT_EQ(out[k].null, !r.numbers[k].has_value()) << k;
      if (!out[k].null) {
        EXPECT_EQ(out[k].value.to_string(), *r.numbers[k]) << k;
      }
    }
  }
}

// Every cut and every single damaged byte of an image is refused or read
// within its bytes; none crashes or reads past the end (ASan watches).
TEST(SdoGeometry, DamagedImagesNeverReadPastTheirBytes) {
  ora_dump_fx_sdo s;
  s.gtype = "2003";
  s.srid = "8307";
  s.elem_info = {{"1", "1003", "1"}};
  s.ordinates = {{"0", "0", "1", "0", "1", "1", "0", "0"}};
  s.long_lengths = true;
  const std::string good = ora_dump_fx_sdo_image(s);
  sdo_geometry g;
  std::string why;
  const auto* p = reinterpret_cast<const uint8_t*>(good.data());
  ASSERT_TRUE(sdo_read_image(p, good.size(), g, why)) << why;
  EXPECT_EQ(wkt(g), "POLYGON ((0 0, 1 0, 1 1, 0 0))");
  for (size_t cut = 0; cut < good.size(); ++cut) {
    const std::vector<uint8_t> part(good.begin(), good.begin() + static_cast<long>(cut));
    EXPECT_FALSE(sdo_read_image(part.data(), part.size(), g, why)) << cut;
  }
  for (size_t at = 0; at < good.size(); ++at) {
    for (const uint8_t b : {0x00, 0x01, 0x7F, 0xFE, 0xFF}) {
      std::vector<uint8_t> bad(good.begin(), good.end());
      bad[at] = b;
      std::string out;
      if (sdo_read_image(bad.data(), bad.size(), g, why)) g.to_wkt(out, true, why);
    }
  }
}
