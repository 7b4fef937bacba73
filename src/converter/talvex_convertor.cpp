// The conversion driver: the table loop that copies every selected table of
// the dump into its CSV file, with per-table and per-record error handling.
#include "converter/talvex_convertor.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "TK/tk_exc.h"
#include "TK/tk_log.h"
#include "common/csv_util.h"
#include "common/csv_vali.h"
#include "converter/error_handler.h"
#include "converter/init_conversion.h"
#include "oracle_dump/ora_dump_file.h"

namespace {

const tk_wstring& talvex_delimiter(uint32_t index) {
  static const tk_wstring delimiters[] = {u"\t", u";", u","};
  if (index >= sizeof(delimiters) / sizeof(delimiters[0]))
    throw tk_exception("Invalid CSV delimiter", 1);
  return delimiters[index];
}

}  // namespace

// A table of the run and what its conversion left for the step after.
struct talvex_convertor::table_job {
  tk_wstring name;
  std::unique_ptr<udb_recordset> table;
  std::unique_ptr<csv_file> csv;
  tk_wstring output_name;
  bool finish = false;         // a file to finish
  bool rows = false;           // records to convert first
  uint64_t records = 0;        // records converted
  std::exception_ptr failure;  // what ended the table, raised again when it is finished
  // Tables converted in parallel keep their console text and the errors of
  // reading their rows until the tables before them are finished.
  console_capture console;
  std::vector<tk_exception> read_errors;
  bool done = false;  // the rows are converted (guarded by the pool's lock)
};

tk_wstring talvex_resolve_table_name(const std::vector<tk_wstring>& keys, const tk_wstring& name) {
  for (const tk_wstring& key : keys)
    if (key == name || tk_wcompare_no_case(key, name)) return name;
  // A plain name (EMPLOYEES) stands for the one table of that name under an
  // owner or tablespace (HR.EMPLOYEES): exact case first, then any case.
  for (const bool exact : {true, false}) {
    const tk_wstring* found = nullptr;
    int matches = 0;
    for (const tk_wstring& key : keys) {
      const size_t dot = key.rfind(u'.');
      if (dot == tk_wstring::npos) continue;
      const std::u16string_view plain = std::u16string_view(key).substr(dot + 1);
      if (exact ? plain == name : tk_wcompare_no_case(plain, name)) {
        found = &key;
        ++matches;
      }
    }
    if (matches == 1) return *found;
    if (matches > 1) break;  // ambiguous: the name stays as given
  }
  return name;
}

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

// ---- settings profiles -----------------------------------------------------------

namespace {

constexpr char16_t k_csv_settings[] = u"CSV settings";

// The delimiter index in decimal (0 tab, 1 semicolon, 2 comma); blanks may
// stand before it.
bool parse_delimiter(const tk_wstring& v, uint32_t& index) {
  size_t i = v.find_first_not_of(u' ');
  if (i == tk_wstring::npos) return false;
  uint32_t n = 0;
  for (; i < v.size(); ++i) {
    if (v[i] < u'0' || v[i] > u'9') return false;
    n = n * 10 + static_cast<uint32_t>(v[i] - u'0');
    if (n > 2) return false;
  }
  index = n;
  return true;
}

const char* check_delimiter(const tk_wstring& v) {
  uint32_t index = 0;
  return parse_delimiter(v, index) ? nullptr : "Invalid CSV delimiter";
}

void apply_delimiter(talvex_convertor& c, const tk_wstring& v) {
  parse_delimiter(v, c.delimiter_index);
}

// The keys of "CSV settings", in the order they are written.
constexpr udb_profile_key<talvex_convertor> k_csv_keys[] = {
    udb_flag_key<talvex_convertor, &talvex_convertor::include_field_names>(k_csv_settings,
                                                                           u"Include field names"),
    {k_csv_settings, u"CSV delimiter", check_delimiter, apply_delimiter,
     [](const talvex_convertor& c) { return tk_u16(std::to_string(c.delimiter_index)); }},
    // Spatial values with their SRID (--ewkt).
    udb_flag_key<talvex_convertor, &talvex_convertor::ewkt>(k_csv_settings, u"Spatial as EWKT"),
};

}  // namespace

