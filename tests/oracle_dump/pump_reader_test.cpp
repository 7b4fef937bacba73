// Data Pump reading: the catalogue scan over synthetic dumps, the metadata
// parser, the record decoder's markers and LOB pieces, and damaged input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_test_util.h"
#include "fixtures/classic_dump_writer.h"
#include "fixtures/pump_dump_writer.h"
#include "oracle_dump/ora_dump_parser.h"
#include "oracle_dump/ora_dump_pump_reader_th.h"
#include "oracle_dump/ora_dump_table.h"

namespace {

const std::vector<pump_fx_column> k_two_numbers = {{"ID", 2, 22, 0, 0, -1, ""},
                                                   {"QTY", 2, 22, 0, 0, -1, ""}};

std::string two_rows() {
  return pump_fx_record({pump_fx_field(pump_fx_number(1)), pump_fx_field(pump_fx_number(250))}) +
         pump_fx_record({pump_fx_field(pump_fx_number(2)), pump_fx_null()}) + std::string(8, '\0');
}

}  // namespace

// The "<" of a metadata block must be found wherever it lies; a block whose
// 1024-byte neighbourhood ends in '"' (or any other byte) is not skipped.
TEST(PumpScan, FindsBlocksInEveryNeighbourhoodAndKeepsEmptyTables) {
  for (const char last : {'"', '=', '.', '\x01', '\xC3'}) {
    pump_dump_writer w(873);
    w.add_raw(std::string(300, 'x'));
    // The document starts inside [4096, 5120); that block's last byte is `last`.
    const size_t doc_start = w.size();
    w.add_stream_table("SCOTT", "ITEMS", k_two_numbers, two_rows());
    ASSERT_LT(w.size(), 5119u);
    w.pad_to(5119, '\0');
    w.add_raw(std::string(1, last));
    // An empty table, known only from a UTF-16 TABLE_T split in pieces and
    // followed directly by the next master row's flag byte.
    w.add_lob_table_doc("SCOTT", "EMPTY_ONE", k_two_numbers, "\x08\x30\x03\xC2\x02\x5E", 700);
    w.add_raw(std::string(64, '\0'));
    ASSERT_GE(doc_start, 4096u);

    engine_fixture_file file(w.bytes());
    ora_dump_reader reader;
    auto db = engine_open(reader, file.path);
    ASSERT_EQ(db->tables()->size(), 2u) << "last byte " << static_cast<int>(last);
    const table_pos& empty = db->tables()->at(u"EMPTY_ONE");
    EXPECT_TRUE(empty.v_data_start_pos.empty()) << "a TABLE_T document never starts row data";

    const engine_table_rows items = engine_read(*db, "ITEMS");
    EXPECT_EQ(items.columns, (std::vector<std::string>{"ID", "QTY"}));
    EXPECT_EQ(items.rows, (std::vector<std::vector<std::string>>{{"1", "250"}, {"2", ""}}));
    EXPECT_EQ(items.error, "");
    const engine_table_rows none = engine_read(*db, "EMPTY_ONE");
    EXPECT_EQ(none.columns, (std::vector<std::string>{"ID", "QTY"}));
    EXPECT_TRUE(none.rows.empty());
  }
}

TEST(PumpScan, SameNameUnderTwoOwnersGetsTheFullNameKey) {
  pump_dump_writer w(178);
  w.add_stream_table("A", "T", k_two_numbers, two_rows());
  w.add_stream_table("B", "T", k_two_numbers, two_rows());
  engine_fixture_file file(w.bytes());
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  EXPECT_EQ(db->tables()->count(u"T"), 1u);
  EXPECT_EQ(db->tables()->count(u"B.T"), 1u);
  EXPECT_EQ(engine_read(*db, "B.T").rows.size(), 2u);
}

// A block that only dresses up as metadata (its "<ROWSET><ROW>" in a
// comment, a DOCTYPE before its ROWSET) is refused with an error and never
// parsed; XML that is no metadata at all (a document in a CLOB value) is
// passed over without one.
TEST(PumpScan, ForgedMetadataBlocksAreRefusedWithAnError) {
  engine_fixture_file secret("SECRETNAME");
  const std::string strm = "<STRMTABLE_T><OWNER_NAME>O</OWNER_NAME><NAME>";
  const std::string tail = "</NAME></STRMTABLE_T></ROW></ROWSET>";
  const std::string header = std::string("\0\0\x03\x69", 4);
  pump_dump_writer w(873);
  w.add_stream_table("S", "GOOD", k_two_numbers, two_rows());
  const size_t forged = w.size() + 4;
  w.add_raw(header + "<?xml version=\"1.0\"?><!--<ROWSET><ROW>--><ROWSET><ROW>" + strm + "FORGED" +
            tail);
  const size_t doctype = w.size() + 4;
  w.add_raw(header +
            "<?xml version=\"1.0\"?><!--<ROWSET><ROW>--><!DOCTYPE x [<!ENTITY e SYSTEM \"" +
            secret.path + "\">]><ROWSET><ROW>" + strm + "&e;" + tail);
  w.add_raw(header +
            "<?xml version=\"1.0\"?><!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" "
            "\"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\"><svg/>");
  w.add_raw(std::string(16, '\0'));
  engine_fixture_file file(w.bytes());
  // Twice: a catalogue with refused blocks is not taken from a cache file,
  // so the second opening reports them as well.
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    ora_dump_reader reader;
    auto db = engine_open(reader, file.path);
    ASSERT_EQ(db->tables()->size(), 1u);
    EXPECT_EQ(db->tables()->count(u"GOOD"), 1u);
    const std::vector<tk_exception> errors = db->take_errors();
    ASSERT_EQ(errors.size(), 2u);
    for (const tk_exception& e : errors) {
      EXPECT_EQ(e.level(), 0);
      EXPECT_NE(e.text().find("metadata block is skipped"), std::string::npos) << e.text();
      EXPECT_EQ(e.text().find("SECRETNAME"), std::string::npos) << e.text();
    }
    EXPECT_EQ(errors[0].offset(), static_cast<int64_t>(forged));
    EXPECT_EQ(errors[1].offset(), static_cast<int64_t>(doctype));
    EXPECT_NE(errors[1].text().find("DOCTYPE"), std::string::npos) << errors[1].text();
    EXPECT_TRUE(db->take_errors().empty()) << "each error is handed out once";
  }
}

