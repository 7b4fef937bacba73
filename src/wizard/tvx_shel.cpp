// The Talvex wizard's pages and their flow.
#include "wizard/tvx_shel.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "GUI2/g_dialogs.h"
#include "GUI2/g_f_dlg.h"
#include "GUI2/g_worker.h"
#include "TK/tk_fname.h"
#include "TK/tk_log.h"
#include "converter/error_handler.h"
#include "converter/talvex_convertor.h"

const char* const tvx_profile_ext = "tlvx";

QString tvx_profile_filter() {
  return QString("Profile Files (.%1)|*.%1|All Files (*.*)|*.*|").arg(tvx_profile_ext);
}

namespace {

QString tvx_q(const tk_wstring& s) { return QString::fromStdU16String(s); }
tk_wstring tvx_w(const QString& s) { return s.toStdU16String(); }
tk_string tvx_u8(const QString& s) { return s.toUtf8().toStdString(); }

const char* const tvx_first_part_text =
    "This is the first part of multifile dump. The program extracts data stored in this file "
    "only, other parts of the dump will not be processed. See 'Troubleshooting' article of the "
    "product documentation for solution.";

// A line edit with its label and "Browse..." button.
QLineEdit* tvx_path_row(QWidget* page, QVBoxLayout* layout, const QString& label, const char* name,
                        QPushButton*& browse) {
  auto* text = new QLabel(label, page);
  auto* edit = new QLineEdit(page);
  edit->setObjectName(name);
  text->setBuddy(edit);
  browse = new QPushButton("Browse...", page);
  auto* row = new QHBoxLayout;
  row->addWidget(edit, 1);
  row->addWidget(browse);
  layout->addWidget(text);
  layout->addLayout(row);
  return edit;
}

}  // namespace

tvx_wizard& tvx_page::wiz() const { return static_cast<tvx_wizard&>(shell()); }
talvex_convertor& tvx_page::conv() const { return wiz().converter; }

// ---- welcome ---------------------------------------------------------------------

welcome_page::welcome_page() : tvx_page(tvx_welcome_id, page_kind::first, 1014) {
  auto* layout = new QVBoxLayout(this);
  m_title = new QLabel("Welcome to Talvex\nConversion Wizard\n", this);
  gui_set_title_font(m_title);
  layout->addWidget(m_title);
  layout->addWidget(new QLabel(
      "This wizard helps you to convert Oracle dump file\ninto CSV format. Click 'Next' to "
      "continue.",
      this));
  layout->addStretch(1);
  auto* load = new QPushButton("&Load Settings...", this);
  load->setObjectName("load_settings");
  auto* row = new QHBoxLayout;
  row->addWidget(load);
  row->addStretch(1);
  layout->addLayout(row);
  connect(load, &QPushButton::clicked, this, &welcome_page::on_load);
  set_next_id(tvx_files_id);
}

void welcome_page::on_load() {
  const QString filter = tvx_profile_filter();
  log_message(2, "welcome_page_t::on_load(%s)", tvx_u8(filter).c_str());
  open_file_dialog dlg(&shell(), filter, "Select Profile", QString());
  if (!dlg.show()) return;
  try {
    conv().load_profile(tvx_w(dlg.path()));
  } catch (const tk_exception& e) {
    // The profile is refused as a whole; the settings stay as they were.
    wizard_shell::error(QString::fromUtf8(e.what()));
  }
}

// ---- files -----------------------------------------------------------------------

