// The wizard's side of a run.
#include "wizard/tvx_front.h"

#include <QMetaObject>
#include <QThread>

#include "GUI2/g_dialogs.h"
#include "GUI2/g_wiz_sh.h"

namespace {

// Runs f on the shell's (user-interface) thread and waits for it.
template <class F>
void tvx_on_ui(wizard_shell& shell, F f) {
  if (QThread::currentThread() == shell.thread())
    f();
  else
    QMetaObject::invokeMethod(&shell, f, Qt::BlockingQueuedConnection);
}

}  // namespace

void tvx_front_end::write_log(const tk_string& text) {
  const QString t = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  wizard_shell* shell = &m_shell;
  // The text need not wait: it is shown in order before the run's end.
  QMetaObject::invokeMethod(
      shell, [shell, t] { shell->write_log(t); }, Qt::QueuedConnection);
}

talvex_front_end::answer tvx_front_end::show_error(const tk_string& message, int level,
                                                   bool quiet) {
  answer a;
  const QString m = QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size()));
  tvx_on_ui(m_shell, [&] {
    m_shell.add_error(m);
    if (quiet) return;
    if (level == 0) {
      const run_error_answer r = run_error_dialog_ask(&m_shell, m);
      a.abort = r.abort;
      a.silence = r.silence;
    } else {
      wizard_shell::error(m);
    }
  });
  return a;
}

void tvx_front_end::internal_error(const tk_string& message) {
  const QString m = QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size()));
  m_internal_failure = true;
  tvx_on_ui(m_shell, [&] { internal_error_dialog_show(&m_shell, m); });
}