std::vector<tk_wstring> talvex_convertor::profile_sections() const {
  std::vector<tk_wstring> sections = udb_converter::profile_sections();
  sections.push_back(k_csv_settings);
  return sections;
}

bool talvex_convertor::load_profile(const tk_wstring& path) {
  if (log_enabled(2)) log_message(2, "talvex_convertor::load_profile(%s)", tk_u8(path).c_str());
  udb_profile profile;
  profile.load(path);
  load_profile(profile);
  profile_files.push_back(profile.file_name());
  return true;
}

bool talvex_convertor::load_profile(const udb_profile& profile) {
  // Everything is checked before anything is applied, so that a profile
  // with a fault leaves the settings as they were.
  udb_converter::check_profile(profile);
  udb_check_profile_keys<talvex_convertor>(profile, k_csv_keys);
  udb_converter::load_profile(profile);
  udb_apply_profile_keys<talvex_convertor>(*this, profile, k_csv_keys);
  return true;
}

bool talvex_convertor::store_profile(const tk_wstring& path) const {
  if (log_enabled(2)) log_message(2, "talvex_convertor::store_profile( %s )", tk_u8(path).c_str());
  udb_profile profile;
  store_profile(profile);
  return profile.store(path);
}

void talvex_convertor::store_profile(udb_profile& profile) const {
  udb_converter::store_profile(profile);
  udb_store_profile_keys<talvex_convertor>(*this, profile, k_csv_keys);
}

