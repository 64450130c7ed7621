// The real window, built from the main window's definition, on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFontMetrics>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "capture/main_window.hpp"
#include "capture/state/state.hpp"
#include "platform/window/qt_window.hpp"
#include "tests/support/main_window_layout.hpp"
#include "tests/support/window_event.hpp"

// Qt values in failure messages as people read them.
void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}
void PrintTo(const QPoint& p, std::ostream* os) {
  *os << "(" << p.x() << ", " << p.y() << ")";
}
void PrintTo(const QSize& s, std::ostream* os) {
  *os << s.width() << " x " << s.height();
}
void PrintTo(const QRect& r, std::ostream* os) {
  *os << r.width() << " x " << r.height() << " at (" << r.x() << ", " << r.y() << ")";
}

namespace quorvel {
namespace {

const WindowDefinition& mainWindow() {
  return *findWindowDefinition(kProgramKey, kMainWindowName);
}

class WindowTest : public testing::Test {
 protected:
  void SetUp() override {
    const std::array<FieldRef, 9> fields{&s.V_NOME_CPD, &s.V_BUFFER,     &s.V_PESO,
                                         &s.V_TAM,      &s.V_PASTA,      &s.V_BALANCA,
                                         &s.V_PORTA,    &s.V_VELOCIDADE, &s.V_DIVISOR};
    runtime = factory.build(mainWindow(), fields);
    ASSERT_NE(runtime, nullptr);
    w = dynamic_cast<QtWindow*>(runtime.get());
    ASSERT_NE(w, nullptr);
  }

  // Opens the window, makes it active and takes the events that opening brings.
  void open() {
    w->open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w->frame()));
    w->frame()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w->frame()));
    opening = drain();
    ASSERT_FALSE(opening.empty());
    EXPECT_EQ(opening.front(), (Event{event::OpenWindow, 0}));
  }

  // Every event delivered until `ms` have passed (0: only those waiting now).
  std::vector<Event> drain(int ms = 0) {
    auto active = std::make_shared<bool>(true);
    if (ms == 0) {
      w->post(kSentinel);
    } else {
      QTimer::singleShot(ms, [this, active] {
        if (*active) w->post(kSentinel);
      });
    }
    std::vector<Event> out;
    while (w->accept() && w->event() != kSentinel) out.push_back({w->event(), w->field()});
    *active = false;
    return out;
  }

  // The first event with this code within `ms`, or {0, 0}.
  Event waitFor(int code, int ms = 2000) {
    auto active = std::make_shared<bool>(true);
    QTimer::singleShot(ms, [this, active] {
      if (*active) w->post(kSentinel);
    });
    Event found{0, 0};
    while (w->accept() && w->event() != kSentinel) {
      if (w->event() == code) {
        found = {w->event(), w->field()};
        break;
      }
    }
    *active = false;
    return found;
  }

  static bool has(const std::vector<Event>& events, Event e) {
    return std::find(events.begin(), events.end(), e) != events.end();
  }

  template <typename T>
  T* widget(int control) {
    return qobject_cast<T*>(w->widget(control));
  }
  QLineEdit* edit(int control) { return widget<QLineEdit>(control); }
  QTabWidget* sheet() { return widget<QTabWidget>(control::SHEET1); }

  void unlockAndShowConfiguration() {
    w->enable(control::CONFIGURACAO);
    sheet()->setCurrentIndex(1);
    drain();
  }

  // Types into an input control the way a user does: focus, then keys.
  void type(int control, const QString& keys) {
    w->select(control);
    for (QChar c : keys) {
      if (c.unicode() < 0x80)
        QTest::keyClick(w->widget(control), static_cast<char>(c.unicode()));
      else
        QTest::sendKeyEvent(QTest::Click, w->widget(control), Qt::Key_unknown, QString(c),
                            Qt::NoModifier);
    }
  }

  CaptureState s;
  QtWindowFactory factory;
  std::vector<Event> opening;  // the events that opening brought
  std::unique_ptr<WindowRuntime> runtime;
  QtWindow* w = nullptr;
};

