// quorvel for Windows: reads the weight from a scale on a serial port and hands
// it to other software through a shared INI file. A GUI program: a start that
// fails says why in a message box, since there is no console to write to.
#include "shell/program.hpp"
// <windows.h> only now: it defines the names of the drag-setting constants as macros.
#include <windows.h>

#include <string>

#include "capture/procedure.hpp"
#include "platform/host.hpp"
#include "platform/system_serial.hpp"
#include "platform/window/win32_window.hpp"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const auto serial = quorvel::systemSerial();
  quorvel::Win32WindowFactory windows;
  quorvel::SystemDesktopSettings desktop;
  quorvel::Services services{*serial, windows, quorvel::GetComputerNameA};

  bool ran = false;
  quorvel::runProgramBody(desktop, [&] { ran = quorvel::MAIN(services); });
  if (!ran) {
    std::string why = "The main window could not be built";
    if (!windows.failure().empty()) why += ": " + windows.failure();
    why += '.';
    MessageBoxA(nullptr, why.c_str(), "Quorvel", MB_OK | MB_ICONSTOP);
    return 1;
  }
  return 0;
}