void talvex_convertor::operator()() {
  log_message(2, "talvex_convertor::operator()");
  init_conversion guard(&finished, false);
  try {
    convert();
  } catch (const tk_exception& e) {
    error_handler::instance().handle(e, 1);
  } catch (const tk_final_exception&) {
    // Cancelled by the user (or "Abort" in the wizard's error dialog): the
    // table being written was discarded, the finished ones stay.
    log_message(3, "The conversion is cancelled");
    front_end_log("The conversion is cancelled\r\n");
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
  opener.reader.m_b_ewkt = ewkt;
  table_count = 0;
  table_index = 0;
  current_table.clear();
  table_records = 0;
  current_record = 0;
  m_totals = run_totals();
  m_line_open = false;
  error_handler::instance().reset_counts();
  // A delimiter out of range (only a profile can set one) ends the run
  // before anything is written.
  talvex_delimiter(delimiter_index);

  if (!source_db) {
    opener();
    source_db = std::move(opener.database);
    if (!source_db) throw tk_exception("The dump file could not be opened", 1);
    if (opener.reader.m_b_first_part)
      console_err(
          "Warning: this is the first part of a multi-file dump, and its other files are not "
          "here. Only the data stored in this file is converted; rows in the other parts are not. "
          "To convert everything, put the other files beside it or name them with more --src= "
          "options.\n");
    report_missing_parts();
  }
  report_source_errors(tk_wstring());

  // The dump is open and recognised, the tables to convert are known: only
  // now may the destination be emptied.
  const std::vector<tk_wstring> jobs = resolve_jobs();
  prepare_dest();
  csv_engine engine(dest_folder, tk_wstring());
  table_count = static_cast<int32_t>(jobs.size());
  log_message(3, "Converting file '%s' (%d tables)\r\n", tk_u8(source_file).c_str(),
              static_cast<int>(table_count));
  if (!silent)
    console_out(
        tk_format("Converting Oracle dump file (%d tables)\n", static_cast<int>(table_count)));
  front_end_log(tk_format("Converting file '%s' (%d tables)\r\n", tk_u8(source_file).c_str(),
                          static_cast<int>(table_count)));

  csv_validator validator(dest_folder);
  // Tables are converted at once only when each reads the dump on its own,
  // and never with the wizard, whose dialogs answer errors as they come.
  const auto* dump = dynamic_cast<const ora_dump_file*>(source_db.get());
  const size_t threads = std::min<size_t>(parallel_jobs, jobs.size());
  if (threads > 1 && dump != nullptr && dump->tables_independent() &&
      error_handler::instance().front_end == nullptr) {
    convert_in_parallel(jobs, engine, validator, threads);
  } else {
    for (const tk_wstring& name : jobs) {
      check_cancel();
      table_job job;
      job.name = name;
      open_table(job, engine, validator);
      convert_rows(job);
      finish_job(job, engine);
      ++table_index;
    }
  }
  error_handler::instance().clear_context();
  table_index = 0;
  table_count = 0;
  print_summary();
}

// The tables of this run: queued jobs first, then the chosen tables (all of
// the dump when none are chosen), each as the catalogue names it and once.
// Walked from a copy so that a second run does not convert every table twice.
std::vector<tk_wstring> talvex_convertor::resolve_jobs() {
  const bool chosen = !table_list.empty() || !table_jobs.empty();
  if (!chosen) table_list = source_db->get_tables();
  std::vector<tk_wstring> names;
  names.reserve(table_list.size() + table_jobs.size());
  for (const string_pair& job : table_jobs) names.push_back(job.first);
  for (const tk_wstring& name : table_list) names.push_back(name);

  const std::vector<tk_wstring> tables = source_db->get_tables();
  std::vector<tk_wstring> jobs;
  jobs.reserve(names.size());
  std::set<tk_wstring> seen;
  for (const tk_wstring& name : names) {
    // An exact spelling wins over one that differs only in case, so EMP and
    // "Emp" stay two tables, while emp and EMP listed for a dump that has
    // only EMP name it twice.
    const tk_wstring* key = source_db->find_table(name);
    // A plain name stands for the one table of that name under an owner.
    if (key == nullptr) key = source_db->find_table(talvex_resolve_table_name(tables, name));
    if (key == nullptr) {
      log_message(3, "Table '%s' not found in the dump", tk_u8(name).c_str());
      if (!silent) console_err("Table " + tk_u8(name) + " not exists\n");
      front_end_log("Table " + tk_u8(name) + " not exists\r\n");
      ++m_totals.tables_not_found;
      continue;
    }
    if (!seen.insert(*key).second) {
      log_message(3, "Table '%s' is listed more than once", tk_u8(*key).c_str());
      continue;
    }
    jobs.push_back(*key);
  }
  if (chosen && jobs.empty() && !names.empty()) {
    const tk_string where = table_list_file.empty() ? tk_string() : " in '" + table_list_file + "'";
    throw tk_exception(tk_format("None of the %zu table names listed%s is a table of the dump.",
                                 names.size(), where.c_str()),
                       1);
  }
  return jobs;
}

// A dump converted without some of its files (--partial): every missing
// file is an error of the run, so the run does not pass for complete.
void talvex_convertor::report_missing_parts() {
  error_handler& handler = error_handler::instance();
  handler.clear_context();
  for (const tk_string& part : opener.reader.m_missing_parts)
    handler.handle(
        tk_exception(
            "The multifile dump's " + part + " is missing: the data it holds is not converted", 0),
        1);
}

void talvex_convertor::open_table(table_job& job, csv_engine& engine, csv_validator& validator) {
  const tk_wstring& name = job.name;
  current_table = name;
  table_records = 0;
  current_record = 0;
  try {
    job.table = source_db->get_table(name, 1);
    report_source_errors(name);
    if (!job.table || job.table->get_schema().empty()) return;

    const bool acceptable = validator.is_acceptable(name);
    job.output_name = acceptable ? name : validator.get_safe_name(name);
    if (engine.is_table_exist(job.output_name) && existing_folder_mode == 2) {
      ++m_totals.files_kept;
      return;
    }
    const tk_wstring path = engine.get_full_file_name(job.output_name);
    const tk_wstring& delimiter = talvex_delimiter(delimiter_index);
    job.csv = include_field_names
                  ? std::make_unique<csv_file>(path, delimiter, job.table->get_schema())
                  : std::make_unique<csv_file>(path, delimiter);
    job.csv->blob_side_files = blob_side_files;

    // A later table whose name equals this output name (ignoring case) must
    // not reuse the file, and a generated name is never given out twice.
    if (!acceptable) {
      if (log_enabled(2))
        log_message(2, "Store generated table name '%s'", tk_u8(job.output_name).c_str());
      validator.add_existing_name(job.output_name);
    }
    validator.restricted_names.push_back(job.output_name);

    table_records = job.table->m_record_counter;
    if (!silent) console_out("Converting table " + tk_u8(name));
    m_line_open = !silent;
    job.finish = true;
    // --tab_def: no record is read; the next table's text continues on
    // this line.
    job.rows = !definitions_only;
  } catch (...) {
    job.failure = std::current_exception();
  }
}

void talvex_convertor::convert_rows(table_job& job) {
  if (!job.rows || job.failure) return;
  try {
    convert_records(*job.table, *job.csv, job.name, job.records);
  } catch (...) {
    job.failure = std::current_exception();
  }
}

void talvex_convertor::finish_job(table_job& job, csv_engine& engine) {
  job.console.replay();
  const tk_wstring& name = job.name;
  try {
    if (job.failure) std::rethrow_exception(job.failure);
    if (!job.finish) return;
    if (!job.rows) {
      finish_table(*job.csv, engine, job.output_name);
      return;
    }
    current_record = job.records;
    if (tk_logger* logger = tk_logger::get()) logger->m_min_level = 3;
    // The file gets its name before the table is reported done: a write
    // error belongs to this table.
    finish_table(*job.csv, engine, job.output_name);
    if (!silent)
      console_out(tk_format(" (%llu records)\n", static_cast<unsigned long long>(job.records)));
    m_line_open = false;
    const tk_string done =
        tk_format("Table '%s' (%llu records) is converted\r\n", tk_u8(name).c_str(),
                  static_cast<unsigned long long>(job.records));
    log_message(3, "%s", done.c_str());
    front_end_log(done);
    // What the reader found out while reading the rows (the file ending
    // inside them, say) is reported once the table's line is complete.
    for (const tk_exception& e : job.read_errors) source_db->add_error(e);
    job.read_errors.clear();
    report_source_errors(name);
  } catch (const tk_exception& e) {
    keep_partial_table(job.csv.get());
    // Errors of reading the rows wait for the next table's report, as they
    // do when the tables are converted one after the other.
    for (const tk_exception& r : job.read_errors) source_db->add_error(r);
    error_handler& handler = error_handler::instance();
    handler.set_context(name);
    handler.handle(e, 0);
  } catch (const error_exit&) {
    // A fatal error in a record: the rows before it stay, under the final
    // name, as the error report says.
    keep_partial_table(job.csv.get());
    throw;
  }
}

// Tables are opened and finished in table order on this thread, while up
// to `threads` worker threads convert the records of the tables opened;
// each table's console text waits until the tables before it are finished.
// A fatal error (or a cancel) stops the workers; the tables after the one
// that failed are dropped, and their temporary files with them.
void talvex_convertor::convert_in_parallel(const std::vector<tk_wstring>& names, csv_engine& engine,
                                           csv_validator& validator, size_t threads) {
  log_message(3, "Converting %zu tables on %zu threads\r\n", names.size(), threads);
  // Declared before the pool: the workers are joined before the jobs go.
  std::deque<std::unique_ptr<table_job>> window;
  std::mutex lock;
  std::condition_variable work_ready, job_done;
  std::deque<table_job*> queue;
  bool closing = false;
  m_abandon = false;

  auto worker = [&] {
    for (;;) {
      table_job* job = nullptr;
      {
        std::unique_lock<std::mutex> l(lock);
        work_ready.wait(l, [&] { return closing || !queue.empty(); });
        if (queue.empty()) return;
        job = queue.front();
        queue.pop_front();
      }
      console_capture_install(&job->console);
      udb_database::set_thread_error_sink(&job->read_errors);
      convert_rows(*job);
      udb_database::set_thread_error_sink(nullptr);
      console_capture_install(nullptr);
      {
        std::lock_guard<std::mutex> l(lock);
        job->done = true;
      }
      job_done.notify_all();
    }
  };
  struct pool {
    std::vector<std::thread> threads;
    std::function<void()> stop;
    ~pool() {
      stop();
      for (std::thread& t : threads) t.join();
    }
  } workers;
  workers.stop = [&] {
    {
      std::lock_guard<std::mutex> l(lock);
      closing = true;
      queue.clear();
    }
    m_abandon = true;
    work_ready.notify_all();
  };
  for (size_t i = 0; i < threads; ++i) workers.threads.emplace_back(worker);

  size_t next = 0;
  while (next < names.size() || !window.empty()) {
    // Open ahead so that every worker has a table, a few more at most.
    while (next < names.size() && window.size() < 2 * threads) {
      check_cancel();
      auto job = std::make_unique<table_job>();
      job->name = names[next++];
      console_capture_install(&job->console);
      open_table(*job, engine, validator);
      console_capture_install(nullptr);
      {
        std::lock_guard<std::mutex> l(lock);
        if (job->rows && !job->failure)
          queue.push_back(job.get());
        else
          job->done = true;
      }
      work_ready.notify_one();
      window.push_back(std::move(job));
    }
    table_job& front = *window.front();
    {
      std::unique_lock<std::mutex> l(lock);
      job_done.wait(l, [&] { return front.done; });
    }
    finish_job(front, engine);
    window.pop_front();
    ++table_index;
  }
  m_abandon = false;
}

void talvex_convertor::finish_table(csv_file& csv, csv_engine& engine,
                                    const tk_wstring& output_name) {
  const tk_string path = csv.path();
  csv.close();
  // Mode 1: files of this table under another spelling (Emp.CSV) go once
  // the new file is in place; the new file itself replaced emp.csv.
  if (existing_folder_mode == 1 && engine.is_table_exist(output_name))
    engine.delete_tab(output_name, path);
  ++m_totals.tables_converted;
  m_totals.rows_written += csv.m_record_counter;
}

void talvex_convertor::keep_partial_table(csv_file* csv) noexcept {
  if (csv == nullptr || !csv->is_open()) return;
  try {
    csv->close();
    m_totals.rows_written += csv->m_record_counter;
  } catch (const tk_exception& e) {
    log_message(3, "%s", e.text().c_str());
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

void talvex_convertor::convert_records(udb_recordset& table, csv_file& csv, const tk_wstring& name,
                                       uint64_t& count) {
  error_handler& handler = error_handler::instance();
  table.reset();
  while (!table.is_eof()) {
    check_cancel();
    if (m_abandon.load(std::memory_order_relaxed)) return;
    if (log_enabled(1))
      log_message(1, "Converting record #%llu", static_cast<unsigned long long>(count + 1));
    try {
      const udb_record* record = table.get_item1();
      if (record == nullptr) break;
      csv.append_record(*record);
      // Values that could not be written left their fields empty; the row
      // itself is written and each such value is reported.
      for (const tk_exception& e : record->errors) {
        handler.set_context(name, count + 1);
        handler.handle_value(e);
      }
    } catch (const tk_exception& e) {
      // A bad record is reported, skipped and counted; the table goes on.
      handler.set_context(name, count + 1);
      handler.handle(e, 0);
    }
    table.next();
    ++count;
    current_record = count;  // the wizard's progress
  }
}

namespace {

tk_string talvex_count(uint64_t n, const char* one, const char* many) {
  return tk_format("%llu %s", static_cast<unsigned long long>(n), n == 1 ? one : many);
}

}  // namespace

int talvex_convertor::exit_status() const {
  const error_handler* handler = error_handler::get();
  const bool errors = handler != nullptr && handler->had_errors();
  return errors || m_totals.tables_not_found != 0 ? TALVEX_EXIT_PARTIAL : TALVEX_EXIT_SUCCESS;
}

// One line that tells whether the run is complete: what was written, what
// was skipped, and where the files are.
void talvex_convertor::print_summary() {
  const error_handler& handler = error_handler::instance();
  tk_string line = "Summary: " + talvex_count(m_totals.tables_converted, "table", "tables") +
                   " converted, " + talvex_count(m_totals.rows_written, "row", "rows") +
                   " written, " + talvex_count(handler.records_skipped, "record", "records") +
                   " and " + talvex_count(handler.tables_skipped, "table", "tables") +
                   " skipped with errors";
  if (handler.values_failed != 0)
    line += ", " + talvex_count(handler.values_failed, "value", "values") + " left empty";
  if (m_totals.tables_not_found != 0)
    line += ", " + talvex_count(m_totals.tables_not_found, "listed table", "listed tables") +
            " not found";
  if (m_totals.files_kept != 0)
    line += ", " + talvex_count(m_totals.files_kept, "existing file", "existing files") + " kept";
  line += "; CSV files in '" + tk_u8(dest_folder) + "'";
  log_message(3, "%s", line.c_str());
  front_end_log(line + "\r\n");
  if (silent) return;
  if (m_line_open) console_out("\n");
  m_line_open = false;
  console_out(line + "\n");
}
