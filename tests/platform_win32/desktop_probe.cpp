#include "tests/platform_win32/desktop_probe.hpp"

#include <windows.h>

#include "tests/support/system.hpp"

namespace quorvel::test {

int dragSettingSeenByAnotherProcess() {
  return runProgram(QUORVEL_DRAG_PROBE, {}).status;
}

bool setDragSetting(int on) {
  return ::SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, static_cast<UINT>(on), nullptr,
                                 SPIF_UPDATEINIFILE | SPIF_SENDCHANGE) != 0;
}

}  // namespace quorvel::test
