// File and folder dialogs.
#include "GUI2/g_f_dlg.h"

#include <QDir>
#include <QFileDialog>
#include <QStringList>

#include "GUI2/g_wiz_sh.h"
#include "TK/tk_log.h"

QString gui_qt_filter(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty()) continue;
    QString pattern = parts[i + 1];
    // "*.*" on this platform is every file, with or without a point.
    pattern.replace("*.*", "*");
    out << parts[i] + " (" + pattern + ")";
  }
  return out.join(";;");
}

QString gui_with_extension(const QString& path, const QString& extension) {
  if (path.isEmpty() || extension.isEmpty()) return path;
  if (path.endsWith("." + extension, Qt::CaseInsensitive)) return path;
  return path + "." + extension;
}

bool open_file_dialog::show() {
  gui_dialog_request r{gui_dialog::open_file, m_title, QString(), m_filter, m_initial};
  const int hooked = gui_hooked_answer(r);
  if (hooked != gui_no_hook) {
    m_path = hooked == 1 ? r.path : QString();
    return hooked == 1;
  }
  m_path = QFileDialog::getOpenFileName(m_owner, m_title, m_initial, gui_qt_filter(m_filter));
  return !m_path.isEmpty();
}

bool save_file_dialog::show() {
  gui_dialog_request r{gui_dialog::save_file, m_title, QString(), m_filter, m_initial};
  const int hooked = gui_hooked_answer(r);
  QString chosen;
  if (hooked != gui_no_hook) {
    if (hooked != 1) return false;
    chosen = r.path;
  } else {
    chosen = QFileDialog::getSaveFileName(m_owner, m_title, m_initial, gui_qt_filter(m_filter));
  }
  if (chosen.isEmpty()) return false;
  m_path = gui_with_extension(chosen, m_extension);
  return true;
}

QString gui_browse_folder(QWidget* owner, const QString& title, const QString& start) {
  const QString from = start.isEmpty() ? QDir::currentPath() : start;
  gui_dialog_request r{gui_dialog::folder, title, QString(), QString(), from};
  const int hooked = gui_hooked_answer(r);
  QString path;
  if (hooked != gui_no_hook)
    path = hooked == 1 ? r.path : QString();
  else
    path = QFileDialog::getExistingDirectory(owner, title, from);
  if (!path.isEmpty()) log_message(1, "Got path: %s", path.toUtf8().constData());
  return path;
}
