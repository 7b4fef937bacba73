// Classic (exp) dumps through the engine: header, catalogue, description
// blocks of every export version, rows, LOBs after the row, damaged input.
#include <gtest/gtest.h>

#include "engine_test_util.h"
#include "fixtures/classic_dump_writer.h"
#include "oracle_dump/ora_dump_table.h"

namespace {

using col = ora_dump_fx_column;
using cell = ora_dump_fx_cell;

ora_dump_fx_table emp_table() {
  ora_dump_fx_table t;
  t.name = "EMP";
  t.columns = {col::number("EMPNO", 4, 0), col::varchar2("ENAME", 10), col::date("HIREDATE"),
               col::number("SAL", 7, 2), col::number("COMM", 7, 2)};
  t.rows = {
      {{cell::number("7369"), cell::text("SMITH"), cell::date(1980, 12, 17), cell::number("800"),
        cell::null()}},
      {{cell::number("7499"), cell::text("ALLEN"), cell::date(1981, 2, 20), cell::number("1600"),
        cell::number("300")}},
  };
  return t;
}

}  // namespace

TEST(ClassicReader, ReadsRowsOfEveryExportVersion) {
  for (const ora_dump_fx_version v :
       {ora_dump_fx_version{7, 3, 4}, ora_dump_fx_version{8, 1, 7}, ora_dump_fx_version{8, 0, 6},
        ora_dump_fx_version{9, 2, 0}, ora_dump_fx_version{10, 2, 1}, ora_dump_fx_version{11, 2, 0},
        ora_dump_fx_version{19, 0, 0}}) {
    ora_dump_fx_header h;
    h.version = v;
    if (v.major == 7) h.client_charset = ora_dump_fx_cs_we8mswin1252;
    ora_dump_fx_writer w(h);
    w.table(emp_table()).exit();
    engine_fixture_file file(w.bytes());
    ora_dump_reader reader;
    auto db = engine_open(reader, file.path);
    ASSERT_EQ(db->get_tables().size(), 1u) << v.text();
    const engine_table_rows r = engine_read(*db, "EMP");
    EXPECT_EQ(r.error, "") << v.text();
    ASSERT_EQ(r.rows.size(), 2u) << v.text();
    EXPECT_EQ(r.rows[0], (std::vector<std::string>{"7369", "SMITH", "1980-12-17", "800", ""}))
        << v.text();
    EXPECT_EQ(r.rows[1], (std::vector<std::string>{"7499", "ALLEN", "1981-02-20", "1600", "300"}))
        << v.text();
  }
}

TEST(ClassicReader, DecodesEveryScalarType) {
  ora_dump_fx_writer w;
  ora_dump_fx_table t;
  t.name = "T";
  t.columns = {col::number("N"),        col::number("BIG", 20),   col::varchar2("V", 40),
               col::fixed_char("C", 3), col::nvarchar2("NV", 10), col::timestamp("TS"),
               col::binary_float("BF"), col::binary_double("BD"), col::interval_ds("IDS"),
               col::interval_ym("IYM"), col::raw("R", 4),         col::float_("F")};
  t.rows = {{{cell::number("-12345678901234567.89"), cell::number("98999999999999999999"),
              cell::text("Citt\xC3\xA0 \xE2\x82\xAC"), cell::text("ab "),
              cell::bytes(ora_dump_fx_utf16be("\xED\x95\x9C")),
              cell::timestamp(2024, 1, 15, 9, 30, 47, 109325700), cell::binary_float(-0.1f),
              cell::binary_double(16777216.5), cell::interval_ds(3, 2, 1, 0, 500000),
              cell::interval_ym(-1, -2), cell::bytes(std::string("\x01\xAB\x00\xFF", 4)),
              cell::number("0.1")}}};
  w.table(t).exit();
  engine_fixture_file file(w.bytes());
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  const engine_table_rows r = engine_read(*db, "T");
  EXPECT_EQ(r.error, "");
  ASSERT_EQ(r.rows.size(), 1u);
  EXPECT_EQ(r.rows[0],
            (std::vector<std::string>{"-12345678901234567.89", "98999999999999999999",
                                      "Citt\xC3\xA0 \xE2\x82\xAC", "ab ", "\xED\x95\x9C",
                                      "2024-01-15 09:30:47.109325700", "-0.1", "16777216.5",
                                      "3 02:01:00.000500", "-1-02", "0x01AB00FF", "0.1"}));
}

