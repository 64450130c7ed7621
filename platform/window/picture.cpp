#include "platform/window/picture.hpp"

#include <cstdint>
#include <limits>
#include <type_traits>

namespace quorvel {
namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// 1 to 4 digits, no sign; advances `pos`.
std::optional<int> readCount(std::string_view text, std::size_t& pos) {
  int value = 0;
  std::size_t start = pos;
  while (pos < text.size() && isDigit(text[pos]) && pos - start < 4) {
    value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  if (pos == start) return std::nullopt;
  return value;
}

std::string_view trimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Digits before and after the comma, leading zeros of the whole part dropped.
struct Digits {
  std::string whole;
  std::string fraction;
};

std::optional<Digits> readNumber(std::string_view input, int wholeMax, int fractionMax) {
  input = trimSpaces(input);
  Digits d;
  std::size_t comma = input.find(',');
  std::string_view whole = input.substr(0, comma);
  std::string_view fraction =
      comma == std::string_view::npos ? std::string_view{} : input.substr(comma + 1);
  if (comma != std::string_view::npos && fractionMax == 0) return std::nullopt;
  for (char c : whole)
    if (!isDigit(c)) return std::nullopt;
  for (char c : fraction)
    if (!isDigit(c)) return std::nullopt;
  if (std::ssize(whole) > wholeMax || std::ssize(fraction) > fractionMax) return std::nullopt;
  if (comma != std::string_view::npos && whole.empty() && fraction.empty()) return std::nullopt;
  while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
  d.whole = whole;
  d.fraction = fraction;
  return d;
}

// Up to 18 significant digits fit an unsigned 64-bit count without overflow.
std::optional<std::uint64_t> toUnsigned(const std::string& digits) {
  if (digits.size() > 18) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : digits) v = v * 10 + static_cast<std::uint64_t>(c - '0');
  return v;
}

std::string zeros(int n) {
  return std::string(static_cast<std::size_t>(n), '0');
}

std::string formatDecimal(Decimal value, int decimals) {
  if (decimals >= 3) return value.toString(',') + zeros(decimals - 3);
  std::int64_t t = value.thousandths();
  std::int64_t divisor = 1;
  for (int i = decimals; i < 3; ++i) divisor *= 10;
  std::uint64_t magnitude =
      t < 0 ? 0 - static_cast<std::uint64_t>(t) : static_cast<std::uint64_t>(t);
  const auto div = static_cast<std::uint64_t>(divisor);
  std::uint64_t rounded = (magnitude + div / 2) / div;  // half away from zero
  std::uint64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  std::string out = t < 0 && rounded != 0 ? "-" : "";
  out += std::to_string(rounded / scale);
  if (decimals > 0) {
    std::string fraction = std::to_string(rounded % scale);
    out += ',' + zeros(decimals - static_cast<int>(fraction.size())) + fraction;
  }
  return out;
}

}  // namespace

std::optional<Picture> Picture::parse(std::string_view text) {
  if (text.empty() || (text[0] != 's' && text[0] != 'n')) return std::nullopt;
  Picture p;
  p.kind = text[0] == 's' ? Kind::Text : Kind::Number;
  std::size_t pos = 1;
  std::optional<int> width = readCount(text, pos);
  if (!width || *width == 0) return std::nullopt;
  p.width = *width;
  if (p.kind == Kind::Number && pos < text.size() && text[pos] == '`') {
    ++pos;
    if (pos >= text.size() || !isDigit(text[pos])) return std::nullopt;
    p.decimals = text[pos++] - '0';
    if (p.decimals == 0 || p.decimals > p.width - 2) return std::nullopt;
  }
  if (pos != text.size()) return std::nullopt;
  return p;
}

std::string Picture::format(const FieldRef& field) const {
  const int shownDecimals = kind == Kind::Number ? decimals : 3;
  return std::visit(
      [&](auto* value) -> std::string {
        using T = std::remove_pointer_t<decltype(value)>;
        if constexpr (std::is_same_v<T, Text>) {
          return std::string(value->view());
        } else if constexpr (std::is_same_v<T, Decimal>) {
          return formatDecimal(*value, shownDecimals);
        } else {
          std::string out = std::to_string(*value);
          if (kind == Kind::Number && decimals > 0) out += ',' + zeros(decimals);
          return out;
        }
      },
      field);
}

bool Picture::store(std::string_view input, const FieldRef& field) const {
  if (kind == Kind::Text) {
    input = input.substr(0, static_cast<std::size_t>(width));
    if (Text* const* text = std::get_if<Text*>(&field)) {
      (*text)->assign(input);
      return true;
    }
  }
  if (Text* const* text = std::get_if<Text*>(&field)) {
    if (!readNumber(input, width - (decimals > 0 ? decimals + 1 : 0), decimals)) return false;
    (*text)->assign(trimSpaces(input));
    return true;
  }
  // A number field behind a text picture reads as a number of that many positions.
  const bool isDecimal = std::holds_alternative<Decimal*>(field);
  const int fractionMax = kind == Kind::Number ? decimals : (isDecimal ? 3 : 0);
  const int wholeMax = kind == Kind::Number && decimals > 0 ? width - decimals - 1 : width;
  std::optional<Digits> digits = readNumber(input, wholeMax, fractionMax);
  if (!digits) return false;
  std::optional<std::uint64_t> whole = toUnsigned(digits->whole);
  if (!whole) return false;

  if (Decimal* const* dec = std::get_if<Decimal*>(&field)) {
    std::string fraction = digits->fraction;
    const bool roundUp = fraction.size() > 3 && fraction[3] >= '5';
    fraction.resize(3, '0');
    constexpr auto kMax = static_cast<std::uint64_t>(Decimal::kMaxThousandths);
    if (*whole > kMax / 1000) return false;
    std::uint64_t t = *whole * 1000 + *toUnsigned(fraction) + (roundUp ? 1 : 0);
    if (t > kMax) return false;
    **dec = Decimal::fromThousandths(static_cast<std::int64_t>(t));
    return true;
  }
  if (digits->fraction.find_first_not_of('0') != std::string::npos) return false;
  return std::visit(
      [&](auto* value) {
        using T = std::remove_pointer_t<decltype(value)>;
        if constexpr (std::is_integral_v<T>) {
          if (*whole > static_cast<std::uint64_t>(std::numeric_limits<T>::max())) return false;
          *value = static_cast<T>(*whole);
          return true;
        } else {
          return false;
        }
      },
      field);
}

}  // namespace quorvel