// Documents that never close, plain and as chains of LOB pieces, each of
// whose pieces could begin a document of its own: the scan reads them once
// (it used to search to the end of the file for each), and a cut-short
// document does not swallow the complete one after it.
TEST(PumpScan, UnterminatedDocumentsAreReadOnce) {
  const std::string open = "<?xml version=\"1.0\"?><ROWSET><ROW>";
  pump_dump_writer w(873);
  w.add_stream_table("S", "FIRST", k_two_numbers, two_rows());
  while (w.size() < (2u << 20)) w.add_raw(std::string(4, '\0') + open + "<STRMTABLE_T>");
  const std::string piece = open + std::string(64 - open.size(), 'x');
  w.add_raw(std::string("\x01\xFE\x00\x40", 4) + piece);
  while (w.size() < (4u << 20)) w.add_raw(std::string("\x03\x01\xFE\x00\x40", 5) + piece);
  w.add_raw(std::string(8, '\0'));
  w.add_stream_table("S", "LAST", k_two_numbers, two_rows());
  engine_fixture_file file(w.bytes());
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  ASSERT_EQ(db->tables()->size(), 2u);
  EXPECT_EQ(engine_read(*db, "FIRST").rows.size(), 2u);
  EXPECT_EQ(engine_read(*db, "LAST").rows.size(), 2u);
  // The damage is reported, once.
  const std::vector<tk_exception> errors = db->take_errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].text().find("metadata blocks are cut short"), std::string::npos)
      << errors[0].text();
}

// A dump cut inside a table's metadata block loses that table and all after
// it: the scan says so instead of passing for a dump of fewer tables.
TEST(PumpScan, ADumpCutInsideAMetadataBlockIsReported) {
  pump_dump_writer w(873);
  w.add_stream_table("S", "FIRST", k_two_numbers, two_rows());
  const size_t second = w.size();
  w.add_stream_table("S", "SECOND", k_two_numbers, two_rows());
  engine_fixture_file file(w.bytes().substr(0, second + 200));
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  EXPECT_EQ(db->tables()->size(), 1u);
  const std::vector<tk_exception> errors = db->take_errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].offset(), static_cast<int64_t>(second + 4));
  EXPECT_NE(errors[0].text().find("is cut short"), std::string::npos) << errors[0].text();
}

// A column type number the reader does not know: the column comes out as
// raw bytes, the columns after it keep their values, and the table reports
// it once as a level-0 error.
TEST(PumpScan, AnUnknownColumnTypeKeepsTheRowAndIsReportedOnce) {
  const std::vector<pump_fx_column> cols = {
      {"ID", 2, 22, 0, 0}, {"ODD", 999, 8, 0, 0}, {"QTY", 2, 22, 0, 0}};
  const std::string rows =
      pump_fx_record({pump_fx_field(pump_fx_number(1)), pump_fx_field("\xAB\xCD"),
                      pump_fx_field(pump_fx_number(250))}) +
      pump_fx_record(
          {pump_fx_field(pump_fx_number(2)), pump_fx_null(), pump_fx_field(pump_fx_number(7))}) +
      std::string(8, '\0');
  pump_dump_writer w(873);
  w.add_stream_table("S", "T", cols, rows);
  engine_fixture_file file(w.bytes());
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  EXPECT_TRUE(db->take_errors().empty());
  for (int pass = 0; pass < 2; ++pass) {
    const engine_table_rows t = engine_read(*db, "T");
    EXPECT_EQ(t.columns, (std::vector<std::string>{"ID", "ODD", "QTY"}));
    ASSERT_EQ(t.rows.size(), 2u);
    EXPECT_EQ(t.rows[0][0], "1");
    EXPECT_NE(t.rows[0][1], "");
    EXPECT_EQ(t.rows[0][2], "250");
    EXPECT_EQ(t.rows[1], (std::vector<std::string>{"2", "", "7"}));
    const std::vector<tk_exception> errors = db->take_errors();
    if (pass == 0) {
      ASSERT_EQ(errors.size(), 1u);
      EXPECT_EQ(errors[0].level(), 0);
      EXPECT_NE(errors[0].text().find("'ODD'"), std::string::npos) << errors[0].text();
      EXPECT_NE(errors[0].text().find("999"), std::string::npos) << errors[0].text();
    } else {
      EXPECT_TRUE(errors.empty()) << "reported once per table and column";
    }
  }
}