TEST(ClassicReader, LobsAfterTheRowAndLongs) {
  ora_dump_fx_writer w;
  ora_dump_fx_table t;
  t.name = "DOCS";
  t.columns = {col::number("ID"), col::clob("BODY"), col::blob("PIC"), col::varchar2("TAIL", 10)};
  std::string big(20000, 'x');
  big[19999] = 'y';
  t.rows = {
      {{cell::number("1"), cell::lob(ora_dump_fx_utf16be("short")), cell::lob("\x01\x02\x03"),
        cell::text("a")}},
      {{cell::number("2"), cell::null(), cell::lob_chunked(std::string(9000, '\x07')),
        cell::text("b")}},
      {{cell::number("3"), cell::lob_chunked(ora_dump_fx_utf16be(big), 16264), cell::null(),
        cell::text("c")}},
      {{cell::number("4"), cell::null(),
        cell::lob_fa("\x10\x20\x30\x40\x50\x60\x70\x80\x90\xA0", 4), cell::null()}},
  };
  ora_dump_fx_table l;
  l.name = "LOG";
  l.columns = {col::number("ID"), col::long_text("MSG")};
  l.rows = {{{cell::number("1"), cell::long_chunked(std::string(7000, 'L'), 3000)}},
            {{cell::number("2"), cell::text("plain long")}}};
  w.table(t).table(l).exit();
  engine_fixture_file file(w.bytes());
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  const engine_table_rows r = engine_read(*db, "DOCS");
  EXPECT_EQ(r.error, "");
  ASSERT_EQ(r.rows.size(), 4u);
  EXPECT_EQ(r.rows[0], (std::vector<std::string>{"1", "short", "0x010203", "a"}));
  EXPECT_EQ(r.rows[1][2].size(), 2u + 2 * 9000);
  EXPECT_EQ(r.rows[1][3], "b");
  EXPECT_EQ(r.rows[2][1], big);
  EXPECT_EQ(r.rows[3][2], "0x102030405060708090A0");
  const engine_table_rows lr = engine_read(*db, "LOG");
  EXPECT_EQ(lr.error, "");
  ASSERT_EQ(lr.rows.size(), 2u);
  EXPECT_EQ(lr.rows[0][1], std::string(7000, 'L'));
  EXPECT_EQ(lr.rows[1][1], "plain long");
}

// Geometries between ordinary columns, in the row layouts of 10.1 (every
// length in the long form) and later versions: each becomes its exact WKT,
// and a value WKT cannot hold leaves its field empty, reports the column
// and keeps the rest of the row in place.
TEST(ClassicReader, SpatialColumnsBecomeExactWkt) {
  for (const ora_dump_fx_version v :
       {ora_dump_fx_version{10, 1, 0}, ora_dump_fx_version{11, 2, 0}}) {
    const bool long_lengths = v.major == 10;
    ora_dump_fx_sdo pt;
    pt.gtype = "2001";
    pt.srid = "8307";
    pt.point = true;
    pt.x = "-77.02298";
    pt.y = "38.908702";
    pt.long_lengths = long_lengths;
    ora_dump_fx_sdo holed;
    holed.gtype = "2003";
    holed.srid = "27700";
    holed.elem_info = {{"1", "1003", "1", "11", "2003", "1"}};
    holed.ordinates = {{"530000.5",  "180000",   "530010",    "180000",   "530010",
                        "180010.25", "530000.5", "180010.25", "530000.5", "180000",
                        "530002",    "180002",   "530002",    "180004",   "530004",
                        "180004",    "530004",   "180002",    "530002",   "180002"}};
    holed.long_lengths = long_lengths;
    ora_dump_fx_sdo unknown = pt;
    unknown.gtype = "2000";
    std::string damaged = ora_dump_fx_sdo_image(pt);
    damaged[3] = '\x05';  // the image length no longer fits the field

    ora_dump_fx_header h;
    h.version = v;
    ora_dump_fx_writer w(h);
    ora_dump_fx_table t;
    t.name = "PARCELS";
    t.columns = {col::number("ID"), col::sdo_geometry("GEOM"), col::varchar2("NAME", 20),
                 col::object("SHAPES", ora_dump_fx_code_varray, "MDSYS", "SDO_GEOMETRY_ARRAY",
                             "\"MDSYS\".\"SDO_GEOMETRY_ARRAY\"")};
    t.rows = {
        {{cell::number("1"), cell::sdo(pt), cell::text("point"), cell::null()}},
        {{cell::number("2"), cell::sdo(holed), cell::text("holed"), cell::bytes("\x01\x02")}},
        {{cell::number("3"), cell::null(), cell::text("none"), cell::null()}},
        {{cell::number("4"), cell::sdo(unknown), cell::text("unknown"), cell::null()}},
        {{cell::number("5"), cell::bytes(damaged), cell::text("damaged"), cell::null()}},
    };
    w.table(t).exit();
    engine_fixture_file file(w.bytes());
    ora_dump_reader reader;
    auto db = engine_open(reader, file.path);
    const engine_table_rows r = engine_read(*db, "PARCELS");
    EXPECT_EQ(r.error, "") << v.text();
    const std::vector<std::vector<std::string>> want = {
        {"1", "POINT (-77.02298 38.908702)", "point", ""},
        {"2",
         "POLYGON ((530000.5 180000, 530010 180000, 530010 180010.25, 530000.5 180010.25, "
         "530000.5 180000), (530002 180002, 530002 180004, 530004 180004, 530004 180002, "
         "530002 180002))",
         "holed", "0x0102"},
        {"3", "", "none", ""},
        {"4", "", "unknown", ""},
        {"5", "", "damaged", ""},
    };
    EXPECT_EQ(r.rows, want) << v.text();
    ASSERT_EQ(r.value_errors.size(), 2u) << v.text();
    EXPECT_NE(r.value_errors[0].find("row 4: Column GEOM: SDO_GEOMETRY value cannot be written"),
              std::string::npos)
        << r.value_errors[0];
    EXPECT_NE(r.value_errors[0].find("SDO_GTYPE 2000"), std::string::npos) << r.value_errors[0];
    EXPECT_NE(r.value_errors[1].find("row 5: Column GEOM"), std::string::npos);
    EXPECT_NE(r.value_errors[1].find("(offset "), std::string::npos) << r.value_errors[1];

    // With the SRID: EWKT.
    reader.m_b_ewkt = true;
    const engine_table_rows e = engine_read(*db, "PARCELS");
    ASSERT_EQ(e.rows.size(), 5u);
    EXPECT_EQ(e.rows[0][1], "SRID=8307;POINT (-77.02298 38.908702)");
    EXPECT_EQ(e.rows[1][1].rfind("SRID=27700;POLYGON ((530000.5 180000, ", 0), 0u);
  }
}

