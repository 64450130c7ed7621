#pragma once
// The serial library of the system the program is built for: the termios layer
// on Linux (TermiosSerial), the Win32 layer on Windows (Win32Serial), each with
// its own device naming. Never null.
#include <memory>

#include "platform/serial_library.hpp"

namespace quorvel {

std::unique_ptr<SerialLibrary> systemSerial();

}  // namespace quorvel
