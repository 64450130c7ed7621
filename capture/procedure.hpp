#pragma once
// The capture procedure: the program's one window procedure. MAIN builds the
// main window with nine fields of its capture state bound to it, runs the
// window's event loop until a close request, and returns. On opening it reads
// the computer name and the configuration and opens the scale's port; every
// timer tick runs the capture step; Ctrl+K unlocks the configuration tab, whose
// Save writes the configuration and releases the port. Closing writes nothing
// and releases nothing.
#include <cstdint>
#include <functional>

#include "capture/state/state.hpp"
#include "platform/serial_library.hpp"
#include "platform/window_runtime.hpp"

namespace quorvel {

// What the procedure reaches outside itself.
struct Services {
  SerialLibrary& serial;
  WindowFactory& windows;
  // The computer-name query: fills `name` when it fits `size` (in: room including
  // the terminating zero; out: characters copied). Returns false otherwise.
  std::function<bool(Text& name, std::uint32_t& size)> GetComputerNameA;
};

// Returns false, without running, when the window definition cannot be found or built.
bool MAIN(Services& services);

}  // namespace quorvel
