// The conversion driver: the table loop that copies every selected table of
// the dump into its CSV file, with per-table and per-record error handling.
#include "converter/talvex_convertor.h"

#include <exception>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"
#include "common/csv_util.h"
#include "common/csv_vali.h"
#include "converter/error_handler.h"
#include "converter/init_conversion.h"

namespace {

const tk_wstring& talvex_delimiter(uint32_t index) {
  static const tk_wstring delimiters[] = {u"\t", u";", u","};
  if (index >= sizeof(delimiters) / sizeof(delimiters[0]))
    throw tk_exception("Invalid CSV delimiter", 1);
  return delimiters[index];
}

}  // namespace

talvex_convertor::talvex_convertor() {
  log_message(2, "udb_converter::ctor");
  log_message(2, "talvex_convertor::ctor");
  if (s_instance == nullptr) s_instance = this;
  opener.reader.m_b_qualify_names = true;
}

talvex_convertor::~talvex_convertor() {
  log_message(2, "talvex_convertor::dtor");
  // The dump database writes its context cache when destroyed and still
  // needs the reader for that.
  source_db.reset();
  if (s_instance == this) s_instance = nullptr;
}

talvex_convertor& talvex_convertor::instance() {
  if (s_instance == nullptr) throw tk_mail_assertion(__FILE__, __LINE__);
  return *s_instance;
}

void talvex_convertor::get_all_tables(std::vector<tk_wstring>& list) const {
  if (source_db) list = source_db->get_tables();
}

bool talvex_convertor::load_profile(const tk_wstring& path) {
  if (log_enabled(2)) log_message(2, "talvex_convertor::load_profile(%s)", tk_u8(path).c_str());
  throw tk_exception("Profiles are not supported yet", 1);
}

void talvex_convertor::operator()() {
  log_message(2, "talvex_convertor::operator()");
  init_conversion guard(&finished, false);
  try {
    convert();
  } catch (const tk_exception& e) {
    error_handler::instance().handle(e, 1);
  } catch (const std::exception& e) {
    // Out of memory or a fault of the reader: the remaining tables were not
    // converted, so the run must not end as a success.
    log_message(3, "ERROR:\n%s", e.what());
    if (!silent) console_err(tk_string(e.what()) + "\n");
    throw error_exit{TALVEX_EXIT_FAILURE};
  }
}

void talvex_convertor::convert() {
  opener.reader.m_b_qualify_names = true;
  table_count = 0;
  table_index = 0;
  current_table.clear();
  table_records = 0;
  current_record = 0;
  // A delimiter out of range (only a profile can set one) ends the run
  // before anything is written.
  talvex_delimiter(delimiter_index);

  if (!source_db) {
    opener();
    source_db = std::move(opener.database);
    if (!source_db) throw tk_exception("The dump file could not be opened", 1);
    if (opener.reader.m_b_first_part)
      console_err(
          "This is the first part of multifile dump. The program extracts data stored in this file "
          "only, other parts of the dump will not be processed. See 'Troubleshooting' article of "
          "the product documentation for solution.\n");
  }
  report_source_errors(tk_wstring());

  csv_engine engine(dest_folder, tk_wstring());
  if (table_list.empty() && table_jobs.empty()) table_list = source_db->get_tables();
  table_count = static_cast<int32_t>(table_list.size() + table_jobs.size());
  log_message(3, "Converting file '%s' (%d tables)\r\n", tk_u8(source_file).c_str(), table_count);
  if (!silent) console_out(tk_format("Converting Oracle dump file (%d tables)\n", table_count));

  csv_validator validator(dest_folder);
  // The jobs of this run: queued jobs first, then the chosen tables. Walked
  // from a copy so that a second run does not convert every table twice.
  std::vector<tk_wstring> jobs;
  jobs.reserve(static_cast<size_t>(table_count));
  for (const string_pair& job : table_jobs) jobs.push_back(job.first);
  for (const tk_wstring& name : table_list) jobs.push_back(name);

  for (const tk_wstring& name : jobs) {
    convert_table(name, engine, validator);
    ++table_index;
  }
  error_handler::instance().clear_context();
  table_index = 0;
  table_count = 0;
}

void talvex_convertor::convert_table(const tk_wstring& name, csv_engine& engine,
                                     csv_validator& validator) {
  current_table = name;
  table_records = 0;
  current_record = 0;
  const tk_string name8 = tk_u8(name);
  try {
    if (!source_db->is_table_exist(name)) {
      if (!silent) console_err("Table " + name8 + " not exists\n");
      return;
    }
    std::unique_ptr<udb_recordset> table = source_db->get_table(name, 1);
    report_source_errors(name);
    if (!table || table->get_schema().empty()) return;

    const bool acceptable = validator.is_acceptable(name);
    const tk_wstring output_name = acceptable ? name : validator.get_safe_name(name);
    if (engine.is_table_exist(output_name)) {
      if (existing_folder_mode == 2) return;
      if (existing_folder_mode == 1) engine.delete_tab(output_name);
    }
    const tk_wstring path = engine.get_full_file_name(output_name);
    const tk_wstring& delimiter = talvex_delimiter(delimiter_index);
    std::unique_ptr<csv_file> csv =
        include_field_names ? std::make_unique<csv_file>(path, delimiter, table->get_schema())
                            : std::make_unique<csv_file>(path, delimiter);

    // A later table whose name equals this output name (ignoring case) must
    // not reuse the file, and a generated name is never given out twice.
    if (!acceptable) {
      if (log_enabled(2))
        log_message(2, "Store generated table name '%s'", tk_u8(output_name).c_str());
      validator.add_existing_name(output_name);
    }
    validator.restricted_names.push_back(output_name);

    table_records = table->m_record_counter;
    if (!silent) console_out("Converting table " + name8);
    if (definitions_only) {
      // No record is read; the next table's text continues on this line.
      csv->close();
      return;
    }
    convert_records(*table, *csv, name);
    if (tk_logger* logger = tk_logger::get()) logger->m_min_level = 3;
    // Close before reporting: a write error belongs to this table.
    csv->close();
    if (!silent)
      console_out(tk_format(" (%llu records)\n", static_cast<unsigned long long>(current_record)));
    log_message(3, "Table '%s' (%llu records) is converted\r\n", name8.c_str(),
                static_cast<unsigned long long>(current_record));
    // What the reader found out while reading the rows (the file ending
    // inside them, say) is reported once the table's line is complete.
    report_source_errors(name);
  } catch (const tk_exception& e) {
    error_handler& handler = error_handler::instance();
    handler.set_context(name);
    handler.handle(e, 0);
  }
}

void talvex_convertor::report_source_errors(const tk_wstring& table) {
  error_handler& handler = error_handler::instance();
  for (const tk_exception& e : source_db->take_errors()) {
    if (table.empty())
      handler.clear_context();
    else
      handler.set_context(table);
    handler.handle(e, 0);
  }
}

void talvex_convertor::convert_records(udb_recordset& table, csv_file& csv,
                                       const tk_wstring& name) {
  error_handler& handler = error_handler::instance();
  table.reset();
  while (!table.is_eof()) {
    if (log_enabled(1))
      log_message(1, "Converting record #%llu",
                  static_cast<unsigned long long>(current_record + 1));
    try {
      const udb_record* record = table.get_item1();
      if (record == nullptr) break;
      csv.append_record(*record);
    } catch (const tk_exception& e) {
      // A bad record is reported, skipped and counted; the table goes on.
      handler.set_context(name, current_record + 1);
      handler.handle(e, 0);
    }
    table.next();
    ++current_record;
  }
}
