// Tests of the wizard's flow over a small synthetic dump: the pages in
// order, the refusals of each page, the settings they give the converter,
// the CSV and BLOB side files of a run, profile mode, a failed reading,
// cancel, and the settings kept between runs.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTest>
#include <QTextBrowser>
#include <filesystem>

#include "fixtures/classic_dump_writer.h"
#include "wizard/tvx_regk.h"
#include "wizard_harness.h"

namespace {

using col = ora_dump_fx_column;
using cell = ora_dump_fx_cell;

const std::string bom = "\xEF\xBB\xBF";

// EMP (ID, NAME, PIC as BLOB) with three rows, DEPT (two rows).
std::string small_dump() {
  ora_dump_fx_writer w;
  ora_dump_fx_table emp;
  emp.name = "EMP";
  emp.columns = {col::number("ID"), col::varchar2("NAME", 20), col::blob("PIC")};
  emp.rows = {{{cell::number("1"), cell::text("Ann"), cell::lob("\x89PNG")}},
              {{cell::number("2"), cell::text("Bob"), cell::null()}},
              {{cell::number("3"), cell::text("Cy,x"), cell::lob(std::string("\x00\x01", 2))}}};
  ora_dump_fx_table dept;
  dept.name = "DEPT";
  dept.columns = {col::number("DEPTNO"), col::varchar2("DNAME", 14)};
  dept.rows = {{{cell::number("10"), cell::text("SALES")}},
               {{cell::number("20"), cell::text("OPS")}}};
  w.table(emp).table(dept).exit();
  return w.bytes();
}

QString q(const std::string& s) { return QString::fromStdString(s); }
bool exists(const std::string& p) { return std::filesystem::exists(p); }

}  // namespace

class wizard_test : public QObject {
  Q_OBJECT

  test_dir dir;
  std::string dump, dest;

 private slots:
  void init() {
    dump = dir / "small.dmp";
    test_write_file(dump, small_dump());
    dest = dir / "out";
    std::filesystem::remove_all(dest);
    std::filesystem::remove(dir / "small.tvc");
  }

