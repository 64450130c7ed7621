#pragma once
// The file layer under the profile rules: how one system reads a profile file
// whole and replaces it with one entry changed. One implementation per system,
// picked by the build; ini.cpp holds what both share.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "profile/ini.hpp"

namespace quorvel {

// Writers on both systems serialise on an exclusive lock of this one byte, far
// past any real content: on a file server byte-range locks are mandatory for
// Windows clients, and a lock over the content would make their reads fail.
// Windows writers lock it in the hidden file ".<name>.lock" beside the profile
// file; Linux writers lock it in the profile file, and first in that lock file
// too when it is there, so that writers of both systems on one shared folder
// exclude each other.
constexpr std::uint64_t kWriterLockOffset = std::uint64_t{256} << 30;

// Writers of both systems name their temporary files ".<name>.<pid>.<n>.<stamp>",
// so that either removes what the other's dead writers left in a shared folder.
// True for "<digits>.<digits>.<digits>", the part after ".<name>.".
template <class Char>
bool isTemporarySuffix(std::basic_string_view<Char> rest) {
  int fields = 0;
  std::size_t digits = 0;
  for (const Char c : rest) {
    if (c == Char('.')) {
      if (digits == 0) return false;
      ++fields;
      digits = 0;
    } else if (c >= Char('0') && c <= Char('9')) {
      ++digits;
    } else {
      return false;
    }
  }
  return digits > 0 && fields == 2;
}

// The bytes of a regular file, at most 16 MiB; nothing when it cannot be read
// (missing, not a regular file, no access, an I/O error), and errno then holds
// the cause: ENOENT for a missing file or folder.
std::optional<std::string> readProfileBytes(const std::filesystem::path& file);

// writeProfileString without the argument check, which the caller has made.
WriteResult writeProfileValue(std::string_view section, std::string_view key,
                              std::string_view value, const std::filesystem::path& file);

}  // namespace quorvel
