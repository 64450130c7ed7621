#pragma once
// Pictures: how an entry shows its bound field and takes the user's input.
//
//   "sN"    text of up to N characters
//   "nW"    whole number in W positions, plain digits without grouping or sign
//   "nW`D"  decimal number in W positions with D decimals; the grave accent
//           stands for the decimal comma ("n15`3" shows 12.5 as "12,500")
//
// Texts here are Windows-1252 bytes; the window converts at its edge. Nothing
// here throws: a malformed picture parses to nothing, refused input stores nothing.
#include <optional>
#include <string>
#include <string_view>

#include "platform/window_runtime.hpp"

namespace quorvel {

struct Picture {
  enum class Kind { Text, Number };
  Kind kind = Kind::Text;
  int width = 0;     // characters or positions, 1 to 9999
  int decimals = 0;  // 0 to 9, numbers only

  // Nothing for anything but the three forms above (lower-case letter, digits
  // without a sign, decimals smaller than the width).
  static std::optional<Picture> parse(std::string_view text);

  // The field's value as the picture shows it. A number that does not fit the
  // width, or a negative one, is shown whole with its sign rather than cut.
  // A field of the other kind (a number through "sN", a text through "nW")
  // shows as its digits or its bytes.
  std::string format(const FieldRef& field) const;

  // Stores `input` into the field; false (and the field unchanged) when the
  // picture does not admit it. Text pictures keep the first `width` bytes.
  // Number pictures trim spaces, read the empty input as 0 and take only digits,
  // at most width - decimals - 1 of them before the comma when there are
  // decimals (width of them otherwise) and at most `decimals` after it; a value
  // that the field's type cannot hold is refused. A text field behind a number
  // picture takes the trimmed digits as they stand.
  bool store(std::string_view input, const FieldRef& field) const;
};

}  // namespace quorvel
