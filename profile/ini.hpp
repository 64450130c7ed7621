#pragma once
// Profile (INI) files, read and written by the rules of the Windows profile
// functions so that Windows software keeps reading what is written here.
//
// Bytes are Windows-1252 and pass through unchanged. Section and key arguments
// lose leading and trailing blanks (space, tab, vertical tab, Ctrl-Z), as the
// names in the file do; names match without regard to letter case
// (ASCII and the Windows-1252 accented letters). Nothing is cached: each call
// opens, reads or rewrites and lets go of the file.
//
// Reading: a missing, unreadable or non-regular file, a missing section or a
// missing entry gives the default less its trailing spaces. Only the first
// 16 MiB of a file are looked at. Reading never creates or changes a file.
//
// Writing edits the file in place: every byte other than the entry's line stays
// as it was. The new content goes to a temporary file in the same folder, which
// is renamed over the old one under an exclusive lock of one byte far past the
// content (kWriterLockOffset), so that readers on Windows clients of a file
// server, where locks are mandatory, can still read. Windows writers lock it in
// the hidden file .<name>.lock beside the file, which they create and which
// stays; Linux writers lock it in the old file and, when that lock file is
// there and opens for writing, in it too (never creating it). So readers see
// the old file or the new one, and concurrent writers (other processes, other
// hosts of a shared folder, Linux and Windows alike once the lock file exists)
// do not undo each other's entries.
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quorvel {

// Plain-path layer: `file` is used as it is.
std::string readProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, const std::filesystem::path& file);

// readProfileString that also tells why a file that is there could not be
// read: `error` is 0 when the file was read or is missing (ENOENT: a missing
// file is no error, its values are the defaults), else the errno value of the
// failure (EACCES, EISDIR, EIO...), and `value` is then the default.
struct ProfileRead {
  std::string value;
  int error = 0;
};
ProfileRead readProfileStringChecked(std::string_view section, std::string_view key,
                                     std::string_view defaultValue,
                                     const std::filesystem::path& file);

// Written: the file holds the new value. Unchanged: the entry already had that
// value (text after '=', trimmed, byte for byte); the file was not touched, not
// even its time stamp. Refused: the arguments would break the format (see
// whyRefused); nothing was done. Failed: missing folder, read-only file or
// folder, a file over 16 MiB, an I/O error, another writer holding the lock
// for over two seconds (ETIMEDOUT), a link that leads nowhere (ENOENT), on
// Windows a reader that keeps the file open without delete sharing for over
// 200 ms (EACCES); the old file is as it was, no temporary file is left, and
// errno holds the cause.
//
// The new file is flushed to the disk before it takes the old one's place, and
// keeps the old one's mode and, where this user belongs to it, its group. Where
// the folder does not let this user replace the file (no write permission on
// the folder, a sticky folder and another user's file) or the group cannot be
// kept, but the file itself is writable, the content is written into the file
// in place under the same lock, as the Windows profile functions do. Temporary
// files over a minute old that writers which died left for this file are
// removed. On Windows the new file keeps the old one's attributes and an access
// list set apart from its folder's; nothing is written in place there.
enum class WriteResult { Written, Unchanged, Refused, Failed };
WriteResult writeProfileString(std::string_view section, std::string_view key,
                               std::string_view value, const std::filesystem::path& file);

// Why a write of these arguments is refused, or nothing when it is not: a CR or
// LF anywhere, a key holding '=' or starting with ';' or '[', a section name
// holding ']'. Names are judged after losing their blanks, as they are written.
std::optional<std::string_view> whyRefused(std::string_view section, std::string_view key,
                                           std::string_view value);

// True when every entry of `entries` already holds its value in `section` of
// `file` (a Windows-style name, as for LER_INI), so that writing them would
// change nothing. One read, no lock: writers replace the file whole, so what is
// read is one consistent version. False when the file cannot be read.
struct ProfileEntry {
  std::string_view key;
  std::string_view value;
};
bool profileHolds(std::string_view section, std::span<const ProfileEntry> entries,
                  std::string_view file);

// The system's two operations. `file` is a Windows-style name, resolved by
// resolveProfileName. Neither reports anything: a write that fails is dropped.
std::string LER_INI(std::string_view section, std::string_view key, std::string_view defaultValue,
                    std::string_view file);
void ESCREVER_INI(std::string_view section, std::string_view key, std::string_view value,
                  std::string_view file);

}  // namespace quorvel
