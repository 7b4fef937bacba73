// The wizard shell.
#include "GUI2/g_wiz_sh.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLinearGradient>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "GUI2/g_wiz_pg.h"
#include "TK/tk_log.h"

namespace {

gui_dialog_hook& dialog_hook() {
  static gui_dialog_hook hook;
  return hook;
}

// A drum of data turning into a sheet of rows: the program's picture, drawn
// here rather than loaded, in the blue of the watermark.
void draw_emblem(QPainter& p, const QRectF& r) {
  p.setRenderHint(QPainter::Antialiasing);
  const qreal w = r.width(), h = r.height();
  // The drum.
  const QRectF drum(r.left(), r.top() + h * 0.1, w * 0.42, h * 0.8);
  const qreal lid = drum.height() * 0.18;
  QPainterPath body;
  body.moveTo(drum.left(), drum.top() + lid / 2);
  body.lineTo(drum.left(), drum.bottom() - lid / 2);
  body.arcTo(QRectF(drum.left(), drum.bottom() - lid, drum.width(), lid), 180, 180);
  body.lineTo(drum.right(), drum.top() + lid / 2);
  body.arcTo(QRectF(drum.left(), drum.top(), drum.width(), lid), 0, -180);
  p.setPen(QPen(QColor(20, 60, 120), 1.5));
  p.setBrush(QColor(70, 130, 200));
  p.drawPath(body);
  p.setBrush(QColor(150, 190, 235));
  p.drawEllipse(QRectF(drum.left(), drum.top(), drum.width(), lid));
  // The arrow.
  const qreal ax = drum.right() + w * 0.04, ay = r.center().y();
  QPainterPath arrow;
  arrow.moveTo(ax, ay - h * 0.05);
  arrow.lineTo(ax + w * 0.1, ay - h * 0.05);
  arrow.lineTo(ax + w * 0.1, ay - h * 0.11);
  arrow.lineTo(ax + w * 0.18, ay);
  arrow.lineTo(ax + w * 0.1, ay + h * 0.11);
  arrow.lineTo(ax + w * 0.1, ay + h * 0.05);
  arrow.lineTo(ax, ay + h * 0.05);
  arrow.closeSubpath();
  p.setBrush(QColor(230, 140, 30));
  p.setPen(Qt::NoPen);
  p.drawPath(arrow);
  // The sheet with its rows.
  const QRectF sheet(ax + w * 0.22, r.top() + h * 0.15, w * 0.34, h * 0.7);
  p.setPen(QPen(QColor(20, 60, 120), 1.5));
  p.setBrush(Qt::white);
  p.drawRect(sheet);
  p.setPen(QPen(QColor(70, 130, 200), 1.2));
  for (int i = 1; i < 6; ++i) {
    const qreal y = sheet.top() + sheet.height() * i / 6;
    p.drawLine(QPointF(sheet.left() + 3, y), QPointF(sheet.right() - 3, y));
  }
  p.drawLine(QPointF(sheet.center().x(), sheet.top() + 3),
             QPointF(sheet.center().x(), sheet.bottom() - 3));
}

}  // namespace

QPixmap gui_watermark_pixmap() {
  // As tall as the page of a wizard window of the usual size (620 x 480).
  QPixmap pm(164, 434);
  QPainter p(&pm);
  QLinearGradient g(0, 0, 0, pm.height());
  g.setColorAt(0, QColor(30, 80, 150));
  g.setColorAt(1, QColor(10, 35, 80));
  p.fillRect(pm.rect(), g);
  draw_emblem(p, QRectF(22, 150, 120, 90));
  return pm;
}

QPixmap gui_banner_pixmap() {
  QPixmap pm(49, 49);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  draw_emblem(p, QRectF(2, 4, 45, 41));
  return pm;
}

void gui_set_dialog_hook(gui_dialog_hook hook) { dialog_hook() = std::move(hook); }

int gui_hooked_answer(gui_dialog_request& request) {
  if (!dialog_hook()) return gui_no_hook;
  return dialog_hook()(request);
}

