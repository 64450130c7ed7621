#pragma once
// The weight: a fixed-point decimal of 15 digits, 3 of them after the point,
// kept as an integer count of thousandths. It becomes a double only when it is
// written out.
#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

class Decimal {
 public:
  static constexpr std::int64_t kMaxThousandths = 999'999'999'999'999;  // 15 digits

  constexpr Decimal() = default;
  static constexpr Decimal fromThousandths(std::int64_t t) { return Decimal(t); }

  // Text to number: spaces are ignored; an optional leading sign, digits and at
  // most one decimal mark ('.' or ',') make a number. More than three decimals
  // round half away from zero. Anything else, no digit at all, or a value of
  // more than 15 digits gives 0.
  static Decimal parse(std::string_view text);
  // The exact number that `text` reads as (by the rule of parse, before any
  // rounding) divided by `divisor`, rounded once, half away from zero, to three
  // decimals: "1.2345" by 10 gives 0.123. A divisor of 0, or a quotient of
  // more than 15 digits, gives 0.
  static Decimal parseDivided(std::string_view text, std::int32_t divisor);

  constexpr std::int64_t thousandths() const { return t_; }
  double toDouble() const;
  // Fixed text with three decimals and the given mark: "-12.500".
  std::string toString(char mark = '.') const;
  // The shortest text that reads back as the same double, with a point and
  // without exponent: "123.4", "1500".
  std::string toShortestText() const;

  friend constexpr auto operator<=>(Decimal, Decimal) = default;

 private:
  constexpr explicit Decimal(std::int64_t t) : t_(t) {}
  std::int64_t t_ = 0;
};

}  // namespace quorvel
