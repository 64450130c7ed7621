#pragma once
// The program body around the capture procedure: the full-window-drag setting
// is switched off while the procedure runs, and back on afterwards only if it
// was on at start. On Linux the setting does not exist and the steps fall away.
#include <cstdint>
#include <functional>

#include "platform/host.hpp"

namespace quorvel {

inline constexpr std::uint32_t SPI_GETDRAGFULLWINDOWS = 38;
inline constexpr std::uint32_t SPI_SETDRAGFULLWINDOWS = 37;
inline constexpr std::uint32_t SPIF_UPDATEINIFILE_SENDCHANGE = 3;

// The drag setting found at start, and the parameter slot of the two changes.
struct DragSettings {
  std::int32_t LCURRENTFDSETTING = 0;
  std::int32_t LADJFDSETTING = 0;
};

// Runs `body` once between the drag-setting steps; returns the values it used.
// The program passes SystemDesktopSettings, tests a fake.
DragSettings runProgramBody(DesktopSettings& desktop, const std::function<void()>& body);

}  // namespace quorvel
