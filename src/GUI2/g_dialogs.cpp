// The wizard's own dialogs.
#include "GUI2/g_dialogs.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "GUI2/g_wiz_sh.h"

int overwrite_dlg2_ask(QWidget* owner) {
  const QString text =
      "The destination folder already exists. Select one of the\noptions below. Click 'Help' "
      "button for more information.";
  gui_dialog_request r{gui_dialog::overwrite, wizard_shell::caption("Warning"), text, QString(),
                       QString()};
  const int hooked = gui_hooked_answer(r);
  if (hooked != gui_no_hook) return hooked;

  QDialog dlg(owner);
  dlg.setWindowTitle(r.caption);
  auto* layout = new QVBoxLayout(&dlg);
  auto* label = new QLabel(text, &dlg);
  label->setWordWrap(false);
  layout->addWidget(label);
  auto* group = new QButtonGroup(&dlg);
  const char* choices[] = {"&Overwrite the entire folder", "Overwrite existing &files only",
                           "&Skip existing files"};
  for (int i = 0; i < 3; ++i) {
    auto* radio = new QRadioButton(choices[i], &dlg);
    group->addButton(radio, i);
    layout->addWidget(radio);
  }
  group->button(0)->setChecked(true);
  auto* buttons = new QDialogButtonBox(
      QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, &dlg);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  QObject::connect(buttons, &QDialogButtonBox::helpRequested, &dlg, [] {
    if (wizard_shell* shell = wizard_shell::get()) shell->display_help(1013);
  });
  QApplication::beep();
  dlg.raise();
  if (dlg.exec() != QDialog::Accepted) return -1;
  return group->checkedId();
}

run_error_answer run_error_dialog_ask(QWidget* owner, const QString& message) {
  gui_dialog_request r{gui_dialog::run_error, wizard_shell::caption("Error"), message, QString(),
                       QString()};
  const int hooked = gui_hooked_answer(r);
  if (hooked != gui_no_hook) return {(hooked & 1) != 0, (hooked & 2) != 0};

  QDialog dlg(owner);
  dlg.setWindowTitle(r.caption);
  auto* layout = new QVBoxLayout(&dlg);
  auto* label = new QLabel(message, &dlg);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(label);
  auto* check = new QCheckBox("&Do not show this dialog box again", &dlg);
  layout->addWidget(check);
  auto* buttons = new QDialogButtonBox(&dlg);
  QPushButton* go_on = buttons->addButton("Continue", QDialogButtonBox::AcceptRole);
  buttons->addButton("Abort", QDialogButtonBox::RejectRole);
  go_on->setDefault(true);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  dlg.resize(480, dlg.sizeHint().height());
  const bool abort = dlg.exec() != QDialog::Accepted;
  return {abort, check->isChecked()};
}

void internal_error_dialog_show(QWidget* owner, const QString& message) {
  gui_dialog_request r{gui_dialog::internal_error, wizard_shell::caption("Error"), message,
                       QString(), QString()};
  if (gui_hooked_answer(r) != gui_no_hook) return;

  QDialog dlg(owner);
  dlg.setWindowTitle(r.caption);
  auto* layout = new QVBoxLayout(&dlg);
  auto* label = new QLabel(
      "An internal error stopped the program. Please report this text:\n\n" + message, &dlg);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(label);
  auto* buttons = new QDialogButtonBox(&dlg);
  QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
  QPushButton* copy = buttons->addButton("Copy to clipboard", QDialogButtonBox::ActionRole);
  ok->setDefault(true);
  layout->addWidget(buttons);
  QObject::connect(ok, &QPushButton::clicked, &dlg, &QDialog::accept);
  QObject::connect(copy, &QPushButton::clicked, &dlg,
                   [message] { QApplication::clipboard()->setText(message); });
  dlg.exec();
}
