// A wizard with everything a run needs (trace log, error handler, converter)
// and its dialogs answered by the test: every dialog is recorded with its
// caption and text, and answered by `answer` (default: OK, Yes, mode 0,
// Continue).
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "GUI2/g_wiz_sh.h"
#include "TK/tk_log.h"
#include "common/test_dir.h"
#include "converter/error_handler.h"
#include "converter/talvex_convertor.h"
#include "wizard/tvx_shel.h"

// The offscreen platform warns on every window it cannot size; the tests'
// output keeps to what they check.
inline void quiet_offscreen_warnings() {
  static QtMessageHandler previous = nullptr;
  previous = qInstallMessageHandler([](QtMsgType t, const QMessageLogContext& c, const QString& m) {
    if (m.contains("propagateSizeHints")) return;
    if (previous != nullptr) previous(t, c, m);
  });
}

struct seen_dialog {
  gui_dialog kind;
  QString caption;
  QString text;
};

class wizard_harness {
 public:
  explicit wizard_harness(bool profile_mode = false, const std::string& profile = {}) {
    converter.set_silent(true);
    converter.blob_side_files = true;
    gui_set_dialog_hook([this](gui_dialog_request& r) {
      dialogs.push_back({r.kind, r.caption, r.text});
      if (answer) return answer(r);
      return r.kind == gui_dialog::question ? 1 : 0;
    });
    if (!profile.empty()) profile_mode = converter.load_profile(tk_u16(profile));
    wizard = std::make_unique<tvx_wizard>(converter, profile_mode);
    handler.front_end = &wizard->front_end();
  }
  ~wizard_harness() {
    // A run still going is stopped before the wizard goes.
    converter.request_cancel();
    converter.opener.reader.request_cancel();
    for (int i = 0; i < 500 && (wizard->reading->working() || wizard->converting->working()); ++i)
      QTest::qWait(10);
    handler.front_end = nullptr;
    wizard.reset();
    gui_set_dialog_hook(nullptr);
  }

  void show() {
    wizard->show();
    QApplication::processEvents();
  }
  // Shows the wizard on a dump and a destination and goes on through the
  // welcome, file and settings pages: the dump's reading starts.
  void start_reading(const std::string& dump, const std::string& dest) {
    converter.source_file = tk_u16(dump);
    converter.dest_folder = tk_u16(dest);
    show();
    next();
    next();
    next();
  }
  int page() const { return wizard->currentId(); }
  void next() { wizard->next(); }
  void back() { wizard->button(QWizard::BackButton)->click(); }
  // Texts of the dialogs seen since the last call.
  QStringList take_dialogs() {
    QStringList out;
    for (const seen_dialog& d : dialogs) out << d.text;
    dialogs.clear();
    return out;
  }
  // Waits until the wizard shows the page (the work of a progress page
  // runs on its thread meanwhile).
  bool wait_for(int id, int ms = 20000) {
    for (int waited = 0; waited < ms; waited += 10) {
      if (page() == id && !wizard->current_wizard_page()->working()) return true;
      QTest::qWait(10);
    }
    return false;
  }

  tk_logger logger{nullptr, false, 3, false};
  error_handler handler;
  talvex_convertor converter;
  std::unique_ptr<tvx_wizard> wizard;
  std::vector<seen_dialog> dialogs;
  std::function<int(gui_dialog_request&)> answer;
};
