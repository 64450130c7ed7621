#pragma once
// Windows-1252 <-> UTF-8 at the edges of the system (the window, the terminal).
// Inside, every text is Windows-1252 bytes.
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::cp1252 {

// Every byte has a meaning; the five that Windows-1252 leaves undefined (81, 8D,
// 8F, 90, 9D) pass through as the control characters of the same number.
std::string toUtf8(std::string_view bytes);

// Nothing when the text holds a character that Windows-1252 cannot hold, or is
// not valid UTF-8.
std::optional<std::string> fromUtf8(std::string_view utf8);

}  // namespace quorvel::cp1252
