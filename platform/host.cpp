#include "platform/host.hpp"

#include <unistd.h>

#include <array>

namespace quorvel {

std::string networkName(std::string_view hostName) {
  std::string name(hostName.substr(0, hostName.find('.')).substr(0, 15));
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return name;
}

bool computerNameInto(std::string_view computerName, Text& name, std::uint32_t& size) {
  if (computerName.size() + 1 > size) {
    name.clear();
    size = static_cast<std::uint32_t>(computerName.size() + 1);
    return false;
  }
  name = computerName;
  size = static_cast<std::uint32_t>(name.size());
  return true;
}

bool GetComputerNameA(Text& name, std::uint32_t& size) {
  std::array<char, 256> host{};
  if (::gethostname(host.data(), host.size() - 1) != 0) host[0] = '\0';
  return computerNameInto(networkName(host.data()), name, size);
}

std::int32_t SystemDesktopSettings::SystemParametersInfoA(std::uint32_t, std::uint32_t, void*,
                                                          std::uint32_t) {
  return 0;
}

}  // namespace quorvel