// A dump cut right after a table's last complete row: the rows are kept
// and the cut is recorded as a level-0 error (rows of a Data Pump table are
// always followed by more of the dump).
TEST(PumpScan, ADumpCutBetweenRowsRecordsTheCut) {
  const std::string row1 =
      pump_fx_record({pump_fx_field(pump_fx_number(1)), pump_fx_field(pump_fx_number(5))});
  const std::string row2 =
      pump_fx_record({pump_fx_field(pump_fx_number(2)), pump_fx_field(pump_fx_number(6))});
  pump_dump_writer w(873);
  w.add_stream_table("S", "T", k_two_numbers, row1 + row2);
  for (const size_t cut : {w.size() - row2.size(), w.size()}) {
    engine_fixture_file file(w.bytes().substr(0, cut));
    ora_dump_reader reader;
    auto db = engine_open(reader, file.path);
    EXPECT_EQ(engine_read(*db, "T").rows.size(), cut == w.size() ? 2u : 1u);
    const std::vector<tk_exception> errors = db->take_errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].text().find("ends inside the table's rows"), std::string::npos)
        << errors[0].text();
  }
  w.add_raw(std::string(8, '\0'));
  engine_fixture_file file(w.bytes());
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  EXPECT_EQ(engine_read(*db, "T").rows.size(), 2u);
  EXPECT_TRUE(db->take_errors().empty());
}

TEST(PumpScan, HeaderRefusals) {
  struct row {
    int part;
    uint8_t flags;
    const char* message;  // nullptr: accepted
  };
  const row rows[] = {
      {0, 0x02, nullptr},      {1, 0x20, nullptr},      {2, 0x00, "non-leading part"},
      {0, 0x04, "compressed"}, {0, 0x66, "compressed"}, {0, 0x40, "encypted"},
  };
  for (const row& r : rows) {
    pump_dump_writer w(873);
    w.set_part(r.part);
    w.set_flags(r.flags);
    w.add_stream_table("S", "T", k_two_numbers, two_rows());
    engine_fixture_file file(w.bytes());
    ora_dump_reader reader;
    if (r.message == nullptr) {
      EXPECT_NO_THROW(engine_open(reader, file.path));
    } else {
      try {
        engine_open(reader, file.path);
        ADD_FAILURE() << "accepted part " << r.part << " flags " << int(r.flags);
      } catch (const tk_exception& e) {
        EXPECT_NE(std::string(e.what()).find(r.message), std::string::npos) << e.what();
      }
    }
  }
}

// TIMESTAMP(9) keeps its nanoseconds; TIMESTAMP WITH TIME ZONE prints the
// clock the user stored with its offset; WITH LOCAL TIME ZONE prints the
// stored clock as it is.
TEST(PumpRows, TimestampsAsStored) {
  const std::vector<pump_fx_column> cols = {
      {"TS9", 180, 11, 0, 0, 9}, {"TSTZ", 181, 13, 0, 0, 6}, {"TSLTZ", 231, 11, 0, 0, 6}};
  // 2026-01-01 06:30:00.000000400 UTC, written at +02:00.
  const std::string clock("\x78\x7E\x01\x01\x07\x1F\x01", 7);
  const std::string ns400("\x00\x00\x01\x90", 4);
  const std::string rows =
      pump_fx_record({pump_fx_field(clock + ns400), pump_fx_field(clock + ns400 + "\x16\x3C"),
                      pump_fx_field(clock + ns400)}) +
      std::string(8, '\0');
  pump_dump_writer w(873);
  w.add_stream_table("S", "T", cols, rows);
  engine_fixture_file file(w.bytes());
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  const engine_table_rows t = engine_read(*db, "T");
  EXPECT_EQ(t.error, "");
  EXPECT_EQ(t.rows, (std::vector<std::vector<std::string>>{{"2026-01-01 06:30:00.000000400",
                                                            "2026-01-01 08:30:00.000000400 +02:00",
                                                            "2026-01-01 06:30:00.000000400"}}));
}

// A header without a valid block size is damaged: its part number means
// nothing, so it is reported as damaged (with the offset and, for a file that
// went through a UTF-8 text conversion, that mark), never as a later part of
// a multi-file dump.
TEST(PumpScan, ADamagedHeaderIsReportedAsDamaged) {
  pump_dump_writer w(873);
  w.add_stream_table("S", "T", k_two_numbers, two_rows());
  std::string bytes = w.bytes();
  // What a text round trip does to a header: bytes shift, EF BF BD appear.
  bytes.replace(2, 1, "\xEF\xBF\xBD");
  bytes.replace(33, 6, std::string("\xBF\xBD\x00\x00\x00\x01", 6));
  engine_fixture_file file(bytes);
  ora_dump_reader reader;
  try {
    engine_open(reader, file.path);
    ADD_FAILURE() << "accepted";
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.level(), 1);
    EXPECT_EQ(std::string(e.what()),
              "The dump file is damaged: its Data Pump header breaks at offset 35 (block size 1). "
              "From offset 2 it holds UTF-8 replacement characters (EF BF BD): the file was "
              "converted as text on its way here. Use a copy transferred as binary.");
  }
  EXPECT_EQ(reader.get_progress(), -1);
}

