#pragma once
// The file layer under the profile rules: how one system reads a profile file
// whole and replaces it with one entry changed. One implementation per system,
// picked by the build; ini.cpp holds what both share.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "profile/ini.hpp"

namespace quorvel {

// The bytes of a regular file, at most 16 MiB; nothing when it cannot be read
// (missing, not a regular file, no access, an I/O error), and errno then holds
// the cause: ENOENT for a missing file or folder.
std::optional<std::string> readProfileBytes(const std::filesystem::path& file);

// writeProfileString without the argument check, which the caller has made.
WriteResult writeProfileValue(std::string_view section, std::string_view key,
                              std::string_view value, const std::filesystem::path& file);

}  // namespace quorvel
