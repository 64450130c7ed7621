#include "text.hpp"

#include <cassert>

namespace quorvel {

Text::Text(std::size_t capacity) : capacity_(capacity) {
  assert(capacity >= 1);
  bytes_.reserve(maxLength());
}

void Text::assign(std::string_view s) {
  s = s.substr(0, s.find('\0'));
  bytes_.assign(s.substr(0, maxLength()));
}

bool Text::append(char c) {
  if (full() || c == '\0') return false;
  bytes_.push_back(c);
  return true;
}

std::string_view trimTrailingSpaces(std::string_view s) {
  const auto end = s.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view{} : s.substr(0, end + 1);
}

bool sameName(std::string_view a, std::string_view b) {
  return trimTrailingSpaces(a) == trimTrailingSpaces(b);
}

bool hasNonSpace(std::string_view s) {
  return s.find_first_not_of(' ') != std::string_view::npos;
}

}  // namespace quorvel