// Dialog units of the window's font: a quarter of the average character
// width, an eighth of the character height, each value rounded on its own.
struct Units {
  explicit Units(const QFont& font) {
    const QFontMetrics fm(font);
    baseX = static_cast<int>(std::lround(
        fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52.0));
    baseY = fm.height();
  }
  int x(int u) const { return static_cast<int>(std::lround(u * baseX / 4.0)); }
  int y(int u) const { return static_cast<int>(std::lround(u * baseY / 8.0)); }
  int baseX;
  int baseY;
};

using main_window_layout::kAutoSize;
using main_window_layout::Kind;
using main_window_layout::pictureChars;
using Layout = main_window_layout::Control;

TEST_F(WindowTest, BuildsEveryControlOfTheLayoutInItsPlace) {
  open();
  const Units u(w->frame()->font());
  EXPECT_EQ(w->frame()->windowTitle(), "Quorvel 1.1");
  EXPECT_EQ(w->frame()->size(), QSize(u.x(276), u.y(135)));
  EXPECT_FALSE(w->frame()->windowIcon().isNull());
  EXPECT_EQ(sheet()->count(), 2);
  EXPECT_EQ(sheet()->currentIndex(), 0);
  EXPECT_TRUE(sheet()->isTabEnabled(0));
  EXPECT_FALSE(sheet()->isTabEnabled(1));
  EXPECT_EQ(w->widget(23), nullptr);

  for (const Layout& l : main_window_layout::kControls) {
    SCOPED_TRACE(l.name);
    QWidget* c = w->widget(l.number);
    ASSERT_NE(c, nullptr);
    const QString text = QString::fromUtf8(l.text);
    EXPECT_EQ(c->objectName(), QString::fromUtf8(l.name));
    EXPECT_EQ(c->toolTip(), QString::fromUtf8(l.tooltip));

    // Kind, container and text.
    if (l.kind == Kind::Tab) {
      EXPECT_EQ(sheet()->indexOf(c), l.number == control::TAB1 ? 0 : 1);
      EXPECT_EQ(sheet()->tabText(sheet()->indexOf(c)), text);
      continue;
    }
    EXPECT_EQ(c->parentWidget(), l.on == 0 ? w->frame() : w->widget(l.on));
    switch (l.kind) {
      case Kind::Sheet:
        EXPECT_EQ(c, sheet());
        break;
      case Kind::Prompt:
        ASSERT_NE(qobject_cast<QLabel*>(c), nullptr);
        EXPECT_EQ(qobject_cast<QLabel*>(c)->text(), text);
        EXPECT_EQ(qobject_cast<QLabel*>(c)->buddy(), w->widget(l.number + 1));
        break;
      case Kind::Entry:
        ASSERT_NE(edit(l.number), nullptr);
        EXPECT_EQ(edit(l.number)->maxLength(), pictureChars(l.picture));
        EXPECT_EQ(edit(l.number)->isReadOnly(), l.readOnly);
        break;
      case Kind::List:
        ASSERT_NE(qobject_cast<QComboBox*>(c), nullptr);
        break;
      case Kind::Button:
        ASSERT_NE(qobject_cast<QPushButton*>(c), nullptr);
        EXPECT_EQ(qobject_cast<QPushButton*>(c)->text(), text);
        break;
      case Kind::Tab:
        break;
    }

    // Places count from the client area, also inside the tabs.
    EXPECT_EQ(c->mapTo(w->frame(), QPoint(0, 0)), QPoint(u.x(l.x), u.y(l.y)));
    if (l.w != kAutoSize) {
      EXPECT_EQ(c->width(), u.x(l.w));
    }
    if (l.h != kAutoSize) {
      EXPECT_EQ(c->height(), u.y(l.h));
    }
    if (l.kind == Kind::Prompt) {
      EXPECT_EQ(c->size(), c->sizeHint());
    }
    // An entry sized by its picture: the picture's characters fit, with little to spare.
    if (l.kind == Kind::Entry && l.w == kAutoSize) {
      EXPECT_GE(c->width(), pictureChars(l.picture) * u.baseX);
      EXPECT_LT(c->width(), (pictureChars(l.picture) + 3) * u.baseX);
    }
  }

  // Field 9 ends inside the sheet.
  EXPECT_LE(
      edit(control::V_TAM)->mapTo(w->frame(), QPoint(0, 0)).x() + edit(control::V_TAM)->width(),
      u.x(272));
  // The list is as wide as its longest entry and the drop button.
  auto* list = widget<QComboBox>(control::V_BALANCA);
  EXPECT_GT(list->width(), list->fontMetrics().horizontalAdvance("Precision"));

  // Number fields: 8 and 21 share one justification, 9, 17 and 19 another, and
  // neither is the default; text fields keep the default, left.
  const auto justify = [&](int n) { return edit(n)->alignment() & Qt::AlignHorizontal_Mask; };
  EXPECT_EQ(justify(control::V_PESO), justify(control::V_DIVISOR));
  EXPECT_EQ(justify(control::V_TAM), justify(control::V_PORTA));
  EXPECT_EQ(justify(control::V_TAM), justify(control::V_VELOCIDADE));
  EXPECT_NE(justify(control::V_PESO), justify(control::V_TAM));
  for (int n : {control::V_PESO, control::V_TAM})
    EXPECT_TRUE(justify(n) == Qt::AlignRight || justify(n) == Qt::AlignHCenter) << n;
  for (int n : {control::V_NOME_CPD, control::V_BUFFER, control::V_PASTA})
    EXPECT_EQ(justify(n), Qt::AlignLeft) << n;
}