  // The whole flow: each page in order, the refusals of the file page, the
  // settings page's choices, one table chosen, its CSV file and side files.
  void pages_in_order_convert_the_chosen_tables() {
    wizard_harness h;
    h.converter.source_file.clear();
    h.converter.dest_folder.clear();
    h.show();
    QCOMPARE(h.page(), int(tvx_welcome_id));
    QVERIFY(!h.wizard->button(QWizard::BackButton)->isEnabled());
    QCOMPARE(h.wizard->windowTitle(), QString("Talvex 8.3"));
    h.next();
    QCOMPARE(h.page(), int(tvx_files_id));
    QCOMPARE(h.wizard->currentPage()->title(), QString("Step 1 of 4"));
    QCOMPARE(h.wizard->currentPage()->subTitle(), QString("Select Files"));

    sel_file_page* files = h.wizard->files;
    h.next();
    QCOMPARE(h.page(), int(tvx_files_id));
    QCOMPARE(h.take_dialogs(), QStringList{"You should enter Oracle dump file name"});
    files->source_edit()->setText(q(dir / "missing.dmp"));
    h.next();
    QCOMPARE(
        h.take_dialogs(),
        QStringList{"Source file does not exist.\r\nPlease verify the correct path was given."});
    files->source_edit()->setText(q(dump));
    h.next();
    QCOMPARE(h.take_dialogs(), QStringList{"You should enter path to CSV folder"});
    files->dest_edit()->setText(q(dump));
    h.next();
    QCOMPARE(h.take_dialogs(), QStringList{"You should enter path to CSV folder, not a file name"});
    files->log_edit()->setText(q(dump));
    files->dest_edit()->setText(q(dest));
    h.next();
    QCOMPARE(h.take_dialogs().size(), 1);  // the log file would be the dump
    QCOMPARE(h.page(), int(tvx_files_id));
    files->log_edit()->clear();
    h.next();
    QCOMPARE(h.page(), int(tvx_settings_id));
    QVERIFY(h.take_dialogs().isEmpty());
    QVERIFY(!exists(dest));  // created when the conversion starts

    conv_settings_page* settings = h.wizard->settings;
    QVERIFY(settings->delimiter_button(1)->isChecked());  // the semicolon by default
    QVERIFY(settings->names_box()->isChecked());
    settings->delimiter_button(2)->setChecked(true);
    h.next();
    QCOMPARE(h.page(), int(tvx_reading_id));
    // While the dump is read no page can be left.
    QVERIFY(!h.wizard->button(QWizard::BackButton)->isEnabled());
    QVERIFY(!h.wizard->button(QWizard::NextButton)->isEnabled());
    QVERIFY(h.wait_for(tvx_tables_id));
    QCOMPARE(h.converter.delimiter_index, 2u);
    QVERIFY(h.wizard->reading->log_box()->toPlainText().startsWith("Reading file '" + q(dump)));

    tvx_sel_tables_page* tables = h.wizard->tables;
    QCOMPARE(tables->available_names(), (QStringList{"DEPT", "EMP"}));
    QVERIFY(tables->selected_names().isEmpty());
    // Nothing selected: the wizard asks; No stays.
    h.answer = [](gui_dialog_request&) { return 0; };
    h.next();
    QCOMPARE(h.page(), int(tvx_tables_id));
    QCOMPARE(h.take_dialogs(), QStringList{"There are no tables selected. Continue anyway?"});
    h.answer = nullptr;
    tables->available_list()->clearSelection();
    tables->available_list()->item(1)->setSelected(true);  // EMP
    tables->on_add();
    QCOMPARE(tables->selected_names(), QStringList{"EMP"});
    h.next();
    QCOMPARE(h.page(), int(tvx_converting_id));
    QVERIFY(h.wait_for(tvx_finish_id));
    QVERIFY(h.take_dialogs().isEmpty());

    QCOMPARE(h.wizard->finish->text_label()->text(),
             QString("Wizard has converted your Oracle dump file into\nCSV format successfully."
                     "\n\nClick 'Finish' to exit the wizard."));
    QVERIFY(!h.wizard->button(QWizard::CancelButton)->isEnabled());
    QVERIFY(!h.wizard->button(QWizard::BackButton)->isEnabled());
    QCOMPARE(q(test_read_file(dest + "/emp.csv")),
             q(bom + "ID,NAME,PIC\r\n1,Ann,emp_1\r\n2,Bob,\r\n3,\"Cy,x\",emp_2\r\n"));
    QCOMPARE(q(test_read_file(dest + "/emp_1")), q("\x89PNG"));
    QCOMPARE(test_read_file(dest + "/emp_2"), std::string("\x00\x01", 2));
    QVERIFY(!exists(dest + "/dept.csv"));
    const QString log = h.wizard->converting->log_box()->toPlainText();
    QVERIFY2(log.contains("Converting file '" + q(dump) +
                          "' (1 tables)\nTable 'EMP' (3 records) "
                          "is converted\n"),
             qPrintable(log));
  }

  // Back on the tables page returns to the file page, past the reading
  // page; the settings page keeps its choices going back and forth.
  void back_from_the_tables_goes_to_the_files() {
    wizard_harness h;
    h.converter.source_file = tk_u16(dump);
    h.converter.dest_folder = tk_u16(dest);
    h.show();
    h.next();
    h.next();
    h.wizard->settings->definitions_box()->setChecked(true);
    h.back();
    QCOMPARE(h.page(), int(tvx_files_id));
    QVERIFY(h.converter.definitions_only);
    h.next();
    QVERIFY(h.wizard->settings->definitions_box()->isChecked());
    h.next();
    QVERIFY(h.wait_for(tvx_tables_id));
    QVERIFY(h.wizard->button(QWizard::BackButton)->isEnabled());
    h.back();
    QCOMPARE(h.page(), int(tvx_files_id));
    QCOMPARE(h.wizard->files->source_edit()->text(), q(dump));
    // The dump is read again on the way forward.
    h.next();
    h.next();
    QVERIFY(h.wait_for(tvx_tables_id));
    QCOMPARE(h.wizard->tables->available_names().size(), 2);
  }