// Truncated and damaged dumps: no crash, no hang, no read past the end.
TEST(PumpScan, DamagedDumpsNeverCrash) {
  pump_dump_writer w(873);
  w.add_stream_table("S", "T", k_two_numbers, two_rows());
  w.add_lob_table_doc("S", "E", k_two_numbers, "\x0C\x50", 300);
  const std::string good = w.bytes();
  for (size_t cut = 4096; cut < good.size(); cut += 7) {
    std::string bad = good.substr(0, cut);
    if (cut % 2) bad[cut / 2 + 2048] = '\xFE';
    engine_fixture_file file(bad);
    ora_dump_reader reader;
    try {
      auto db = engine_open(reader, file.path);
      for (const auto& [key, pos] : *db->tables()) {
        (void)pos;
        try {
          engine_read(*db, tk_u8(key));
        } catch (const tk_exception&) {
        }
      }
    } catch (const tk_exception&) {
    }
  }
}

// ---- metadata parser ------------------------------------------------------------

namespace {

std::string item(int col_num, int segcol, int property, const char* name, int type,
                 int precision = 0, int scale = 0, int charset = 0) {
  return "<COL_LIST_ITEM><COL_NUM>" + std::to_string(col_num) + "</COL_NUM><SEGCOL_NUM>" +
         std::to_string(segcol) + "</SEGCOL_NUM><PROPERTY>" + std::to_string(property) +
         "</PROPERTY><NAME>" + name + "</NAME><TYPE_NUM>" + std::to_string(type) +
         "</TYPE_NUM><LENGTH>22</LENGTH><PRECISION_NUM>" + std::to_string(precision) +
         "</PRECISION_NUM><SCALE>" + std::to_string(scale) + "</SCALE><CHARSETID>" +
         std::to_string(charset) + "</CHARSETID></COL_LIST_ITEM>";
}

std::string doc(const std::string& items, const std::string& extra = "") {
  return "<?xml version=\"1.0\"?><ROWSET><ROW><TABLE_T><SCHEMA_OBJ><OWNER_NAME>O</OWNER_NAME>"
         "<NAME>T</NAME></SCHEMA_OBJ><COL_LIST>" +
         items + "</COL_LIST>" + extra + "</TABLE_T></ROW></ROWSET>";
}

}  // namespace

TEST(PumpParser, ColumnsFromTheColumnList) {
  ora_xml_platform platform;
  const std::string xml =
      doc(item(1, 1, 0, "A", 2, 2, 5) +            // precision < scale: swapped
              item(2, 2, 32 + 256, "HIDDEN", 2) +  // hidden, system-generated
              item(3, 3, 0, "N", 1, 0, 0, 2000) +  // its second item decides the charset
              item(3, 3, 0, "N_AGAIN", 1, 0, 0, 873) + item(95, 4, 0, "HIGH", 12) +
              item(6, 5, 0, "SEG", 180),
          "<CON1_LIST><CON1_LIST_ITEM><NAME>PK_T</NAME><CONTYPE>2</CONTYPE><COL_LIST>"
          "<COL_LIST_ITEM><COL><COL_NUM>1</COL_NUM><NAME>A</NAME></COL></COL_LIST_ITEM>"
          "</COL_LIST></CON1_LIST_ITEM></CON1_LIST>");
  ora_dump_table table(nullptr, u"T");
  ora_dump_parser parser;
  parser.parse_table_description(xml.data(), xml.size(), &table);
  std::vector<std::string> names;
  for (const t_ftd* f : table.schema) names.push_back(tk_u8(f->name));
  // Keyed by effective number: SEG (segcol 5 != col 6) sorts before HIGH (col 95 > 90).
  EXPECT_EQ(names, (std::vector<std::string>{"A", "N", "SEG", "HIGH"}));
  const auto* a = static_cast<const t_orcale_ftd*>(table.schema[0]);
  EXPECT_EQ(a->precision, 5u);
  EXPECT_EQ(a->scale, 2u);
  EXPECT_EQ(a->vartype, VT_DECIMAL);
  const auto* n = static_cast<const t_orcale_ftd*>(table.schema[1]);
  EXPECT_EQ(n->ora_type, ORA_VARCHAR2);
  EXPECT_EQ(n->charset_id, 873) << "a second item only updates the character set";
  ASSERT_EQ(table.indexes.size(), 1u);
  EXPECT_TRUE(table.indexes[0].primary);
  EXPECT_EQ(table.indexes[0].fields, std::vector<tk_wstring>{u"A"});
}

