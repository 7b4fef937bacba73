// The generic wizard shell: one wizard window per process with Back, Next,
// Finish, Cancel and Help, header banners on the interior pages and a
// watermark on the first and last, the modal message boxes (whose captions
// carry the wizard's title once its window is up), the log panel of the
// current page, a 200 ms page timer and the help window.
//
// Every modal dialog of the wizard goes through gui_run_dialog, so that a
// test or the screenshot tool can answer it in place of a user.
#pragma once

#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWizard>
#include <functional>

class wizard_page;
class QMessageBox;
class QTextBrowser;

enum class gui_dialog {
  error,           // error box (OK)
  message,         // information box (OK)
  question,        // Yes / No; answer 1 for Yes
  overwrite,       // destination exists: answer the mode 0..2, -1 for Cancel
  open_file,       // answer 1 with path set, 0 when cancelled
  save_file,       // the same
  folder,          // the same
  run_error,       // Continue / Abort: answer bit 1 Abort, bit 2 do not show again
  internal_error,  // OK
};

struct gui_dialog_request {
  gui_dialog kind = gui_dialog::error;
  QString caption;
  QString text;
  QString filter;  // file dialogs, in the "Name|pattern|" form
  QString path;    // file dialogs: the initial path in, the chosen path out
};

// Answers a dialog in place of the user; returns the answer.
using gui_dialog_hook = std::function<int(gui_dialog_request&)>;
void gui_set_dialog_hook(gui_dialog_hook hook);
// The hook's answer, or -100 when there is none and the dialog must be shown.
inline constexpr int gui_no_hook = -100;
int gui_hooked_answer(gui_dialog_request& request);

// The pictures of the wizard, drawn by the program: the tall watermark of
// the first and last pages, the banner of the interior pages' headers.
QPixmap gui_watermark_pixmap();
QPixmap gui_banner_pixmap();

class wizard_shell : public QWizard {
  Q_OBJECT

 public:
  // title: the window caption and the prefix of every message box caption.
  explicit wizard_shell(const QString& title, QWidget* parent = nullptr);
  ~wizard_shell() override;

  static wizard_shell* get() { return s_instance; }

  // Sets up the window once its first page shows (caption, centred).
  void initialize_if();
  bool is_initialized() const { return m_initialized; }
  const QString& title() const { return m_title; }

  // Modal message boxes. Before the shell's window is up their captions are
  // plain "Error", "Message", "Question" and they have no owner.
  static void error(const QString& text);
  static void message(const QString& text);
  // Yes / No; the cancel question makes No the default.
  static bool question(const QString& text, bool default_no = false);
  // The caption of a box: the title and " Error" once the shell is up.
  static QString caption(const QString& kind);
  // The box itself, for error, message and question (not shown).
  static QMessageBox* make_box(gui_dialog kind, const QString& text, bool default_no = false);

  // Appends a progress text to the log panel of the current page; CR LF
  // become line ends. Only on the user-interface thread.
  void write_log(const QString& text);

  void start_timer(int period_ms);
  void stop_timer();
  bool timer_running() const { return m_timer.isActive(); }

  // The help window at a topic (0: its start). The help is an HTML page of
  // the program's resources; topics are anchors "topic<N>".
  void display_help(int topic = 0);
  QString help_source = QStringLiteral("qrc:/talvex/help.html");
  QTextBrowser* help_browser() const { return m_help; }

  // Errors of the current run, shown by the finish page (at most 20).
  QStringList errors;
  void add_error(const QString& text);

  void add_wizard_page(wizard_page* page);
  wizard_page* current_wizard_page() const;
  wizard_page* wizard_page_by_id(int id) const;
  // Goes back through the pages visited to the one with this id, without
  // activating the pages passed on the way.
  void back_to(int id);
  // Goes forward to the next page as Next would, after the page's checks.
  void go_next() { next(); }

  // Cancel, Escape and the window's close button: the current page decides.
  void reject() override;
  // Closes the wizard without asking (after a cancelled run has stopped).
  void close_now();

  // Enables the buttons the current page allows (its kind, its work).
  void update_buttons();

 signals:
  void page_activated(int id);

 private slots:
  void on_back_clicked();
  void on_current_changed(int id);
  void on_help_requested();

 private:
  QString m_title;
  bool m_initialized = false;
  bool m_passing = false;  // moving back past pages (back_to)
  bool m_closing = false;
  QTimer m_timer;
  QTextBrowser* m_help = nullptr;
  QWidget* m_help_window = nullptr;

  static inline wizard_shell* s_instance = nullptr;
};
