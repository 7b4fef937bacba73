// Tests of the generic database layer: unique column names, name lookups,
// index merging, key extraction and conditions, table name lookups and name
// validation.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TK/tk_exc.h"
#include "UDB/udb_db.h"
#include "UDB/udb_vali.h"

namespace {

class test_recordset : public udb_recordset {
 public:
  test_recordset() : udb_recordset(u"T") {}
  void append_record(const udb_record&) override {}
  t_ftd* column(const tk_wstring& name, vartype_t vt = VT_BSTR) {
    return own_column(std::make_unique<t_ftd>(0, name, vt, false, ole_variant(), 0));
  }
};

class test_database : public udb_database {
 public:
  explicit test_database(bool case_sensitive) : udb_database(u"", 1, case_sensitive) {
    m_tables = {u"EMP", u"DEPT", u"EMP"};
  }
  std::unique_ptr<udb_recordset> get_table(const tk_wstring&, int) override { return nullptr; }
};

std::vector<tk_wstring> schema_names(const udb_schema& schema) {
  std::vector<tk_wstring> names;
  for (const t_ftd* ftd : schema) names.push_back(ftd->name);
  return names;
}

TEST(udb_recordset, add_column_appends_the_renaming_cycle) {
  test_recordset rs;
  std::vector<std::unique_ptr<t_ftd>> keep;
  for (int i = 0; i < 9; ++i) {
    keep.push_back(std::make_unique<t_ftd>(0, u"A", VT_BSTR, false, ole_variant(), 0));
    rs.add_column(keep.back().get());
  }
  // Names compare without case, so a lower-case twin is renamed too.
  keep.push_back(std::make_unique<t_ftd>(0, u"a_1_2_3", VT_BSTR, false, ole_variant(), 0));
  rs.add_column(keep.back().get());
  const std::vector<tk_wstring> expected = {u"A",         u"A_",        u"A_1",     u"A_1_",
                                            u"A_1_2",     u"A_1_2_",    u"A_1_2_3", u"A_1_2_3_",
                                            u"A_1_2_3_1", u"a_1_2_3_1_"};
  EXPECT_EQ(schema_names(rs.get_schema()), expected);
}

TEST(udb_schema, lookups_ignore_case_and_take_the_first_match) {
  test_recordset rs;
  rs.column(u"ID");
  rs.column(u"Name");
  rs.column(u"NAME");
  const udb_schema& s = rs.get_schema();
  EXPECT_EQ(s.get_field_idx(u"name"), 1);
  EXPECT_EQ(s.get_field2(u"id"), s[0]);
  EXPECT_TRUE(s.find_field(u"nAmE"));
  EXPECT_EQ(s.get_field_idx(u"missing"), -1);
  EXPECT_EQ(s.get_field2(u"missing"), nullptr);

  udb_schema empty;
  EXPECT_FALSE(empty.find_field(u"ID"));
  EXPECT_EQ(empty.get_field_idx(u"ID"), -1);

  udb_record record;
  EXPECT_EQ(record.get_field(u"ID"), nullptr);
  record.shape(s);
  ASSERT_EQ(record.size(), 3u);
  EXPECT_EQ(record.get_field(u"NAME"), &record[1]);
  EXPECT_TRUE(record.find_field(u"id"));
  EXPECT_FALSE(record.find_field(u"x"));
}

TEST(udb_schema, descriptors_outlive_a_schema_that_shared_them) {
  test_recordset rs;
  t_ftd* ftd = rs.column(u"ID");
  {
    auto copy = std::make_unique<udb_schema>(rs.get_schema());
    EXPECT_EQ((*copy)[0], ftd);
  }
  EXPECT_EQ(rs.get_schema()[0]->name, u"ID");
}

struct merge_case {
  const char* what;
  std::vector<udb_index> pushes;
  bool primary, unique, unique_constraint;
  size_t fields;  // number of fields of the surviving entry
};

udb_index make_index(bool unique, bool primary, bool constraint, size_t fields) {
  udb_index i;
  i.name = u"X";
  i.unique = unique;
  i.primary = primary;
  i.unique_constraint = constraint;
  i.fields.assign(fields, u"C");
  return i;
}

TEST(udb_indexes, merge_keeps_the_strongest_description) {
  const udb_index plain = make_index(false, false, false, 1);
  const udb_index unique = make_index(true, false, false, 2);
  const udb_index primary = make_index(true, true, false, 3);
  const udb_index constraint = make_index(false, false, true, 4);
  const merge_case cases[] = {
      {"unique then primary", {unique, primary}, true, true, false, 3},
      {"primary stays against unique", {unique, primary, unique}, true, true, false, 3},
      {"constraint replaces plain index", {plain, constraint}, false, false, true, 4},
      {"constraint stays against unique", {constraint, unique}, false, false, true, 4},
      {"unique upgrades plain", {plain, unique}, false, true, false, 2},
      {"plain does not downgrade unique", {unique, plain}, false, true, false, 2},
      {"primary stays against constraint", {primary, constraint}, true, true, false, 3},
  };
  for (const merge_case& c : cases) {
    udb_indexes idx;
    udb_index other = plain;
    other.name = u"OTHER";
    idx.push_back(other);
    for (udb_index i : c.pushes) {
      i.name = u"x";  // names match without case
      idx.push_back(i);
    }
    ASSERT_EQ(idx.size(), 2u) << c.what;
    EXPECT_EQ(idx[1].primary, c.primary) << c.what;
    EXPECT_EQ(idx[1].unique, c.unique) << c.what;
    EXPECT_EQ(idx[1].unique_constraint, c.unique_constraint) << c.what;
    EXPECT_EQ(idx[1].fields.size(), c.fields) << c.what;
  }
}

TEST(udb_recordset, get_key_copies_key_fields) {
  test_recordset rs;
  rs.column(u"ID", VT_I4);
  rs.column(u"NAME");
  udb_record record;
  record.shape(rs.get_schema());
  record[0].set_i4(7);
  EXPECT_THROW(rs.get_key(record), tk_exception);

  udb_index key;
  key.name = u"PK";
  key.primary = true;
  key.fields = {u"id"};
  rs.indexes.push_back(key);
  rs.key_index = 0;
  std::unique_ptr<udb_record> k = rs.get_key(record);
  ASSERT_TRUE(k);
  ASSERT_EQ(k->size(), 1u);
  EXPECT_EQ((*k)[0].name, u"ID");
  EXPECT_EQ((*k)[0].i4(), 7);

  rs.indexes[0].fields.push_back(u"MISSING");
  EXPECT_EQ(rs.get_key(record), nullptr);
  rs.key_index = 5;
  EXPECT_THROW(rs.get_key(record), tk_exception);
}

TEST(udb_recordset, filter_subquery_quotes_text_and_not_numbers) {
  test_recordset rs;
  rs.column(u"ID", VT_I4);
  rs.column(u"NAME", VT_BSTR);
  EXPECT_EQ(rs.get_filter_subquery(u""), u"");
  EXPECT_EQ(rs.get_filter_subquery(u"<ID>7</ID><NAME>x</NAME>"), u"\"ID\"=7 and \"NAME\"='x' ");
  EXPECT_EQ(rs.get_filter_subquery(u"<name>a&lt;b&gt;&amp;amp;</name>"), u"\"NAME\"='a<b>&amp;' ");
  EXPECT_THROW(rs.get_filter_subquery(u"<NOPE>1</NOPE>"), tk_exception);
}

TEST(udb_database, table_lookup_follows_case_sensitivity) {
  test_database insensitive(false);
  EXPECT_TRUE(insensitive.is_table_exist(u"emp"));
  EXPECT_FALSE(insensitive.is_table_exist(u"BONUS"));
  EXPECT_TRUE(insensitive.delete_tab(u"emp"));
  EXPECT_EQ(insensitive.get_tables(), (std::vector<tk_wstring>{u"DEPT", u"EMP"}));
  EXPECT_FALSE(insensitive.delete_tab(u"BONUS"));

  test_database sensitive(true);
  EXPECT_FALSE(sensitive.is_table_exist(u"emp"));
  EXPECT_TRUE(sensitive.is_table_exist(u"EMP"));
  EXPECT_FALSE(sensitive.delete_tab(u"dept"));
  // The base cannot run statements: an internal error.
  try {
    sensitive.empty_table(u"EMP");
    FAIL() << "no exception";
  } catch (const tk_exception& e) {
    EXPECT_EQ(e.level(), 2);
  }
}

TEST(udb_validator, limits_and_lists) {
  udb_validator open(0);
  EXPECT_TRUE(open.is_acceptable(tk_wstring(300, u'x')));
  EXPECT_FALSE(open.is_duplicated(u"x"));
  EXPECT_EQ(open.get_safe_name(u"a b"), u"a b");

  udb_validator v(10);
  v.illegal_chars = {u' '};
  v.restricted_names = {u"SECRET"};
  EXPECT_FALSE(v.is_acceptable(u"secret"));
  EXPECT_FALSE(v.is_acceptable(u"a b"));
  EXPECT_FALSE(v.is_acceptable(u"ABCDEFGHIJKL"));
  EXPECT_TRUE(v.is_acceptable(u"ABCDEFGHIJ"));
  // Cut to 9 units first; when that is taken, 4 units and a counter.
  EXPECT_EQ(v.get_safe_name(u"ABCDEFGHIJKL"), u"ABCDEFGHI");
  v.add_existing_name(u"abcdefghi");
  EXPECT_TRUE(v.is_duplicated(u"ABCDEFGHI"));
  EXPECT_EQ(v.get_safe_name(u"ABCDEFGHIJKL"), u"ABCD00000");
  v.add_existing_name(u"ABCD00000");
  EXPECT_EQ(v.get_safe_name(u"ABCDEFGHIJKL"), u"ABCD00001");
  EXPECT_EQ(v.get_safe_name(u"a b"), u"a_b");
  EXPECT_EQ(v.get_safe_name(u"Secret"), u"Secr00000");
}

}  // namespace
