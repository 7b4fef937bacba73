// A page that lets the user pick items (tables) from one list into another:
// both lists keep their entries in alphabetical order (case ignored) and
// take several entries at once.
#pragma once

#include <QStringList>

#include "GUI2/g_wiz_pg.h"

class QLabel;
class QListWidget;
class QPushButton;

class sel_tables_page : public wizard_page {
  Q_OBJECT

 public:
  sel_tables_page(int id, int help_topic, const QString& title, const QString& subtitle);

  // Fills the available list with every name, then moves those of
  // `selected` that it holds (exact comparison) to the selected list.
  void do_page_init(const QStringList& names, const QStringList& selected);
  // The selected names in the list's order.
  QStringList selected_names() const;
  QStringList available_names() const;

  void on_add();
  void on_add_all();
  void on_delete();
  void on_del_all();

  QListWidget* available_list() const { return m_available; }
  QListWidget* selected_list() const { return m_selected; }

 protected:
  QLabel* m_intro;

 private:
  void move_items(QListWidget* from, QListWidget* to, bool all);

  QListWidget* m_available;
  QListWidget* m_selected;
};
