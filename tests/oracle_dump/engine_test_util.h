// Helpers for engine tests: open a synthetic dump and read its tables back as
// text, the way the CSV writer would print each value.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TK/tk_exc.h"
#include "UDB/udb_db.h"
#include "oracle_dump/ora_dump_file.h"
#include "oracle_dump/ora_dump_reader.h"

struct engine_fixture_file {
  explicit engine_fixture_file(const std::string& bytes) {
    static int counter = 0;
    path =
        (std::filesystem::temp_directory_path() /
         ("talvex_engine_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + ".dmp"))
            .string();
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  ~engine_fixture_file() {
    std::remove(path.c_str());
    // The context cache file the dump database wrote beside the dump.
    std::remove((path.substr(0, path.size() - 4) + ".tvc").c_str());
  }
  std::string path;
};

struct engine_table_rows {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;
  std::string error;  // text of the exception that ended the walk, if any
  // Errors of single values, "row N: text" (N counted from 1).
  std::vector<std::string> value_errors;
};

// Opens the dump (names qualified by CONNECT, as the driver does).
inline std::unique_ptr<ora_dump_file> engine_open(ora_dump_reader& reader,
                                                  const std::string& path) {
  reader.m_b_qualify_names = true;
  return reader.open(tk_u16(path));
}

// Walks a table like the conversion driver: reset, get_item1, next; an error
// in a record is kept and the walk goes on.
inline engine_table_rows engine_read(ora_dump_file& db, const std::string& table) {
  engine_table_rows out;
  std::unique_ptr<udb_recordset> t = db.get_table(tk_u16(table), 1);
  for (const t_ftd* f : t->get_schema()) out.columns.push_back(tk_u8(f->name));
  t->reset();
  while (!t->is_eof()) {
    try {
      udb_record* rec = t->get_item1();
      if (rec == nullptr) break;
      std::vector<std::string> row;
      for (const tk_exception& e : rec->errors)
        out.value_errors.push_back("row " + std::to_string(out.rows.size() + 1) + ": " + e.text());
      for (const udb_field& f : *rec) {
        std::string text;
        f.append_text_utf8(text);
        row.push_back(text);
      }
      out.rows.push_back(row);
    } catch (const tk_exception& e) {
      out.error = e.what();
    }
    t->next();
  }
  return out;
}
