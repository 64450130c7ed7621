#pragma once
// The floor under a profile write on this system: read the whole file, write the
// same bytes to a temporary file beside it, flush that to the disk when asked
// and rename it over the old one. One
// implementation per system (floor_posix.cpp, floor_win32.cpp).
#include <filesystem>
#include <string>

namespace quorvel::bench {

// False when any step fails. `buffer` is scratch space of at least the file's size.
bool rewriteThroughTemporary(const std::filesystem::path& file, const std::filesystem::path& tmp,
                             std::string& buffer, bool flush);

// The file's name as a Windows program writes it: a drive path.
std::string windowsName(const std::filesystem::path& file);

}  // namespace quorvel::bench
