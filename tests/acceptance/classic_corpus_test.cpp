// Acceptance tests on the corpus of real classic (exp) dumps: every dump
// converts with TALVEXCLI without errors or warnings into one CSV file per
// table with the row counts of MANIFEST.md, and spot values (SCOTT, HR,
// Chinese, Korean, Japanese, Arabic, Polish and Spanish data) come out as
// the companion scripts and the dumps' own bytes say.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>

#include "corpus_support.h"

// The classic dumps of the manifest, or one empty name (a skipped test) when
// the corpus is not there.
static std::vector<std::string> classic_dumps() { return corpus_dumps("classic"); }

// One conversion per dump and test process: the spot checks reuse the
// conversion of the row-count test.
static const talvex_test_conversion& converted(const std::string& file) {
  return corpus_converted("classic", file);
}

// Skips the test when the corpus is absent; fails it when TALVEXCLI is.
#define REQUIRE_CORPUS_DUMP(file)                                                \
  do {                                                                           \
    if (!tk_test_exists(corpus_dumps_dir() + "/classic/" + (file)))              \
      GTEST_SKIP() << "corpus dump not found: " << (file);                       \
    ASSERT_TRUE(tk_test_exists(TALVEXCLI_PATH)) << "missing " << TALVEXCLI_PATH; \
  } while (0)

class classic_corpus_test : public ::testing::TestWithParam<std::string> {};