TEST(PumpParser, CatalogueModeAndBadDocuments) {
  ora_xml_platform platform;
  ora_dump_parser parser;
  const std::string good = doc(item(1, 1, 0, "A", 2));
  EXPECT_EQ(parser.parse_database_objects(good.data(), good.size()), u"T");
  EXPECT_EQ(parser.owner(), u"O");
  EXPECT_EQ(parser.kind(), ora_dump_parser::OBJ_TABLE);
  for (const std::string& bad :
       {std::string("<?xml version=\"1.0\"?><ROWSET><ROW><TABLE_T><SCH"),
        std::string("<?xml version=\"1.0\"?><ROWSET></ROW>"), std::string()}) {
    EXPECT_EQ(parser.parse_database_objects(bad.data(), bad.size()), u"");
    ora_dump_table table(nullptr, u"T");
    parser.parse_table_description(bad.data(), bad.size(), &table);
    EXPECT_TRUE(table.schema.empty());
  }
  // An unknown type number keeps its column (as raw bytes) and the columns
  // after it; the parser names it for the report.
  const std::string unknown =
      doc(item(1, 1, 0, "A", 2) + item(2, 2, 0, "B", 999) + item(3, 3, 0, "C", 2));
  ora_dump_table table(nullptr, u"T");
  parser.parse_table_description(unknown.data(), unknown.size(), &table);
  ASSERT_EQ(table.schema.size(), 3u);
  EXPECT_EQ(static_cast<const t_orcale_ftd*>(table.schema[1])->ora_type, ORA_RAW);
  ASSERT_EQ(parser.unknown_types().size(), 1u);
  EXPECT_EQ(parser.unknown_types()[0].column, u"B");
  EXPECT_EQ(parser.unknown_types()[0].type_num, 999);
}

// Oracle never writes a DOCTYPE. A document with one is refused before its
// entities are read: no local file turns into a name, no entity expands.
TEST(PumpParser, DocumentsWithADoctypeAreRefusedUnread) {
  ora_xml_platform platform;
  ora_dump_parser parser;
  engine_fixture_file secret("SECRETNAME");
  const std::string body =
      "<ROWSET><ROW><STRMTABLE_T><OWNER_NAME>O</OWNER_NAME><NAME>&e;</NAME><COL_LIST>" +
      item(1, 1, 0, "A", 2) + "</COL_LIST></STRMTABLE_T></ROW></ROWSET>";
  std::string laughs = "<!ENTITY e0 \"ha\">";
  for (int i = 1; i <= 6; ++i) {
    laughs += "<!ENTITY e" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) laughs += "&e" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  laughs += "<!ENTITY e \"&e6;\">";
  for (const std::string& subset : {"<!ENTITY e SYSTEM \"" + secret.path + "\">",
                                    std::string("<!ENTITY e SYSTEM \"/dev/stdin\">"), laughs}) {
    const std::string xml = "<?xml version=\"1.0\"?><!DOCTYPE x [" + subset + "]>" + body;
    EXPECT_EQ(parser.parse_database_objects(xml.data(), xml.size()), u"");
    EXPECT_NE(parser.refusal().find("DOCTYPE"), std::string::npos) << parser.refusal();
    ora_dump_table table(nullptr, u"T");
    parser.parse_table_description(xml.data(), xml.size(), &table);
    EXPECT_TRUE(table.schema.empty());
    EXPECT_NE(parser.refusal().find("DOCTYPE"), std::string::npos) << parser.refusal();
  }
  // Nothing else is refused: a good document leaves no refusal behind.
  const std::string good = doc(item(1, 1, 0, "A", 2));
  EXPECT_EQ(parser.parse_database_objects(good.data(), good.size()), u"T");
  EXPECT_EQ(parser.refusal(), "");
}

// A table with more columns than Oracle allows is damaged: refused whole,
// not cut at some column.
TEST(PumpParser, MoreThanAThousandColumnsIsADamagedTable) {
  ora_xml_platform platform;
  ora_dump_parser parser;
  for (const int n : {1000, 1001}) {
    std::string items;
    for (int i = 1; i <= n; ++i) items += item(i, i, 0, ("C" + std::to_string(i)).c_str(), 2);
    const std::string xml = doc(items);
    ora_dump_table table(nullptr, u"T");
    parser.parse_table_description(xml.data(), xml.size(), &table);
    if (n == 1000) {
      EXPECT_EQ(table.schema.size(), 1000u);
      EXPECT_EQ(parser.refusal(), "");
    } else {
      EXPECT_NE(parser.refusal().find("more than 1000 columns"), std::string::npos);
    }
  }
  // Through the catalogue: the table fails alone, at level 0.
  std::vector<pump_fx_column> wide;
  for (int i = 1; i <= 1001; ++i) wide.push_back({"C" + std::to_string(i), 2, 22, 0, 0});
  pump_dump_writer w(873);
  w.add_stream_table("S", "WIDE", wide, std::string(8, '\0'));
  w.add_stream_table("S", "T", k_two_numbers, two_rows());
  engine_fixture_file file(w.bytes());
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  try {
    db->get_table(u"WIDE", 1);
    ADD_FAILURE() << "WIDE opened";
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.level(), 0);
    EXPECT_NE(std::string(e.what()).find("more than 1000 columns"), std::string::npos) << e.what();
  }
  EXPECT_EQ(engine_read(*db, "T").rows.size(), 2u);
}

// ---- record decoder -------------------------------------------------------------

namespace {

struct decoder_fixture {
  ora_charsets cs;
  ora_dump_pump_reader_th th{cs, 3};
  std::vector<std::unique_ptr<t_orcale_ftd>> cols;
  udb_schema schema;
  udb_record rec;

