// Acceptance tests of the catalogue on the real dumps: a conversion that
// takes its catalogue from the context cache file writes the same bytes as
// one that scanned the dump; the listing (--list=json) parses, is the same
// from a scan and from the cache, names every table of the manifest with its
// row count where one is known, and shows the well-known keys of HR and
// SCOTT.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "corpus_support.h"

namespace {

using nlohmann::json;

// Every dump a single-file reader converts: classic, Data Pump, spatial.
std::vector<std::string> catalogue_dumps() {
  std::vector<std::string> out;
  for (const char* folder : {"classic", "datapump", "spatial"})
    for (const std::string& f : corpus_dumps(folder))
      if (!f.empty()) out.push_back(std::string(folder) + "/" + f);
  if (out.empty()) out.push_back("");
  return out;
}

std::string test_name(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param.empty() ? "corpus_absent" : info.param;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

// TALVEXCLI with a home and cache folder of the caller's choosing.
tk_test_process_result run_cli(const std::string& home, const std::vector<std::string>& args) {
  std::filesystem::create_directories(home);
  std::vector<std::string> argv = {TALVEXCLI_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return tk_test_run(TALVEXCLI_PATH, argv, {{"HOME", home}, {"XDG_CACHE_HOME", home + "/.cache"}},
                     600);
}

json list_json(const std::string& home, const std::string& dump) {
  const tk_test_process_result r = run_cli(home, {"--src=" + dump, "--list=json"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  json doc = json::parse(r.out, nullptr, false);
  EXPECT_FALSE(doc.is_discarded()) << "not JSON:\n" << r.out.substr(0, 500);
  return doc;
}

json without_rows(json doc) {
  if (doc.contains("tables"))
    for (json& t : doc["tables"]) t.erase("rows");
  return doc;
}

// The catalogue table a manifest name stands for: the same name, or the
// name under an owner or tablespace.
const json* find_table(const json& doc, const std::string& wanted) {
  // The manifest may name the owner where the catalogue key has none.
  for (const json& t : doc["tables"])
    if (t["name"] == wanted) return &t;
  const size_t dot = wanted.find('.');
  const std::string name = dot == std::string::npos ? wanted : wanted.substr(dot + 1);
  const json* found = nullptr;
  for (const json& t : doc["tables"]) {
    const std::string key = t["name"].get<std::string>();
    if (key == name) return &t;
    if (key.size() > name.size() && key.compare(key.size() - name.size(), name.size(), name) == 0 &&
        key[key.size() - name.size() - 1] == '.')
      found = &t;
  }
  return found;
}

std::map<std::string, std::string> csv_files_of(const std::string& dir) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    out[e.path().filename().string()] = tk_test_read_file(e.path().string());
  return out;
}

class catalogue_corpus_test : public ::testing::TestWithParam<std::string> {};

}  // namespace

TEST_P(catalogue_corpus_test, cache_gives_the_same_catalogue_and_the_same_csv_files) {
  const std::string param = GetParam();
  if (param.empty()) GTEST_SKIP() << "no corpus manifest under " << corpus_dumps_dir();
  const std::string dump = corpus_dumps_dir() + "/" + param;
  if (!tk_test_exists(dump)) GTEST_SKIP() << "corpus dump not found: " << param;
  ASSERT_TRUE(tk_test_exists(TALVEXCLI_PATH));
  tk_test_temp_dir work;
  const std::string cached_home = work.path() + "/cached";
  const std::string cache_dir = cached_home + "/.cache/talvex";

  // 1. A listing scans the dump and leaves the cache file (the corpus folder
  //    is read-only: it goes into the user's cache folder).
  const json scanned = list_json(cached_home, dump);
  ASSERT_TRUE(scanned.is_object());
  EXPECT_FALSE(tk_test_exists(dump.substr(0, dump.rfind('.')) + ".tvc"));
  ASSERT_TRUE(std::filesystem::exists(cache_dir));
  ASSERT_EQ(std::distance(std::filesystem::directory_iterator(cache_dir),
                          std::filesystem::directory_iterator()),
            1);

  // 2. A conversion from the cache and one that scans write the same bytes.
  const std::string log = work.path() + "/cached.log";
  const tk_test_process_result a =
      run_cli(cached_home,
              {"--src=" + dump, "--dest=" + work.path() + "/a", "--n_delim=2", "--logfile=" + log});
  const tk_test_process_result b = run_cli(
      work.path() + "/fresh", {"--src=" + dump, "--dest=" + work.path() + "/b", "--n_delim=2"});
  EXPECT_EQ(a.exit_code, 0) << a.err;
  EXPECT_EQ(b.exit_code, 0) << b.err;
  EXPECT_NE(tk_test_read_file(log).find("Loading dump context from"), std::string::npos);
  const auto files_a = csv_files_of(work.path() + "/a");
  const auto files_b = csv_files_of(work.path() + "/b");
  EXPECT_EQ(files_a.size(), files_b.size());
  for (const auto& [name, content] : files_b) {
    auto it = files_a.find(name);
    if (it == files_a.end()) {
      ADD_FAILURE() << name << " missing with the cache";
      continue;
    }
    EXPECT_TRUE(it->second == content) << name << " differs with the cache";
  }

  // 3. The listing from the cache is the scan's, now with the row counts
  //    the conversion found; every manifest table is there with its count.
  const json cached = list_json(cached_home, dump);
  EXPECT_EQ(without_rows(cached), without_rows(scanned));
  const std::string file = param.substr(param.find('/') + 1);
  const ora_dump_manifest_entry& entry = corpus_manifest().at(file);
  if (entry.no_tables) {
    EXPECT_TRUE(cached["tables"].empty());
  }
  for (ora_dump_manifest_table t : entry.tables) {
    // Spatial entries carry a note after the count that the manifest reader
    // keeps in the name: the name alone is checked there.
    if (t.name.find(' ') != std::string::npos) {
      t.name.resize(t.name.find(' '));
      t.approximate = true;
    }
    const json* jt = find_table(cached, t.name);
    if (jt == nullptr) {
      ADD_FAILURE() << t.name << " is not listed";
      continue;
    }
    EXPECT_TRUE((*jt)["csv_file"].is_string()) << t.name;
    if (t.approximate) continue;
    ASSERT_TRUE((*jt)["rows"].is_number()) << t.name << " has no row count";
    EXPECT_EQ((*jt)["rows"].get<long>(), t.rows) << t.name;
    // Counts a Data Pump dump records itself are there from the start.
    const json* js = find_table(scanned, t.name);
    if (js != nullptr && (*js)["rows"].is_number()) {
      EXPECT_EQ((*js)["rows"].get<long>(), t.rows) << t.name << " (master table)";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(corpus, catalogue_corpus_test, ::testing::ValuesIn(catalogue_dumps()),
                         test_name);

// --- HR and SCOTT ------------------------------------------------------------

namespace {

struct expected_key {
  const char* table;
  const char* kind;  // "pk", "uk" or "fk"
  const char* name;
  std::vector<std::string> columns;
  const char* ref_table = nullptr;  // foreign keys: the referenced table, without owner
  std::vector<std::string> ref_columns = {};
};

std::vector<std::string> strings_of(const json& a) {
  std::vector<std::string> out;
  for (const json& v : a) out.push_back(v.get<std::string>());
  return out;
}

std::string plain(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(dot + 1);
}

void expect_keys(const std::string& folder, const std::string& file,
                 const std::vector<expected_key>& keys) {
  const std::string dump = corpus_dumps_dir() + "/" + folder + "/" + file;
  if (!tk_test_exists(dump)) GTEST_SKIP() << "corpus dump not found: " << file;
  tk_test_temp_dir work;
  const json doc = list_json(work.path() + "/home", dump);
  ASSERT_TRUE(doc.is_object());
  size_t listed = 0;
  // HR's check constraint EMP_SALARY_MIN is neither a key nor an index.
  for (const json& t : doc["tables"])
    for (const json& i : t["indexes"]) EXPECT_NE(i["name"], "EMP_SALARY_MIN");
  for (const json& t : doc["tables"])
    listed +=
        (t["primary_key"].is_null() ? 0 : 1) + t["unique_keys"].size() + t["foreign_keys"].size();
  size_t expected_count = 0;
  for (const expected_key& k : keys) {
    const json* t = find_table(doc, k.table);
    if (t == nullptr) {
      ADD_FAILURE() << k.table << " is not listed";
      continue;
    }
    if (std::string(k.kind) == "pk") {
      ++expected_count;
      ASSERT_TRUE((*t)["primary_key"].is_object()) << k.table;
      EXPECT_EQ((*t)["primary_key"]["name"], k.name) << k.table;
      EXPECT_EQ(strings_of((*t)["primary_key"]["columns"]), k.columns) << k.table;
      continue;
    }
    const json& list = (*t)[std::string(k.kind) == "uk" ? "unique_keys" : "foreign_keys"];
    const json* found = nullptr;
    for (const json& item : list)
      if (item["name"] == k.name) found = &item;
    ++expected_count;
    ASSERT_NE(found, nullptr) << k.table << " " << k.name;
    EXPECT_EQ(strings_of((*found)["columns"]), k.columns) << k.name;
    if (k.ref_table != nullptr) {
      EXPECT_EQ(plain((*found)["references"]["table"].get<std::string>()), k.ref_table) << k.name;
      EXPECT_EQ(strings_of((*found)["references"]["columns"]), k.ref_columns) << k.name;
    }
  }
  EXPECT_EQ(listed, expected_count) << "keys beyond the well-known ones";
}

const std::vector<expected_key>& hr_keys() {
  static const std::vector<expected_key> keys = {
      {"REGIONS", "pk", "REG_ID_PK", {"REGION_ID"}},
      {"COUNTRIES", "pk", "COUNTRY_C_ID_PK", {"COUNTRY_ID"}},
      {"COUNTRIES", "fk", "COUNTR_REG_FK", {"REGION_ID"}, "REGIONS", {"REGION_ID"}},
      {"LOCATIONS", "pk", "LOC_ID_PK", {"LOCATION_ID"}},
      {"LOCATIONS", "fk", "LOC_C_ID_FK", {"COUNTRY_ID"}, "COUNTRIES", {"COUNTRY_ID"}},
      {"DEPARTMENTS", "pk", "DEPT_ID_PK", {"DEPARTMENT_ID"}},
      {"DEPARTMENTS", "fk", "DEPT_LOC_FK", {"LOCATION_ID"}, "LOCATIONS", {"LOCATION_ID"}},
      {"DEPARTMENTS", "fk", "DEPT_MGR_FK", {"MANAGER_ID"}, "EMPLOYEES", {"EMPLOYEE_ID"}},
      {"JOBS", "pk", "JOB_ID_PK", {"JOB_ID"}},
      {"EMPLOYEES", "pk", "EMP_EMP_ID_PK", {"EMPLOYEE_ID"}},
      {"EMPLOYEES", "uk", "EMP_EMAIL_UK", {"EMAIL"}},
      {"EMPLOYEES", "fk", "EMP_DEPT_FK", {"DEPARTMENT_ID"}, "DEPARTMENTS", {"DEPARTMENT_ID"}},
      {"EMPLOYEES", "fk", "EMP_JOB_FK", {"JOB_ID"}, "JOBS", {"JOB_ID"}},
      {"EMPLOYEES", "fk", "EMP_MANAGER_FK", {"MANAGER_ID"}, "EMPLOYEES", {"EMPLOYEE_ID"}},
      {"JOB_HISTORY", "pk", "JHIST_EMP_ID_ST_DATE_PK", {"EMPLOYEE_ID", "START_DATE"}},
      {"JOB_HISTORY", "fk", "JHIST_JOB_FK", {"JOB_ID"}, "JOBS", {"JOB_ID"}},
      {"JOB_HISTORY", "fk", "JHIST_EMP_FK", {"EMPLOYEE_ID"}, "EMPLOYEES", {"EMPLOYEE_ID"}},
      {"JOB_HISTORY", "fk", "JHIST_DEPT_FK", {"DEPARTMENT_ID"}, "DEPARTMENTS", {"DEPARTMENT_ID"}},
  };
  return keys;
}

}  // namespace

TEST(catalogue_keys, hr_classic) {
  expect_keys("classic", "javierzc05__proyecto__respaldos_hr.dmp", hr_keys());
}

TEST(catalogue_keys, hr_datapump) {
  expect_keys("datapump", "OracleDataManagementSpain__ConvergedDatabase__HR.DMP", hr_keys());
}

TEST(catalogue_keys, scott_classic) {
  expect_keys("classic", "freetic__oracle__db_201912271502.dmp",
              {{"DEPT", "pk", "PK_DEPT", {"DEPTNO"}},
               {"EMP", "pk", "PK_EMP", {"EMPNO"}},
               {"EMP", "fk", "FK_DEPTNO", {"DEPTNO"}, "DEPT", {"DEPTNO"}}});
}
