// The common base of every wizard page: its kind (which wizard buttons it
// enables), its help topic, its header texts, its log panel, and the steps
// the shell calls: page_init when it becomes active, on_next / on_back when
// the user leaves it, on_timer on every tick of the shell's timer, and
// on_cancel when the user wants to close the wizard.
#pragma once

#include <QWizardPage>

class QPlainTextEdit;
class wizard_shell;

enum class page_kind {
  first = 1,     // Next only
  interior = 2,  // Back and Next
  last = 3,      // Finish only
};

class wizard_page : public QWizardPage {
  Q_OBJECT

 public:
  wizard_page(int id, page_kind kind, int help_topic, const QString& title = QString(),
              const QString& subtitle = QString());

  int page_id() const { return m_id; }
  page_kind kind() const { return m_kind; }
  int help_topic() const { return m_help_topic; }
  wizard_shell& shell() const;

  // The page became active (every time, also when the user comes back).
  virtual void page_init() {}
  virtual void on_kill_active() {}
  // 0: go on to the next page; -1: stay.
  virtual int on_next() { return 0; }
  // 0: back to the page before; -1: stay; a page id: back to that page.
  virtual int on_back() { return 0; }
  virtual void on_timer() {}
  // Whether the wizard may close; asks the user.
  virtual bool on_cancel();
  virtual void on_help();

  // The read-only text box the work's progress texts go to; null when the
  // page has none.
  QPlainTextEdit* log_box() const { return m_log; }

  // While a page works, Back and Next are disabled.
  bool working() const { return m_working; }
  void set_working(bool working);
  // Whether Back is allowed on this page when it does not work.
  bool back_allowed = true;

  void set_next_id(int id) { m_next_id = id; }
  int nextId() const override { return m_next_id; }
  bool validatePage() override;
  bool isComplete() const override { return !m_working; }
  // The shell activates pages itself (page_init); Qt's field reset on Back
  // does not apply.
  void initializePage() override {}
  void cleanupPage() override {}

 protected:
  QPlainTextEdit* make_log_box();

 private:
  int m_id;
  page_kind m_kind;
  int m_help_topic;
  int m_next_id = -1;
  bool m_working = false;
  QPlainTextEdit* m_log = nullptr;
};
