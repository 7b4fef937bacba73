// The last page of a wizard: the outcome of the run (success, or the list of
// its errors) and a button that stores the settings as a profile.
#pragma once

#include "GUI2/g_wiz_pg.h"

class QLabel;
class QPushButton;

class gui_finish_page : public wizard_page {
  Q_OBJECT

 public:
  explicit gui_finish_page(int id);
  void page_init() override;
  // "&Save Settings...".
  virtual void on_store() = 0;

  QLabel* title_label() const { return m_title; }
  QLabel* text_label() const { return m_text; }

 private:
  QLabel* m_title;
  QLabel* m_text;
  QPushButton* m_store;
};

// The title font of the first and last pages: 13 points, normal weight.
void gui_set_title_font(QLabel* label);
