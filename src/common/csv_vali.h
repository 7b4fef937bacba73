// CSV file naming: which table names may serve as file names unchanged, their
// safe replacements, and the CSV files the destination folder held when the
// run started.
#pragma once

#include <vector>

#include "UDB/udb_vali.h"

// Longest table part of a file name, in UTF-8 bytes: the name with ".csv"
// and the temporary suffix ".tmp" must fit the 255 bytes file systems allow.
inline constexpr size_t csv_max_name_bytes = 255 - 4 - 4;

// A file name may hold letters and digits of any script, '_' and '-', at
// most csv_max_name_bytes of them in UTF-8; it must also not repeat
// (ignoring case) a name already given out in this run.
class csv_validator : public udb_validator {
 public:
  explicit csv_validator(const tk_wstring& folder);

  bool is_acceptable(const tk_wstring& name) const override;
  // Replaces every other character by '_' and shortens a name too long for
  // the file system; a name still taken gets a three-digit counter (EMP000,
  // EMP001, ...), which shortening never cuts off.
  tk_wstring get_safe_name(const tk_wstring& name) const override;

  tk_wstring folder;
};

// True for the characters a CSV file name may keep: Unicode letters and
// digits, '_' and '-'. Takes a code point.
bool csv_is_name_char(char32_t c);

class csv_engine {
 public:
  // Lists the *.csv files (any case of the extension) present in folder.
  csv_engine(const tk_wstring& folder, const tk_wstring& prefix);
  ~csv_engine();

  // Whether a CSV file of that table name existed when the run started.
  bool is_table_exist(const tk_wstring& name) const;
  // Deletes the table's CSV files found at the start (Emp.CSV and emp.csv
  // both belong to table EMP), except the file at `keep` (UTF-8 path; the
  // table's new file). Raises tk_exception_ex on failure.
  bool delete_tab(const tk_wstring& name, const tk_string& keep = tk_string());
  // folder "/" [prefix "_"] lower-cased name ".csv"; the folder keeps its case.
  tk_wstring get_full_file_name(const tk_wstring& name) const;

  const std::vector<tk_wstring>& existing_names() const { return m_existing; }

  tk_wstring folder;
  tk_wstring prefix;

 private:
  std::vector<tk_wstring> m_existing;  // lower-case, without ".csv"
  std::vector<tk_string> m_files;      // the same files as named on disk
};
