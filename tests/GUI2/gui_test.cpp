// Tests of the generic wizard library: message box captions before and
// after the shell's window is up, Cancel answered No, the file dialogs'
// filters and default extension, the help window's topics, and the lists of
// the table selection page.
#include <QAbstractButton>
#include <QApplication>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <memory>

#include "GUI2/g_f_dlg.h"
#include "GUI2/g_sel_tb.h"
#include "GUI2/g_wiz_pg.h"
#include "GUI2/g_wiz_sh.h"

namespace {

class plain_page : public wizard_page {
 public:
  plain_page(int id, page_kind kind) : wizard_page(id, kind, 1011, "Step", "Sub") {}
};

}  // namespace

class gui_test : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() { gui_set_dialog_hook(nullptr); }

  void captions_carry_the_title_once_the_window_is_up() {
    std::unique_ptr<QMessageBox> before(wizard_shell::make_box(gui_dialog::error, "e"));
    QCOMPARE(before->windowTitle(), QString("Error"));
    QVERIFY(before->parentWidget() == nullptr);
    wizard_shell shell("Talvex 8.3");
    std::unique_ptr<QMessageBox> not_yet(wizard_shell::make_box(gui_dialog::message, "m"));
    QCOMPARE(not_yet->windowTitle(), QString("Message"));
    shell.initialize_if();
    std::unique_ptr<QMessageBox> after(wizard_shell::make_box(gui_dialog::question, "q", true));
    QCOMPARE(after->windowTitle(), QString("Talvex 8.3 Question"));
    QVERIFY(after->parentWidget() == &shell);
    QVERIFY(static_cast<QAbstractButton*>(after->defaultButton()) ==
            after->button(QMessageBox::No));
    QCOMPARE(shell.windowTitle(), QString("Talvex 8.3"));
  }

  void cancel_answered_no_keeps_the_page() {
    wizard_shell shell("T");
    auto* first = new plain_page(1, page_kind::first);
    auto* second = new plain_page(2, page_kind::interior);
    first->set_next_id(2);
    shell.add_wizard_page(first);
    shell.add_wizard_page(second);
    shell.show();
    shell.next();
    QString asked;
    gui_set_dialog_hook([&](gui_dialog_request& r) {
      asked = r.caption + "|" + r.text;
      return 0;
    });
    shell.button(QWizard::CancelButton)->click();
    QCOMPARE(asked, QString("T Question|Are you sure you want to exit the wizard?"));
    QVERIFY(shell.isVisible());
    QCOMPARE(shell.currentId(), 2);
    gui_set_dialog_hook([](gui_dialog_request&) { return 1; });
    shell.button(QWizard::CancelButton)->click();
    QVERIFY(!shell.isVisible());
  }

  void file_dialog_filters_and_default_extension() {
    QCOMPARE(gui_qt_filter("Profile Files (.tlvx)|*.tlvx|All Files (*.*)|*.*|"),
             QString("Profile Files (.tlvx) (*.tlvx);;All Files (*.*) (*)"));
    QCOMPARE(gui_with_extension("/p/monthly", "tlvx"), QString("/p/monthly.tlvx"));
    QCOMPARE(gui_with_extension("/p/monthly.tlvx", "tlvx"), QString("/p/monthly.tlvx"));
    QCOMPARE(gui_with_extension("/p/M.TLVX", "tlvx"), QString("/p/M.TLVX"));
    QCOMPARE(gui_with_extension("/p/a.tlvx.old", "tlvx"), QString("/p/a.tlvx.old.tlvx"));
    gui_set_dialog_hook([](gui_dialog_request& r) {
      r.path = "/p/run";
      return 1;
    });
    save_file_dialog save(nullptr, "Log Files (.log)|*.log|", "Select Log File", "", "log");
    QVERIFY(save.show());
    QCOMPARE(save.path(), QString("/p/run.log"));
    gui_set_dialog_hook([](gui_dialog_request&) { return 0; });
    open_file_dialog open(nullptr, "X|*|", "Select", "");
    QVERIFY(!open.show());
    QVERIFY(open.path().isEmpty());
  }

  void help_opens_at_the_page_topic() {
    wizard_shell shell("T");
    shell.help_source = "qrc:/missing.html";
    QString error;
    gui_set_dialog_hook([&](gui_dialog_request& r) {
      error = r.text;
      return 0;
    });
    shell.display_help(1011);
    QCOMPARE(error, QString("Help file does not exist. Reinstall the program."));
    QVERIFY(shell.help_browser() == nullptr);
  }

  // Both lists sorted without regard to case; Add moves the selected
  // entries and selects the one that followed the last moved; the selected
  // names come out in their sorted order.
  void table_lists_move_and_keep_their_order() {
    sel_tables_page page(127, 1017, "Step 2 of 4", "Select Tables");
    page.do_page_init({"emp", "DEPT", "Bonus", "SALGRADE", "Emp"}, {"EMP", "Emp", "DEPT"});
    QCOMPARE(page.available_names(), (QStringList{"Bonus", "emp", "SALGRADE"}));
    QCOMPARE(page.selected_names(), (QStringList{"DEPT", "Emp"}));
    QListWidget* available = page.available_list();
    available->clearSelection();
    available->item(0)->setSelected(true);
    available->item(1)->setSelected(true);
    page.on_add();
    QCOMPARE(page.selected_names(), (QStringList{"Bonus", "DEPT", "Emp", "emp"}));
    QCOMPARE(page.available_names(), QStringList{"SALGRADE"});
    QCOMPARE(available->currentRow(), 0);
    page.on_add_all();
    QVERIFY(page.available_names().isEmpty());
    QCOMPARE(page.selected_list()->currentRow(), 0);
    page.selected_list()->clearSelection();
    page.selected_list()->item(4)->setSelected(true);
    page.on_delete();
    QCOMPARE(page.available_names(), QStringList{"SALGRADE"});
    QCOMPARE(page.selected_list()->currentRow(), 3);  // the last entry
    page.on_del_all();
    QCOMPARE(page.available_names().size(), 5);
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The offscreen platform warns on every window it cannot size.
  static QtMessageHandler previous = nullptr;
  previous = qInstallMessageHandler([](QtMsgType t, const QMessageLogContext& c, const QString& m) {
    if (!m.contains("propagateSizeHints") && previous != nullptr) previous(t, c, m);
  });
  gui_test t;
  return QTest::qExec(&t, argc, argv);
}

#include "gui_test.moc"
