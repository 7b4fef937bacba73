// Captures every page of the wizard to PNG files for the README: it runs the
// wizard's pages on a dump the way a user would (all dialogs answered with
// their defaults), keeps each progress page on screen once its work is done,
// and grabs the window from the display (run it under Xvfb).
//
//   wizard_screens DUMP OUT_FOLDER
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <cstdio>

#include "GUI2/g_wiz_sh.h"
#include "TK/tk_log.h"
#include "converter/error_handler.h"
#include "converter/talvex_convertor.h"
#include "wizard/tvx_shel.h"

namespace {

bool grab(QWidget& w, const QString& file) {
  QApplication::processEvents();
  QTest::qWait(300);  // let the window manager-less display settle
  QPixmap shot;
  if (QWindow* window = w.windowHandle()) shot = window->screen()->grabWindow(w.winId());
  if (shot.isNull()) shot = w.grab();
  const bool ok = shot.save(file, "PNG");
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", file.toUtf8().constData());
  return ok;
}

bool wait_until(const std::function<bool()>& done, int ms = 60000) {
  for (int waited = 0; waited < ms; waited += 20) {
    if (done()) return true;
    QTest::qWait(20);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(talvex);
  if (argc != 3) {
    std::fprintf(stderr, "usage: wizard_screens DUMP OUT_FOLDER\n");
    return 2;
  }
  const QString dump = QString::fromLocal8Bit(argv[1]);
  const QString out = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
  QDir().mkpath(out);
  const QString dest = QDir::tempPath() + "/talvex-screens-csv";
  QDir(dest).removeRecursively();

  tk_logger logger(nullptr, false, 3, false);
  error_handler handler;
  talvex_convertor converter;
  converter.set_silent(true);
  converter.blob_side_files = true;
  converter.source_file = dump.toStdU16String();
  converter.dest_folder = dest.toStdU16String();
  gui_set_dialog_hook([](gui_dialog_request& r) { return r.kind == gui_dialog::question ? 1 : 0; });

  tvx_wizard wizard(converter, false);
  handler.front_end = &wizard.front_end();
  wizard.reading->auto_leave = false;
  wizard.converting->auto_leave = false;
  bool reading_done = false, converting_done = false;
  QObject::connect(wizard.reading, &tvx_progress_page::work_done, [&] { reading_done = true; });
  QObject::connect(wizard.converting, &tvx_progress_page::work_done,
                   [&] { converting_done = true; });
  wizard.show();
  bool ok = true;
  ok &= grab(wizard, out + "/wizard-1-welcome.png");
  wizard.next();
  ok &= grab(wizard, out + "/wizard-2-files.png");
  wizard.next();
  ok &= grab(wizard, out + "/wizard-3-settings.png");
  wizard.next();
  ok &= wait_until([&] { return reading_done; });
  ok &= wizard.reading->succeeded();
  ok &= grab(wizard, out + "/wizard-4-reading.png");
  wizard.reading->leave();
  // A few tables chosen, so that both lists show.
  QListWidget* available = wizard.tables->available_list();
  available->clearSelection();
  for (int i = 0; i < available->count(); i += 3) available->item(i)->setSelected(true);
  wizard.tables->on_add();
  ok &= grab(wizard, out + "/wizard-5-tables.png");
  wizard.next();
  ok &= wait_until([&] { return converting_done; });
  ok &= grab(wizard, out + "/wizard-6-converting.png");
  wizard.converting->leave();
  ok &= grab(wizard, out + "/wizard-7-finish.png");
  handler.front_end = nullptr;
  wizard.close_now();
  QDir(dest).removeRecursively();
  return ok ? 0 : 1;
}