sel_file_page::sel_file_page()
    : tvx_page(tvx_files_id, page_kind::interior, 1011, "Step 1 of 4", "Select Files") {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(
      new QLabel("On this page you can specify data source, destination and log file.", this));
  layout->addSpacing(8);
  QPushButton* browse_src = nullptr;
  QPushButton* browse_dst = nullptr;
  QPushButton* browse_log = nullptr;
  m_source = tvx_path_row(this, layout, "&Oracle dump file:", "source", browse_src);
  m_dest = tvx_path_row(this, layout, "Path to CS&V folder:", "dest", browse_dst);
  m_log_edit =
      tvx_path_row(this, layout, "&Logfile (leave blank to disable logging):", "log", browse_log);
  layout->addStretch(1);
  connect(browse_src, &QPushButton::clicked, this, &sel_file_page::browse_source);
  connect(browse_dst, &QPushButton::clicked, this, &sel_file_page::browse_dest);
  connect(browse_log, &QPushButton::clicked, this, &sel_file_page::browse_log);
  set_next_id(tvx_settings_id);
}

void sel_file_page::page_init() {
  log_message(2, "sel_file_page::page_init");
  m_source->setText(tvx_q(conv().source_file));
  m_dest->setText(tvx_q(conv().dest_folder));
  m_log_edit->setText(QString::fromUtf8(conv().log_file.c_str()));
}

void sel_file_page::store_file_info() {
  log_message(2, "sel_file_page::store_file_info");
  talvex_convertor& c = conv();
  c.source_file = tvx_w(m_source->text().trimmed());
  c.source_parts.clear();
  c.dest_folder = tvx_w(m_dest->text().trimmed());
  c.set_logfile(tvx_u8(m_log_edit->text().trimmed()));
}

void sel_file_page::browse_source() {
  open_file_dialog dlg(&shell(), "Oracle Dump Files (.dmp)|*.dmp|All Files (*.*)|*.*|",
                       "Select Oracle Dump File", m_source->text());
  if (dlg.show()) m_source->setText(dlg.path());
}

void sel_file_page::browse_dest() {
  const QString path = gui_browse_folder(&shell(), "Select CSV files folder", m_dest->text());
  if (!path.isEmpty()) m_dest->setText(path);
}

void sel_file_page::browse_log() {
  save_file_dialog dlg(&shell(), "Log Files (.log)|*.log|All Files (*.*)|*.*|", "Select Log File",
                       m_log_edit->text(), "log");
  if (dlg.show()) m_log_edit->setText(dlg.path());
}

int sel_file_page::on_back() {
  try {
    store_file_info();
  } catch (const tk_exception&) {
    // Going back keeps what was typed; the log file is checked on Next.
  }
  return 0;
}

int sel_file_page::on_next() {
  log_message(2, "sel_file_page::on_next");
  try {
    return check_and_prepare();
  } catch (const tk_exception& e) {
    wizard_shell::error(QString::fromUtf8(e.what()));
    return -1;
  }
}

// The checks of the file page. The destination is only checked here: it is
// emptied (mode 0) or created when the conversion starts, once the dump has
// been read and recognised, so that nothing is deleted for a file that is
// no dump.
int sel_file_page::check_and_prepare() {
  store_file_info();
  talvex_convertor& c = conv();
  if (c.source_file.empty()) {
    wizard_shell::message("You should enter Oracle dump file name");
    return -1;
  }
  const tk_string source = tk_u8(c.source_file);
  if (!QFileInfo(QString::fromUtf8(source.c_str())).isFile()) {
    wizard_shell::error("Source file does not exist.\r\nPlease verify the correct path was given.");
    return -1;
  }
  if (c.dest_folder.empty()) {
    wizard_shell::message("You should enter path to CSV folder");
    return -1;
  }
  // The log file is emptied on its first message: it must not be the dump.
  if (!c.log_file.empty() && tk_same_file(c.log_file, source)) {
    wizard_shell::error("The log file is the Oracle dump file. Choose another log file.");
    return -1;
  }
  if (tk_logger* logger = tk_logger::get()) logger->protect(source);

  // Write access and "not a file" first, whatever the mode.
  const int32_t mode = c.existing_folder_mode;
  c.existing_folder_mode = 1;
  try {
    c.check_dest();
  } catch (...) {
    c.existing_folder_mode = mode;
    throw;
  }
  c.existing_folder_mode = mode;
  const QFileInfo dest(QString::fromUtf8(tk_u8(c.dest_folder).c_str()));
  if (dest.isDir()) {
    const int chosen = overwrite_dlg2_ask(&shell());
    if (chosen < 0) return -1;
    if (chosen == 0) log_message(2, "Overwrite entire folder");
    log_message(2, "udb_converter::set_mode(%d)", chosen);
    c.existing_folder_mode = chosen;
  }
  // Mode 0 refuses a folder that holds files this program did not write.
  c.check_dest();
  return 0;
}

