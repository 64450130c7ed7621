#include "tools/quorvel-sim/line_format.hpp"

#include <cstdlib>

namespace quorvel::sim {

namespace {

std::string padded(std::string text, std::size_t width) {
  text.insert(0, width - text.size(), '0');
  return text;
}

// The magnitude in `width` characters: two decimals when they fit, else whole
// units, else all nines.
std::string weightField(std::int64_t thousandths, std::size_t width) {
  const std::int64_t hundredths = (thousandths + 5) / 10;
  std::string cents = std::to_string(hundredths % 100);
  if (cents.size() < 2) cents.insert(0, 1, '0');
  const std::string twoDecimals = std::to_string(hundredths / 100) + "." + cents;
  if (twoDecimals.size() <= width) return padded(twoDecimals, width);
  const std::string whole = std::to_string((thousandths + 500) / 1000);
  if (whole.size() <= width) return padded(whole, width);
  return std::string(width, '9');
}

std::string rawReading(std::int64_t thousandths, std::int32_t divisor) {
  constexpr std::size_t kDigits = 6;
  constexpr std::int64_t kLargest = 999'999;
  if (divisor < 1) return std::string(kDigits, '0');
  // Beyond this the reading exceeds six digits for every divisor.
  if (thousandths > kLargest * 1000) return std::string(kDigits, '9');
  const std::int64_t raw = (thousandths * divisor + 500) / 1000;
  return raw > kLargest ? std::string(kDigits, '9') : padded(std::to_string(raw), kDigits);
}

}  // namespace

std::optional<Brand> brandNamed(std::string_view name) {
  if (name == "Precision") return Brand::Precision;
  if (name == "DIG") return Brand::DIG;
  if (name == "FIL") return Brand::FIL;
  if (name == "TOL") return Brand::TOL;
  return std::nullopt;
}

std::string formatLine(const LineFormat& format, Decimal weight) {
  const bool negative = weight.thousandths() < 0;
  const std::int64_t magnitude = std::llabs(weight.thousandths());
  const char status = negative ? '-' : '+';
  std::string line = format.stx ? "\x02" : "";
  switch (format.brand) {
    case Brand::Precision:
      line += status + rawReading(magnitude, format.divisor);
      break;
    case Brand::DIG:
    case Brand::FIL:
      line += status + weightField(magnitude, 7);
      break;
    case Brand::TOL:
      line += negative ? "-" + weightField(magnitude, 5) : weightField(magnitude, 6);
      break;
  }
  line += format.crlf ? "\r\n" : "\r";
  return line;
}

std::optional<Decimal> parseWeight(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  bool digit = false;
  bool mark = false;
  std::size_t wholeDigits = 0;  // significant digits before the mark
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digit = true;
      if (!mark && (wholeDigits > 0 || c != '0')) ++wholeDigits;
    } else if ((c == '.' || c == ',') && !mark) {
      mark = true;
    } else {
      return std::nullopt;
    }
  }
  if (!digit || wholeDigits > 12) return std::nullopt;
  const Decimal d = Decimal::parse(text);
  // The parser answers 0 when rounding carries the value beyond 15 digits.
  if (wholeDigits > 0 && d.thousandths() == 0) return std::nullopt;
  return d;
}

}  // namespace quorvel::sim
