#include "decimal.hpp"

#include <array>
#include <charconv>
#include <cstdlib>
#include <optional>

namespace quorvel {

namespace {

constexpr std::int64_t kMaxWhole = Decimal::kMaxThousandths / 1000;

// The number that `text` reads as, in ten-thousandths, later decimals cut off.
// Every halfway point between two thousandths of a quotient by a whole number
// has at most four decimals, so cutting toward zero never crosses one, and a
// value cut down onto one rounds away from zero as the whole value does.
std::optional<std::int64_t> readTenThousandths(std::string_view text) {
  bool negative = false;
  bool seenSign = false;
  bool seenDigit = false;
  bool seenMark = false;
  int decimals = 0;
  std::int64_t whole = 0;
  std::int64_t fraction = 0;
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
        if (whole > (kMaxWhole - d) / 10) return std::nullopt;
        whole = whole * 10 + d;
      } else if (decimals < 4) {
        fraction = fraction * 10 + d;
        ++decimals;
      }
    } else {
      return std::nullopt;
    }
    // A sign counts only before everything else.
    seenSign = true;
  }
  if (!seenDigit) return std::nullopt;
  for (; decimals < 4; ++decimals) fraction *= 10;
  const std::int64_t units = whole * 10'000 + fraction;
  return negative ? -units : units;
}

std::int64_t roundedQuotient(std::int64_t n, std::int64_t d) {
  std::int64_t q = n / d;
  const std::int64_t r = n % d;
  if (2 * std::llabs(r) >= std::llabs(d)) q += ((n < 0) != (d < 0)) ? -1 : 1;
  return q;
}

}  // namespace

Decimal Decimal::parse(std::string_view text) {
  return parseDivided(text, 1);
}

Decimal Decimal::parseDivided(std::string_view text, std::int32_t divisor) {
  if (divisor == 0) return {};
  const std::optional<std::int64_t> units = readTenThousandths(text);
  if (!units) return {};
  const std::int64_t t = roundedQuotient(*units, std::int64_t{divisor} * 10);
  if (t > kMaxThousandths || t < -kMaxThousandths) return {};
  return Decimal(t);
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