TEST_P(classic_corpus_test, converts_every_table_with_the_manifest_row_count) {
  const std::string file = GetParam();
  if (file.empty()) GTEST_SKIP() << "no corpus manifest under " << corpus_dumps_dir();
  REQUIRE_CORPUS_DUMP(file);
  const ora_dump_manifest_entry& entry = corpus_manifest().at(file);
  const talvex_test_conversion& c = converted(file);
  corpus_expect_clean_run(c);

  const std::vector<std::string> files = c.csv_files();
  EXPECT_EQ(files.size(), entry.tables.size()) << "one CSV file per table";
  std::vector<std::string> names;
  for (const auto& t : entry.tables) names.push_back(t.name);
  const auto match = csv_test_match_tables(names, files);
  for (const ora_dump_manifest_table& t : entry.tables) {
    const std::string& base = match.at(t.name);
    if (base.empty()) {
      ADD_FAILURE() << "no CSV file for " << t.name << " (expected " << csv_test_file_name(t.name)
                    << ")";
      continue;
    }
    std::vector<std::vector<std::string>> records;
    const std::string content = tk_test_read_file(c.csv_path(base));
    EXPECT_TRUE(csv_test_parse(content, ',', records)) << base << ": unterminated quoted field";
    // Line breaks inside values are written as stored, never as CR CR LF.
    EXPECT_EQ(content.find("\r\r\n"), std::string::npos) << base;
    ASSERT_FALSE(records.empty()) << base << ": no header line";
    EXPECT_FALSE(records[0].empty() || records[0][0].empty()) << base << ": empty header";
    const long rows = static_cast<long>(records.size()) - 1;
    if (!t.approximate) {
      EXPECT_EQ(rows, t.rows) << t.name << " in " << base << ".csv";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(classic, classic_corpus_test, ::testing::ValuesIn(classic_dumps()),
                         corpus_test_name);

// --- Spot values ------------------------------------------------------------

static void expect_rows(const std::string& file, const std::string& table,
                        const std::vector<expected_row>& rows) {
  corpus_expect_rows(converted(file), table, rows);
}

TEST(classic_spot_values, scott_emp_and_dept) {
  const std::string file = "freetic__oracle__db_201912271502.dmp";
  REQUIRE_CORPUS_DUMP(file);
  expect_rows(file, "EMP",
              {{"EMPNO",
                "7369",
                {{"ENAME", "SMITH"},
                 {"JOB", "CLERK"},
                 {"MGR", "7902"},
                 {"HIREDATE", "1980-12-17"},
                 {"SAL", "800"},
                 {"COMM", ""},
                 {"DEPTNO", "20"}}},
               {"EMPNO",
                "7499",
                {{"ENAME", "ALLEN"},
                 {"JOB", "SALESMAN"},
                 {"MGR", "7698"},
                 {"HIREDATE", "1981-02-20"},
                 {"SAL", "1600"},
                 {"COMM", "300"},
                 {"DEPTNO", "30"}}},
               {"EMPNO", "7839", {{"ENAME", "KING"}, {"MGR", ""}, {"SAL", "5000"}}},
               {"EMPNO", "7844", {{"ENAME", "TURNER"}, {"COMM", "0"}}}});
  expect_rows(file, "DEPT", {{"DEPTNO", "40", {{"DNAME", "OPERATIONS"}, {"LOC", "BOSTON"}}}});
  const csv_test_table emp = corpus_table_of(converted(file), "EMP");
  EXPECT_EQ(emp.header, (std::vector<std::string>{"EMPNO", "ENAME", "JOB", "MGR", "HIREDATE", "SAL",
                                                  "COMM", "DEPTNO"}));
}

TEST(classic_spot_values, hr_employees_and_departments) {
  const std::string file = "javierzc05__proyecto__respaldos_hr.dmp";
  REQUIRE_CORPUS_DUMP(file);
  expect_rows(file, "HR.EMPLOYEES",
              {{"EMPLOYEE_ID",
                "100",
                {{"FIRST_NAME", "Steven"},
                 {"LAST_NAME", "King"},
                 {"EMAIL", "SKING"},
                 {"PHONE_NUMBER", "515.123.4567"},
                 {"HIRE_DATE", "2003-06-17"},
                 {"JOB_ID", "AD_PRES"},
                 {"SALARY", "24000"},
                 {"COMMISSION_PCT", ""},
                 {"MANAGER_ID", ""},
                 {"DEPARTMENT_ID", "90"}}}});
  expect_rows(
      file, "HR.DEPARTMENTS",
      {{"DEPARTMENT_ID",
        "10",
        {{"DEPARTMENT_NAME", "Administration"}, {"MANAGER_ID", "200"}, {"LOCATION_ID", "1700"}}}});
  EXPECT_EQ(corpus_table_of(converted(file), "HR.DEPARTMENTS").rows.size(), 27u);
}

// Chinese book titles: the companion script is GBK, the dump AL32UTF8.
TEST(classic_spot_values, chinese_titles_match_the_gbk_companion) {
  const std::string file = "MJCoderMJCoder__estore__EXPDAT.DMP";
  REQUIRE_CORPUS_DUMP(file);
  const auto script = tk_test_iconv(
      tk_test_read_file(corpus_dumps_dir() + "/companions/MJCoderMJCoder__estore__oracle.txt"),
      "GBK", "UTF-8");
  ASSERT_TRUE(script.has_value());
  const auto inserts = sql_test_insert_values(*script, "book");
  ASSERT_EQ(inserts.size(), 10u);
  const csv_test_table book = corpus_table_of(converted(file), "BOOK");
  ASSERT_TRUE(book.ok);
  for (const auto& values : inserts) {
    const auto* row = book.find("ID", values[0]);
    ASSERT_NE(row, nullptr) << "BOOK " << values[0];
    EXPECT_EQ(book.value(*row, "NAME"), values[1]) << "BOOK " << values[0];
  }
  EXPECT_EQ(book.value(*book.find("ID", "1"), "NAME"), "JAVA核心技术");
}

// Chinese text in an AL32UTF8 database exported by a GBK client, with LOBs.
TEST(classic_spot_values, chinese_text_blob_and_clob) {
  const std::string file = "DeathBeforeHonor__hr__data.dmp";
  REQUIRE_CORPUS_DUMP(file);
  const talvex_test_conversion& c = converted(file);
  const csv_test_table dept = corpus_table_of(c, "DEPT");
  ASSERT_TRUE(dept.ok);
  const auto names = dept.values("DEPT_NAME");
  EXPECT_NE(std::find(names.begin(), names.end(), "董事会"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "财务部"), names.end());
  const auto* board = dept.find("DEPT_NAME", "董事会");
  if (board != nullptr) {
    EXPECT_EQ(dept.value(*board, "DEPT_LOC"), "郑州");
  }

  // PIC_DATA of picture 1 is a 211352-byte JPEG stored after the row in
  // chunks; its CSV text is 0x and two hex digits per byte.
  const csv_test_table pic = corpus_table_of(c, "PIC");
  ASSERT_TRUE(pic.ok);
  const auto* first = pic.find("PIC_ID", "1");
  ASSERT_NE(first, nullptr);
  const std::string data = pic.value(*first, "PIC_DATA");
  EXPECT_EQ(data.size(), 2u + 2u * 211352u);
  EXPECT_EQ(data.substr(0, 10), "0xFFD8FFE0");
  EXPECT_EQ(pic.value(*first, "PIC_NAME"), "panda");

  // EMP_PIC of employee 3 is a CLOB of 16803 UTF-16 characters.
  const csv_test_table emp = corpus_table_of(c, "EMP");
  ASSERT_TRUE(emp.ok);
  const auto* trump = emp.find("EMP_ID", "3");
  ASSERT_NE(trump, nullptr);
  const std::string clob = emp.value(*trump, "EMP_PIC");
  EXPECT_EQ(clob.size(), 16803u);
  EXPECT_EQ(clob.rfind("data:image/jpeg;base64,", 0), 0u);
  EXPECT_EQ(emp.value(*trump, "EMP_NAME"), "Trump");
}

TEST(classic_spot_values, korean_text_in_three_encodings) {
  // KO16MSWIN949 database.
  const std::string cp949 = "LeesMond__JavaProject__EXPDAT.DMP";
  // NVARCHAR2 and NCHAR in AL16UTF16 next to CHAR in KO16MSWIN949.
  const std::string national = "soyun2__DB_2021__210303_Book.dmp";
  // AL32UTF8 database.
  const std::string utf8 = "freetic__oracle__car.dmp";
  REQUIRE_CORPUS_DUMP(cp949);
  REQUIRE_CORPUS_DUMP(national);
  REQUIRE_CORPUS_DUMP(utf8);
  expect_rows(cp949, "AREA_SIDO",
              {{"AREA_SIDO_NO", "1", {{"AREA_SIDO_NAME", "서울시"}}},
               {"AREA_SIDO_NO", "2", {{"AREA_SIDO_NAME", "인천시"}}},
               {"AREA_SIDO_NO", "3", {{"AREA_SIDO_NAME", "경기도"}}}});
  expect_rows(
      national, "USERTBL",
      {{"USERNAME", "이승기", {{"USERID", "LSG     "}, {"ADDR", "서울"}, {"MOBILE2", "11111111"}}},
       {"USERNAME", "조용필", {{"ADDR", "경기"}, {"MDATE", "2009-04-04"}}}});
  // NCHAR(6) keeps its blank padding.
  expect_rows(national, "BUYTBL",
              {{"IDNUM", "14", {{"PRODNAME", "운동화   "}, {"USERID", "KBS     "}}}});
  expect_rows(utf8, "CP_DEPT", {{"DEPTNO", "10", {{"DNAME", "개발부"}, {"LOC", "서울"}}}});
}

TEST(classic_spot_values, japanese_and_arabic_text) {
  const std::string japanese = "Kinoamakuma__NewRepo1__EXPDAT.DMP";
  const std::string arabic = "momaresh__Marketing-Project-With-Oracle-Form__export.dmp";
  REQUIRE_CORPUS_DUMP(japanese);
  REQUIRE_CORPUS_DUMP(arabic);
  expect_rows(japanese, "T_ADMIN",
              {{"F_ADMIN_ID", "1", {{"F_ADMIN_NAME", "管理者1"}}},
               {"F_ADMIN_ID", "2", {{"F_ADMIN_NAME", "管理者2"}}}});
  expect_rows(arabic, "BOOKS", {{"AUTHOR", "علي بن جابر", {{"LANG", "arabic"}}}});
}

// The Polish clinic: columns as the companion DDL declares them.
TEST(classic_spot_values, polish_tables_match_the_companion_ddl) {
  const std::string file = "akosiorek__przychodnia__db.dmp";
  REQUIRE_CORPUS_DUMP(file);
  const std::string ddl = tk_test_read_file(
      corpus_dumps_dir() + "/companions/akosiorek__przychodnia__resources_przychodnia.sql");
  const talvex_test_conversion& c = converted(file);
  int compared = 0;
  for (const auto& t : corpus_manifest().at(file).tables) {
    const auto columns = sql_test_create_columns(ddl, t.name);
    if (columns.empty()) continue;
    ++compared;
    const csv_test_table table = corpus_table_of(c, t.name);
    std::vector<std::string> header = table.header;
    std::sort(header.begin(), header.end());
    std::vector<std::string> want = columns;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(header, want) << t.name;
  }
  EXPECT_GE(compared, 5);
  expect_rows(
      file, "LEKARZ",
      {{"NAZWISKO", "Tarkowski", {{"IMIE", "Roman"}, {"IMIE2", "Hubert"}, {"TYTUL", "doktor"}}}});
}

TEST(classic_spot_values, spanish_promotions_and_articles_match_the_companions) {
  const std::string file = "Jef7__ProyectoAnalisis__EXPDAT.dmp";
  REQUIRE_CORPUS_DUMP(file);
  const std::string base =
      corpus_dumps_dir() + "/companions/Jef7__ProyectoAnalisis__Scrips_Base_de_Datos_";
  const talvex_test_conversion& c = converted(file);

  // PROMOCION(ID, TIPO_VALOR, VALOR_META, TIPO_GANANCIA, GANANCIA): the ids
  // come from a sequence, the other four values from the script.
  const auto promos = sql_test_insert_values(
      tk_test_read_file(base + "Tabla_Promocion_Insertar_Promociones.sql"), "PROMOCION");
  ASSERT_EQ(promos.size(), 5u);
  const csv_test_table promo = corpus_table_of(c, "PROMOCION");
  ASSERT_TRUE(promo.ok);
  std::multiset<std::vector<std::string>> want;
  std::multiset<std::vector<std::string>> got;
  for (const auto& p : promos) want.insert({p[1], p[2], p[3], p[4]});
  for (const auto& row : promo.rows) {
    got.insert({promo.value(row, "TIPO_VALOR"), promo.value(row, "VALOR_META"),
                promo.value(row, "TIPO_GANANCIA"), promo.value(row, "GANANCIA")});
  }
  EXPECT_EQ(got, want);

  // ARTICULO: the dump was taken after one of the 30 scripted articles was
  // renamed, so 29 names must be found.
  const auto articles = sql_test_insert_values(
      tk_test_read_file(base + "Tabla_Articulo_Insertar_Articulos.sql"), "Articulo");
  ASSERT_EQ(articles.size(), 30u);
  const csv_test_table articulo = corpus_table_of(c, "ARTICULO");
  int found = 0;
  for (const auto& a : articles) found += articulo.find("NOMBRE_ARTICULO", a[1]) != nullptr;
  EXPECT_GE(found, 29);
  const auto* conflex = articulo.find("NOMBRE_ARTICULO", "CONFLEX DE KELOKS");
  ASSERT_NE(conflex, nullptr);
  EXPECT_EQ(articulo.value(*conflex, "PRECIO"), "3");
  // NUMBER(7,2) 1.5: how a fraction is spelled is the CSV writer's choice,
  // its value is not.
  EXPECT_EQ(std::strtod(articulo.value(*conflex, "PUNTOS").c_str(), nullptr), 1.5);
}

TEST(classic_spot_values, suppliers_and_continents_match_the_companions) {
  const std::string gbk = "yumenoshizuku__database-project__final_EXPDAT.DMP";
  const std::string hr = "maurofrugiueleadv__adv_stage_hr__dmp_archive_hrd_hrd.1.01.dmp";
  REQUIRE_CORPUS_DUMP(gbk);
  REQUIRE_CORPUS_DUMP(hr);
  const auto suppliers = sql_test_insert_values(
      tk_test_read_file(corpus_dumps_dir() +
                        "/companions/yumenoshizuku__database-project__final_data.sql"),
      "Supplier");
  ASSERT_EQ(suppliers.size(), 10u);
  const csv_test_table supplier = corpus_table_of(converted(gbk), "SUPPLIER");
  ASSERT_TRUE(supplier.ok);
  for (const auto& s : suppliers) {
    // SID is a VARCHAR2 column: the numeric literal 0001 was stored as '1'.
    const std::string sid = std::to_string(std::stol(s[0]));
    const auto* row = supplier.find("SID", sid);
    ASSERT_NE(row, nullptr) << "SUPPLIER " << sid;
    EXPECT_EQ(supplier.value(*row, "SNAME"), s[1]);
    EXPECT_EQ(supplier.value(*row, "ZIPCODE"), s[2]);
  }
  expect_rows(hr, "CONTINENTI",
              {{"ID_CONTINENTE", "1", {{"NOME_CONTINENTE", "Europa"}}},
               {"ID_CONTINENTE", "4", {{"NOME_CONTINENTE", "Medio Oriente e Africa"}}}});
}

TEST(classic_spot_values, timestamps_keep_their_time) {
  const std::string file = "akisavujel__transportation-database-sqlplus__dump.dmp";
  REQUIRE_CORPUS_DUMP(file);
  expect_rows(
      file, "BOOKING",
      {{"BOOKING_ID", "1", {{"BOOKING_DATE", "2026-01-01 08:30:00"}, {"STATUS", "Confirmed"}}}});
  expect_rows(
      file, "TRIP",
      {{"TRIP_ID",
        "1",
        {{"DEPARTURE_TIME", "2026-01-10 08:00:00"}, {"ARRIVAL_TIME", "2026-01-10 12:00:00"}}}});
}
