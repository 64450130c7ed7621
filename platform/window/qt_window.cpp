#include "platform/window/qt_window.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>
#include <QWindowStateChangeEvent>
#include <algorithm>

#include "capture/state/cp1252.hpp"
#include "capture/state/text.hpp"
#include "platform/window/definition_check.hpp"

namespace quorvel {
namespace {

constexpr const char* kWineFont = "/usr/share/wine/fonts/ms_sans_serif.ttf";

QString qs(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QString fromBytes(std::string_view cp1252Bytes) {
  return qs(cp1252::toUtf8(cp1252Bytes));
}

// The definition's font where this machine has it (Debian's fonts-wine ships a
// free "MS Sans Serif"), else the system's sans font at the same size.
QFont windowFont(const WindowDefinition& d) {
  static const bool wineFontLoaded =
      QFile::exists(kWineFont) && QFontDatabase::addApplicationFont(kWineFont) >= 0;
  (void)wineFontLoaded;
  const int points = d.fontPoints > 0 ? d.fontPoints : 8;
  if (QFontDatabase::hasFamily(qs(d.font))) {
    QFont font(qs(d.font));
    font.setPointSize(points);
    return font;
  }
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(points);
  return font;
}

QStringList listEntries(std::string_view entries) {
  return entries.empty() ? QStringList{} : qs(entries).split(u'|');
}

}  // namespace

class QtWindow::Frame : public QWidget {
 public:
  explicit Frame(QtWindow& owner) : owner_(owner) {}

 protected:
  bool event(QEvent* e) override {
    if (owner_.open_ && e->type() == QEvent::WindowActivate) owner_.queue(event::GainFocus, 0);
    if (owner_.open_ && e->type() == QEvent::WindowStateChange) {
      const auto* change = static_cast<QWindowStateChangeEvent*>(e);
      if ((change->oldState() & Qt::WindowMinimized) && !(windowState() & Qt::WindowMinimized))
        owner_.queue(event::Redisplay, 0);
    }
    return QWidget::event(e);
  }
  // The procedure decides: its loop ends on the event and then closes the window.
  void closeEvent(QCloseEvent* e) override {
    e->ignore();
    if (owner_.open_) owner_.queue(event::CloseWindow, 0);
  }

 private:
  QtWindow& owner_;
};

class QtWindow::Filter : public QObject {
 public:
  explicit Filter(QtWindow& owner) : owner_(owner) {}

  bool eventFilter(QObject* watched, QEvent* e) override {
    switch (e->type()) {
      case QEvent::ShortcutOverride:
      case QEvent::KeyPress: {
        // Before the focus widget sees it: a line edit would take Ctrl+K for itself.
        const int code = keyCode(*static_cast<QKeyEvent*>(e));
        if (!owner_.isAlertKey(code)) break;
        e->accept();
        if (e->type() == QEvent::KeyPress && owner_.open_) owner_.queue(event::AlertKey, 0, code);
        return true;
      }
      case QEvent::FocusIn:
        if (Control* c = owner_.controlOf(watched); c && owner_.open_)
          owner_.queue(event::Selected, c->def->number);
        break;
      case QEvent::FocusOut: {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(e)->reason();
        if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) break;
        if (Control* c = owner_.controlOf(watched); c && c->def->kind == ControlKind::Entry)
          owner_.commit(*c);
        break;
      }
      case QEvent::Move:
      case QEvent::Resize:
        if (watched != owner_.frame_.get()) owner_.placeTabControls();
        break;
      default:
        break;
    }
    return false;
  }

 private:
  static int keyCode(const QKeyEvent& e) {
    const int k = e.key();
    if (!((k >= Qt::Key_A && k <= Qt::Key_Z) || (k >= Qt::Key_0 && k <= Qt::Key_9))) return 0;
    const Qt::KeyboardModifiers mods = e.modifiers() & ~Qt::KeypadModifier;
    if (mods & ~(Qt::ControlModifier | Qt::AltModifier)) return 0;
    return k | ((mods & Qt::ControlModifier) ? key::Ctrl : 0) |
           ((mods & Qt::AltModifier) ? key::Alt : 0);
  }