wizard_shell::wizard_shell(const QString& title, QWidget* parent)
    : QWizard(parent), m_title(title) {
  log_message(2, "wizard_shell::ctor(%s)", title.toUtf8().constData());
  if (s_instance == nullptr) s_instance = this;
  setWizardStyle(QWizard::ModernStyle);
  setOption(QWizard::HaveHelpButton, true);
  setOption(QWizard::NoBackButtonOnStartPage, false);
  setOption(QWizard::DisabledBackButtonOnLastPage, true);
  setPixmap(QWizard::LogoPixmap, gui_banner_pixmap());
  setButtonText(QWizard::BackButton, tr("< &Back"));
  setButtonText(QWizard::NextButton, tr("&Next >"));
  setButtonText(QWizard::FinishButton, tr("Finish"));
  setButtonText(QWizard::CancelButton, tr("Cancel"));
  setButtonText(QWizard::HelpButton, tr("Help"));
  // Back asks the page first (it may skip pages or refuse); Qt's own step
  // back is taken off the button.
  QObject::disconnect(button(QWizard::BackButton), nullptr, this, nullptr);
  connect(button(QWizard::BackButton), &QAbstractButton::clicked, this,
          &wizard_shell::on_back_clicked);
  connect(this, &QWizard::currentIdChanged, this, &wizard_shell::on_current_changed);
  connect(this, &QWizard::helpRequested, this, &wizard_shell::on_help_requested);
  m_timer.setTimerType(Qt::CoarseTimer);
  connect(&m_timer, &QTimer::timeout, this, [this] {
    if (wizard_page* page = current_wizard_page()) page->on_timer();
  });
}

wizard_shell::~wizard_shell() {
  m_timer.stop();
  errors.clear();
  delete m_help_window;
  if (s_instance == this) s_instance = nullptr;
}

void wizard_shell::initialize_if() {
  if (m_initialized) return;
  setWindowTitle(m_title);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
  m_initialized = true;
}

QString wizard_shell::caption(const QString& kind) {
  const wizard_shell* shell = get();
  if (shell != nullptr && shell->is_initialized()) return shell->title() + " " + kind;
  return kind;
}

QMessageBox* wizard_shell::make_box(gui_dialog kind, const QString& text, bool default_no) {
  wizard_shell* shell = get();
  QWidget* owner = shell != nullptr && shell->is_initialized() ? shell : nullptr;
  auto* box = new QMessageBox(owner);
  box->setText(text);
  switch (kind) {
    case gui_dialog::question:
      box->setWindowTitle(caption("Question"));
      box->setIcon(QMessageBox::Question);
      box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box->setDefaultButton(default_no ? QMessageBox::No : QMessageBox::Yes);
      break;
    case gui_dialog::message:
      box->setWindowTitle(caption("Message"));
      box->setIcon(QMessageBox::Information);
      break;
    default:
      box->setWindowTitle(caption("Error"));
      box->setIcon(QMessageBox::Critical);
      break;
  }
  return box;
}

namespace {

int run_box(gui_dialog kind, const QString& text, bool default_no) {
  gui_dialog_request r;
  r.kind = kind;
  r.caption = wizard_shell::caption(kind == gui_dialog::question  ? "Question"
                                    : kind == gui_dialog::message ? "Message"
                                                                  : "Error");
  r.text = text;
  const int hooked = gui_hooked_answer(r);
  if (hooked != gui_no_hook) return hooked;
  std::unique_ptr<QMessageBox> box(wizard_shell::make_box(kind, text, default_no));
  return box->exec() == QMessageBox::Yes ? 1 : 0;
}

}  // namespace

void wizard_shell::error(const QString& text) {
  log_message(3, "%s", text.toUtf8().constData());
  run_box(gui_dialog::error, text, false);
}

void wizard_shell::message(const QString& text) { run_box(gui_dialog::message, text, false); }

bool wizard_shell::question(const QString& text, bool default_no) {
  return run_box(gui_dialog::question, text, default_no) == 1;
}