// XMLTYPE values stored inline (8 header bytes, then the text) and stored
// as CLOBs after the row, among the other LOBs in column order.
TEST(ClassicReader, XmltypeValuesInlineAndAfterTheRow) {
  ora_dump_fx_writer w;
  ora_dump_fx_table t;
  t.name = "DOCS";
  t.columns = {col::number("ID"), col::xmltype("X"), col::clob("C"), col::varchar2("TAIL", 10)};
  t.rows = {
      {{cell::number("1"), cell::xml_inline("<a>1</a>"), cell::lob(ora_dump_fx_utf16be("one")),
        cell::text("a")}},
      {{cell::number("2"), cell::xml_lob(ora_dump_fx_utf16be("<b>\xC3\xA9</b>")),
        cell::lob(ora_dump_fx_utf16be("two")), cell::text("b")}},
      {{cell::number("3"), cell::null(), cell::lob(ora_dump_fx_utf16be("three")), cell::text("c")}},
      {{cell::number("4"), cell::xml_lob(ora_dump_fx_utf16be("<d/>")), cell::null(),
        cell::text("d")}},
  };
  w.table(t).exit();
  engine_fixture_file file(w.bytes());
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  const engine_table_rows r = engine_read(*db, "DOCS");
  EXPECT_EQ(r.error, "");
  const std::vector<std::vector<std::string>> want = {
      {"1", "<a>1</a>", "one", "a"},
      {"2", "<b>\xC3\xA9</b>", "two", "b"},
      {"3", "", "three", "c"},
      {"4", "<d/>", "", "d"},
  };
  EXPECT_EQ(r.rows, want);
}

TEST(ClassicReader, CatalogueQualifiesNamesAndKeepsTheFirstOfRepeatedSections) {
  ora_dump_fx_writer w;
  w.connect("SALES").table(emp_table());
  ora_dump_fx_table dept;
  dept.name = "DEPT";
  dept.columns = {col::number("DEPTNO", 2, 0), col::varchar2("DNAME", 14)};
  dept.insert_columns = {"DNAME", "DEPTNO"};  // INSERT order differs from CREATE TABLE order
  dept.rows = {{{cell::text("ACCOUNTING"), cell::number("10")}}};
  w.table(dept);
  // The same user section once more, byte for byte.
  w.connect("SALES").table(emp_table());
  w.line("CREATE TABLE \"X\" OF XMLTYPE  XMLSCHEMA \"s\" ELEMENT \"e\"");
  w.sequence("\"SEQ1\"", "1", "999", "1", "5", true).exit();
  engine_fixture_file file(w.bytes());
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  EXPECT_EQ(db->get_tables(), (std::vector<tk_wstring>{u"SALES.DEPT", u"SALES.EMP"}));
  EXPECT_EQ(engine_read(*db, "SALES.EMP").rows.size(), 2u);
  const engine_table_rows d = engine_read(*db, "sales.dept");
  ASSERT_EQ(d.rows.size(), 1u);
  EXPECT_EQ(d.columns, (std::vector<std::string>{"DEPTNO", "DNAME"}));
  EXPECT_EQ(d.rows[0], (std::vector<std::string>{"10", "ACCOUNTING"}));
  ASSERT_EQ(db->m_sequences.size(), 1u);
  EXPECT_EQ(db->m_sequences.front().start, 5);
  EXPECT_TRUE(db->m_sequences.front().cycle);
  EXPECT_THROW(db->get_table(u"NOPE", 1), tk_exception);
}

