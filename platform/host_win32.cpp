#include <windows.h>

#include <algorithm>
#include <array>

#include "platform/host.hpp"

namespace quorvel {

bool GetComputerNameA(Text& name, std::uint32_t& size) {
  // Room enough for any NetBIOS name; a larger `size` claims room that a field never has.
  std::array<char, 256> buffer{};
  DWORD room = std::min<DWORD>(size, buffer.size());
  if (!::GetComputerNameA(buffer.data(), &room)) {
    name.clear();
    size = room;
    return false;
  }
  name = std::string_view(buffer.data(), room);
  size = room;
  return true;
}

std::int32_t SystemDesktopSettings::SystemParametersInfoA(std::uint32_t action, std::uint32_t param,
                                                          void* value, std::uint32_t winIni) {
  return ::SystemParametersInfoA(action, param, value, winIni);
}

}  // namespace quorvel
