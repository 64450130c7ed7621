#include "decimal.hpp"

#include <array>
#include <charconv>
#include <cstdlib>

namespace quorvel {

Decimal Decimal::parse(std::string_view text) {
  bool negative = false;
  bool seenSign = false;
  bool seenDigit = false;
  bool seenMark = false;
  int decimals = 0;
  std::int64_t whole = 0;  // thousandths of the digits taken so far
  int roundDigit = -1;     // the fourth decimal, which decides the rounding
  for (const char c : text) {
    if (c == ' ') continue;
    if ((c == '+' || c == '-') && !seenSign && !seenDigit && !seenMark) {
      seenSign = true;
      negative = c == '-';
    } else if ((c == '.' || c == ',') && !seenMark) {
      seenMark = true;
    } else if (c >= '0' && c <= '9') {
      seenDigit = true;
      const int d = c - '0';
      if (!seenMark) {
        if (whole > (kMaxThousandths - d * 1000) / 10) return {};
        whole = whole * 10 + d * 1000;
      } else if (decimals < 3) {
        static constexpr std::array<int, 3> kPlace{100, 10, 1};
        whole += d * kPlace[static_cast<std::size_t>(decimals)];
        ++decimals;
      } else if (roundDigit < 0) {
        roundDigit = d;
      }
    } else {
      return {};
    }
    // A sign counts only before everything else.
    seenSign = true;
  }
  if (!seenDigit) return {};
  if (roundDigit >= 5) ++whole;
  if (whole > kMaxThousandths) return {};
  return Decimal(negative ? -whole : whole);
}

Decimal Decimal::dividedBy(std::int32_t divisor) const {
  if (divisor == 0) return {};
  const std::int64_t d = divisor;
  std::int64_t q = t_ / d;
  const std::int64_t r = t_ % d;
  if (2 * std::llabs(r) >= std::llabs(d)) q += ((t_ < 0) != (d < 0)) ? -1 : 1;
  return Decimal(q);
}

double Decimal::toDouble() const {
  // Exact below 2^53, so one correctly rounded division gives the nearest double.
  return static_cast<double>(t_) / 1000.0;
}

std::string Decimal::toString(char mark) const {
  const std::int64_t a = t_ < 0 ? -t_ : t_;
  std::string s = std::to_string(a / 1000);
  std::string frac = std::to_string(a % 1000);
  s += mark;
  s.append(3 - frac.size(), '0');
  s += frac;
  return t_ < 0 ? "-" + s : s;
}

std::string Decimal::toShortestText() const {
  std::array<char, 64> buf{};
  const auto r =
      std::to_chars(buf.data(), buf.data() + buf.size(), toDouble(), std::chars_format::fixed);
  return std::string(buf.data(), r.ptr);
}

}  // namespace quorvel