  QtWindow& owner_;
};

std::unique_ptr<WindowRuntime> QtWindowFactory::build(const WindowDefinition& definition,
                                                      std::span<const FieldRef> fields) {
  if (!buildable(definition, fields)) return nullptr;
  return std::unique_ptr<WindowRuntime>(new QtWindow(definition, fields));
}

QtWindow::QtWindow(const WindowDefinition& definition, std::span<const FieldRef> fields)
    : definition_(definition),
      fields_(fields.begin(), fields.end()),
      frame_(std::make_unique<Frame>(*this)),
      filter_(std::make_unique<Filter>(*this)) {
  frame_->setWindowTitle(qs(definition.caption));
  frame_->setWindowIcon(QIcon(QStringLiteral(":/") + qs(definition.icon)));
  frame_->setFont(windowFont(definition));
  frame_->installEventFilter(filter_.get());

  const QFontMetrics fm(frame_->font());
  const int sample =
      fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  baseX_ = std::max(1, (sample + 26) / 52);
  baseY_ = std::max(1, fm.height());

  buildControls();
  frame_->setFixedSize((definition.width * baseX_ + 2) / 4, (definition.height * baseY_ + 4) / 8);

  timer_ = new QTimer(frame_.get());
  timer_->setInterval(definition.timerHundredths * 10);
  QObject::connect(timer_, &QTimer::timeout, [this] { tick(); });
}

QtWindow::~QtWindow() {
  // Widgets go before the filter that watches them, quietly.
  open_ = false;
  frame_.reset();
}

void QtWindow::buildControls() {
  controls_.resize(definition_.controls.size());
  std::size_t nextField = 0;
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    Control& c = controls_[i];
    c.def = &definition_.controls[i];
    const ControlDef& d = *c.def;
    QWidget* parent = d.container == 0
                          ? frame_.get()
                          : controls_[static_cast<std::size_t>(d.container) - 1].widget;
    const QString text = qs(d.text);
    switch (d.kind) {
      case ControlKind::Sheet:
        sheet_ = new QTabWidget(parent);
        c.widget = sheet_;
        break;
      case ControlKind::Tab: {
        auto* tabs = static_cast<QTabWidget*>(parent);
        c.widget = new QWidget;
        const int index = tabs->addTab(c.widget, text);
        tabs->setTabEnabled(index, !d.disabled);
        break;
      }
      case ControlKind::Prompt:
        c.widget = new QLabel(text, parent);
        break;
      case ControlKind::Entry: {
        auto* edit = new QLineEdit(parent);
        c.picture = Picture::parse(d.picture);
        edit->setMaxLength(c.picture->width);
        edit->setReadOnly(d.readOnly);
        const Qt::Alignment h = d.justify == Justify::Right    ? Qt::AlignRight
                                : d.justify == Justify::Center ? Qt::AlignHCenter
                                                               : Qt::AlignLeft;
        edit->setAlignment(h | Qt::AlignVCenter);
        QObject::connect(edit, &QLineEdit::returnPressed, [this, &c] { commit(c); });
        c.widget = edit;
        break;
      }
      case ControlKind::List: {
        auto* list = new QComboBox(parent);
        list->setEditable(false);
        list->addItems(listEntries(d.entries));
        if (d.dropRows > 0) list->setMaxVisibleItems(d.dropRows);
        QObject::connect(list, &QComboBox::activated, [this, &c](int index) { chosen(c, index); });
        c.widget = list;
        break;
      }
      case ControlKind::Button: {
        auto* button = new QPushButton(text, parent);
        const int number = d.number;
        QObject::connect(button, &QPushButton::clicked, [this, number] { pressed(number); });
        c.widget = button;
        break;
      }
    }
    if (isDataControl(d.kind)) c.field = fields_[nextField++];
    c.widget->setObjectName(qs(d.name));
    if (!d.tooltip.empty()) c.widget->setToolTip(qs(d.tooltip));
    if (d.background) {
      QPalette palette = c.widget->palette();
      const QColor colour = QColor::fromRgb(static_cast<QRgb>(*d.background));
      if (isDataControl(d.kind)) {
        palette.setColor(QPalette::Base, colour);
      } else {
        palette.setColor(QPalette::Window, colour);
        c.widget->setAutoFillBackground(true);
      }
      c.widget->setPalette(palette);
    }
    if (d.disabled && d.kind != ControlKind::Tab) c.widget->setEnabled(false);
    c.widget->installEventFilter(filter_.get());
  }
  // The prompt's access key moves to the control after it.
  for (std::size_t i = 0; i + 1 < controls_.size(); ++i)
    if (auto* label = qobject_cast<QLabel*>(controls_[i].widget))
      label->setBuddy(controls_[i + 1].widget);
  if (sheet_ != nullptr) {
    sheet_->tabBar()->installEventFilter(filter_.get());
    for (int i = 0; i < sheet_->count(); ++i)
      if (QWidget* stack = sheet_->widget(i)->parentWidget())
        stack->installEventFilter(filter_.get());
    QObject::connect(sheet_, &QTabWidget::currentChanged, [this](int) {
      if (!open_) return;
      const int number = controlOf(sheet_)->def->number;
      queue(event::TabChanging, number);
      queue(event::NewSelection, number);
    });
  }
  for (Control& c : controls_) place(c);
  display();
}

