#include "scale/capture_step.hpp"

#include <algorithm>
#include <array>
#include <string>

#include "profile/ini.hpp"

namespace quorvel {
namespace {

constexpr char kCarriageReturn = 13;
constexpr std::size_t kMostBytesPerRun = std::size_t{1} << 20;

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

// Reads at most what was waiting when the run began, so that a scale sending
// faster than the run reads cannot hold the window's thread. Only the last line
// completed counts, so a line is moved, not copied, when it completes, and
// V_BUFFER takes the last one once at the end.
void drainSerial(CaptureState& s, SerialLibrary& serial, std::int32_t waiting) {
  const std::size_t bound =
      waiting > 0 ? std::min<std::size_t>(static_cast<std::size_t>(waiting), kMostBytesPerRun)
                  : kMostBytesPerRun;
  std::string line(s.STRLEITURA.view());
  std::string last;
  bool lineHasNonSpace = hasNonSpace(line);
  bool committed = false;
  line.reserve(s.STRLEITURA.maxLength());
  last.reserve(s.STRLEITURA.maxLength());
  for (std::size_t n = 0; n < bound; ++n) {
    s.RETCODE = resultCode(serial.Func041(s.COMPORT));
    if (s.RETCODE < 0) break;
    s.RETCHR = static_cast<std::uint8_t>(s.RETCODE & 0xFF);
    if (s.RETCHR == kCarriageReturn && lineHasNonSpace) {
      last.swap(line);
      line.clear();
      lineHasNonSpace = false;
      committed = true;
    } else if (s.RETCHR >= 32 && s.RETCHR <= 126) {
      if (line.size() < s.STRLEITURA.maxLength()) {  // a full line drops the byte
        line += static_cast<char>(s.RETCHR);
        lineHasNonSpace = lineHasNonSpace || s.RETCHR != ' ';
      }
    }
  }
  if (committed) s.V_BUFFER = last;
  s.STRLEITURA = line;
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
  const std::int32_t waiting = serial.Func062(s.COMPORT);
  if (resultCode(waiting) != 0) drainSerial(s, serial, waiting);

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
