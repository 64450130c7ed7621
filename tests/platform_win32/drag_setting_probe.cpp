// Another program on the desktop: exits with the drag setting that it reads
// (0 off, 1 on), or 100 when the system refuses to tell.
#include <windows.h>

int main() {
  BOOL on = FALSE;
  if (!::SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &on, 0)) return 100;
  return on;
}
