// The common base of the wizard pages.
#include "GUI2/g_wiz_pg.h"

#include <QPlainTextEdit>

#include "GUI2/g_wiz_sh.h"
#include "TK/tk_log.h"

wizard_page::wizard_page(int id, page_kind kind, int help_topic, const QString& title,
                         const QString& subtitle)
    : m_id(id), m_kind(kind), m_help_topic(help_topic) {
  // The header banner shows on interior pages only; the first and last
  // carry the watermark instead.
  if (kind == page_kind::interior) {
    setTitle(title);
    setSubTitle(subtitle);
  } else {
    setPixmap(QWizard::WatermarkPixmap, gui_watermark_pixmap());
  }
}

wizard_shell& wizard_page::shell() const { return *qobject_cast<wizard_shell*>(wizard()); }

bool wizard_page::on_cancel() {
  log_message(2, "wizard_page::on_cancel");
  return wizard_shell::question("Are you sure you want to exit the wizard?", true);
}

void wizard_page::on_help() { shell().display_help(m_help_topic); }

void wizard_page::set_working(bool working) {
  if (m_working == working) return;
  m_working = working;
  emit completeChanged();
  if (wizard() != nullptr && wizard()->currentPage() == this) shell().update_buttons();
}

bool wizard_page::validatePage() {
  if (m_working) return false;
  if (on_next() < 0) return false;
  on_kill_active();
  return true;
}

QPlainTextEdit* wizard_page::make_log_box() {
  m_log = new QPlainTextEdit(this);
  m_log->setReadOnly(true);
  m_log->setObjectName("log_box");
  return m_log;
}