  void add(uint32_t ora_type, vartype_t vt, uint32_t size = 22, uint16_t charset = 0) {
    cols.push_back(std::make_unique<t_orcale_ftd>(
        size, ora_type, u"C" + tk_u16(std::to_string(cols.size())), vt, false, ole_variant(), 0));
    cols.back()->charset_id = charset;
    schema.push_back(cols.back().get());
  }
  std::vector<std::string> read(const std::string& bytes, size_t* consumed = nullptr) {
    ora_dump_stream s(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    th.get_record(s, schema, s.size(), rec);
    if (consumed) *consumed = static_cast<size_t>(s.tell());
    std::vector<std::string> out;
    for (const udb_field& f : rec) {
      std::string t;
      if (f.get_type() == VT_ARRAY_UI1)
        t = std::to_string(f.bytes().size()) + " bytes";
      else
        f.append_text_utf8(t);
      out.push_back(t);
    }
    return out;
  }
};

}  // namespace

TEST(PumpDecoder, RecordsAndTrailingNulls) {
  decoder_fixture f;
  f.add(ORA_NUMBER, VT_DECIMAL);
  f.add(ORA_NUMBER, VT_DECIMAL);
  f.add(ORA_VARCHAR2, VT_BSTR, 10, 873);
  size_t used = 0;
  EXPECT_EQ(f.read(std::string("\x3C\x00\x0A\x02\x02\xC1\x02\xFF\x3C", 9), &used),
            (std::vector<std::string>{"1", "", ""}));
  EXPECT_EQ(used, 8u) << "the next record's marker is left";
  // 1C 00 05 01 FF: a real all-NULL row.
  EXPECT_EQ(f.read(std::string("\x1C\x00\x05\x01\xFF\x3C", 6)),
            (std::vector<std::string>{"", "", ""}));
}

TEST(PumpDecoder, TextSplitBetweenPieces) {
  decoder_fixture f;
  f.add(ORA_NUMBER, VT_DECIMAL);
  f.add(ORA_NUMBER, VT_DECIMAL);
  f.add(ORA_VARCHAR2, VT_BSTR, 10, 873);
  f.add(ORA_NUMBER, VT_DECIMAL);
  // First piece 08 with three fields, the last one cut; the 06 piece
  // continues it and holds one more field.
  const std::string bytes = std::string("\x08\x03\x02\xC1\x02\xFF\x02", 7) + "ab" +
                            std::string("\x06\x02\x02", 3) + "cd" +
                            std::string("\x02\xC1\x03\x3C", 4);
  EXPECT_EQ(f.read(bytes), (std::vector<std::string>{"1", "", "abcd", "2"}));
}

// A text continued in hundreds of thousands of pieces (09 06 headers) is
// joined in place: each piece costs its own length, not the text's so far.
TEST(PumpDecoder, ATextInAMillionPiecesIsJoinedInOnePass) {
  decoder_fixture f;
  f.add(ORA_VARCHAR2, VT_BSTR, 100, 873);
  f.add(ORA_VARCHAR2, VT_BSTR, 100, 873);
  const size_t pieces = 1000000;
  std::string bytes(
      "\x09\x01\x01"
      "a",
      4);
  bytes.reserve(4 * pieces + 16);
  for (size_t i = 0; i < pieces; ++i) bytes += std::string("\x06\x00\x01", 3) + "x";
  bytes += std::string(
      "\x01"
      "Z"
      "\x00",
      3);
  const std::vector<std::string> values = f.read(bytes);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0], "a" + std::string(pieces, 'x'));
  EXPECT_EQ(values[1], "Z");
}

TEST(PumpDecoder, EndOfData) {
  decoder_fixture f;
  const struct {
    std::string bytes;
    bool eof;
    int64_t pos_after;
  } rows[] = {
      {std::string("\x3C", 1), false, 0},
      {std::string("\x05"
                   "abcde"
                   "\x3C",
                   7),
       false, 6},
      {std::string("\x05"
                   "abcde"
                   "\x41",
                   7),
       true, 0},
      {std::string("\x00", 1), true, 0},
      {std::string("\x14", 1), true, 0},
      {std::string(), true, 0},
  };
  for (const auto& r : rows) {
    ora_dump_stream s(reinterpret_cast<const uint8_t*>(r.bytes.data()), r.bytes.size());
    EXPECT_EQ(f.th.check_for_eof(s), r.eof);
    EXPECT_EQ(s.tell(), r.pos_after);
  }
}

TEST(PumpDecoder, LobSectionAfterTheRow) {
  decoder_fixture f;
  f.add(ORA_NUMBER, VT_DECIMAL);
  f.add(ORA_BLOB, VT_BLOB, 0);
  f.add(ORA_BLOB, VT_BLOB, 0);
  f.add(ORA_CLOB, VT_BSTR, 0, 873);
  // 00 01 then a LOB of 5 + 4 bytes (02: its final chunk); FF a NULL LOB;
  // under marker 0C the CLOB is read directly, as UTF-16BE.
  const std::string one = std::string("\x0C\x04\x02\xC1\x02", 5) + std::string("\x00\x01\x05", 3) +
                          "abcde" + std::string("\x02\x01\x04", 3) + "fghi" + "\xFF" +
                          std::string("\x04\x00h\x00i", 5);
  EXPECT_EQ(f.read(one), (std::vector<std::string>{"1", "9 bytes", "", "hi"}));
  // 01 03 00 00 00: three NULL LOBs at once.
  const std::string nulls =
      std::string("\x0C\x04\x02\xC1\x03", 5) + std::string("\x01\x03\x00\x00\x00", 5);
  size_t used = 0;
  EXPECT_EQ(f.read(nulls, &used), (std::vector<std::string>{"2", "", "", ""}));
  EXPECT_EQ(used, nulls.size());
}

