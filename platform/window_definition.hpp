#pragma once
// A window as data: its attributes and a table of controls that the window
// runtime builds into widgets. Places and sizes are in dialog units of the
// window's font (x: a quarter of the average character width, y: an eighth of
// the character height), measured from the client area's top-left corner for
// every control, also those inside the tab sheet. Texts are UTF-8.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace quorvel {

enum class ControlKind { Sheet, Tab, Prompt, Entry, List, Button };
enum class Justify { Left, Right, Center };

inline constexpr int kAuto = -1;  // size derived from the text or the picture

struct ControlDef {
  int number;              // from 1, in order of declaration
  std::string_view name;   // "?V_PESO", "?V_PESO:PROMPT" as the procedure names it
  ControlKind kind;
  int container;           // 0 the window, else the number of the sheet or tab
  std::string_view text;   // caption; '&' marks the access key
  std::string_view picture;  // "s254", "n15`3", "n4"; empty for controls without a field
  int x, y, w, h;
  bool readOnly = false;
  bool disabled = false;   // when the window opens
  std::optional<std::uint32_t> background{};  // 0xRRGGBB
  std::string_view tooltip{};
  std::string_view entries{};  // a drop-down list's fixed entries: "A|B|C"
  int dropRows = 0;          // rows of an opened drop-down list
  Justify justify = Justify::Left;
};

struct WindowDefinition {
  std::string_view key;     // "quorvel$quorv001"
  std::string_view name;    // "P1$QUICKWINDOW"
  std::string_view caption;
  int width, height;        // client area
  std::string_view font;
  int fontPoints;
  std::string_view icon;    // resource name of the icon group
  int timerHundredths;      // 0: no timer
  std::span<const int> alertKeys;
  std::span<const ControlDef> controls;
};

}  // namespace quorvel