void wizard_shell::write_log(const QString& text) {
  log_message(2, "wizard_shell::write_log(%s)", text.toUtf8().constData());
  wizard_page* page = current_wizard_page();
  QPlainTextEdit* box = page != nullptr ? page->log_box() : nullptr;
  if (box == nullptr) {
    log_message(2, "Editbox failed to be initialized");
    return;
  }
  QString t = text;
  t.remove(QLatin1Char('\r'));
  // The box holds at most about a million characters: the oldest go first.
  constexpr int limit = 1000000;
  if (box->document()->characterCount() + t.size() > limit) {
    QString all = box->toPlainText() + t;
    box->setPlainText(all.right(limit / 2));
  } else {
    QTextCursor c(box->document());
    c.movePosition(QTextCursor::End);
    c.insertText(t);
  }
  box->verticalScrollBar()->setValue(box->verticalScrollBar()->maximum());
}

void wizard_shell::start_timer(int period_ms) { m_timer.start(period_ms); }

void wizard_shell::stop_timer() { m_timer.stop(); }

void wizard_shell::display_help(int topic) {
  const QString base = help_source;
  const QString file = base.startsWith("qrc:") ? ":" + base.mid(4) : base;
  if (!QFile::exists(file)) {
    error("Help file does not exist. Reinstall the program.");
    return;
  }
  if (m_help_window == nullptr) {
    m_help_window = new QWidget(nullptr, Qt::Window);
    m_help_window->setWindowTitle(m_title + " Help");
    auto* layout = new QVBoxLayout(m_help_window);
    m_help = new QTextBrowser(m_help_window);
    m_help->setOpenExternalLinks(true);
    layout->addWidget(m_help);
    m_help_window->resize(560, 480);
  }
  QUrl url(base);
  if (topic != 0) url.setFragment(QString("topic%1").arg(topic));
  m_help->setSource(url);
  if (topic != 0) m_help->scrollToAnchor(url.fragment());
  m_help_window->show();
  m_help_window->raise();
}

void wizard_shell::add_error(const QString& text) {
  if (errors.size() < 20) errors.push_back(text);
}

void wizard_shell::add_wizard_page(wizard_page* page) { setPage(page->page_id(), page); }

wizard_page* wizard_shell::current_wizard_page() const {
  return qobject_cast<wizard_page*>(currentPage());
}

wizard_page* wizard_shell::wizard_page_by_id(int id) const {
  return qobject_cast<wizard_page*>(page(id));
}

void wizard_shell::back_to(int id) {
  if (!visitedIds().contains(id)) return;
  m_passing = true;
  while (currentId() != id && visitedIds().size() > 1) back();
  m_passing = false;
  on_current_changed(currentId());
}

void wizard_shell::on_back_clicked() {
  wizard_page* page = current_wizard_page();
  if (page == nullptr || page->working()) return;
  const int to = page->on_back();
  if (to < 0) return;
  if (to == 0) {
    back();
    return;
  }
  back_to(to);
}

void wizard_shell::on_current_changed(int id) {
  if (m_passing || id < 0) return;
  wizard_page* page = current_wizard_page();
  if (page == nullptr) return;
  log_message(2, "wizard_page::OnSetActive");
  initialize_if();
  page->page_init();
  update_buttons();
  // Qt sets its own button states around the page change; the page's win.
  QTimer::singleShot(0, this, &wizard_shell::update_buttons);
  emit page_activated(id);
}

void wizard_shell::update_buttons() {
  wizard_page* page = current_wizard_page();
  if (page == nullptr) return;
  const bool busy = page->working();
  button(QWizard::BackButton)
      ->setEnabled(!busy && page->kind() == page_kind::interior && page->back_allowed &&
                   visitedIds().size() > 1);
  button(QWizard::NextButton)->setEnabled(!busy && page->kind() != page_kind::last);
  button(QWizard::FinishButton)->setEnabled(!busy && page->kind() == page_kind::last);
  const bool last = page->kind() == page_kind::last;
  button(QWizard::CancelButton)->setEnabled(!last);
  button(QWizard::HelpButton)->setEnabled(!last);
}

void wizard_shell::on_help_requested() {
  if (wizard_page* page = current_wizard_page()) page->on_help();
}

void wizard_shell::reject() {
  wizard_page* page = current_wizard_page();
  if (m_closing) return;
  if (page != nullptr && page->kind() == page_kind::last) return;
  if (page != nullptr && !page->on_cancel()) return;
  close_now();
}

void wizard_shell::close_now() {
  m_closing = true;
  stop_timer();
  QWizard::reject();
}