TEST_F(WindowTest, UsesTheWindowsFontWhereItIsInstalled) {
  const QFont font = w->frame()->font();
  EXPECT_EQ(font.pointSize(), 8);
  if (!QFile::exists("/usr/share/wine/fonts/ms_sans_serif.ttf"))
    GTEST_SKIP() << "no MS Sans Serif on this machine";
  EXPECT_EQ(QFontInfo(font).family(), "MS Sans Serif");
  // Checked by hand on this font at 96 dpi: dialog base units 6 x 13.
  const Units u(font);
  EXPECT_EQ(u.baseX, 6);
  EXPECT_EQ(u.baseY, 13);
  open();
  // The Close button at 217, 110 of 50 x 17 units.
  EXPECT_EQ(QRect(w->widget(control::CLOSE)->mapTo(w->frame(), QPoint(0, 0)),
                  w->widget(control::CLOSE)->size()),
            QRect(326, 179, 75, 28));
}

TEST_F(WindowTest, ReadOnlyFieldsAreGreyAndTakeNoTyping) {
  open();
  s.V_NOME_CPD = "BALANCA01";
  w->display();
  const QColor grey(0xC0, 0xC0, 0xC0);
  for (int n : {control::V_NOME_CPD, control::V_BUFFER, control::V_PESO, control::V_TAM}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(edit(n)->palette().color(QPalette::Base), grey);
    EXPECT_EQ(edit(n)->palette().color(QPalette::Text),
              QApplication::palette(edit(n)).color(QPalette::Text));
    EXPECT_EQ(edit(n)->palette().color(QPalette::Highlight),
              QApplication::palette(edit(n)).color(QPalette::Highlight));
  }
  for (int n : {control::V_PASTA, control::V_PORTA, control::V_VELOCIDADE, control::V_DIVISOR})
    EXPECT_NE(edit(n)->palette().color(QPalette::Base), grey) << n;

  type(control::V_NOME_CPD, "XYZ");
  type(control::V_PESO, "9");
  w->select(control::V_BUFFER);
  EXPECT_EQ(edit(control::V_NOME_CPD)->text(), "BALANCA01");
  EXPECT_EQ(edit(control::V_PESO)->text(), "0,000");
  EXPECT_EQ(s.V_NOME_CPD, "BALANCA01");
  EXPECT_FALSE(has(drain(), {event::Rejected, control::V_NOME_CPD}));
}