// ---- settings --------------------------------------------------------------------

conv_settings_page::conv_settings_page()
    : tvx_page(tvx_settings_id, page_kind::interior, 1016, "Step 3 of 4", "Conversion Settings") {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("On this page you can specify conversion settings.", this));
  layout->addSpacing(8);
  auto* group = new QGroupBox(" Select CSV &delimiter: ", this);
  auto* g = new QVBoxLayout(group);
  const char* names[] = {"Tab", "Semicolon", "Comma"};
  for (int i = 0; i < 3; ++i) {
    m_delim[i] = new QRadioButton(names[i], group);
    g->addWidget(m_delim[i]);
  }
  layout->addWidget(group);
  m_names = new QCheckBox("&Include field names in CSV file", this);
  m_definitions = new QCheckBox("&Do not migrate the data", this);
  layout->addWidget(m_names);
  layout->addWidget(m_definitions);
  layout->addStretch(1);
  set_next_id(tvx_reading_id);
}

void conv_settings_page::page_init() {
  log_message(2, "conv_settings_page::page_init");
  const uint32_t d = conv().delimiter_index;
  if (d < 3) m_delim[d]->setChecked(true);
  m_names->setChecked(conv().include_field_names);
  m_definitions->setChecked(conv().definitions_only);
}

void conv_settings_page::store_file_info() {
  log_message(2, "conv_settings_page::store_file_info");
  for (uint32_t i = 0; i < 3; ++i)
    if (m_delim[i]->isChecked()) conv().delimiter_index = i;
  conv().definitions_only = m_definitions->isChecked();
  conv().include_field_names = m_names->isChecked();
}

int conv_settings_page::on_next() {
  log_message(2, "conv_settings_page::on_next");
  store_file_info();
  return 0;
}

int conv_settings_page::on_back() {
  store_file_info();
  return 0;
}

// ---- progress pages --------------------------------------------------------------

tvx_progress_page::tvx_progress_page(int id, int help_topic, const QString& title,
                                     const QString& subtitle, const QString& text1,
                                     const QString& text2, bool status)
    : tvx_page(id, page_kind::interior, help_topic, title, subtitle) {
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(text1, this));
  layout->addWidget(make_log_box(), 1);
  if (!text2.isEmpty()) layout->addWidget(new QLabel(text2, this));
  if (status) {
    m_status = new QLabel(this);
    m_status->setObjectName("status");
    layout->addWidget(m_status);
  }
  m_bar = new QProgressBar(this);
  m_bar->setRange(0, 100);
  layout->addWidget(m_bar);
  m_worker = new gui_worker(this);
  back_allowed = false;
}

void tvx_progress_page::start_work(std::function<void()> work) {
  m_cancelled = false;
  m_bar->setValue(0);
  log_box()->clear();
  set_working(true);
  shell().start_timer(200);
  m_worker->start(std::move(work));
}

bool tvx_progress_page::on_cancel() {
  if (!working()) return tvx_page::on_cancel();
  if (!wizard_shell::question("Are you sure you want to exit the wizard?", true)) return false;
  // The work stops at its next record or table; the wizard closes then.
  m_cancelled = true;
  conv().request_cancel();
  conv().opener.reader.request_cancel();
  if (m_status != nullptr) m_status->setText("Stopping...");
  return false;
}

