#pragma once
// The window runtime over Win32, for the Windows build. The program needs the
// manifest of common controls 6 for visual styles; without it, the window is
// built with the classic controls.
//
// The factory makes a dialog template in memory from a window definition, in
// the definition's font, so that places and sizes are dialog units as Windows
// computes them, and creates it as a modeless dialog: a tab control for the
// sheet, statics for prompts, edits for entries, an owner-drawn drop-down list
// for a list and push buttons; every control is a child of the dialog, and
// those of the tabs not chosen are hidden. Sizes marked auto follow from the
// text, the picture's width or the longest entry in the dialog's font. build()
// returns null for a definition that no runtime builds (definition_check.hpp)
// and when Windows refuses the dialog; failure() then says why.
//
// Events come from a queue, one per accept(), which runs the message loop while
// the queue is empty: 515 when open() shows the window, 518 when it is
// activated, 1023 when it is restored from minimised, 523 from a SetTimer of the
// definition's interval (dropped while a message box is open; at most one
// waits), 15 for an alert key whatever control has the focus, 1 for a button,
// 21 then 2 (control 1) when another tab is chosen, 257 when a control gets the
// focus, 26 when input is refused, 513 for a close from the frame (the window
// stays open until close()) and whatever post() queues. A disabled tab cannot
// be chosen, by mouse, keyboard or select(). Pending edits are accepted before
// a button's event is queued; when one is refused, the press is dropped and
// only the 26 is delivered. A redisplay leaves alone an edit that the user is
// making. Texts are converted between Windows-1252 and UTF-16 at this edge.
// The definition and the fields must outlive the window; one thread uses it.
#include <windows.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/window/picture.hpp"
#include "platform/window_definition.hpp"
#include "platform/window_runtime.hpp"

namespace quorvel {

class Win32Window final : public WindowRuntime {
 public:
  ~Win32Window() override;

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

  // The dialog, and the window of a control (the tab control for a sheet);
  // null for a tab and for a number that is no control.
  HWND frame() const { return dialog_; }
  HWND window(int control) const;
  // The dialog's item identifier of a control.
  static int itemId(int control) { return kFirstId + control; }
  // Whether a tab can be chosen.
  bool tabEnabled(int control) const;

 private:
  friend class Win32WindowFactory;
  static constexpr int kFirstId = 1000;

  struct Control {
    const ControlDef* def = nullptr;
    HWND hwnd = nullptr;
    std::optional<Picture> picture;
    std::optional<FieldRef> field;
    int tab = 0;               // the tab that holds it, 0 for none
    int tabIndex = -1;         // a tab's index on its sheet
    bool enabled = true;       // a tab's own state; a tab control has none per tab
    std::wstring tooltip;      // kept for the tooltip control
    std::wstring placeholder;  // a list's value that is none of its entries
    HBRUSH background = nullptr;
    COLORREF colour = 0;
    int limit = 0;     // an entry's current text limit
    int shownTab = 0;  // a sheet's chosen tab
  };

  Win32Window(const WindowDefinition& definition, std::span<const FieldRef> fields);
  std::vector<unsigned short> dialogTemplate() const;
  static INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
  void initialise();
  void sizeAutoControls();
  void addTooltips();
  void setIcon();
  Control* find(int control);
  Control* byItem(int id);
  Control* byWindow(HWND hwnd);
  Control* sheetOf(const Control& tab);
  void showTab(Control& tab, bool notify);
  void stepTab(bool forward);
  bool intercept(const MSG& message);
  INT_PTR notify(const NMHDR& header);
  void command(int id, int code);
  bool drawItem(const DRAWITEMSTRUCT& item);
  void queue(int event, int control, int key = 0);
  void tick();
  void focus(HWND hwnd);
  bool commit(Control& c);
  bool commitAll();
  void pressed(int button);
  void chosen(Control& list);
  bool isAlertKey(int keyCode) const;
  static LRESULT CALLBACK sheetProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR id, DWORD_PTR self);

  const WindowDefinition& definition_;
  std::vector<FieldRef> fields_;
  std::vector<Control> controls_;
  HWND dialog_ = nullptr;
  HWND tooltips_ = nullptr;
  HICON bigIcon_ = nullptr, smallIcon_ = nullptr;

  struct Queued {
    int event, control, key;
  };
  std::deque<Queued> events_;
  bool open_ = false;
  bool minimised_ = false;
  bool closeDelivered_ = false;
  bool messageOpen_ = false;
  bool timerQueued_ = false;
  HWND refusedBy_ = nullptr;  // the focus that an edit refused on leaving, in this message
  int event_ = 0, field_ = 0, keyCode_ = 0;
};

class Win32WindowFactory : public WindowFactory {
 public:
  std::unique_ptr<WindowRuntime> build(const WindowDefinition& definition,
                                       std::span<const FieldRef> fields) override;
  // Why the last build() returned null; empty after a success.
  const std::string& failure() const { return failure_; }

 private:
  std::string failure_;
};

}  // namespace quorvel
