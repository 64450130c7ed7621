#pragma once
// The lines a scale sends, by brand, as the simulator writes them.
//
// "Precision": 7 characters, a status ('+', '-' for a negative weight) and the
// raw reading, weight x divisor rounded to a whole number, in 6 digits.
// "DIG", "FIL": 8 characters, a status and the weight text in 7 characters.
// "TOL": 6 characters, the weight text alone ('-' in front when negative).
// The weight text has two decimals when they fit the field ("0012.50"), else
// whole units ("001500"). A weight that does not fit is sent as the field's
// largest value (all nines); a divisor below 1 sends the raw reading 0.
// Each line ends with CR, or CR LF; STX (0x02) may lead it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "capture/state/decimal.hpp"

namespace quorvel::sim {

enum class Brand { Precision, DIG, FIL, TOL };

// The brand of that exact name (case-sensitive), else nothing.
std::optional<Brand> brandNamed(std::string_view name);

struct LineFormat {
  Brand brand = Brand::TOL;
  std::int32_t divisor = 10;  // of "Precision"
  bool crlf = false;
  bool stx = false;
};

std::string formatLine(const LineFormat& format, Decimal weight);

// A weight as typed in an option, the same in every locale: an optional sign,
// digits and at most one '.' or ','. Anything else, or a value beyond 15 digits
// (12 before the mark), gives nothing.
std::optional<Decimal> parseWeight(std::string_view text);

}  // namespace quorvel::sim