ora_dump_progress_page::ora_dump_progress_page()
    : tvx_progress_page(tvx_reading_id, 0, "Reading dump file", "Reading dump file is in progress",
                        "Please wait until wizard reads Oracle dump file.",
                        "Reading Oracle dump file...", false) {
  log_message(2, "ora_dump_progress_page::ctor(%d)", tvx_tables_id);
  set_next_id(tvx_tables_id);
  connect(m_worker, &gui_worker::finished, this, &ora_dump_progress_page::on_done);
}

void ora_dump_progress_page::page_init() {
  log_message(2, "ora_dump_progress_page::page_init");
  talvex_convertor& c = conv();
  m_ok = false;
  // A dump read before (the user came back to change it) is let go; its
  // cache file is written now.
  c.source_db.reset();
  c.opener.database.reset();
  c.clear_cancel();
  c.opener.reader.clear_cancel();
  shell().errors.clear();
  start_work([&c] {
    try {
      c.opener();
    } catch (const error_exit&) {
      // Reported by the error handler; the page goes back to the files.
    } catch (const tk_final_exception&) {
      // Cancelled.
    }
  });
}

void ora_dump_progress_page::on_timer() {
  log_message(2, "ora_dump_progress_page::on_timer");
  const int progress = conv().opener.reader.get_progress();
  log_message(2, "Progress=%d", progress);
  m_bar->setValue(std::clamp(progress, 0, 100));
}

// The page moves on when the opening has returned, not when the reader's
// progress reaches 100: the reader reports 100 before the database is
// handed over.
void ora_dump_progress_page::on_done() {
  shell().stop_timer();
  set_working(false);
  talvex_convertor& c = conv();
  if (m_cancelled || wiz().front_end().internal_failure()) {
    shell().close_now();
    return;
  }
  m_ok = c.opener.database != nullptr;
  if (m_ok) {
    c.source_db = std::move(c.opener.database);
    m_bar->setValue(100);
  }
  emit work_done();
  if (auto_leave) leave();
}

void ora_dump_progress_page::leave() {
  if (m_ok) {
    shell().go_next();
  } else if (wiz().profile_mode()) {
    wiz().leave_profile_mode();
  } else {
    shell().back_to(tvx_files_id);
  }
}

int tvx_conversion_progress(int table_count, int table_index, uint64_t table_records,
                            uint64_t current_record, int local_progress) {
  if (table_count <= 0) return 0;
  int64_t p = static_cast<int64_t>(table_index) * 100 / table_count;
  if (table_records != 0)
    p += static_cast<int64_t>(current_record * 100 / table_records /
                              static_cast<uint64_t>(table_count));
  p += local_progress / table_count;
  return static_cast<int>(std::clamp<int64_t>(p, 0, 100));
}

progress_page::progress_page()
    : tvx_progress_page(
          tvx_converting_id, 0, "Step 4 of 4", "Data conversion is in progress",
          "Database conversion is in progress. Please wait until wizard completes\nconverting "
          "your Oracle data into CSV format.",
          QString(), true) {
  set_next_id(tvx_finish_id);
  connect(m_worker, &gui_worker::finished, this, &progress_page::on_done);
}

void progress_page::page_init() {
  log_message(2, "progress_page::page_init");
  talvex_convertor& c = conv();
  c.clear_cancel();
  m_status->clear();
  start_work([&c] {
    try {
      c();
    } catch (const error_exit&) {
      // A fatal error of the run, already shown and listed.
    }
  });
}

void progress_page::on_timer() {
  const talvex_convertor& c = conv();
  const int p = tvx_conversion_progress(c.table_count, c.table_index, c.table_records,
                                        c.current_record, c.opener.reader.get_local_progress());
  m_bar->setValue(p);
  const tk_wstring table = c.current_table.get();
  if (!m_cancelled)
    m_status->setText(table.empty() ? QString()
                                    : QString("Processing table '%1'").arg(tvx_q(table)));
}