  // An existing destination: Cancel in the dialog stays and changes
  // nothing; "overwrite existing files only" keeps the folder's files;
  // "overwrite the entire folder" is refused for a folder with other files.
  void an_existing_destination_asks_how_to_treat_it() {
    std::filesystem::create_directories(dest);
    test_write_file(dest + "/notes.txt", "mine");
    test_write_file(dest + "/dept.csv", "old");
    wizard_harness h;
    h.converter.source_file = tk_u16(dump);
    h.converter.dest_folder = tk_u16(dest);
    h.converter.existing_folder_mode = 2;
    h.show();
    h.next();
    h.answer = [](gui_dialog_request& r) { return r.kind == gui_dialog::overwrite ? -1 : 0; };
    h.next();
    QCOMPARE(h.page(), int(tvx_files_id));
    QCOMPARE(h.dialogs.at(0).caption, QString("Talvex 8.3 Warning"));
    QVERIFY(h.take_dialogs().at(0).startsWith("The destination folder already exists."));
    QCOMPARE(h.converter.existing_folder_mode, 2);

    h.answer = nullptr;  // mode 0
    h.next();
    QCOMPARE(h.page(), int(tvx_files_id));
    const QStringList seen = h.take_dialogs();
    QCOMPARE(seen.size(), 2);
    QVERIFY2(seen.at(1).contains("notes.txt"), qPrintable(seen.at(1)));

    h.answer = [](gui_dialog_request& r) { return r.kind == gui_dialog::overwrite ? 1 : 0; };
    h.next();
    QCOMPARE(h.page(), int(tvx_settings_id));
    QCOMPARE(h.converter.existing_folder_mode, 1);
    h.next();
    QVERIFY(h.wait_for(tvx_tables_id));
    h.wizard->tables->on_add_all();
    h.next();
    QVERIFY(h.wait_for(tvx_finish_id));
    QCOMPARE(q(test_read_file(dest + "/notes.txt")), QString("mine"));
    QCOMPARE(q(test_read_file(dest + "/dept.csv")),
             q(bom + "DEPTNO;DNAME\r\n10;SALES\r\n20;OPS\r\n"));
  }

  // A file that is no dump: the reader's message is shown and the wizard
  // goes back to the file page; nothing is created.
  void a_failed_reading_returns_to_the_file_page() {
    test_write_file(dir / "junk.dmp", std::string(4096, 'j'));
    wizard_harness h;
    h.start_reading(dir / "junk.dmp", dest);
    QVERIFY(h.wait_for(tvx_files_id));
    QCOMPARE(h.dialogs.size(), size_t(1));
    QCOMPARE(h.dialogs.at(0).kind, gui_dialog::error);
    QVERIFY(h.dialogs.at(0).text.contains("cannot read Oracle dump file"));
    QVERIFY(!exists(dest));
    QVERIFY(h.wizard->isVisible());
  }

  // Started with a profile: the reading page first, then straight on to
  // the conversion with the profile's tables, then the finish page.
  void profile_mode_reads_and_converts_without_asking() {
    const std::string profile = dir / "run.tlvx";
    {
      talvex_convertor c;
      c.source_file = tk_u16(dump);
      c.dest_folder = tk_u16(dest);
      c.delimiter_index = 0;
      c.table_list = {u"DEPT", u"NOPE"};
      c.store_profile(tk_u16(profile));
    }
    wizard_harness h(false, profile);
    QVERIFY(h.wizard->profile_mode());
    h.converter.check_dest();
    QCOMPARE(h.wizard->startId(), int(tvx_reading_id));
    h.show();
    QVERIFY(h.wait_for(tvx_finish_id));
    QCOMPARE(h.wizard->visitedIds(),
             (QList<int>{tvx_reading_id, tvx_converting_id, tvx_finish_id}));
    QCOMPARE(q(test_read_file(dest + "/dept.csv")),
             q(bom + "DEPTNO\tDNAME\r\n10\tSALES\r\n20\tOPS\r\n"));
    QVERIFY(!exists(dest + "/emp.csv"));
    QVERIFY(h.wizard->converting->log_box()->toPlainText().contains("Table NOPE not exists"));
  }

  // A profile whose dump cannot be read: the wizard goes on in its normal
  // mode at the file page, with the profile's settings.
  void profile_mode_after_a_failed_reading_goes_to_the_file_page() {
    const std::string profile = dir / "bad.tlvx";
    test_write_file(dir / "junk.dmp", std::string(4096, 'j'));
    {
      talvex_convertor c;
      c.source_file = tk_u16(dir / "junk.dmp");
      c.dest_folder = tk_u16(dest);
      c.store_profile(tk_u16(profile));
    }
    wizard_harness h(false, profile);
    h.show();
    QVERIFY(h.wait_for(tvx_files_id));
    QVERIFY(!h.wizard->profile_mode());
    QCOMPARE(h.wizard->files->source_edit()->text(), q(dir / "junk.dmp"));
    QVERIFY(h.wizard->button(QWizard::BackButton)->isEnabled());
    h.wizard->files->source_edit()->setText(q(dump));
    h.next();
    h.next();
    QVERIFY(h.wait_for(tvx_tables_id));  // the normal flow again
  }