TEST(PumpDecoder, DamagedRecordsRaiseWithTheOffset) {
  decoder_fixture f;
  f.add(ORA_VARCHAR2, VT_BSTR, 10, 873);
  f.add(ORA_NUMBER, VT_DECIMAL);
  for (const std::string& bad : {std::string("\x3C\x00\x0A\x02\x09"
                                             "ab",
                                             7),
                                 std::string("\x3C", 1),
                                 std::string("\x0C\x02\xFE\xFF\xF0"
                                             "x",
                                             6)}) {
    try {
      f.read(bad);
      ADD_FAILURE() << "no error";
    } catch (const tk_exception& e) {
      EXPECT_NE(std::string(e.what()).find("offset"), std::string::npos) << e.what();
    }
  }
}

// ---- spatial and XMLTYPE values ---------------------------------------------------

namespace {

std::string number_field(const std::string& decimal) {
  return pump_fx_field(ora_dump_fx_number(decimal));
}

// A binary part of the LOB section: 00 01, then the image's length (one
// byte, or FE and a big-endian u16) and the image.
std::string binary_part(const std::string& image) {
  std::string out("\x00\x01", 2);
  if (image.size() < 0xFE)
    out += static_cast<char>(image.size());
  else
    out += "\xFE" + ora_dump_fx_be16(static_cast<uint16_t>(image.size()));
  return out + image;
}

// A record of ID, GEOM, QTY under marker 0C: ten fields (ID, the geometry's
// own field, its five sub-fields, its two arrays, QTY), then the LOB section.
std::string geometry_record(const std::string& id, const std::string& geom_fields,
                            const std::string& qty, const std::string& lobs) {
  return std::string("\x0C\x0A", 2) + number_field(id) + geom_fields + number_field(qty) + lobs;
}

const std::string k_two_null_parts("\x01\x02\xFF\xFF", 4);

// The line of the second record: 133 points, 266 ordinates, so that the
// array's element count takes the FE + u32 form.
std::vector<std::optional<std::string>> long_line(std::string& wkt) {
  std::vector<std::optional<std::string>> ords;
  wkt = "LINESTRING (";
  for (int k = 0; k < 133; ++k) {
    const std::string x = std::to_string(k) + ".5", y = "-" + std::to_string(k + 1);
    ords.push_back(x);
    ords.push_back(y);
    wkt += (k ? ", " : "") + x + " " + y;
  }
  wkt += ")";
  return ords;
}

std::string geometry_rows(std::string& line_wkt) {
  const std::string point_fields = std::string("\x01\x01", 2) + number_field("2001") +
                                   number_field("8307") + number_field("-77.02298") +
                                   number_field("38.908702") + pump_fx_null();
  const std::string line_fields =
      std::string("\x01\x01", 2) + number_field("2002") + std::string(4, '\xFF');
  const std::string elem = ora_dump_fx_sdo_array({"1", "2", "1"});
  std::string bad_ords = ora_dump_fx_sdo_array({"0", "0", "1", "1"});
  bad_ords[5] = '\x05';  // five elements announced, four there
  return geometry_record("1", point_fields, "3", k_two_null_parts) +
         geometry_record(
             "2", line_fields, "4",
             binary_part(elem) + binary_part(ora_dump_fx_sdo_array(long_line(line_wkt)))) +
         geometry_record("3", std::string(6, '\xFF'), "5", k_two_null_parts) +
         geometry_record("4", line_fields, "6", binary_part(elem) + binary_part(bad_ords));
}

}  // namespace

// A geometry in a Data Pump row spreads over sub-fields and LOB-section
// parts; the columns after it keep their own values (QTY = 3 once came out
// as the point's SDO_GTYPE 2001).
TEST(PumpDecoder, GeometryKeepsTheColumnsAfterIt) {
  decoder_fixture f;
  f.add(ORA_NUMBER, VT_DECIMAL);
  f.add(ORA_SDO_GEOMETRY, VT_BSTR, 0);
  f.add(ORA_NUMBER, VT_DECIMAL);
  std::string line;
  const std::string rows = geometry_rows(line) + std::string(8, '\0');
  ora_dump_stream s(reinterpret_cast<const uint8_t*>(rows.data()), rows.size());
  std::vector<std::vector<std::string>> got;
  std::vector<std::string> errors;
  while (!f.th.check_for_eof(s)) {
    ASSERT_TRUE(f.th.get_record(s, f.schema, s.size(), f.rec));
    std::vector<std::string> row;
    for (const udb_field& field : f.rec) {
      std::string t;
      field.append_text_utf8(t);
      row.push_back(t);
    }
    got.push_back(row);
    for (const tk_exception& e : f.rec.errors) errors.push_back(e.text());
    ASSERT_LT(got.size(), 5u);
  }
  const std::vector<std::vector<std::string>> want = {
      {"1", "POINT (-77.02298 38.908702)", "3"},
      {"2", line, "4"},
      {"3", "", "5"},
      {"4", "", "6"},
  };
  EXPECT_EQ(got, want);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("Column C1: SDO_GEOMETRY value cannot be written as WKT (SDO_ORDINATES"),
            std::string::npos)
      << errors[0];
}

