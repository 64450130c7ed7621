#include "scale/port.hpp"

#include <string>

namespace quorvel {
namespace {

std::string portFailure(std::int32_t code, unsigned port, std::string_view middle,
                        std::string_view step) {
  std::string text = "Erro (" + std::to_string(code) + ")";
  text += middle;
  text += std::to_string(port);
  text += step;
  return text;
}

}  // namespace

void ABRIR_COM(CaptureState& s, SerialLibrary& serial, WindowRuntime& window) {
  if (s.FLAG_ABERTA != 0 || s.V_PORTA == 0 || s.V_ERRO != 0) return;
  s.COMPORT = static_cast<std::uint8_t>(s.V_PORTA - 1);
  s.WHANDLE = window.nativeHandle();

  s.V_ERRO = resultCode(serial.Func012(s.COMPORT, s.WHANDLE));
  if (s.V_ERRO != 0) {
    window.message(portFailure(s.V_ERRO, s.V_PORTA, " ao iniciar  porta COM", ": (SETPORT)."),
                   "Erro", MessageIcon::Stop);
    s.V_ERRO = 1;
    return;
  }

  const std::string_view brand = s.V_BALANCA.view();
  if (sameName(brand, "Precision")) {
    s.V_ERRO = resultCode(serial.Func001(s.COMPORT, s.V_VELOCIDADE, 0, 7, 1));
  } else if (sameName(brand, "DIG") || sameName(brand, "FIL") || sameName(brand, "TOL")) {
    // These scales are first set to 2400 bit/s; only the set-up at the configured speed counts.
    s.V_ERRO = resultCode(serial.Func001(s.COMPORT, 2400, 0, 8, 1));
    s.V_ERRO = resultCode(serial.Func001(s.COMPORT, s.V_VELOCIDADE, 0, 8, 1));
  } else {
    return;
  }

  if (s.V_ERRO == 0) {
    s.FLAG_ABERTA = 1;
    return;
  }
  window.message(portFailure(s.V_ERRO, s.V_PORTA, " ao iniciar porta COM", ": (INITPORT)."), "Erro",
                 MessageIcon::Stop);
  serial.Func084(s.COMPORT, s.WHANDLE);
  s.V_ERRO = 1;
}

void FECHAR_COM(CaptureState& s, SerialLibrary& serial) {
  if (s.FLAG_ABERTA == 0) return;
  serial.Func084(s.COMPORT, s.WHANDLE);
  s.FLAG_ABERTA = 0;
}

}  // namespace quorvel