TEST_F(WindowTest, ShowsFieldsThroughTheirPictures) {
  s.V_PESO = Decimal::fromThousandths(12'500);
  s.V_VELOCIDADE = 9600;
  s.V_TAM = 254;
  s.V_PORTA = 3;
  s.V_DIVISOR = 10;
  s.V_BUFFER = "  +0012.50 kg";
  s.V_PASTA =
      "C:\\Pesagem\\Balan\xE7"
      "a";
  w->display();
  EXPECT_EQ(edit(control::V_PESO)->text(), "12,500");
  EXPECT_EQ(edit(control::V_VELOCIDADE)->text(), "9600");
  EXPECT_EQ(edit(control::V_TAM)->text(), "254");  // wider than its picture: whole
  EXPECT_EQ(edit(control::V_PORTA)->text(), "3");
  EXPECT_EQ(edit(control::V_DIVISOR)->text(), "10");
  EXPECT_EQ(edit(control::V_BUFFER)->text(), "  +0012.50 kg");
  EXPECT_EQ(edit(control::V_PASTA)->text(), QString::fromUtf8("C:\\Pesagem\\Balança"));

  s.V_VELOCIDADE = 19200;  // only the configuration file gives more than four digits
  w->display(control::V_VELOCIDADE);
  EXPECT_EQ(edit(control::V_VELOCIDADE)->text(), "19200");
}

TEST_F(WindowTest, ConfigurationTabOpensOnlyAfterTheUnlockChord) {
  open();
  QTabBar* bar = sheet()->tabBar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
  EXPECT_EQ(sheet()->currentIndex(), 0);
  w->select(control::CONFIGURACAO);
  EXPECT_EQ(sheet()->currentIndex(), 0);
  EXPECT_FALSE(has(drain(), {event::NewSelection, control::SHEET1}));

  // Ctrl+K, also while a line edit (which has a use of its own for it) has the focus.
  w->select(control::V_NOME_CPD_PROMPT);
  ASSERT_EQ(QApplication::focusWidget(), w->widget(control::V_NOME_CPD));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_K, Qt::ControlModifier);
  const Event alert = waitFor(event::AlertKey);
  EXPECT_EQ(alert, (Event{event::AlertKey, 0}));
  EXPECT_EQ(w->keyCode(), key::CtrlK);

  w->enable(control::CONFIGURACAO);
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
  EXPECT_EQ(sheet()->currentIndex(), 1);
  const std::vector<Event> events = drain();
  const auto changing = std::find(events.begin(), events.end(), Event{event::TabChanging, 1});
  const auto chosen = std::find(events.begin(), events.end(), Event{event::NewSelection, 1});
  ASSERT_NE(changing, events.end());
  ASSERT_NE(chosen, events.end());
  EXPECT_LT(changing, chosen);
  EXPECT_TRUE(w->widget(control::GRAVAR)->isVisible());
  EXPECT_FALSE(w->widget(control::CLOSE)->isVisible());
}

// Ctrl+K is the window's alert key whichever control has the focus, also one
// that would take the key for itself (a line edit deletes to the end of the line).
TEST_F(WindowTest, UnlockChordIsAnAlertWhereverTheFocusIs) {
  struct Case {
    const char* where;
    std::function<void()> focus;
    std::function<QWidget*()> expected;
  };
  open();
  w->enable(control::CONFIGURACAO);
  drain();
  s.V_PASTA = "C:\\Pesagem";
  w->display();
  const Case cases[] = {
      {"tab bar", [&] { sheet()->tabBar()->setFocus(); }, [&] { return sheet()->tabBar(); }},
      {"button", [&] { w->select(control::CLOSE); }, [&] { return w->widget(control::CLOSE); }},
      {"brand list", [&] { w->select(control::V_BALANCA); },
       [&] { return w->widget(control::V_BALANCA); }},
      {"folder field", [&] { w->select(control::V_PASTA); },
       [&] { return w->widget(control::V_PASTA); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    c.focus();
    ASSERT_EQ(QApplication::focusWidget(), c.expected());
    drain();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_K, Qt::ControlModifier);
    const std::vector<Event> events = drain();
    EXPECT_EQ(std::count(events.begin(), events.end(), Event{event::AlertKey, 0}), 1);
    EXPECT_EQ(w->keyCode(), key::CtrlK);
    EXPECT_EQ(QApplication::focusWidget(), c.expected());
  }
  EXPECT_EQ(edit(control::V_PASTA)->text(), "C:\\Pesagem");
}

TEST_F(WindowTest, OtherKeysAreNoAlert) {
  open();
  w->select(control::V_NOME_CPD_PROMPT);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_J, Qt::ControlModifier);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_K);
  EXPECT_EQ(waitFor(event::AlertKey, 300), (Event{0, 0}));
}

