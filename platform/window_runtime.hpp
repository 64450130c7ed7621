#pragma once
// The window runtime as the capture procedure and its routines see it: a window
// built from a definition, with fields of the capture state bound to its
// controls, that delivers events one at a time to the procedure's loop.
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <variant>

#include "capture/state/decimal.hpp"
#include "capture/state/text.hpp"

namespace quorvel {

struct WindowDefinition;

// Event codes as the window delivers them.
namespace event {
inline constexpr int Accepted = 1;      // a control's action completed; a button pressed
inline constexpr int NewSelection = 2;  // another tab was chosen
inline constexpr int AlertKey = 15;     // a key of the alert list was pressed
inline constexpr int TabChanging = 21;
inline constexpr int Rejected = 26;     // input that the control's picture does not admit
inline constexpr int Selected = 257;    // a control received the focus
inline constexpr int CloseWindow = 513;
inline constexpr int OpenWindow = 515;
inline constexpr int GainFocus = 518;
inline constexpr int Timer = 523;
inline constexpr int Redisplay = 1023;  // the window asks for a redisplay
}  // namespace event

// Key codes reported with an alert-key event: the key's letter or code with
// modifier bits.
namespace key {
inline constexpr int Ctrl = 0x200;
inline constexpr int Alt = 0x400;
inline constexpr int CtrlK = Ctrl | 'K';
}  // namespace key

enum class MessageIcon { Stop, Exclamation };

// A field of the capture state bound to a control.
using FieldRef = std::variant<Text*, Decimal*, std::int32_t*, std::uint32_t*, std::uint8_t*>;

class WindowRuntime {
 public:
  virtual ~WindowRuntime() = default;

  // Shows the window; from now on it delivers events, the open-window event first.
  virtual void open() = 0;
  virtual void close() = 0;
  // Waits for the next event and makes it current. False once the loop is to
  // end: the call after a close-window event has been delivered.
  virtual bool accept() = 0;
  virtual int event() const = 0;
  virtual int field() const = 0;    // number of the control the event concerns, 0 for none
  virtual int keyCode() const = 0;  // of the last key, for alert-key events

  virtual void enable(int control) = 0;
  // Gives a control the focus; selecting a prompt selects the control after it.
  virtual void select(int control) = 0;
  virtual void display() = 0;             // every control from its bound field
  virtual void display(int control) = 0;  // one control
  virtual void beep() = 0;
  virtual void post(int event) = 0;
  virtual std::int32_t nativeHandle() const = 0;
  // Modal, one OK button; returns when the user has closed it. Texts are
  // Windows-1252. Timer events due meanwhile are dropped, not queued.
  virtual void message(std::string_view text, std::string_view caption, MessageIcon icon) = 0;
};

class WindowFactory {
 public:
  virtual ~WindowFactory() = default;
  // Builds (does not show) the window; `fields` are bound to the definition's
  // data controls in control order and must outlive the window.
  virtual std::unique_ptr<WindowRuntime> build(const WindowDefinition& definition,
                                               std::span<const FieldRef> fields) = 0;
};

}  // namespace quorvel