TEST(ClassicReader, DamagedDataEndsTheTableWithAnOffsetAndKeepsEarlierRows) {
  ora_dump_fx_writer w;
  w.table(emp_table()).exit();
  std::string bytes = w.bytes();
  const size_t second_row = w.layout("EMP").sections[0].row_pos[1];

  // Cut in the middle of the second row.
  {
    engine_fixture_file file(bytes.substr(0, second_row + 5));
    ora_dump_reader reader;
    auto db = engine_open(reader, file.path);
    const engine_table_rows r = engine_read(*db, "EMP");
    EXPECT_EQ(r.rows.size(), 1u);
    EXPECT_NE(r.error.find("offset"), std::string::npos) << r.error;
  }
  // A length word pointing past the end of the file.
  {
    std::string b = bytes;
    b[second_row] = '\xF0';
    b[second_row + 1] = '\x7F';
    engine_fixture_file file(b);
    ora_dump_reader reader;
    auto db = engine_open(reader, file.path);
    const engine_table_rows r = engine_read(*db, "EMP");
    EXPECT_EQ(r.rows.size(), 1u);
    EXPECT_NE(r.error.find("EOF"), std::string::npos) << r.error;
  }
}

TEST(ClassicReader, AnInsertWithoutColumnNamesEndsTheTable) {
  // Rows that consume no bytes must not be read forever.
  ora_dump_fx_header h;
  h.version = {7, 3, 4};
  ora_dump_fx_writer w(h);
  ora_dump_fx_table t = emp_table();
  t.insert_text = "INSERT INTO \"EMP\" (EMPNO, ENAME) VALUES (:1, :2)";
  w.table(t).exit();
  engine_fixture_file file(w.bytes());
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  const engine_table_rows r = engine_read(*db, "EMP");
  EXPECT_TRUE(r.rows.empty());
  EXPECT_NE(r.error.find("no data"), std::string::npos) << r.error;
}

// A classic header always gets a classic decoder. A version word damaged
// into one the reader does not know (EXPORT:V11 read as V01) is refused with
// its message instead of being read as a Data Pump dump of empty tables.
TEST(ClassicReader, UnknownExportVersionsAreRefused) {
  for (const int major : {0, 1, 2, 6, 24, 91}) {
    ora_dump_fx_header h;
    h.version = {major, 2, 0};
    ora_dump_fx_writer w(h);
    w.table(emp_table()).exit();
    engine_fixture_file file(w.bytes());
    ora_dump_reader reader;
    try {
      engine_open(reader, file.path);
      ADD_FAILURE() << "accepted " << h.version.text();
    } catch (const tk_exception& e) {
      EXPECT_EQ(e.level(), 1);
      EXPECT_NE(std::string(e.what()).find("(" + h.version.text() + ")"), std::string::npos)
          << e.what();
    }
  }
  ora_dump_fx_header h;
  h.version = {23, 0, 0};
  ora_dump_fx_writer w(h);
  w.table(emp_table()).exit();
  engine_fixture_file file(w.bytes());
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  EXPECT_EQ(engine_read(*db, "EMP").rows.size(), 2u);
}

