#include "profile/config.hpp"

#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <system_error>

#include "profile/ini.hpp"
#include "profile/paths.hpp"

namespace quorvel {
namespace {

// Windows-1252 bytes: existing files spell these names so.
constexpr std::string_view kSection = "Configura\xE7\xE3o";
constexpr std::string_view kFile = "quorvel.ini";
constexpr std::string_view kPasta = "Pasta";
constexpr std::string_view kBalanca =
    "Balan\xE7"
    "a";
constexpr std::string_view kPorta = "Porta";
constexpr std::string_view kVelocidade = "Velocidade";
constexpr std::string_view kDivisor = "Divisor";

std::string decimalText(std::int64_t n) {
  // to_chars ignores the locale, so the digits are the same everywhere.
  char buffer[24];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, n);
  return std::string(buffer, r.ptr);
}

std::int32_t readInteger(std::string_view key, std::string_view defaultText) {
  return profileInteger(LER_INI(kSection, key, defaultText, kFile));
}

}  // namespace

std::int32_t profileInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > kMax + 1) magnitude = kMax + 1;  // enough to clamp either way
  }
  const std::int64_t n = negative ? -magnitude : magnitude;
  return static_cast<std::int32_t>(n > kMax ? kMax : n < kMin ? kMin : n);
}

void LER_CONFIGURACAO(CaptureState& s) {
  s.V_PASTA = LER_INI(kSection, kPasta, "", kFile);
  s.V_BALANCA = LER_INI(kSection, kBalanca, "", kFile);
  // The port field is a byte: it keeps the low 8 bits of the number.
  s.V_PORTA =
      static_cast<std::uint8_t>(static_cast<std::uint32_t>(readInteger(kPorta, "0")) & 0xFFu);
  s.V_VELOCIDADE = readInteger(kVelocidade, "0");
  s.V_DIVISOR = readInteger(kDivisor, "10");
}

void GRAVAR(const CaptureState& s) {
  std::error_code ignored;
  std::filesystem::create_directories(configDirectory(), ignored);
  ESCREVER_INI(kSection, kPasta, s.V_PASTA.view(), kFile);
  ESCREVER_INI(kSection, kBalanca, s.V_BALANCA.view(), kFile);
  ESCREVER_INI(kSection, kPorta, decimalText(s.V_PORTA), kFile);
  ESCREVER_INI(kSection, kVelocidade, decimalText(s.V_VELOCIDADE), kFile);
  ESCREVER_INI(kSection, kDivisor, decimalText(s.V_DIVISOR), kFile);
}

}  // namespace quorvel
