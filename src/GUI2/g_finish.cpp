// The last page of a wizard.
#include "GUI2/g_finish.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "GUI2/g_wiz_sh.h"
#include "TK/tk_log.h"

void gui_set_title_font(QLabel* label) {
  QFont font = label->font();
  font.setPointSize(13);
  font.setBold(false);
  label->setFont(font);
}

gui_finish_page::gui_finish_page(int id) : wizard_page(id, page_kind::last, 0) {
  auto* layout = new QVBoxLayout(this);
  m_title = new QLabel("Conversion is Completed", this);
  gui_set_title_font(m_title);
  layout->addWidget(m_title);
  layout->addSpacing(12);
  m_text = new QLabel(this);
  m_text->setWordWrap(true);
  layout->addWidget(m_text);
  layout->addWidget(make_log_box(), 1);
  log_box()->hide();
  layout->addStretch(0);
  m_store = new QPushButton("&Save Settings...", this);
  auto* row = new QHBoxLayout;
  row->addWidget(m_store);
  row->addStretch(1);
  layout->addLayout(row);
  connect(m_store, &QPushButton::clicked, this, [this] { on_store(); });
}

void gui_finish_page::page_init() {
  log_message(2, "gui_finish_page::page_init");
  log_message(2, "wizard_shell::enable_button(%08X)", 0);
  const QStringList& errors = shell().errors;
  log_box()->clear();
  if (!errors.isEmpty()) {
    log_message(2, "Display errors");
    m_text->setText(
        "There were some errors while converting the database.\nClick 'Finish' to exit the "
        "wizard.");
    log_box()->show();
    QString all;
    for (QString e : errors) {
      e.replace('\n', ' ');
      all += e + "\n\n";
    }
    log_box()->setPlainText(all);
  } else {
    log_message(2, "Display success-message");
    log_box()->hide();
    m_text->setText(
        "Wizard has converted your Oracle dump file into\nCSV format successfully.\n\nClick "
        "'Finish' to exit the wizard.");
  }
}
