// talvex, the desktop wizard: converts an Oracle dump into CSV files through
// seven pages. Started with a profile path as its only argument, it reads
// the dump and converts it with the profile's settings without asking.
#include <QApplication>
#include <QSettings>
#include <exception>

#include "TK/tk_log.h"
#include "converter/error_handler.h"
#include "converter/talvex_convertor.h"
#include "wizard/tvx_regk.h"
#include "wizard/tvx_shel.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Quorvane");
  QApplication::setApplicationName("Talvex");
  Q_INIT_RESOURCE(talvex);
  int status = 0;
  try {
    tk_logger logger(nullptr, false, 3, false);
    error_handler handler;
    talvex_convertor converter;
    // The run's texts go to the wizard's pages, not to a console.
    converter.set_silent(true);
    converter.blob_side_files = true;
    tvx_serialize(converter, false);
    bool profile_mode = false;
    const QStringList args = QApplication::arguments();
    if (args.size() > 1) {
      try {
        profile_mode = converter.load_profile(args.at(1).toStdU16String());
      } catch (const tk_exception& e) {
        wizard_shell::error(QString::fromUtf8(e.what()));
      }
    }
    {
      tvx_wizard wizard(converter, profile_mode);
      handler.front_end = &wizard.front_end();
      if (profile_mode) {
        try {
          converter.check_dest();
        } catch (const tk_exception& e) {
          wizard_shell::error(QString::fromUtf8(e.what()));
          wizard.leave_profile_mode();
        }
      }
      wizard.exec();
      handler.front_end = nullptr;
      status = wizard.exit_status();
    }
    tvx_serialize(converter, true);
  } catch (const std::exception& e) {
    wizard_shell::error(QString::fromUtf8(e.what()));
    status = 255;
  }
  return status;
}
