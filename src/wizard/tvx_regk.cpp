// The wizard's per-user settings.
#include "wizard/tvx_regk.h"

#include <QSettings>

#include "TK/tk_log.h"
#include "converter/talvex_convertor.h"

namespace {

QString tvx_q(const tk_wstring& s) { return QString::fromStdU16String(s); }
tk_wstring tvx_w(const QString& s) { return s.toStdU16String(); }

}  // namespace

bool tvx_serialize(talvex_convertor& c, bool store) {
  log_message(1, "serialize( %d )", store ? 1 : 0);
  QSettings settings(QSettings::IniFormat, QSettings::UserScope, "Quorvane", "Talvex");
  if (store) {
    settings.setValue("dest", tvx_q(c.dest_folder));
    settings.setValue("n_comma", static_cast<int>(c.delimiter_index));
    settings.setValue("tab_def", c.definitions_only ? 1 : 0);
    settings.setValue("inc_fnames", c.include_field_names ? 1 : 0);
    settings.setValue("log_file", QString::fromUtf8(c.log_file.c_str()));
    settings.setValue("src", tvx_q(c.source_file));
    settings.sync();
    return settings.status() == QSettings::NoError;
  }
  if (settings.status() != QSettings::NoError) return false;
  if (settings.contains("dest")) c.dest_folder = tvx_w(settings.value("dest").toString());
  c.delimiter_index = 1;
  bool ok = false;
  const int delimiter = settings.value("n_comma", 1).toInt(&ok);
  // A value out of range (edited by hand) keeps the semicolon.
  if (ok && delimiter >= 0 && delimiter <= 2) c.delimiter_index = static_cast<uint32_t>(delimiter);
  c.definitions_only = settings.value("tab_def", 0).toInt() != 0;
  c.include_field_names = settings.value("inc_fnames", 1).toInt() != 0;
  if (settings.contains("log_file")) {
    const QString log = settings.value("log_file").toString();
    // A log file that can no longer be used is left out, not refused: the
    // user sees the field empty and may choose again.
    try {
      c.set_logfile(log.toUtf8().toStdString());
    } catch (const tk_exception& e) {
      log_message(3, "The remembered log file is not used: %s", e.what());
      c.log_file.clear();
    }
  }
  if (settings.contains("src")) c.source_file = tvx_w(settings.value("src").toString());
  return true;
}