// The same rows through a whole dump: the metadata names the geometry column
// by its TYPEMD and hides its seven attribute columns. XMLTYPE values come
// after the row as text (with a character set) or as bytes (without one).
TEST(PumpReader, SpatialAndXmltypeColumnsOfAWholeDump) {
  pump_dump_writer w(873);
  std::vector<pump_fx_column> sites = {{"ID", 2, 22, 0, 0, -1, ""}};
  for (const pump_fx_column& c : pump_fx_sdo_columns("GEOM")) sites.push_back(c);
  sites.push_back({"QTY", 2, 22, 0, 0, -1, ""});
  std::string line;
  w.add_stream_table("GIS", "SITES", sites, geometry_rows(line) + std::string(8, '\0'));
  const std::string xml1 = ora_dump_fx_utf16be("<a>1</a>");
  const std::string xml2a = ora_dump_fx_utf16be("<b>"), xml2b = ora_dump_fx_utf16be("\xC3\xA9</b>");
  const std::string notes =
      std::string("\x0C\x02", 2) + number_field("1") + static_cast<char>(xml1.size()) + xml1 +
      std::string("\x0C\x02", 2) + number_field("2") + "\xFE" +
      ora_dump_fx_be16(static_cast<uint16_t>(xml2a.size())) + xml2a +
      std::string("\x06\x01\xFE", 3) + ora_dump_fx_be16(static_cast<uint16_t>(xml2b.size())) +
      xml2b + std::string(8, '\0');
  w.add_stream_table("GIS", "NOTES",
                     {{"ID", 2, 22, 0, 0, -1, ""}, {"DOC", 58, 4000, 873, 0, -1, ""}}, notes);
  w.add_stream_table("GIS", "BINXML",
                     {{"ID", 2, 22, 0, 0, -1, ""}, {"DOC", 58, 4000, 0, 0, -1, ""}},
                     std::string("\x0C\x02", 2) + number_field("7") +
                         std::string("\x03\x41\x42\x43", 4) + std::string(8, '\0'));
  engine_fixture_file file(w.bytes());
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);

  const engine_table_rows r = engine_read(*db, "SITES");
  EXPECT_EQ(r.columns, (std::vector<std::string>{"ID", "GEOM", "QTY"}));
  EXPECT_EQ(r.error, "");
  const std::vector<std::vector<std::string>> want = {
      {"1", "POINT (-77.02298 38.908702)", "3"},
      {"2", line, "4"},
      {"3", "", "5"},
      {"4", "", "6"},
  };
  EXPECT_EQ(r.rows, want);
  ASSERT_EQ(r.value_errors.size(), 1u);
  EXPECT_NE(r.value_errors[0].find("row 4: Column GEOM: "), std::string::npos) << r.value_errors[0];
  reader.m_b_ewkt = true;
  EXPECT_EQ(engine_read(*db, "SITES").rows.at(0).at(1), "SRID=8307;POINT (-77.02298 38.908702)");

  const engine_table_rows n = engine_read(*db, "NOTES");
  EXPECT_EQ(n.error, "");
  EXPECT_EQ(n.rows,
            (std::vector<std::vector<std::string>>{{"1", "<a>1</a>"}, {"2", "<b>\xC3\xA9</b>"}}));
  const engine_table_rows b = engine_read(*db, "BINXML");
  EXPECT_EQ(b.error, "");
  EXPECT_EQ(b.rows, (std::vector<std::vector<std::string>>{{"7", "0x414243"}}));
}

// Cut or damaged geometry records are read within their bytes: every value
// is WKT, empty with an error, or the record ends with an offset.
TEST(PumpDecoder, DamagedGeometryRecordsNeverReadPastTheirBytes) {
  decoder_fixture f;
  f.add(ORA_NUMBER, VT_DECIMAL);
  f.add(ORA_SDO_GEOMETRY, VT_BSTR, 0);
  f.add(ORA_NUMBER, VT_DECIMAL);
  std::string line;
  const std::string good = geometry_rows(line);
  auto walk = [&](const std::string& bytes) {
    ora_dump_stream s(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    for (int k = 0; k < 16 && !f.th.check_for_eof(s); ++k) {
      const int64_t at = s.tell();
      try {
        f.th.get_record(s, f.schema, s.size(), f.rec);
      } catch (const tk_exception& e) {
        EXPECT_NE(std::string(e.what()).find("offset"), std::string::npos) << e.what();
        return;
      }
      if (s.tell() == at) return;
    }
  };
  for (size_t cut = 0; cut < good.size(); ++cut) walk(good.substr(0, cut));
  for (size_t at = 0; at < good.size(); at += 3) {
    for (const char b : {'\x00', '\x0C', '\x7F', '\xFE', '\xFF'}) {
      std::string bad = good;
      bad[at] = b;
      walk(bad);
    }
  }
}