void progress_page::on_done() {
  shell().stop_timer();
  set_working(false);
  if (m_cancelled || wiz().front_end().internal_failure()) {
    shell().close_now();
    return;
  }
  m_bar->setValue(100);
  emit work_done();
  if (auto_leave) leave();
}

void progress_page::leave() { shell().go_next(); }

// ---- tables ----------------------------------------------------------------------

tvx_sel_tables_page::tvx_sel_tables_page()
    : sel_tables_page(tvx_tables_id, 1017, "Step 2 of 4", "Select Tables") {
  set_next_id(tvx_converting_id);
}

talvex_convertor& tvx_sel_tables_page::conv() const {
  return static_cast<tvx_wizard&>(shell()).converter;
}

void tvx_sel_tables_page::page_init() {
  talvex_convertor& c = conv();
  if (c.opener.reader.m_b_first_part) {
    wizard_shell::message(tvx_first_part_text);
    shell().add_error(tvx_first_part_text);
  }
  m_intro->setText("Select Oracle tables to convert into CSV format.");
  std::vector<tk_wstring> names;
  c.get_all_tables(names);
  QStringList all, chosen;
  for (const tk_wstring& n : names) all << tvx_q(n);
  for (const tk_wstring& n : c.table_list) chosen << tvx_q(n);
  do_page_init(all, chosen);
}

int tvx_sel_tables_page::on_next() {
  const QStringList selected = selected_names();
  if (!available_names().isEmpty() && selected.isEmpty() &&
      !wizard_shell::question("There are no tables selected. Continue anyway?"))
    return -1;
  std::vector<tk_wstring> list;
  for (const QString& n : selected) list.push_back(tvx_w(n));
  conv().table_list = std::move(list);
  conv().table_jobs.clear();
  return 0;
}

int tvx_sel_tables_page::on_back() { return tvx_files_id; }

// ---- finish ----------------------------------------------------------------------

gui_finish_page_t::gui_finish_page_t() : gui_finish_page(tvx_finish_id) {}

void gui_finish_page_t::on_store() {
  const QString filter = tvx_profile_filter();
  log_message(2, "gui_finish_page_t::on_store(%s)", tvx_u8(filter).c_str());
  save_file_dialog dlg(&shell(), filter, "Select Profile", QString(), tvx_profile_ext);
  if (!dlg.show()) return;
  try {
    static_cast<tvx_wizard&>(shell()).converter.store_profile(tvx_w(dlg.path()));
  } catch (const tk_exception& e) {
    wizard_shell::error(QString::fromUtf8(e.what()));
  }
}

// ---- the wizard ------------------------------------------------------------------

tvx_wizard::tvx_wizard(talvex_convertor& c, bool profile_mode)
    : wizard_shell(QString("Talvex %1").arg(TALVEX_VERSION)),
      converter(c),
      m_profile_mode(profile_mode),
      m_front_end(*this) {
  welcome = new welcome_page;
  files = new sel_file_page;
  settings = new conv_settings_page;
  reading = new ora_dump_progress_page;
  tables = new tvx_sel_tables_page;
  converting = new progress_page;
  finish = new gui_finish_page_t;
  for (wizard_page* p : std::initializer_list<wizard_page*>{welcome, files, settings, reading,
                                                            tables, converting, finish})
    add_wizard_page(p);
  if (m_profile_mode) {
    reading->set_next_id(tvx_converting_id);
    setStartId(tvx_reading_id);
  } else {
    setStartId(tvx_welcome_id);
  }
  resize(620, 480);
}

tvx_wizard::~tvx_wizard() = default;

void tvx_wizard::leave_profile_mode() {
  m_profile_mode = false;
  reading->set_next_id(tvx_tables_id);
  setStartId(tvx_welcome_id);
  restart();
  if (isVisible()) go_next();
}
