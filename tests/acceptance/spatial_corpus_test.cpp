// Acceptance tests on the real classic dumps with SDO_GEOMETRY columns: every
// dump converts cleanly with the manifest's row counts; every geometry is WKT
// that GEOS reads, of the type and dimension its SDO_GTYPE (read straight
// from the dump's bytes) says, and polygons are valid; a handful of values,
// decoded by hand from the bytes, come out exactly; and the data's own
// redundancy agrees (restaurant points and their coordinate columns, network
// links and their end nodes).
#include <geos_c.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "corpus_support.h"

namespace {

std::vector<std::string> spatial_dumps() { return corpus_dumps("spatial"); }

const talvex_test_conversion& converted(const std::string& file) {
  return corpus_converted("spatial", file);
}

#define REQUIRE_SPATIAL_DUMP(file)                                               \
  do {                                                                           \
    if (!tk_test_exists(corpus_dumps_dir() + "/spatial/" + (file)))              \
      GTEST_SKIP() << "corpus dump not found: " << (file);                       \
    ASSERT_TRUE(tk_test_exists(TALVEXCLI_PATH)) << "missing " << TALVEXCLI_PATH; \
  } while (0)

const char* const k_app =
    "Apress__pro-oracle-spatial-for-oracle-db-11g__Examples_Data_app_with_loc.dmp";
const char* const k_map =
    "Apress__pro-oracle-spatial-for-oracle-db-11g__Examples_Data_map_detailed.dmp";
const char* const k_zip = "Apress__pro-oracle-spatial-for-oracle-db-11g__Examples_Data_zip.dmp";
const char* const k_streets =
    "feisishui__oracle-spatial-workshop__Workshop_Files_data_09-mapviewer_us_streets.dmp";
const char* const k_buildings =
    "feisishui__oracle-spatial-workshop__Workshop_Files_data_16-3D-support_01-solids_building_"
    "footprints.dmp";
const char* const k_network =
    "feisishui__oracle-spatial-workshop__Workshop_Files_tutorials_network_ndm_tutorial_examples_"
    "data_bi_test_bi_test.dmp";

// SDO_GTYPE of every geometry stored in a classic dump, in file order, found
// without the converter: a row value whose u16 length L is followed by the
// object image 84 01 and the image length L (one byte, or FE and a
// big-endian u32); SDO_GTYPE is the positive NUMBER right after it.
std::vector<int> gtypes_in_dump(const std::string& bytes) {
  std::vector<int> out;
  const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t n = bytes.size();
  for (size_t i = 2; i + 12 < n; ++i) {
    if (b[i] != 0x84 || b[i + 1] != 0x01) continue;
    const size_t len = b[i - 2] | (b[i - 1] << 8);
    size_t at = i + 2, image = b[at++];
    if (image == 0xFE) {
      image = (size_t{b[at]} << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
      at += 4;
    }
    if (image != len || at + 1 >= n) continue;
    const size_t digits = b[at++];
    if (digits < 2 || digits > 4 || at + digits > n || b[at] < 0xC1) continue;
    int value = 0;
    const int exponent = b[at] - 0xC1;
    for (size_t k = 1; k < digits; ++k) value = value * 100 + (b[at + k] - 1);
    for (size_t k = digits - 1; static_cast<int>(k) <= exponent; ++k) value *= 100;
    out.push_back(value);
  }
  return out;
}

// Table names in the order of their INSERT statements.
std::vector<std::string> tables_in_dump(const std::string& bytes) {
  std::vector<std::string> out;
  const std::string mark = "INSERT INTO \"";
  for (size_t at = bytes.find(mark); at != std::string::npos; at = bytes.find(mark, at + 1)) {
    const size_t start = at + mark.size();
    const std::string name = bytes.substr(start, bytes.find('"', start) - start);
    if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
  }
  return out;
}

void geos_notice(const char*, void*) {}

// A GEOS context with a WKT reader, for one test.
class geos_wkt {
 public:
  geos_wkt() : m_ctx(GEOS_init_r()) {
    GEOSContext_setNoticeMessageHandler_r(m_ctx, geos_notice, nullptr);
    GEOSContext_setErrorMessageHandler_r(m_ctx, geos_notice, nullptr);
    m_reader = GEOSWKTReader_create_r(m_ctx);
  }
  ~geos_wkt() {
    GEOSWKTReader_destroy_r(m_ctx, m_reader);
    GEOS_finish_r(m_ctx);
  }
  geos_wkt(const geos_wkt&) = delete;
  geos_wkt& operator=(const geos_wkt&) = delete;

  // Empty when the text is WKT of the type and dimension SDO_GTYPE gives
  // (DLTT) and, for polygons, valid; otherwise what is wrong.
  std::string check(const std::string& wkt, int gtype) {
    GEOSGeometry* g = GEOSWKTReader_read_r(m_ctx, m_reader, wkt.c_str());
    if (g == nullptr) return "GEOS cannot read it";
    std::string problem;
    static const std::map<int, int> geos_type = {
        {1, GEOS_POINT},       {2, GEOS_LINESTRING},
        {3, GEOS_POLYGON},     {4, GEOS_GEOMETRYCOLLECTION},
        {5, GEOS_MULTIPOINT},  {6, GEOS_MULTILINESTRING},
        {7, GEOS_MULTIPOLYGON}};
    const int tt = gtype % 100;
    const auto want = geos_type.find(tt);
    if (want == geos_type.end())
      problem = "unexpected SDO_GTYPE " + std::to_string(gtype);
    else if (GEOSGeomTypeId_r(m_ctx, g) != want->second)
      problem = "type " + std::string(GEOSGeomType_r(m_ctx, g)) + " for SDO_GTYPE " +
                std::to_string(gtype);
    else if (GEOSGeom_getCoordinateDimension_r(m_ctx, g) != gtype / 1000)
      problem = "dimension " + std::to_string(GEOSGeom_getCoordinateDimension_r(m_ctx, g)) +
                " for SDO_GTYPE " + std::to_string(gtype);
    else if ((tt == 3 || tt == 7) && GEOSisValid_r(m_ctx, g) != 1)
      problem = "invalid polygon";
    GEOSGeom_destroy_r(m_ctx, g);
    return problem;
  }

 private:
  GEOSContextHandle_t m_ctx;
  GEOSWKTReader* m_reader;
};

}  // namespace

class spatial_corpus_test : public ::testing::TestWithParam<std::string> {};

TEST_P(spatial_corpus_test, every_geometry_is_wkt_of_its_sdo_gtype) {
  const std::string file = GetParam();
  if (file.empty()) GTEST_SKIP() << "no corpus manifest under " << corpus_dumps_dir();
  REQUIRE_SPATIAL_DUMP(file);
  const ora_dump_manifest_entry& entry = corpus_manifest().at(file);
  const talvex_test_conversion& c = converted(file);
  corpus_expect_clean_run(c);
  EXPECT_EQ(c.csv_files().size(), entry.tables.size()) << "one CSV file per table";

  std::map<std::string, const ora_dump_manifest_table*> by_name;
  for (const auto& t : entry.tables) by_name[t.name] = &t;
  const std::string bytes = tk_test_read_file(corpus_dumps_dir() + "/spatial/" + file);
  const std::vector<int> gtypes = gtypes_in_dump(bytes);
  geos_wkt geos;
  size_t next = 0, failures = 0;
  for (const std::string& name : tables_in_dump(bytes)) {
    ASSERT_EQ(by_name.count(name), 1u) << name << " is not in the manifest";
    const ora_dump_manifest_table& t = *by_name[name];
    const csv_test_table csv = corpus_table_of(c, name);
    ASSERT_TRUE(csv.ok) << name;
    EXPECT_EQ(static_cast<long>(csv.rows.size()), t.rows) << name;
    if (t.geometry.empty()) continue;
    for (const std::string& wkt : csv.values(t.geometry)) {
      if (wkt.empty()) continue;  // NULL geometry
      ASSERT_LT(next, gtypes.size()) << name << ": more geometries than the dump holds";
      const std::string problem = geos.check(wkt, gtypes[next++]);
      if (!problem.empty() && ++failures <= 5)
        ADD_FAILURE() << name << ": " << problem << ": " << wkt.substr(0, 200);
    }
  }
  EXPECT_EQ(failures, 0u);
  EXPECT_EQ(next, gtypes.size()) << "every geometry of the dump is in a CSV file";
}

INSTANTIATE_TEST_SUITE_P(spatial, spatial_corpus_test, ::testing::ValuesIn(spatial_dumps()),
                         corpus_test_name);

// Values decoded by hand from the dumps' bytes. NUMBER: the first byte is
// C1 + e for positive values (base-100 digits stored + 1) and 3E - e for
// negative ones (digits stored as 101 - d, then 66).
TEST(spatial_spot_values, hand_decoded_geometries) {
  struct spot {
    const char* file;
    const char* table;
    const char* key_column;
    const char* key;
    const char* column;
    const char* wkt;
  };
  const spot spots[] = {
      // X 06 3E 18 63 48 15 66: -(77, 02, 29, 80) = -77.02298; Y 05 C1 27 5B 58 03: 38.908702.
      {k_app, "CUSTOMERS", "ID", "457", "LOCATION", "POINT (-77.02298 38.908702)"},
      // SDO_ELEM_INFO (1, 2, 1, 5, 2, 1): two parts of two points each;
      // 06 3E 19 02 27 47 66 = -76.99623, 05 C1 27 58 54 3D = 38.87836 ...
      {k_map, "MAP_SEC_HIGHWAYS", "LINK_ID", "18387629", "GEOMETRY",
       "MULTILINESTRING ((-76.99623 38.87836, -76.9957 38.87843), "
       "(-76.9915 38.87834, -76.9902 38.87836))"},
      // 05 3E 18 63 1E 66 = -77.0271, 04 C1 27 62 36 = 38.9753, 04 C1 27 62 3B = 38.9758.
      {k_map, "MAP_STREETS", "LINK_ID", "18465492", "GEOMETRY",
       "LINESTRING (-77.0271 38.9753, -77.0271 38.9758)"},
      // 05 3E 18 60 57 66 = -77.0514, 04 C1 27 5C 29 = 38.914.
      {k_map, "MAP_PARKFACILITY_POINTS", "POI_ID", "17717759", "GEOMETRY",
       "POINT (-77.0514 38.914)"},
      // SDO_ELEM_INFO (1, 3, 1): a ring of the old kind; 06 3E 18 62 10 1A 66
      // = -77.038575, 05 C1 27 55 08 27 = 38.840738 ...
      {k_zip, "ZIP5_DC", "ZCTA", "203XX", "GEOM",
       "POLYGON ((-77.038575 38.840738, -77.038499 38.838912, -77.041699 38.840212, "
       "-77.038575 38.840738))"},
      // Exponent byte 3D: hundreds first; 06 3D 64 4F 3C 03 66 = -(1, 22, 41, 98) = -122.4198.
      {k_streets, "US_STREETS", "ID", "23619768", "GEOMETRY",
       "LINESTRING (-122.4198 37.77818, -122.42018 37.78002)"},
      {k_streets, "US_POIS", "ID", "17592592", "GEOMETRY", "POINT (-122.4448 37.7988)"},
      // British National Grid (SRID 03 C3 03 4E = 27700): 07 C3 2D 18 10 23 1C 4F
      // = (44, 23, 15, 34, 27, 78) = 442315.342778 ...
      {k_buildings, "BUILDING_FOOTPRINTS", "BUILDING_ID", "72", "GEOM",
       "POLYGON ((442315.342778 111248.657285, 442317.268765 111245.040575, "
       "442321.566928 111247.576869, 442315.342778 111248.657285))"},
      // 01 80 is zero; 02 C1 02 is 1.
      {k_network, "BI_TEST_NODE$", "NODE_ID", "1", "GEOMETRY", "POINT (0 0)"},
      {k_network, "BI_TEST_LINK$", "LINK_ID", "1", "GEOMETRY", "LINESTRING (0 0, 1 0)"},
  };
  for (const spot& s : spots) {
    if (!tk_test_exists(corpus_dumps_dir() + "/spatial/" + s.file)) GTEST_SKIP() << s.file;
    corpus_expect_rows(converted(s.file), s.table, {{s.key_column, s.key, {{s.column, s.wkt}}}});
  }
}

// The restaurants carry their position twice: as the point and as the
// LOC_LONG / LOC_LAT numbers.
TEST(spatial_cross_checks, restaurant_points_equal_their_coordinate_columns) {
  REQUIRE_SPATIAL_DUMP(k_map);
  const csv_test_table t = corpus_table_of(converted(k_map), "US_RESTAURANTS");
  ASSERT_TRUE(t.ok);
  ASSERT_EQ(t.rows.size(), 1645u);
  for (const auto& row : t.rows)
    ASSERT_EQ(t.value(row, "LOCATION"),
              "POINT (" + t.value(row, "LOC_LONG") + " " + t.value(row, "LOC_LAT") + ")")
        << "POI_ID " << t.value(row, "POI_ID");
}

// Each link of the network starts at its start node's point and ends at its
// end node's point.
TEST(spatial_cross_checks, network_links_end_at_their_nodes) {
  REQUIRE_SPATIAL_DUMP(k_network);
  const talvex_test_conversion& c = converted(k_network);
  const csv_test_table nodes = corpus_table_of(c, "BI_TEST_NODE$");
  const csv_test_table links = corpus_table_of(c, "BI_TEST_LINK$");
  ASSERT_TRUE(nodes.ok && links.ok);
  std::map<std::string, std::string> at;  // node id -> "x y"
  for (const auto& row : nodes.rows) {
    const std::string p = nodes.value(row, "GEOMETRY");
    ASSERT_EQ(p.rfind("POINT (", 0), 0u) << p;
    at[nodes.value(row, "NODE_ID")] = p.substr(7, p.size() - 8);
  }
  ASSERT_EQ(links.rows.size(), 440u);
  for (const auto& row : links.rows) {
    const std::string l = links.value(row, "GEOMETRY");
    ASSERT_EQ(l.rfind("LINESTRING (", 0), 0u) << l;
    const std::string points = l.substr(12, l.size() - 13);
    const std::string first = points.substr(0, points.find(", "));
    const std::string last =
        points.substr(points.rfind(", ") == std::string::npos ? 0 : points.rfind(", ") + 2);
    EXPECT_EQ(first, at[links.value(row, "START_NODE_ID")]) << l;
    EXPECT_EQ(last, at[links.value(row, "END_NODE_ID")]) << l;
  }
}

// --ewkt puts the SRID in front of geometries that have one, and only there.
TEST(spatial_ewkt, srid_prefix_where_the_geometry_has_one) {
  REQUIRE_SPATIAL_DUMP(k_zip);
  REQUIRE_SPATIAL_DUMP(k_network);
  for (const char* file : {k_zip, k_network}) {
    talvex_test_conversion c;
    talvex_test_convert(c, corpus_dumps_dir() + "/spatial/" + file, {"--ewkt"});
    corpus_expect_clean_run(c);
    const bool zip = file == k_zip;
    const csv_test_table t = corpus_table_of(c, zip ? "ZIP5_DC" : "BI_TEST_NODE$");
    const csv_test_table plain =
        corpus_table_of(converted(file), zip ? "ZIP5_DC" : "BI_TEST_NODE$");
    ASSERT_TRUE(t.ok && plain.ok);
    const std::vector<std::string> with = t.values(zip ? "GEOM" : "GEOMETRY");
    const std::vector<std::string> without = plain.values(zip ? "GEOM" : "GEOMETRY");
    ASSERT_EQ(with.size(), without.size());
    for (size_t k = 0; k < with.size(); ++k)
      EXPECT_EQ(with[k], (zip ? "SRID=8307;" : "") + without[k]);
  }
}
