// quorvel-sim -> COMn -> the Win32 serial layer -> port control and the
// capture step -> the hand-off file, under Wine (run.sh maps COM4 to COM7).
#include <gtest/gtest.h>

#include <string>

#include "platform/serial_port_win32.hpp"
#include "scale/capture_step.hpp"
#include "scale/port.hpp"
#include "tests/serial_win32/line.hpp"
#include "tests/support/fakes.hpp"
#include "tests/support/temp_dir.hpp"

namespace quorvel::test {
namespace {

TEST(Win32SerialLine, EachBrandReachesTheHandOffFile) {
  struct Case {
    std::uint8_t port;
    const char* brand;
    const char* peso;
  };
  for (const Case& c : {Case{4, "Precision", "123.4"}, Case{5, "DIG", "1500"},
                        Case{6, "FIL", "0.25"}, Case{7, "TOL", "12.5"}}) {
    SCOPED_TRACE(c.brand);
    TempDir folder;
    Win32Serial serial;
    RecordingWindow window;
    CaptureState s;
    s.V_PORTA = c.port;
    s.V_VELOCIDADE = 9600;
    s.V_BALANCA = c.brand;
    s.V_PASTA = folder.path().string();
    s.V_NOME_CPD = "BALANCA1";
    ABRIR_COM(s, serial, window);
    ASSERT_EQ(s.FLAG_ABERTA, 1) << (window.log.empty() ? "" : window.log.back());
    ASSERT_TRUE(eventually([&] {
      CAPTURA_PESO(s, serial, window);
      return s.V_PESO > Decimal();
    }));
    EXPECT_EQ(readFile(folder / "quorvel.txt"),
              std::string("[Pesagem.BALANCA1]\r\nAtivo=1\r\nPeso=") + c.peso + "\r\n");
    FECHAR_COM(s, serial);
  }
}

}  // namespace
}  // namespace quorvel::test