// Dialog units to pixels as Windows maps a dialog: each value on its own, rounded.
void QtWindow::place(Control& c) {
  const ControlDef& d = *c.def;
  if (d.kind == ControlKind::Tab) return;
  c.x = (d.x * baseX_ + 2) / 4;
  c.y = (d.y * baseY_ + 4) / 8;
  QSize hint = c.widget->sizeHint();
  if (d.kind == ControlKind::Entry && d.w == kAuto) {
    // The picture's width in average characters, plus the frame and margins of a line edit.
    QStyleOptionFrame option;
    option.initFrom(c.widget);
    option.lineWidth =
        c.widget->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, c.widget);
    const QSize contents(c.picture->width * baseX_ + 2 * 2 + 1, hint.height());
    hint.setWidth(c.widget->style()
                      ->sizeFromContents(QStyle::CT_LineEdit, &option, contents, c.widget)
                      .width());
  }
  c.w = d.w == kAuto ? hint.width() : (d.w * baseX_ + 2) / 4;
  c.h = d.h == kAuto ? hint.height() : (d.h * baseY_ + 4) / 8;
  const QPoint origin = c.widget->parentWidget()->mapTo(frame_.get(), QPoint(0, 0));
  c.widget->setGeometry(c.x - origin.x(), c.y - origin.y(), c.w, c.h);
}

void QtWindow::placeTabControls() {
  for (Control& c : controls_)
    if (c.def->container != 0) place(c);
}

QtWindow::Control* QtWindow::find(int control) {
  if (control < 1 || control > static_cast<int>(controls_.size())) return nullptr;
  return &controls_[static_cast<std::size_t>(control) - 1];
}

QtWindow::Control* QtWindow::controlOf(const QObject* widget) {
  if (sheet_ != nullptr && widget == sheet_->tabBar()) widget = sheet_;
  for (Control& c : controls_)
    if (c.widget == widget) return &c;
  return nullptr;
}

QWidget* QtWindow::frame() const {
  return frame_.get();
}

QWidget* QtWindow::widget(int control) const {
  if (control < 1 || control > static_cast<int>(controls_.size())) return nullptr;
  return controls_[static_cast<std::size_t>(control) - 1].widget;
}

void QtWindow::open() {
  if (open_) return;
  open_ = true;
  closeDelivered_ = false;
  queue(event::OpenWindow, 0);
  frame_->show();
  placeTabControls();
  if (definition_.timerHundredths > 0) timer_->start();
}

void QtWindow::close() {
  open_ = false;
  timer_->stop();
  frame_->hide();
}

bool QtWindow::accept() {
  if (closeDelivered_) return false;
  while (events_.empty()) {
    if (!open_) return false;
    QEventLoop loop;
    loop_ = &loop;
    loop.exec();
    loop_ = nullptr;
  }
  const Queued next = events_.front();
  events_.pop_front();
  if (next.event == event::Timer) timerQueued_ = false;
  if (next.event == event::AlertKey) keyCode_ = next.key;
  if (next.event == event::CloseWindow) closeDelivered_ = true;
  event_ = next.event;
  field_ = next.control;
  return true;
}

void QtWindow::queue(int event, int control, int key) {
  if (event == event::Timer) timerQueued_ = true;
  events_.push_back({event, control, key});
  if (loop_ != nullptr) loop_->quit();
}

void QtWindow::post(int event) {
  queue(event, 0);
}

// A tick while a message box is open, or while one waits, is dropped: the
// capture never runs inside itself and never catches up in a burst.
void QtWindow::tick() {
  if (messageOpen_ || timerQueued_) return;
  queue(event::Timer, 0);
}

bool QtWindow::isAlertKey(int keyCode) const {
  return keyCode != 0 &&
         std::ranges::find(definition_.alertKeys, keyCode) != definition_.alertKeys.end();
}

void QtWindow::enable(int control) {
  Control* c = find(control);
  if (c == nullptr) return;
  if (c->def->kind == ControlKind::Tab) {
    sheet_->setTabEnabled(sheet_->indexOf(c->widget), true);
  } else {
    c->widget->setEnabled(true);
  }
}

