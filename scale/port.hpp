#pragma once
// Port control: claiming and initialising the scale's serial port, and releasing it.
#include "capture/state/state.hpp"
#include "platform/serial_library.hpp"
#include "platform/window_runtime.hpp"

namespace quorvel {

// Claims port V_PORTA for the window and sets its line up for the brand V_BALANCA;
// FLAG_ABERTA becomes 1 on success. Does nothing while the port is open, no port
// is configured (0) or an earlier failure stands (V_ERRO non-zero). A failure is
// shown in an "Erro" message box with the library's code, then V_ERRO becomes 1.
// A brand without line settings leaves the port claimed but not open.
void ABRIR_COM(CaptureState& s, SerialLibrary& serial, WindowRuntime& window);

// Releases the port when it is open; otherwise does nothing.
void FECHAR_COM(CaptureState& s, SerialLibrary& serial);

}  // namespace quorvel
