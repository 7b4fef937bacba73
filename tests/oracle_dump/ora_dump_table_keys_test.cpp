// Keys, indexes and column defaults of classic tables, from the statements
// exp writes after a CREATE TABLE (and the constraints inside the CREATE
// TABLE of an index-organized table).
#include <gtest/gtest.h>

#include "engine_test_util.h"
#include "fixtures/classic_dump_writer.h"
#include "oracle_dump/ora_dump_table.h"

namespace {

using col = ora_dump_fx_column;
using cell = ora_dump_fx_cell;

std::string keys_dump() {
  ora_dump_fx_writer w;
  w.connect("SCOTT");
  ora_dump_fx_table dept;
  dept.name = "DEPT";
  dept.columns = {col::number("DEPTNO", 2, 0),    col::varchar2("DNAME", 14),
                  col::varchar2("LOC", 13),       col::fixed_char("FLAG", 1),
                  col::date("CREATED"),           col::number("BUDGET", 10, 2),
                  col::number("IS_DEFAULT", 1, 0)};
  dept.rows = {{{cell::number("10"), cell::text("ACCOUNTING"), cell::text("NEW YORK"),
                 cell::text("Y"), cell::date(2020, 1, 1), cell::number("5"), cell::number("1")}}};
  w.table(dept);
  w.create_index("PK_DEPT", "DEPT", {"DEPTNO"}, true);
  w.create_index("DEPT_LOC_IX", "DEPT", {"LOC", "DNAME"});
  w.line("CREATE INDEX \"DEPT_UPPER_IX\" ON \"DEPT\" (UPPER(\"DNAME\") )  PCTFREE 10 LOGGING");
  w.primary_key("DEPT", "PK_DEPT", {"DEPTNO"});
  w.alter_table("DEPT", "ADD UNIQUE (\"DNAME\", \"LOC\") USING INDEX PCTFREE 10 ENABLE ");
  w.column_default("DEPT", "FLAG", "'N'");
  w.column_default("DEPT", "LOC", "'it''s'");
  w.column_default("DEPT", "CREATED", "SYSDATE");
  w.column_default("DEPT", "BUDGET", "10");
  w.column_default("DEPT", "IS_DEFAULT", "0");

  ora_dump_fx_table emp;
  emp.name = "EMP";
  emp.columns = {col::number("EMPNO", 4, 0), col::number("DEPTNO", 2, 0)};
  w.table(emp);
  w.foreign_key("EMP", "FK_DEPTNO", {"DEPTNO"}, "DEPT", {"DEPTNO"});

  // An index-organized table: its primary key stands in the CREATE TABLE.
  ora_dump_fx_table iot;
  iot.name = "COUNTRIES";
  iot.columns = {col::fixed_char("COUNTRY_ID", 2), col::varchar2("COUNTRY_NAME", 40)};
  iot.create_text =
      "CREATE TABLE \"COUNTRIES\" (\"COUNTRY_ID\" CHAR(2) CONSTRAINT \"COUNTRY_ID_NN\" NOT NULL "
      "ENABLE, \"COUNTRY_NAME\" VARCHAR2(40),  CONSTRAINT \"COUNTRY_C_ID_PK\" PRIMARY KEY "
      "(\"COUNTRY_ID\") ENABLE ) ORGANIZATION INDEX  PCTFREE 10 TABLESPACE \"USERS\"";
  w.table(iot);
  w.exit();
  return w.bytes();
}

const udb_index* find_index(const udb_recordset& t, std::u16string_view name) {
  for (const udb_index& i : t.indexes)
    if (i.name == name) return &i;
  return nullptr;
}

}  // namespace

