#pragma once
// The window runtime over Qt Widgets. The caller owns a QApplication.
//
// The factory builds a top-level QWidget from a window definition: a QTabWidget
// for the sheet, QLabel prompts (buddies of the control after them, so that
// their access keys work), QLineEdit entries, a non-editable QComboBox for a
// list and QPushButton buttons, each placed from its dialog units in the
// window's font. build() returns null for a definition it cannot build: numbers
// out of order, a container that is not a sheet or tab, a picture it cannot
// parse, a list not bound to a text, or a field count that differs from the
// number of data controls.
//
// Events come from a queue, one per accept(): 515 when open() shows the window,
// 518 when it is activated, 1023 when it is restored from minimised, 523 from
// the timer (dropped while a message box is open; at most one waits), 15 for an
// alert key, 1 for a button, 21 then 2 (control 1) when another tab is chosen,
// 257 when a control gets the focus, 26 when input is refused, 513 for the
// frame's close box (the window stays open until close()) and whatever post()
// queues. Pending edits are accepted before a button's event is queued; when
// one is refused, the press is dropped and only the 26 is delivered. The
// definition and the fields must outlive the window.
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "platform/window/picture.hpp"
#include "platform/window_definition.hpp"
#include "platform/window_runtime.hpp"

class QEventLoop;
class QObject;
class QTabWidget;
class QTimer;
class QWidget;

namespace quorvel {

class QtWindow final : public WindowRuntime {
 public:
  ~QtWindow() override;

  void open() override;
  void close() override;
  bool accept() override;
  int event() const override { return event_; }
  int field() const override { return field_; }
  int keyCode() const override { return keyCode_; }
  void enable(int control) override;
  void select(int control) override;
  void display() override;
  void display(int control) override;
  void beep() override;
  void post(int event) override;
  std::int32_t nativeHandle() const override;
  void message(std::string_view text, std::string_view caption, MessageIcon icon) override;

  // The top-level widget and the widget of a control (the page for a tab);
  // null for a number that is not a control.
  QWidget* frame() const;
  QWidget* widget(int control) const;

 private:
  friend class QtWindowFactory;
  class Frame;
  class Filter;
  struct Control {
    const ControlDef* def = nullptr;
    QWidget* widget = nullptr;
    std::optional<Picture> picture;
    std::optional<FieldRef> field;
    int x = 0, y = 0, w = 0, h = 0;  // pixels from the client area's top-left
  };

  QtWindow(const WindowDefinition& definition, std::span<const FieldRef> fields);
  void buildControls();
  void place(Control& c);
  Control* find(int control);
  Control* controlOf(const QObject* widget);
  void queue(int event, int control, int key = 0);
  void placeTabControls();
  void tick();
  bool commit(Control& c);
  bool commitAll();
  void pressed(int button);
  void chosen(Control& list, int index);
  bool isAlertKey(int keyCode) const;

  const WindowDefinition& definition_;
  std::vector<FieldRef> fields_;
  std::unique_ptr<Frame> frame_;
  std::unique_ptr<Filter> filter_;
  QTimer* timer_ = nullptr;
  QTabWidget* sheet_ = nullptr;
  std::vector<Control> controls_;
  int baseX_ = 0, baseY_ = 0;

  struct Queued {
    int event, control, key;
  };
  std::deque<Queued> events_;
  QEventLoop* loop_ = nullptr;
  bool open_ = false;
  bool closeDelivered_ = false;
  bool messageOpen_ = false;
  bool timerQueued_ = false;
  int event_ = 0, field_ = 0, keyCode_ = 0;
};

class QtWindowFactory : public WindowFactory {
 public:
  std::unique_ptr<WindowRuntime> build(const WindowDefinition& definition,
                                       std::span<const FieldRef> fields) override;
};

}  // namespace quorvel