// Oracle allows 1000 columns. A CREATE TABLE with tens of thousands is a
// damaged table: it is refused at level 0 (the other tables go on) instead of
// costing a lookup among all earlier columns for every column added.
TEST(ClassicReader, MoreThanAThousandColumnsIsADamagedTable) {
  for (const int n : {1000, 20000}) {
    std::string ddl = "(";
    for (int i = 1; i <= n; ++i) ddl += (i > 1 ? ", \"C" : "\"C") + std::to_string(i) + "\" NUMBER";
    ddl += ")";
    ora_dump_table t(nullptr, u"T");
    if (n == 1000) {
      EXPECT_TRUE(t.process_table_desc(ddl));
      EXPECT_EQ(t.schema.size(), 1000u);
      continue;
    }
    try {
      t.process_table_desc(ddl);
      ADD_FAILURE() << n << " columns accepted";
    } catch (const tk_exception& e) {
      EXPECT_EQ(e.level(), 0);
      EXPECT_NE(std::string(e.what()).find("more than 1000 columns"), std::string::npos)
          << e.what();
    }
  }
  // Through the catalogue: the damaged table fails alone.
  ora_dump_fx_table big;
  big.name = "BIG";
  for (int i = 1; i <= 1001; ++i) big.columns.push_back(col::number("C" + std::to_string(i)));
  ora_dump_fx_writer w;
  w.table(big).table(emp_table()).exit();
  engine_fixture_file file(w.bytes());
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  try {
    db->get_table(u"BIG", 1);
    ADD_FAILURE() << "BIG opened";
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.level(), 0);
    EXPECT_GT(e.offset(), 0);
  }
  EXPECT_EQ(engine_read(*db, "EMP").rows.size(), 2u);
}

// A dump cut before or inside an INSERT statement, between two rows or
// before a section's FF FF has no damaged row to report: the rows read are
// kept and the cut is recorded as a level-0 error, so the run is not taken
// for complete.
TEST(ClassicReader, ADumpCutBetweenRowsRecordsTheCut) {
  ora_dump_fx_writer w;
  w.table(emp_table());
  const ora_dump_fx_section_layout section = w.layout("EMP").sections.at(0);
  const struct {
    size_t cut;
    size_t rows;
  } cases[] = {{section.insert_pos, 0},        {section.insert_pos + 3, 0},
               {section.insert_pos + 16, 0},   {section.description_pos - 3, 0},
               {section.row_pos.at(1), 1},     {section.end_marker_pos, 2},
               {section.end_marker_pos + 1, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cut);
    engine_fixture_file file(w.data().substr(0, c.cut));
    ora_dump_reader reader;
    auto db = engine_open(reader, file.path);
    const engine_table_rows r = engine_read(*db, "EMP");
    EXPECT_EQ(r.rows.size(), c.rows);
    const std::vector<tk_exception> errors = db->take_errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].level(), 0);
    EXPECT_NE(errors[0].text().find("ends inside the table's rows"), std::string::npos)
        << errors[0].text();
  }
  // Whole, the table ends on its marker without a word.
  w.exit();
  engine_fixture_file file(w.bytes());
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  EXPECT_EQ(engine_read(*db, "EMP").rows.size(), 2u);
  EXPECT_TRUE(db->take_errors().empty());
}

TEST(ClassicReader, RefusesWhatIsNoDump) {
  const std::string cannot_read = "The program cannot read Oracle dump file";
  for (const std::string& bytes : {std::string(), std::string("hello world, no dump here\n"),
                                   std::string("\x09\x09garbage", 9)}) {
    engine_fixture_file file(bytes);
    ora_dump_reader reader;
    try {
      engine_open(reader, file.path);
      ADD_FAILURE() << "opened";
    } catch (const tk_exception& e) {
      EXPECT_EQ(std::string(e.what()).rfind(cannot_read, 0), 0u) << e.what();
      EXPECT_EQ(e.level(), 1);
    }
  }
  // Garbage after a valid header: no tables, no crash.
  ora_dump_fx_writer w;
  std::string b = w.bytes();
  for (int i = 0; i < 5000; ++i) b.push_back(static_cast<char>((i * 7919) & 0xFF));
  engine_fixture_file file(b);
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  EXPECT_TRUE(db->get_tables().empty());
}

// EMP and "Emp" of one schema are two tables: asked for by its exact name,
// each hands out its own rows, not those of the first name that differs
// only in case.
TEST(ClassicReader, TablesWhoseNamesDifferOnlyInCaseKeepTheirRows) {
  ora_dump_fx_writer w;
  ora_dump_fx_table upper = emp_table();
  ora_dump_fx_table mixed = emp_table();
  mixed.name = "Emp";
  mixed.rows.resize(1);
  w.table(upper).table(mixed).exit();
  engine_fixture_file file(w.bytes());
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  ASSERT_EQ(db->get_tables().size(), 2u);
  EXPECT_EQ(engine_read(*db, "EMP").rows.size(), 2u);
  EXPECT_EQ(engine_read(*db, "Emp").rows.size(), 1u);
  // A spelling that matches neither exactly still finds a table.
  EXPECT_FALSE(engine_read(*db, "emp").rows.empty());
}
