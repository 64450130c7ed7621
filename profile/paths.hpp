#pragma once
// Where Windows-style profile file names land on this system.
#include <filesystem>
#include <string_view>

namespace quorvel {

// The file that writes to `name` reach. Never touches the file system.
// Linux: "quorvel.ini" and any bare name (no '/' or '\\') -> configDirectory()/<name>.
// Any other name: every '\\' becomes '/', and a leading drive letter with its
// colon is dropped: "C:\\Pesagem\\quorvel.txt" -> "/Pesagem/quorvel.txt",
// "\\quorvel.txt" -> "/quorvel.txt".
// Windows: a bare name (no '\\', '/' or ':') -> configDirectory()\<name>; any
// other name is a native path (drive or \\server\share), used unchanged.
std::filesystem::path resolveProfileName(std::string_view name);

// The file that reads of `name` reach: resolveProfileName(name), except that on
// Windows a bare name whose per-user file does not exist yet is read where the
// Windows profile functions keep it, so that an existing workstation's
// settings carry over until the first write: the user's VirtualStore copy in
// %LOCALAPPDATA%\VirtualStore\<Windows folder> when there is one, else the
// file in the Windows folder.
std::filesystem::path resolveProfileNameForReading(std::string_view name);

// Linux: $XDG_CONFIG_HOME/quorvel when that is an absolute path, else
// $HOME/.config/quorvel (the home folder of the user database when HOME is unset).
// Windows: %APPDATA%\Quorvel when APPDATA is an absolute path, else the
// roaming application-data folder of the user, \Quorvel.
std::filesystem::path configDirectory();

// The path that the bytes of `name` spell, without any resolution: the bytes
// themselves on Linux, Windows-1252 read as such on Windows.
std::filesystem::path nativeProfilePath(std::string_view name);

}  // namespace quorvel
