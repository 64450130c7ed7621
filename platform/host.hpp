#pragma once
// The workstation's name as Windows software on the network knows it, and the
// desktop setting for dragging full windows, which Linux desktops do not have.
#include <cstdint>
#include <string>
#include <string_view>

#include "capture/state/text.hpp"

namespace quorvel {

// The computer-name query for this host: `size` goes in as the room for the
// name and its terminating zero. When the name fits, it is copied, `size`
// becomes its length and the result is true. Otherwise `name` is left empty,
// `size` becomes the room the name would need, and the result is false.
// On Windows it is the system's GetComputerNameA; on Linux, the network name
// of the host (gethostname) through computerNameInto.
bool GetComputerNameA(Text& name, std::uint32_t& size);

// Linux only. The name that a Samba server would give this host on a Windows
// network: the host name up to its first dot, in capitals, cut to 15 characters.
std::string networkName(std::string_view hostName);
// Linux only. The query above for the name `computerName`.
bool computerNameInto(std::string_view computerName, Text& name, std::uint32_t& size);

// The desktop settings call; results as the Windows call returns them (non-zero
// for success).
class DesktopSettings {
 public:
  virtual ~DesktopSettings() = default;
  virtual std::int32_t SystemParametersInfoA(std::uint32_t action, std::uint32_t param, void* value,
                                             std::uint32_t winIni) = 0;
};

// Linux desktops have no full-window-drag setting: every call fails and changes nothing.
class NoDesktopSettings final : public DesktopSettings {
 public:
  std::int32_t SystemParametersInfoA(std::uint32_t, std::uint32_t, void*, std::uint32_t) override {
    return 0;
  }
};

// The settings of the system the program runs on: SystemParametersInfoA itself on
// Windows; on Linux, which has no such settings, as NoDesktopSettings.
class SystemDesktopSettings final : public DesktopSettings {
 public:
  std::int32_t SystemParametersInfoA(std::uint32_t action, std::uint32_t param, void* value,
                                     std::uint32_t winIni) override;
};

}  // namespace quorvel