TEST(ClassicKeys, IndexesKeysForeignKeysAndDefaults) {
  engine_fixture_file file(keys_dump());
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  auto dept = db->get_table(u"SCOTT.DEPT", 1);

  const udb_index* pk = find_index(*dept, u"PK_DEPT");
  ASSERT_NE(pk, nullptr);
  EXPECT_TRUE(pk->primary);  // the index and the constraint merged, the key won
  EXPECT_EQ(pk->fields, std::vector<tk_wstring>{u"DEPTNO"});
  const udb_index* ix = find_index(*dept, u"DEPT_LOC_IX");
  ASSERT_NE(ix, nullptr);
  EXPECT_FALSE(ix->unique || ix->primary || ix->unique_constraint);
  EXPECT_EQ(ix->fields, (std::vector<tk_wstring>{u"LOC", u"DNAME"}));
  EXPECT_EQ(find_index(*dept, u"DEPT_UPPER_IX"), nullptr) << "an expression is no column list";

  // The unnamed unique key gets a name made of the table and its columns.
  const udb_index* uk = nullptr;
  for (const udb_index& i : dept->indexes)
    if (i.unique_constraint) uk = &i;
  ASSERT_NE(uk, nullptr);
  EXPECT_EQ(uk->fields, (std::vector<tk_wstring>{u"DNAME", u"LOC"}));
  const std::string uk_name = tk_u8(uk->name);
  EXPECT_EQ(uk_name.rfind("SCOTT.DEPT_UC", 0), 0u) << uk_name;
  EXPECT_EQ(uk_name.size(), std::string("SCOTT.DEPT_UC").size() + 12) << uk_name;

  const udb_schema& sc = dept->get_schema();
  auto column = [&](std::u16string_view n) {
    return static_cast<const t_orcale_ftd*>(sc.get_field2(n));
  };
  EXPECT_EQ(column(u"FLAG")->def_value.to_wstring(), u"N");
  EXPECT_EQ(column(u"FLAG")->default_text, u"'N'");
  EXPECT_EQ(column(u"LOC")->def_value.to_wstring(), u"it's");
  EXPECT_EQ(column(u"BUDGET")->def_value.to_wstring(), u"10");
  EXPECT_EQ(column(u"CREATED")->def_value.get_type(), VT_EMPTY);
  EXPECT_EQ(column(u"CREATED")->default_text, u"SYSDATE");
  EXPECT_EQ(column(u"DNAME")->default_text, u"");
  EXPECT_EQ(column(u"BUDGET")->type_text, u"NUMBER(10, 2)");
  EXPECT_EQ(column(u"IS_DEFAULT")->def_value.to_wstring(), u"0");

  auto emp = db->get_table(u"SCOTT.EMP", 1);
  bool fk_found = false;
  for (const udb_relationship& r : db->m_relationships) {
    if (r.fk_name != u"FK_DEPTNO") continue;
    fk_found = true;
    EXPECT_EQ(r.fk_table, u"SCOTT.EMP");
    EXPECT_EQ(r.pk_table, u"SCOTT.DEPT");  // the owner's table, by its catalogue name
    EXPECT_EQ(r.fk_fields, std::list<tk_wstring>{u"DEPTNO"});
    EXPECT_EQ(r.pk_fields, std::list<tk_wstring>{u"DEPTNO"});
  }
  EXPECT_TRUE(fk_found);

  auto iot = db->get_table(u"SCOTT.COUNTRIES", 1);
  EXPECT_EQ(iot->get_schema().size(), 2u);
  const udb_index* iot_pk = find_index(*iot, u"COUNTRY_C_ID_PK");
  ASSERT_NE(iot_pk, nullptr);
  EXPECT_TRUE(iot_pk->primary);

  // The same dump gives the same generated name on every run.
  ora_dump_reader reader2;
  reader2.m_b_use_cache = false;
  auto db2 = engine_open(reader2, file.path);
  auto dept2 = db2->get_table(u"SCOTT.DEPT", 1);
  bool same = false;
  for (const udb_index& i : dept2->indexes) same = same || i.name == uk->name;
  EXPECT_TRUE(same);
}

TEST(ClassicKeys, IndexesComeBackFromTheCacheFileAfterAReload) {
  engine_fixture_file file(keys_dump());
  {
    // A run that never opens DEPT still leaves its indexes in the cache.
    ora_dump_reader reader;
    auto db = engine_open(reader, file.path);
    db->get_table(u"SCOTT.EMP", 1);
  }
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  ASSERT_TRUE(db->find_table_pos(u"SCOTT.DEPT")->indexes.empty());  // loaded, not scanned
  auto dept = db->get_table(u"SCOTT.DEPT", 1);
  ASSERT_NE(find_index(*dept, u"DEPT_LOC_IX"), nullptr);
  ASSERT_NE(find_index(*dept, u"PK_DEPT"), nullptr);
  EXPECT_TRUE(find_index(*dept, u"PK_DEPT")->primary);
}

TEST(ClassicKeys, DefaultValuesByType) {
  engine_fixture_file file(keys_dump());
  ora_dump_reader reader;
  auto db = engine_open(reader, file.path);
  auto t = db->get_table(u"SCOTT.DEPT", 1);
  auto* dept = static_cast<ora_dump_table*>(t.get());
  struct {
    vartype_t vt;
    const char* text;
    const char16_t* expected;  // nullptr: no value
  } cases[] = {
      {VT_BSTR, "'abc'", u"abc"}, {VT_BSTR, "''", u""},        {VT_BSTR, "'a''b'", u"a'b"},
      {VT_BSTR, "abc", nullptr},  {VT_DECIMAL, " 10 ", u"10"}, {VT_DECIMAL, "x", nullptr},
      {VT_I4, "'7'", u"7"},
  };
  for (const auto& c : cases) {
    const ole_variant v = dept->get_def_value(c.vt, c.text);
    if (c.expected == nullptr)
      EXPECT_EQ(v.get_type(), VT_EMPTY) << c.text;
    else
      EXPECT_EQ(v.to_wstring(), c.expected) << c.text;
  }
}
