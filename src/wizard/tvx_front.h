// The wizard's side of a run: progress texts go to the current page's log
// panel and errors to its dialogs, both on the user-interface thread. A run
// on a worker thread waits for the answer to a dialog while the user-
// interface thread goes on drawing.
#pragma once

#include "converter/error_handler.h"

class wizard_shell;

class tvx_front_end : public talvex_front_end {
 public:
  explicit tvx_front_end(wizard_shell& shell) : m_shell(shell) {}

  void write_log(const tk_string& text) override;
  answer show_error(const tk_string& message, int level, bool quiet) override;
  void internal_error(const tk_string& message) override;

  // An internal error was shown: the program ends once the run stops.
  bool internal_failure() const { return m_internal_failure; }

 private:
  wizard_shell& m_shell;
  bool m_internal_failure = false;
};