TEST_F(WindowTest, InputIsStoredWhenTheUserLeavesTheControl) {
  open();
  unlockAndShowConfiguration();
  type(control::V_PORTA, "3");
  type(control::V_VELOCIDADE, "2400");
  type(control::V_PASTA, QString::fromUtf8("C:\\Pesagem Ç €"));
  EXPECT_EQ(s.V_PORTA, 3);
  EXPECT_EQ(s.V_VELOCIDADE, 2400);
  w->select(control::V_DIVISOR);
  EXPECT_EQ(s.V_PASTA, "C:\\Pesagem \xC7 \x80");
  EXPECT_FALSE(has(drain(), {event::Rejected, control::V_PORTA}));
}

TEST_F(WindowTest, RefusedInputIsReportedAndNotStored) {
  struct Case {
    int control;
    const char* keys;
  };
  const Case cases[] = {
      {control::V_PORTA, "x"},
      {control::V_VELOCIDADE, "96a"},
      {control::V_DIVISOR, "-1"},
      {control::V_PASTA, "\xC4\x81"},  // a character that Windows-1252 cannot hold
  };
  open();
  unlockAndShowConfiguration();
  s.V_PORTA = 2;
  s.V_VELOCIDADE = 9600;
  s.V_DIVISOR = 10;
  s.V_PASTA = "C:\\Pesagem";
  w->display();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    type(c.control, QString::fromUtf8(c.keys));
    w->select(control::V_BALANCA);
    EXPECT_EQ(waitFor(event::Rejected), (Event{event::Rejected, c.control}));
  }
  EXPECT_EQ(s.V_PORTA, 2);
  EXPECT_EQ(s.V_VELOCIDADE, 9600);
  EXPECT_EQ(s.V_DIVISOR, 10);
  EXPECT_EQ(s.V_PASTA, "C:\\Pesagem");
  // What the procedure does next: the field shows its value again.
  w->display(control::V_PORTA);
  EXPECT_EQ(edit(control::V_PORTA)->text(), "2");
  // Typing is limited to the picture's width.
  type(control::V_PORTA, "45");
  EXPECT_EQ(edit(control::V_PORTA)->text(), "4");
}

TEST_F(WindowTest, RedisplayKeepsAnEditInProgress) {
  open();
  unlockAndShowConfiguration();
  s.V_PASTA = "C:\\Antes";
  w->display();
  type(control::V_PASTA, "D:\\Novo");
  s.V_DIVISOR = 100;
  w->display();  // as every timer tick does while the port is open
  EXPECT_EQ(edit(control::V_PASTA)->text(), "D:\\Novo");
  EXPECT_EQ(edit(control::V_DIVISOR)->text(), "100");
  EXPECT_EQ(s.V_PASTA, "C:\\Antes");
  w->select(control::V_DIVISOR);
  EXPECT_EQ(s.V_PASTA, "D:\\Novo");
  w->display();
  EXPECT_EQ(edit(control::V_PASTA)->text(), "D:\\Novo");
}

TEST_F(WindowTest, BrandListOffersExactlyTheFourBrands) {
  open();
  unlockAndShowConfiguration();
  auto* list = widget<QComboBox>(control::V_BALANCA);
  QStringList entries;
  for (int i = 0; i < list->count(); ++i) entries << list->itemText(i);
  EXPECT_EQ(entries, QStringList({"Precision", "DIG", "FIL", "TOL"}));
  EXPECT_FALSE(list->isEditable());
  EXPECT_EQ(list->lineEdit(), nullptr);
  EXPECT_EQ(list->maxVisibleItems(), 6);

  s.V_BALANCA = "DIG";
  w->display();
  EXPECT_EQ(list->currentText(), "DIG");
  // Choosing an entry stores it at once.
  w->select(control::V_BALANCA);
  QTest::keyClick(list, Qt::Key_Down);
  EXPECT_EQ(s.V_BALANCA, "FIL");

  // A brand that is none of the entries shows as it stands, nothing chosen.
  s.V_BALANCA = "Toledo";
  w->display();
  EXPECT_EQ(list->currentIndex(), -1);
  EXPECT_EQ(list->placeholderText(), "Toledo");
  EXPECT_EQ(s.V_BALANCA, "Toledo");
  s.V_BALANCA = "TOL";
  w->display();
  EXPECT_EQ(list->currentIndex(), 3);
}

