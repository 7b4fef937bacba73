// An in-memory source database for driver tests: tables of text columns whose
// rows can be made to fail with a chosen error level.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TK/tk_exc.h"
#include "UDB/udb_db.h"

struct fake_table {
  tk_wstring name;
  std::vector<tk_wstring> columns;
  std::vector<std::vector<tk_wstring>> rows;
  std::map<size_t, int> failing_rows;  // 1-based row -> error level raised by get_item1
  int open_error = -1;                 // level raised by get_table, -1 for none
  std::function<void()> before_first_row = nullptr;  // called when row 1 is read
  // 1-based row -> text of a value error: the row's first value is then
  // empty and the record carries the error.
  std::map<size_t, std::string> value_errors = {};
};

class fake_recordset : public udb_recordset {
 public:
  explicit fake_recordset(const fake_table& t) : udb_recordset(t.name), m_table(t) {
    for (const tk_wstring& c : t.columns)
      own_column(std::make_unique<t_ftd>(0, c, VT_BSTR, false, ole_variant(), 0));
    m_record.shape(schema);
    m_record_counter = t.rows.size();
  }
  void append_record(const udb_record&) override {}
  void reset() override { m_pos = 0; }
  bool is_eof() override { return m_pos >= m_table.rows.size(); }
  void next() override { ++m_pos; }
  udb_record* get_item1() override {
    if (is_eof()) return nullptr;
    if (m_pos == 0 && m_table.before_first_row) m_table.before_first_row();
    auto failing = m_table.failing_rows.find(m_pos + 1);
    if (failing != m_table.failing_rows.end())
      throw tk_exception("bad row\nsecond line", failing->second);
    const std::vector<tk_wstring>& row = m_table.rows[m_pos];
    for (size_t i = 0; i < m_record.size(); ++i) {
      if (i < row.size())
        m_record[i].set_text(row[i]);
      else
        m_record[i].clear();
    }
    m_record.errors.clear();
    auto value_error = m_table.value_errors.find(m_pos + 1);
    if (value_error != m_table.value_errors.end()) {
      m_record[0].clear();
      m_record.errors.emplace_back(value_error->second, 0);
    }
    return &m_record;
  }

 private:
  const fake_table& m_table;
  udb_record m_record;
  size_t m_pos = 0;
};

class fake_database : public udb_database {
 public:
  explicit fake_database(std::vector<fake_table> tables)
      : udb_database(u"", 1, false), m_specs(std::move(tables)) {
    for (const fake_table& t : m_specs) m_tables.push_back(t.name);
  }
  std::unique_ptr<udb_recordset> get_table(const tk_wstring& name, int) override {
    const tk_wstring* key = find_table(name);
    for (const fake_table& t : m_specs) {
      if (key == nullptr || t.name != *key) continue;
      if (t.open_error >= 0) throw tk_exception("cannot open " + tk_u8(name), t.open_error);
      return std::make_unique<fake_recordset>(t);
    }
    throw tk_exception("Table \"" + tk_u8(name) + "\" doesn't exist in the database", 0);
  }

 private:
  std::vector<fake_table> m_specs;
};

// Rows "r1".."rn" of one column each.
inline std::vector<std::vector<tk_wstring>> fake_rows(size_t n) {
  std::vector<std::vector<tk_wstring>> rows;
  for (size_t i = 1; i <= n; ++i) rows.push_back({tk_u16("r" + std::to_string(i))});
  return rows;
}
