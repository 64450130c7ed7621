// The capture step against arbitrary byte streams from the scale, split
// arbitrarily across runs, for every brand and a range of divisors.
//
// Input: a brand byte, a divisor byte, then runs: a header byte whose low 7 bits
// are the number of bytes that arrive before the run and whose top bit makes the
// port report nothing waiting on that run (the bytes then wait for a later run),
// followed by those bytes. Each run is checked against a small model of the line
// rules: the line being assembled, the last complete line (at most 254 bytes,
// all printable), the weight by the brand's rule, V_TAM, the warning for a brand
// without a rule, and the hand-off file, which holds the weight of the last
// positive run and exists only once there was one.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "capture/state/state.hpp"
#include "profile/ini.hpp"
#include "scale/capture_step.hpp"
#include "tests/fuzz/fuzz_support.hpp"
#include "tests/support/fakes.hpp"

namespace {

using quorvel::Decimal;

struct Brand {
  std::string_view name;   // as configured
  std::size_t lineLength;  // 0: no rule
  std::size_t from;
  std::size_t count;
  bool divided;
};

constexpr std::array<Brand, 7> kBrands{{
    {"Precision", 7, 1, 6, true},
    {"DIG", 8, 1, 7, false},
    {"FIL", 8, 1, 7, false},
    {"TOL", 6, 0, 6, false},
    {"TOL   ", 6, 0, 6, false},
    {"tol", 0, 0, 0, false},
    {"Precision2", 0, 0, 0, false},
}};

constexpr std::array<std::int32_t, 12> kDivisors{10,
                                                 1,
                                                 0,
                                                 -1,
                                                 3,
                                                 7,
                                                 100,
                                                 1000,
                                                 -10,
                                                 std::numeric_limits<std::int32_t>::max(),
                                                 std::numeric_limits<std::int32_t>::min(),
                                                 2};

constexpr std::uint32_t kTamBefore = 77;

// The line rules, written apart from the capture step.
struct Model {
  std::string assembling;
  std::string line;
  Decimal weight;
  std::uint32_t tam = kTamBefore;
  int warnings = 0;

  void receive(std::string_view bytes) {
    for (const char c : bytes) {
      const auto b = static_cast<unsigned char>(c);
      if (b == 13 && assembling.find_first_not_of(' ') != std::string::npos) {
        line = assembling;
        assembling.clear();
      } else if (b >= 32 && b <= 126 && assembling.size() < 254) {
        assembling += c;
      }
    }
  }

  void weigh(const Brand& brand, std::int32_t divisor) {
    if (brand.lineLength == 0) {
      ++warnings;
      return;
    }
    if (brand.divided) tam = static_cast<std::uint32_t>(line.size());
    if (line.size() != brand.lineLength) {
      weight = Decimal{};
      return;
    }
    const std::string_view text = std::string_view(line).substr(brand.from, brand.count);
    weight = brand.divided ? Decimal::parseDivided(text, divisor) : Decimal::parse(text);
  }
};

bool printable(std::string_view s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const Brand& brand = kBrands[data[0] % kBrands.size()];
  const std::int32_t divisor = kDivisors[data[1] % kDivisors.size()];

  const std::filesystem::path folder = quorvel::fuzz::scratchFolder();
  const std::filesystem::path handOff = folder / "quorvel.txt";
  std::error_code ec;
  std::filesystem::remove(handOff, ec);

  quorvel::CaptureState s;
  s.FLAG_ABERTA = 1;
  s.COMPORT = 0;
  s.V_BALANCA = brand.name;
  s.V_DIVISOR = divisor;
  s.V_TAM = kTamBefore;
  s.V_NOME_CPD = "FUZZ";
  s.V_PASTA = folder.string();
  quorvel::test::ScriptedSerial serial;
  quorvel::test::RecordingWindow window;
  Model model;
  std::string pending;  // bytes that arrived and were not yet read
  std::optional<Decimal> lastWritten;

  std::size_t pos = 2;
  while (pos < size) {
    const std::uint8_t header = data[pos++];
    const std::size_t n = std::min<std::size_t>(header & 0x7F, size - pos);
    const std::string_view bytes(reinterpret_cast<const char*>(data) + pos, n);
    pos += n;
    const bool quiet = (header & 0x80) != 0;

    serial.feed(bytes);
    pending += bytes;
    if (quiet)
      serial.waitingResult = 0x10000;  // low 16 bits 0: nothing waits
    else
      serial.waitingResult.reset();

    quorvel::CAPTURA_PESO(s, serial, window);

    if (!quiet) {
      model.receive(pending);
      pending.clear();
    }
    model.weigh(brand, divisor);
    if (model.weight > Decimal{}) lastWritten = model.weight;

    QUORVEL_FUZZ_CHECK(s.STRLEITURA.view() == model.assembling);
    QUORVEL_FUZZ_CHECK(s.V_BUFFER.view() == model.line);
    QUORVEL_FUZZ_CHECK(s.V_BUFFER.size() <= 254 && printable(s.V_BUFFER.view()));
    QUORVEL_FUZZ_CHECK(s.V_PESO == model.weight);
    QUORVEL_FUZZ_CHECK(s.V_TAM == model.tam);
    QUORVEL_FUZZ_CHECK(s.V_ERRO == (model.warnings > 0 ? 1 : 0));
    QUORVEL_FUZZ_CHECK(serial.reads.size() == (quiet ? pending.size() : 0U));
  }

  std::size_t warnings = 0;
  for (const auto& entry : window.log) warnings += entry.starts_with("message(Aviso|") ? 1U : 0U;
  QUORVEL_FUZZ_CHECK(warnings == static_cast<std::size_t>(model.warnings));

  if (lastWritten) {
    QUORVEL_FUZZ_CHECK(quorvel::readProfileString("Pesagem.FUZZ", "Peso", "", handOff) ==
                       lastWritten->toShortestText());
    QUORVEL_FUZZ_CHECK(quorvel::readProfileString("Pesagem.FUZZ", "Ativo", "", handOff) == "1");
  } else {
    QUORVEL_FUZZ_CHECK(!std::filesystem::exists(handOff, ec));
  }
  return 0;
}
