#include "scale/capture_step.hpp"

#include <array>
#include <string>

#include "profile/ini.hpp"

namespace quorvel {
namespace {

constexpr char kCarriageReturn = 13;

// Where each brand puts the weight in its line. Positions count from 0.
struct WeightRule {
  std::string_view brand;
  std::size_t lineLength;
  std::size_t from;
  std::size_t count;
  bool divided;  // the raw reading is divided by V_DIVISOR, and V_TAM shows the line length
};

constexpr std::array<WeightRule, 4> kRules{{
    {"Precision", 7, 1, 6, true},
    {"DIG", 8, 1, 7, false},
    {"FIL", 8, 1, 7, false},
    {"TOL", 6, 0, 6, false},
}};

const WeightRule* ruleFor(std::string_view brand) {
  for (const WeightRule& r : kRules)
    if (sameName(brand, r.brand)) return &r;
  return nullptr;
}

void drainSerial(CaptureState& s, SerialLibrary& serial, WindowRuntime& window) {
  for (;;) {
    s.RETCODE = resultCode(serial.Func041(s.COMPORT));
    if (s.RETCODE < 0) return;
    s.RETCHR = static_cast<std::uint8_t>(s.RETCODE & 0xFF);
    if (s.RETCHR == kCarriageReturn && hasNonSpace(s.STRLEITURA.view())) {
      window.display();
      s.V_BUFFER = s.STRLEITURA.view();
      s.STRLEITURA.clear();
    } else if (s.RETCHR >= 32 && s.RETCHR <= 126) {
      s.STRLEITURA.append(static_cast<char>(s.RETCHR));  // a full line drops the byte
    }
  }
}

void writeHandOff(const CaptureState& s) {
  const std::string file = std::string(s.V_PASTA.view()) + "\\quorvel.txt";
  const std::string section = "Pesagem." + std::string(s.V_NOME_CPD.view());
  const std::string peso = s.V_PESO.toShortestText();
  // While the weight stands still, which is most of the day, one read finds both
  // values in place and the file is left alone.
  const std::array<ProfileEntry, 2> entries{{{"Ativo", "1"}, {"Peso", peso}}};
  if (profileHolds(section, entries, file)) return;
  ESCREVER_INI(section, "Ativo", "1", file);
  ESCREVER_INI(section, "Peso", peso, file);
}

}  // namespace

void CAPTURA_PESO(CaptureState& s, SerialLibrary& serial, WindowRuntime& window) {
  if (s.FLAG_ABERTA == 0) return;
  if (resultCode(serial.Func062(s.COMPORT)) != 0) drainSerial(s, serial, window);

  if (const WeightRule* rule = ruleFor(s.V_BALANCA.view())) {
    const std::string_view line = s.V_BUFFER.view();
    if (rule->divided) s.V_TAM = static_cast<std::uint32_t>(line.size());
    if (line.size() == rule->lineLength) {
      const std::string_view text = line.substr(rule->from, rule->count);
      s.V_PESO = rule->divided ? Decimal::parseDivided(text, s.V_DIVISOR) : Decimal::parse(text);
    } else {
      s.V_PESO = Decimal{};
    }
  } else {
    window.message("Marca (" + std::string(s.V_BALANCA.view()) + ") desconhecida!", "Aviso",
                   MessageIcon::Exclamation);
    s.V_ERRO = 1;
  }

  window.display();
  if (s.V_PESO > Decimal{}) writeHandOff(s);
}

}  // namespace quorvel