  // Cancel asks; No keeps the wizard on its page. Cancel while the dump is
  // converted stops the work, closes the wizard and leaves no file under a
  // temporary or partial name.
  void cancel_asks_and_stops_a_running_conversion() {
    wizard_harness h;
    h.converter.source_file = tk_u16(dump);
    h.converter.dest_folder = tk_u16(dest);
    h.show();
    h.next();
    h.answer = [](gui_dialog_request&) { return 0; };
    h.wizard->reject();
    QCOMPARE(h.take_dialogs(), QStringList{"Are you sure you want to exit the wizard?"});
    QVERIFY(h.wizard->isVisible());
    QCOMPARE(h.page(), int(tvx_files_id));
    h.answer = nullptr;
    h.next();
    h.next();
    QVERIFY(h.wait_for(tvx_tables_id));
    h.wizard->tables->on_add_all();
    h.next();
    QCOMPARE(h.page(), int(tvx_converting_id));
    h.wizard->reject();  // Yes
    QTRY_VERIFY_WITH_TIMEOUT(!h.wizard->isVisible(), 20000);
    QCOMPARE(h.wizard->result(), int(QDialog::Rejected));
    for (const auto& e : std::filesystem::directory_iterator(dest))
      QVERIFY2(e.path().extension() != ".tmp", e.path().c_str());
    if (exists(dest + "/dept.csv"))
      QCOMPARE(q(test_read_file(dest + "/dept.csv")),
               q(bom + "DEPTNO;DNAME\r\n10;SALES\r\n20;OPS\r\n"));
  }

  // Cancel while the dump is read: the reading stops and the wizard closes.
  void cancel_while_reading_closes_the_wizard() {
    wizard_harness h;
    h.start_reading(dump, dest);
    QCOMPARE(h.page(), int(tvx_reading_id));
    h.wizard->reject();
    QTRY_VERIFY_WITH_TIMEOUT(!h.wizard->isVisible(), 20000);
    QVERIFY(!exists(dest));
  }

  // The finish page lists the errors of a run, and saves its settings as a
  // profile (the extension added to a name typed without it).
  void the_finish_page_lists_errors_and_saves_the_settings() {
    wizard_harness h;
    h.start_reading(dump, dest);
    QVERIFY(h.wait_for(tvx_tables_id));
    h.wizard->tables->on_add_all();
    // A file where the CSV file must go: that table fails, the other goes on.
    std::filesystem::create_directories(dest + "/dept.csv.tmp");
    h.next();
    QVERIFY(h.wait_for(tvx_finish_id));
    QCOMPARE(h.dialogs.size(), size_t(1));
    QCOMPARE(h.dialogs.at(0).kind, gui_dialog::run_error);
    QVERIFY(h.dialogs.at(0).text.startsWith("DEPT: Cannot create CSV file"));
    QVERIFY(h.wizard->finish->text_label()->text().startsWith(
        "There were some errors while converting the database."));
    QVERIFY(h.wizard->finish->log_box()->isVisibleTo(h.wizard->finish));
    QVERIFY(h.wizard->finish->log_box()->toPlainText().startsWith("DEPT: Cannot create CSV file"));
    QVERIFY(exists(dest + "/emp.csv"));

    h.answer = [this](gui_dialog_request& r) {
      if (r.kind != gui_dialog::save_file) return 0;
      r.path = q(dir / "saved");
      return 1;
    };
    h.wizard->finish->on_store();
    QCOMPARE(h.dialogs.back().caption, QString("Select Profile"));
    talvex_convertor loaded;
    loaded.load_profile(tk_u16(dir / "saved.tlvx"));
    QVERIFY(loaded.source_file == tk_u16(dump));
    QVERIFY(loaded.dest_folder == tk_u16(dest));
    QCOMPARE(loaded.table_list.size(), size_t(2));
  }

