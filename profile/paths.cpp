#include "profile/paths.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <string>

namespace quorvel {

std::filesystem::path configDirectory() {
  // The XDG rules ignore a relative value.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::filesystem::path(xdg) / "quorvel";
  std::string home;
  if (const char* h = std::getenv("HOME"); h != nullptr && h[0] != '\0') {
    home = h;
  } else {
    struct passwd pw {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::geteuid(), &pw, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr)
      home = found->pw_dir;
  }
  return std::filesystem::path(home.empty() ? "/" : home) / ".config" / "quorvel";
}

std::filesystem::path resolveProfileName(std::string_view name) {
  if (name.find_first_of("/\\") == std::string_view::npos) return configDirectory() / name;
  std::string path(name);
  for (char& c : path)
    if (c == '\\') c = '/';
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0])))
    path.erase(0, 2);
  return path;
}

std::filesystem::path resolveProfileNameForReading(std::string_view name) {
  return resolveProfileName(name);
}

std::filesystem::path nativeProfilePath(std::string_view name) {
  return std::filesystem::path(name);
}

}  // namespace quorvel