TEST_F(WindowTest, AccessKeysPressTheButtonsOfTheChosenTabOnly) {
  open();
  QTest::keyClick(w->frame(), Qt::Key_G, Qt::AltModifier);
  QTest::keyClick(w->frame(), Qt::Key_F, Qt::AltModifier);
  std::vector<Event> events = drain(400);
  EXPECT_TRUE(has(events, {event::Accepted, control::CLOSE}));
  EXPECT_FALSE(has(events, {event::Accepted, control::GRAVAR}));

  unlockAndShowConfiguration();
  QTest::keyClick(w->frame(), Qt::Key_F, Qt::AltModifier);
  QTest::keyClick(w->frame(), Qt::Key_G, Qt::AltModifier);
  events = drain(400);
  EXPECT_TRUE(has(events, {event::Accepted, control::GRAVAR}));
  EXPECT_FALSE(has(events, {event::Accepted, control::CLOSE}));
}

TEST_F(WindowTest, ButtonPressFindsPendingEditsStored) {
  open();
  unlockAndShowConfiguration();
  type(control::V_VELOCIDADE, "4800");
  ASSERT_EQ(QApplication::focusWidget(), w->widget(control::V_VELOCIDADE));
  QTest::keyClick(w->frame(), Qt::Key_G, Qt::AltModifier);  // the focus stays
  std::vector<Event> events = drain(400);
  EXPECT_TRUE(has(events, {event::Accepted, control::GRAVAR}));
  EXPECT_EQ(s.V_VELOCIDADE, 4800);

  // A refused edit stops the press: only its rejection is delivered.
  type(control::V_VELOCIDADE, "x");
  QTest::keyClick(w->frame(), Qt::Key_G, Qt::AltModifier);
  events = drain(400);
  EXPECT_TRUE(has(events, {event::Rejected, control::V_VELOCIDADE}));
  EXPECT_FALSE(has(events, {event::Accepted, control::GRAVAR}));
  EXPECT_EQ(s.V_VELOCIDADE, 4800);
}

TEST_F(WindowTest, ActivationAndRestoringAskForADisplay) {
  open();
  EXPECT_TRUE(has(opening, {event::GainFocus, 0}));
  w->frame()->showMinimized();
  QTest::qWait(50);
  EXPECT_FALSE(has(drain(), {event::Redisplay, 0}));
  w->frame()->showNormal();
  EXPECT_EQ(waitFor(event::Redisplay), (Event{event::Redisplay, 0}));
}

TEST_F(WindowTest, SelectingAPromptFocusesItsControlAndReportsIt) {
  open();
  w->select(control::V_NOME_CPD_PROMPT);
  EXPECT_EQ(QApplication::focusWidget(), w->widget(control::V_NOME_CPD));
  EXPECT_EQ(waitFor(event::Selected), (Event{event::Selected, control::V_NOME_CPD}));
}

TEST_F(WindowTest, TimerTicksAtItsIntervalOneAtATime) {
  open();
  QElapsedTimer clock;
  clock.start();
  std::vector<qint64> at;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(waitFor(event::Timer).code, event::Timer);
    at.push_back(clock.elapsed());
  }
  EXPECT_GE(at[1] - at[0], 400);
  EXPECT_GE(at[2] - at[1], 400);

  // Ticks that nobody takes do not pile up.
  QTest::qWait(1600);
  std::vector<Event> waiting = drain();
  EXPECT_EQ(std::count(waiting.begin(), waiting.end(), Event{event::Timer, 0}), 1);
}

TEST_F(WindowTest, TicksAreDroppedWhileAMessageIsOpen) {
  open();
  drain();
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QTimer::singleShot(1300, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    box->accept();
  });
  w->message("Porta COM1 n\xE3o dispon\xEDvel", "Erro", MessageIcon::Stop);
  EXPECT_EQ(title, "Erro");
  EXPECT_EQ(text, QString::fromUtf8("Porta COM1 não disponível"));
  EXPECT_EQ(icon, QMessageBox::Critical);
  const std::vector<Event> afterwards = drain();
  EXPECT_EQ(std::count(afterwards.begin(), afterwards.end(), Event{event::Timer, 0}), 0);
  // And the timer goes on afterwards.
  EXPECT_EQ(waitFor(event::Timer).code, event::Timer);

  QTimer::singleShot(50, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    icon = box->icon();
    box->accept();
  });
  w->message(
      "Balan\xE7"
      "a desconhecida",
      "Aviso", MessageIcon::Exclamation);
  EXPECT_EQ(icon, QMessageBox::Warning);
}