  // The settings kept between runs: written when the wizard ends, read when
  // it starts; a delimiter out of range falls back to the semicolon.
  void settings_are_kept_between_runs() {
    const QString home = q(dir / "config");
    qputenv("XDG_CONFIG_HOME", home.toUtf8());
    tk_logger logger(nullptr, false, 3, false);
    {
      talvex_convertor c;
      c.source_file = tk_u16(dump);
      c.dest_folder = u"/data/out";
      c.delimiter_index = 2;
      c.include_field_names = false;
      c.definitions_only = true;
      c.log_file = dir / "run.log";
      QVERIFY(tvx_serialize(c, true));
    }
    QSettings ini(home + "/Quorvane/Talvex.ini", QSettings::IniFormat);
    QCOMPARE(ini.value("src").toString(), q(dump));
    QCOMPARE(ini.value("dest").toString(), QString("/data/out"));
    QCOMPARE(ini.value("n_comma").toInt(), 2);
    QCOMPARE(ini.value("inc_fnames").toInt(), 0);
    QCOMPARE(ini.value("tab_def").toInt(), 1);
    QCOMPARE(ini.value("log_file").toString(), q(dir / "run.log"));
    talvex_convertor c;
    QVERIFY(tvx_serialize(c, false));
    QVERIFY(c.source_file == tk_u16(dump));
    QVERIFY(c.dest_folder == u"/data/out");
    QCOMPARE(c.delimiter_index, 2u);
    QVERIFY(!c.include_field_names);
    QVERIFY(c.definitions_only);
    QCOMPARE(q(c.log_file), q(dir / "run.log"));
    ini.setValue("n_comma", 7);
    ini.sync();
    QVERIFY(tvx_serialize(c, false));
    QCOMPARE(c.delimiter_index, 1u);
    tk_logger::instance().set_file("");
    qunsetenv("XDG_CONFIG_HOME");
  }

  // "Load Settings..." fills the pages from a profile; its tables that the
  // dump lacks are not preselected. A profile that cannot be taken changes
  // nothing and says why.
  void a_loaded_profile_fills_the_pages() {
    const std::string profile = dir / "load.tlvx";
    {
      talvex_convertor c;
      c.source_file = tk_u16(dump);
      c.dest_folder = tk_u16(dest);
      c.definitions_only = true;
      c.table_list = {u"EMP", u"GONE"};
      c.store_profile(tk_u16(profile));
    }
    test_write_file(dir / "broken.tlvx", "[Generic settings]\r\nmode=7\r\n");
    wizard_harness h;
    h.converter.source_file.clear();
    h.show();
    std::string chosen = dir / "broken.tlvx";
    h.answer = [&](gui_dialog_request& r) {
      if (r.kind != gui_dialog::open_file) return 0;
      r.path = q(chosen);
      return 1;
    };
    h.wizard->welcome->on_load();
    QCOMPARE(h.dialogs.back().kind, gui_dialog::error);
    QVERIFY(h.dialogs.back().text.contains("broken.tlvx"));
    QVERIFY(h.converter.source_file.empty());
    chosen = profile;
    h.wizard->welcome->on_load();
    QCOMPARE(h.dialogs.back().kind, gui_dialog::open_file);
    QCOMPARE(h.dialogs.back().caption, QString("Select Profile"));
    h.answer = nullptr;
    h.next();
    QCOMPARE(h.wizard->files->source_edit()->text(), q(dump));
    h.next();
    QVERIFY(h.wizard->settings->definitions_box()->isChecked());
    h.next();
    QVERIFY(h.wait_for(tvx_tables_id));
    QCOMPARE(h.wizard->tables->selected_names(), QStringList{"EMP"});
    QCOMPARE(h.wizard->tables->available_names(), QStringList{"DEPT"});
  }

  // Help shows the program's own help at the page's topic.
  void help_opens_at_the_page_topic() {
    wizard_harness h;
    h.show();
    h.next();
    h.wizard->button(QWizard::HelpButton)->click();
    QTextBrowser* help = h.wizard->help_browser();
    QVERIFY(help != nullptr);
    QCOMPARE(help->source().fragment(), QString("topic1011"));
    QVERIFY(help->toPlainText().contains("Path to CSV folder"));
    QVERIFY(h.take_dialogs().isEmpty());
  }

  void conversion_progress_steps() {
    QCOMPARE(tvx_conversion_progress(4, 1, 1000, 500, 40), 47);
    QCOMPARE(tvx_conversion_progress(0, 0, 0, 0, 0), 0);
    QCOMPARE(tvx_conversion_progress(1, 0, 10, 20, 100), 100);
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(talvex);
  quiet_offscreen_warnings();
  wizard_test t;
  return QTest::qExec(&t, argc, argv);
}

#include "wizard_test.moc"
