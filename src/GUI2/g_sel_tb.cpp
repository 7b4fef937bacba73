// A page that picks items from one list into another.
#include "GUI2/g_sel_tb.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "TK/tk_log.h"

namespace {

// Alphabetical order without regard to case, as the lists of the original
// kept theirs; names equal but for case keep a fixed order.
class sorted_item : public QListWidgetItem {
 public:
  using QListWidgetItem::QListWidgetItem;
  bool operator<(const QListWidgetItem& other) const override {
    const int c = text().compare(other.text(), Qt::CaseInsensitive);
    return c != 0 ? c < 0 : text() < other.text();
  }
};

QListWidget* make_list(QWidget* parent) {
  auto* list = new QListWidget(parent);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setSortingEnabled(true);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  return list;
}

}  // namespace

sel_tables_page::sel_tables_page(int id, int help_topic, const QString& title,
                                 const QString& subtitle)
    : wizard_page(id, page_kind::interior, help_topic, title, subtitle) {
  auto* layout = new QVBoxLayout(this);
  m_intro = new QLabel(this);
  layout->addWidget(m_intro);
  auto* grid = new QGridLayout;
  auto* available_label = new QLabel("&Available tables:", this);
  auto* selected_label = new QLabel("&Selected tables:", this);
  m_available = make_list(this);
  m_selected = make_list(this);
  m_available->setObjectName("available");
  m_selected->setObjectName("selected");
  available_label->setBuddy(m_available);
  selected_label->setBuddy(m_selected);
  auto* buttons = new QVBoxLayout;
  auto* add = new QPushButton("A&dd >", this);
  auto* add_all = new QPushButton("Add a&ll >", this);
  auto* remove = new QPushButton("< &Remove", this);
  auto* remove_all = new QPushButton("< Re&move all", this);
  add->setObjectName("add");
  add_all->setObjectName("add_all");
  remove->setObjectName("remove");
  remove_all->setObjectName("remove_all");
  buttons->addStretch(1);
  for (QPushButton* b : {add, add_all, remove, remove_all}) buttons->addWidget(b);
  buttons->addStretch(1);
  grid->addWidget(available_label, 0, 0);
  grid->addWidget(selected_label, 0, 2);
  grid->addWidget(m_available, 1, 0);
  grid->addLayout(buttons, 1, 1);
  grid->addWidget(m_selected, 1, 2);
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(2, 1);
  layout->addLayout(grid, 1);
  connect(add, &QPushButton::clicked, this, &sel_tables_page::on_add);
  connect(add_all, &QPushButton::clicked, this, &sel_tables_page::on_add_all);
  connect(remove, &QPushButton::clicked, this, &sel_tables_page::on_delete);
  connect(remove_all, &QPushButton::clicked, this, &sel_tables_page::on_del_all);
  connect(m_available, &QListWidget::itemDoubleClicked, this, &sel_tables_page::on_add);
  connect(m_selected, &QListWidget::itemDoubleClicked, this, &sel_tables_page::on_delete);
}

void sel_tables_page::do_page_init(const QStringList& names, const QStringList& selected) {
  log_message(2, "sel_tables_page::do_page_init");
  m_available->clear();
  m_selected->clear();
  for (const QString& name : names) m_available->addItem(new sorted_item(name));
  if (m_available->count() > 0) {
    log_message(2, "Highlight 1st row");
    m_available->setCurrentRow(0);
  }
  for (const QString& name : selected) {
    const QList<QListWidgetItem*> found = m_available->findItems(name, Qt::MatchExactly);
    for (QListWidgetItem* item : found) {
      if (item->text() != name) continue;  // MatchExactly ignores case for some styles
      m_selected->addItem(new sorted_item(item->text()));
      delete item;
      break;
    }
  }
}

QStringList sel_tables_page::selected_names() const {
  QStringList out;
  for (int i = 0; i < m_selected->count(); ++i) out << m_selected->item(i)->text();
  return out;
}

QStringList sel_tables_page::available_names() const {
  QStringList out;
  for (int i = 0; i < m_available->count(); ++i) out << m_available->item(i)->text();
  return out;
}

void sel_tables_page::move_items(QListWidget* from, QListWidget* to, bool all) {
  int last_row = -1;
  QList<QListWidgetItem*> moving;
  for (int i = 0; i < from->count(); ++i) {
    QListWidgetItem* item = from->item(i);
    if (all || item->isSelected()) {
      moving << item;
      last_row = i;
    }
  }
  if (moving.isEmpty()) return;
  const int next_row = last_row + 1 - static_cast<int>(moving.size());
  to->clearSelection();
  for (QListWidgetItem* item : moving) {
    auto* copy = new sorted_item(item->text());
    to->addItem(copy);
    copy->setSelected(true);
  }
  qDeleteAll(moving);
  from->clearSelection();
  if (from->count() > 0) {
    // The entry that followed the last one moved, or the last entry.
    const int row = next_row < from->count() ? next_row : from->count() - 1;
    from->setCurrentRow(row);
    from->item(row)->setSelected(true);
  } else {
    to->clearSelection();
    to->setFocus();
    to->setCurrentRow(0);
  }
}

void sel_tables_page::on_add() {
  log_message(2, "sel_tables_page::on_add");
  move_items(m_available, m_selected, false);
}

void sel_tables_page::on_add_all() {
  log_message(2, "sel_tables_page::on_add_all");
  move_items(m_available, m_selected, true);
}

void sel_tables_page::on_delete() {
  log_message(2, "sel_tables_page::on_delete");
  move_items(m_selected, m_available, false);
}

void sel_tables_page::on_del_all() {
  log_message(2, "sel_tables_page::on_del_all");
  move_items(m_selected, m_available, true);
}
