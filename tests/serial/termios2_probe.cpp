// The kernel's own view of a line, through termios2; kept apart from every file
// that includes <termios.h>, with which <asm/termbits.h> clashes.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <stdexcept>

#include "pty.hpp"

namespace quorvel::test {

KernelLine kernelLine(int fd) {
  termios2 t{};
  if (::ioctl(fd, TCGETS2, &t) != 0) throw std::runtime_error("TCGETS2 failed");
  return {t.c_ospeed, t.c_cflag};
}

}  // namespace quorvel::test