TEST_F(WindowTest, FrameCloseBoxEndsTheLoop) {
  open();
  w->frame()->close();                   // as the close box does
  EXPECT_TRUE(w->frame()->isVisible());  // the procedure closes it
  std::vector<Event> events;
  while (w->accept()) events.push_back({w->event(), w->field()});
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), (Event{event::CloseWindow, 0}));
  EXPECT_FALSE(w->accept());
  w->close();
  EXPECT_FALSE(w->frame()->isVisible());
}

TEST_F(WindowTest, PostedCloseEndsTheLoop) {
  open();
  w->post(event::CloseWindow);
  std::vector<Event> events;
  while (w->accept()) events.push_back({w->event(), w->field()});
  EXPECT_EQ(events.back(), (Event{event::CloseWindow, 0}));
}

TEST(WindowIcon, CarriesEightImagesInTheResources) {
  // The icon directory: size and bits per pixel of each image.
  QFile file(":/QUORVEL_ICO");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes.at(i)); };
  ASSERT_GE(bytes.size(), 6 + 8 * 16);
  ASSERT_EQ(byte(4), 8);
  std::vector<std::pair<int, int>> directory;
  for (qsizetype i = 0; i < 8; ++i) {
    const qsizetype entry = 6 + 16 * i;
    directory.emplace_back(byte(entry) == 0 ? 256 : byte(entry), byte(entry + 6) | byte(entry + 7)
                                                                                       << 8);
  }
  const std::vector<std::pair<int, int>> expected{{16, 8},  {32, 8},  {48, 8},  {16, 32},
                                                  {24, 32}, {32, 32}, {48, 32}, {128, 32}};
  EXPECT_EQ(directory, expected);

  // Qt reads every one of them.
  QImageReader reader(":/QUORVEL_ICO");
  ASSERT_EQ(reader.imageCount(), 8) << reader.errorString().toStdString();
  for (int i = 0; i < 8; ++i) {
    ASSERT_TRUE(reader.jumpToImage(i));
    const QImage image = reader.read();
    ASSERT_FALSE(image.isNull()) << i;
    EXPECT_EQ(image.size(), QSize(expected[static_cast<std::size_t>(i)].first,
                                  expected[static_cast<std::size_t>(i)].first));
    // Corners are clear and the middle is drawn, in either depth.
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << i;
    EXPECT_EQ(qAlpha(image.pixel(image.width() / 2, image.height() / 4)), 255) << i;
  }
}

TEST(WindowFactory, RefusesWhatItCannotBuild) {
  CaptureState s;
  QtWindowFactory factory;
  const std::array<FieldRef, 9> fields{&s.V_NOME_CPD, &s.V_BUFFER,     &s.V_PESO,
                                       &s.V_TAM,      &s.V_PASTA,      &s.V_BALANCA,
                                       &s.V_PORTA,    &s.V_VELOCIDADE, &s.V_DIVISOR};
  EXPECT_NE(factory.build(mainWindow(), fields), nullptr);
  EXPECT_EQ(factory.build(mainWindow(), std::span(fields).first(8)), nullptr);
  std::array<FieldRef, 9> listOnNumber = fields;
  listOnNumber[5] = &s.V_PORTA;
  EXPECT_EQ(factory.build(mainWindow(), listOnNumber), nullptr);

  std::vector<ControlDef> controls(mainWindow().controls.begin(), mainWindow().controls.end());
  controls[3].picture = "s";
  WindowDefinition bad = mainWindow();
  bad.controls = controls;
  EXPECT_EQ(factory.build(bad, fields), nullptr);
  controls[3].picture = "s50";
  controls[4].container = 9;  // an entry is no container
  EXPECT_EQ(factory.build(bad, fields), nullptr);
}

}  // namespace
}  // namespace quorvel
