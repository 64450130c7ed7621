#include "shell/program.hpp"

namespace quorvel {

DragSettings runProgramBody(DesktopSettings& desktop, const std::function<void()>& body) {
  DragSettings d;
  desktop.SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &d.LCURRENTFDSETTING, 0);
  if (d.LCURRENTFDSETTING == 1)
    desktop.SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, 0, &d.LADJFDSETTING,
                                  SPIF_UPDATEINIFILE_SENDCHANGE);
  body();
  // Decided on the value found at start, whatever happened to the setting since.
  if (d.LCURRENTFDSETTING == 1)
    desktop.SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, 1, &d.LADJFDSETTING,
                                  SPIF_UPDATEINIFILE_SENDCHANGE);
  return d;
}

}  // namespace quorvel
