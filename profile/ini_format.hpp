#pragma once
// The profile format on bytes in memory, without any file: what readProfileString
// and writeProfileString apply to a file's content. Section and key arguments
// lose their leading and trailing blanks here too, by the rule for the lines of
// a file, so that a name finds what was written under it.
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The value of `key` in the first section named `section`, trimmed, with one
// pair of enclosing quotes removed; nothing when the section or entry is
// missing. The view points into `bytes`.
std::optional<std::string_view> findProfileValue(std::string_view bytes, std::string_view section,
                                                 std::string_view key);

// The content after writing `value`, or nothing when the entry already holds it.
// The arguments must have passed whyRefused.
std::optional<std::string> editProfile(std::string_view bytes, std::string_view section,
                                       std::string_view key, std::string_view value);

// `s` without its leading and trailing blanks: space, tab, vertical tab and
// Ctrl-Z (0x1A).
std::string_view trimProfileBlanks(std::string_view s);

// Case-insensitive equality of names: ASCII and the Windows-1252 letters with
// accents and their capitals.
bool sameProfileName(std::string_view a, std::string_view b);

}  // namespace quorvel
