// The Talvex wizard: its seven pages and their flow. A user passes welcome,
// files, settings, reading, tables, conversion and finish; started with a
// profile, the wizard shows the reading page first and moves straight on to
// the conversion. The pages fill the converter's settings; the dump is read
// and converted on worker threads while the progress pages watch.
#pragma once

#include <QString>
#include <memory>

#include "GUI2/g_finish.h"
#include "GUI2/g_sel_tb.h"
#include "GUI2/g_wiz_pg.h"
#include "GUI2/g_wiz_sh.h"
#include "wizard/tvx_front.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QRadioButton;
class gui_worker;
class talvex_convertor;

// Page ids (the dialog ids of the original).
enum : int {
  tvx_welcome_id = 103,
  tvx_files_id = 105,
  tvx_settings_id = 110,
  tvx_reading_id = 108,
  tvx_tables_id = 127,
  tvx_converting_id = 106,
  tvx_finish_id = 116,
};

// The profile file extension and the filter of the profile dialogs.
extern const char* const tvx_profile_ext;
QString tvx_profile_filter();

class tvx_wizard;

class tvx_page : public wizard_page {
  Q_OBJECT
 public:
  using wizard_page::wizard_page;
  tvx_wizard& wiz() const;
  talvex_convertor& conv() const;
};

class welcome_page : public tvx_page {
  Q_OBJECT
 public:
  welcome_page();
  void on_load();
  QLabel* title_label() const { return m_title; }

 private:
  QLabel* m_title;
};

class sel_file_page : public tvx_page {
  Q_OBJECT
 public:
  sel_file_page();
  void page_init() override;
  int on_next() override;
  int on_back() override;
  // Reads the three fields into the converter; raises tk_exception for a
  // log file that cannot be used.
  void store_file_info();

  QLineEdit* source_edit() const { return m_source; }
  QLineEdit* dest_edit() const { return m_dest; }
  QLineEdit* log_edit() const { return m_log_edit; }
  void browse_source();
  void browse_dest();
  void browse_log();

 private:
  int check_and_prepare();
  QLineEdit* m_source;
  QLineEdit* m_dest;
  QLineEdit* m_log_edit;
};

class conv_settings_page : public tvx_page {
  Q_OBJECT
 public:
  conv_settings_page();
  void page_init() override;
  int on_next() override;
  int on_back() override;
  void store_file_info();

  QRadioButton* delimiter_button(int index) const { return m_delim[index]; }
  QCheckBox* names_box() const { return m_names; }
  QCheckBox* definitions_box() const { return m_definitions; }

 private:
  QRadioButton* m_delim[3];
  QCheckBox* m_names;
  QCheckBox* m_definitions;
};

// The two progress pages share their layout: texts, the log panel, a status
// text and the bar; each runs its work on a worker thread.
class tvx_progress_page : public tvx_page {
  Q_OBJECT
 public:
  tvx_progress_page(int id, int help_topic, const QString& title, const QString& subtitle,
                    const QString& text1, const QString& text2, bool status);
  QProgressBar* bar() const { return m_bar; }
  QLabel* status_label() const { return m_status; }
  bool on_cancel() override;

  // The page leaves itself once its work is done; the screenshot tool
  // keeps it (auto_leave false) and calls leave() itself.
  bool auto_leave = true;
  virtual void leave() = 0;

 signals:
  void work_done();

 protected:
  void start_work(std::function<void()> work);
  gui_worker* m_worker;
  QProgressBar* m_bar;
  QLabel* m_status = nullptr;
  bool m_cancelled = false;
};

class ora_dump_progress_page : public tvx_progress_page {
  Q_OBJECT
 public:
  ora_dump_progress_page();
  void page_init() override;
  void on_timer() override;
  void leave() override;
  // Whether the last reading produced a database.
  bool succeeded() const { return m_ok; }

 private:
  void on_done();
  bool m_ok = false;
};

class tvx_sel_tables_page : public sel_tables_page {
  Q_OBJECT
 public:
  tvx_sel_tables_page();
  void page_init() override;
  int on_next() override;
  int on_back() override;
  talvex_convertor& conv() const;
};

class progress_page : public tvx_progress_page {
  Q_OBJECT
 public:
  progress_page();
  void page_init() override;
  void on_timer() override;
  void leave() override;

 private:
  void on_done();
};

// The bar of the conversion page: finished tables, the current table's
// records and the reader's position in it, in integer steps.
int tvx_conversion_progress(int table_count, int table_index, uint64_t table_records,
                            uint64_t current_record, int local_progress);

class gui_finish_page_t : public gui_finish_page {
  Q_OBJECT
 public:
  gui_finish_page_t();
  void on_store() override;
};

class tvx_wizard : public wizard_shell {
  Q_OBJECT
 public:
  // profile_mode: the settings came from a profile given at start; the
  // wizard reads the dump and converts it without asking.
  tvx_wizard(talvex_convertor& converter, bool profile_mode);
  ~tvx_wizard() override;

  talvex_convertor& converter;
  bool profile_mode() const { return m_profile_mode; }
  // After a failed reading in profile mode the wizard goes on as if started
  // without a profile, at the file page, with the profile's settings.
  void leave_profile_mode();
  tvx_front_end& front_end() { return m_front_end; }
  // The exit status of the program: 255 after an internal error.
  int exit_status() const { return m_front_end.internal_failure() ? 255 : 0; }

  welcome_page* welcome;
  sel_file_page* files;
  conv_settings_page* settings;
  ora_dump_progress_page* reading;
  tvx_sel_tables_page* tables;
  progress_page* converting;
  gui_finish_page_t* finish;

 private:
  bool m_profile_mode;
  tvx_front_end m_front_end;
};