void QtWindow::select(int control) {
  Control* c = find(control);
  while (c != nullptr && c->def->kind == ControlKind::Prompt) c = find(c->def->number + 1);
  if (c == nullptr) return;
  if (c->def->kind == ControlKind::Tab) {
    const int index = sheet_->indexOf(c->widget);
    if (sheet_->isTabEnabled(index)) sheet_->setCurrentIndex(index);
    return;
  }
  if (c->def->kind == ControlKind::Sheet) {
    sheet_->tabBar()->setFocus(Qt::OtherFocusReason);
    return;
  }
  // A control on another tab brings its tab forward, unless that tab is disabled.
  for (const ControlDef* d = c->def; d->container != 0; d = find(d->container)->def) {
    Control* holder = find(d->container);
    if (holder->def->kind != ControlKind::Tab) continue;
    const int index = sheet_->indexOf(holder->widget);
    if (!sheet_->isTabEnabled(index)) return;
    sheet_->setCurrentIndex(index);
  }
  c->widget->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(c->widget)) edit->selectAll();
}

void QtWindow::display() {
  for (Control& c : controls_)
    if (c.field) display(c.def->number);
}

void QtWindow::display(int control) {
  Control* c = find(control);
  if (c == nullptr || !c->field) return;
  if (auto* edit = qobject_cast<QLineEdit*>(c->widget)) {
    // An edit in progress stays; it is stored when the user leaves the control.
    if (edit->hasFocus() && edit->isModified()) return;
    const QString shown = fromBytes(c->picture->format(*c->field));
    // A number wider than its picture is shown whole; typing stays limited.
    // setMaxLength sets the text again, which would drop the user's selection
    // on every timer tick: only when the limit changes.
    const int maxLength = std::max(c->picture->width, static_cast<int>(shown.size()));
    if (edit->maxLength() != maxLength) edit->setMaxLength(maxLength);
    if (edit->text() != shown) {
      edit->setText(shown);
      edit->setCursorPosition(0);
    }
    edit->setModified(false);
  } else if (auto* list = qobject_cast<QComboBox*>(c->widget)) {
    const std::string_view value = (*std::get_if<Text*>(&*c->field))->view();
    int index = -1;
    for (int i = 0; i < list->count(); ++i) {
      const std::optional<std::string> entry = cp1252::fromUtf8(list->itemText(i).toStdString());
      if (entry && sameName(*entry, value)) index = i;
    }
    // A text that is none of the entries shows as it stands, with no entry chosen.
    list->setPlaceholderText(index < 0 ? fromBytes(value) : QString());
    list->setCurrentIndex(index);
  }
}

bool QtWindow::commit(Control& c) {
  auto* edit = qobject_cast<QLineEdit*>(c.widget);
  if (edit == nullptr || edit->isReadOnly() || !edit->isModified()) return true;
  edit->setModified(false);
  const std::optional<std::string> bytes = cp1252::fromUtf8(edit->text().toStdString());
  if (!bytes || !c.picture->store(*bytes, *c.field)) {
    queue(event::Rejected, c.def->number);
    return false;
  }
  display(c.def->number);
  return true;
}

bool QtWindow::commitAll() {
  bool all = true;
  for (Control& c : controls_)
    if (c.def->kind == ControlKind::Entry && !commit(c)) all = false;
  return all;
}

// An access key presses the button without moving the focus, so a change still
// in its control is accepted here, before the press is handled.
void QtWindow::pressed(int button) {
  if (!open_) return;
  if (commitAll()) queue(event::Accepted, button);
}

void QtWindow::chosen(Control& list, int index) {
  auto* combo = static_cast<QComboBox*>(list.widget);
  const std::optional<std::string> entry = cp1252::fromUtf8(combo->itemText(index).toStdString());
  if (!entry) return;
  (*std::get_if<Text*>(&*list.field))->assign(*entry);
  combo->setPlaceholderText(QString());
}

void QtWindow::beep() {
  QApplication::beep();
}

std::int32_t QtWindow::nativeHandle() const {
  const auto id = static_cast<std::uint64_t>(frame_->winId());
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(id & 0xFFFF'FFFFu));
}

void QtWindow::message(std::string_view text, std::string_view caption, MessageIcon icon) {
  QMessageBox box(icon == MessageIcon::Stop ? QMessageBox::Critical : QMessageBox::Warning,
                  fromBytes(caption), fromBytes(text), QMessageBox::Ok, frame_.get());
  messageOpen_ = true;
  box.exec();
  messageOpen_ = false;
}

}  // namespace quorvel
