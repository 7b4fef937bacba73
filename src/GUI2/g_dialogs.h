// The wizard's own dialogs: the destination-exists choice, the error of a
// run (Continue / Abort), and the internal error.
#pragma once

#include <QString>

class QWidget;

// "The destination folder already exists": the mode chosen (0 overwrite the
// entire folder, 1 overwrite existing files only, 2 skip existing files),
// -1 for Cancel.
int overwrite_dlg2_ask(QWidget* owner);

// A level-0 error of a run: whether the user chose Abort and whether the
// "do not show again" box was ticked.
struct run_error_answer {
  bool abort = false;
  bool silence = false;
};
run_error_answer run_error_dialog_ask(QWidget* owner, const QString& message);

// An internal error: the text with OK and "Copy to clipboard".
void internal_error_dialog_show(QWidget* owner, const QString& message);
