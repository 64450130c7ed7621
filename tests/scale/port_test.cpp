#include "scale/port.hpp"

#include <gtest/gtest.h>

#include "tests/support/fakes.hpp"

namespace quorvel {
namespace {

using test::RecordingWindow;
using test::ScriptedSerial;
using Strings = std::vector<std::string>;

struct OpenCase {
  const char* name;
  const char* brand;
  std::uint8_t port;
  std::int32_t speed;
  std::vector<std::int32_t> claim, setup;
  Strings sequence;  // library calls and message boxes, in the order made
  std::uint8_t open;
  std::int32_t erro;
};

void PrintTo(const OpenCase& c, std::ostream* os) {
  *os << c.name;
}

class OpenPort : public testing::TestWithParam<OpenCase> {};

TEST_P(OpenPort, MakesExactlyTheCallsAndMessagesInOrder) {
  const OpenCase& c = GetParam();
  CaptureState s;
  s.V_BALANCA = c.brand;
  s.V_PORTA = c.port;
  s.V_VELOCIDADE = c.speed;
  ScriptedSerial serial;
  serial.claimResults.assign(c.claim.begin(), c.claim.end());
  serial.setupResults.assign(c.setup.begin(), c.setup.end());
  RecordingWindow window;
  serial.sequence = &window.log;

  ABRIR_COM(s, serial, window);

  EXPECT_EQ(window.log, c.sequence);
  EXPECT_EQ(s.FLAG_ABERTA, c.open);
  EXPECT_EQ(s.V_ERRO, c.erro);
  if (c.port != 0) {
    EXPECT_EQ(s.COMPORT, c.port - 1);
    EXPECT_EQ(s.WHANDLE, RecordingWindow::kHandle);
  }
}

// A failed set-up is shown first; the port is released only once the box is closed.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, OpenPort, testing::Values(
    OpenCase{"NoPort", "TOL", 0, 9600, {}, {}, {}, 0, 0},
    OpenCase{"Precision", "Precision", 1, 4800, {}, {},
             {"Func012(0,4660)", "Func001(0,4800,0,7,1)"}, 1, 0},
    OpenCase{"PrecisionTrailingBlanks", "Precision   ", 1, 4800, {}, {},
             {"Func012(0,4660)", "Func001(0,4800,0,7,1)"}, 1, 0},
    OpenCase{"Tol", "TOL", 2, 9600, {}, {},
             {"Func012(1,4660)", "Func001(1,2400,0,8,1)", "Func001(1,9600,0,8,1)"}, 1, 0},
    OpenCase{"Fil", "FIL", 2, 1200, {}, {},
             {"Func012(1,4660)", "Func001(1,2400,0,8,1)", "Func001(1,1200,0,8,1)"}, 1, 0},
    OpenCase{"DigFirstSetupFailsSecondCounts", "DIG", 1, 9600, {}, {5, 0},
             {"Func012(0,4660)", "Func001(0,2400,0,8,1)", "Func001(0,9600,0,8,1)"}, 1, 0},
    OpenCase{"LowerCaseBrandIsUnknown", "precision", 1, 9600, {}, {}, {"Func012(0,4660)"}, 0, 0},
    OpenCase{"EmptyBrand", "", 1, 9600, {}, {}, {"Func012(0,4660)"}, 0, 0},
    OpenCase{"ClaimFails", "TOL", 3, 9600, {5}, {},
             {"Func012(2,4660)",
              "message(Erro|Erro (5) ao iniciar  porta COM3: (SETPORT).|stop)"}, 0, 1},
    OpenCase{"SetupFailsNegative", "Precision", 12, 9600, {}, {-3},
             {"Func012(11,4660)", "Func001(11,9600,0,7,1)",
              "message(Erro|Erro (-3) ao iniciar porta COM12: (INITPORT).|stop)",
              "Func084(11,4660)"}, 0, 1},
    OpenCase{"SecondSetupFails", "TOL", 1, 9600, {}, {0, 13},
             {"Func012(0,4660)", "Func001(0,2400,0,8,1)", "Func001(0,9600,0,8,1)",
              "message(Erro|Erro (13) ao iniciar porta COM1: (INITPORT).|stop)",
              "Func084(0,4660)"}, 0, 1},
    OpenCase{"LowBitsAllOnesShowMinusOne", "TOL", 1, 9600, {0x7FFFFFFF}, {},
             {"Func012(0,4660)",
              "message(Erro|Erro (-1) ao iniciar  porta COM1: (SETPORT).|stop)"}, 0, 1},
    OpenCase{"LowBitsAllZeroAreSuccess", "Precision", 1, 9600, {0x10000}, {0x7FFF0000},
             {"Func012(0,4660)", "Func001(0,9600,0,7,1)"}, 1, 0}),
    [](const auto& p) { return std::string(p.param.name); });
// clang-format on

TEST(OpenPort, DoesNothingWhileOpenOrAfterAFailure) {
  for (const auto& [open, erro] : {std::pair{1, 0}, std::pair{0, 1}, std::pair{0, 5}}) {
    CaptureState s;
    s.V_BALANCA = "TOL";
    s.V_PORTA = 1;
    s.FLAG_ABERTA = static_cast<std::uint8_t>(open);
    s.V_ERRO = erro;
    ScriptedSerial serial;
    RecordingWindow window;
    ABRIR_COM(s, serial, window);
    EXPECT_TRUE(serial.calls.empty());
    EXPECT_TRUE(window.log.empty());
    EXPECT_EQ(s.COMPORT, 0);
  }
}

TEST(ClosePort, ReleasesOnlyAnOpenPortAndOnlyOnce) {
  CaptureState s;
  s.V_BALANCA = "TOL";
  s.V_PORTA = 4;
  ScriptedSerial serial;
  RecordingWindow window;
  FECHAR_COM(s, serial);
  EXPECT_TRUE(serial.calls.empty());

  ABRIR_COM(s, serial, window);
  s.V_PORTA = 7;  // changing the setting while open must not move the release
  serial.calls.clear();
  FECHAR_COM(s, serial);
  FECHAR_COM(s, serial);
  EXPECT_EQ(serial.calls, Strings{"Func084(3,4660)"});
  EXPECT_EQ(s.FLAG_ABERTA, 0);
  EXPECT_EQ(s.COMPORT, 3);
  EXPECT_EQ(s.WHANDLE, RecordingWindow::kHandle);
}

}  // namespace
}  // namespace quorvel
