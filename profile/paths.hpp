#pragma once
// Where Windows-style profile file names land on this system.
#include <filesystem>
#include <string_view>

namespace quorvel {

// "quorvel.ini" and any bare name (no '/' or '\\') -> configDirectory()/<name>.
// Any other name: every '\\' becomes '/', and a leading drive letter with its
// colon is dropped: "C:\\Pesagem\\quorvel.txt" -> "/Pesagem/quorvel.txt",
// "\\quorvel.txt" -> "/quorvel.txt". Never touches the file system.
std::filesystem::path resolveProfileName(std::string_view name);

// $XDG_CONFIG_HOME/quorvel when that is an absolute path, else
// $HOME/.config/quorvel (the home folder of the user database when HOME is unset).
std::filesystem::path configDirectory();

}  // namespace quorvel
