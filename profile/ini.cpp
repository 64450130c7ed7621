#include "profile/ini.hpp"

#include <cerrno>

#include "capture/state/text.hpp"
#include "profile/ini_format.hpp"
#include "profile/paths.hpp"
#include "profile/profile_file.hpp"

namespace quorvel {

std::optional<std::string_view> whyRefused(std::string_view section, std::string_view key,
                                           std::string_view value) {
  constexpr std::string_view kLineEnds = "\r\n";
  section = trimProfileBlanks(section);
  key = trimProfileBlanks(key);
  if (section.find_first_of(kLineEnds) != std::string_view::npos)
    return "the section name holds a line end";
  if (key.find_first_of(kLineEnds) != std::string_view::npos) return "the key holds a line end";
  if (value.find_first_of(kLineEnds) != std::string_view::npos) return "the value holds a line end";
  if (section.find(']') != std::string_view::npos) return "the section name holds ']'";
  if (key.find('=') != std::string_view::npos) return "the key holds '='";
  if (key.starts_with(';')) return "the key starts with ';' (a comment)";
  if (key.starts_with('[')) return "the key starts with '[' (a section header)";
  return std::nullopt;
}

ProfileRead readProfileStringChecked(std::string_view section, std::string_view key,
                                     std::string_view defaultValue,
                                     const std::filesystem::path& file) {
  errno = 0;
  const std::optional<std::string> bytes = readProfileBytes(file);
  ProfileRead read;
  if (!bytes && errno != ENOENT) read.error = errno != 0 ? errno : EIO;
  const auto value = bytes ? findProfileValue(*bytes, section, key) : std::nullopt;
  read.value = value ? std::string(*value) : std::string(trimTrailingSpaces(defaultValue));
  return read;
}

std::string readProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, const std::filesystem::path& file) {
  return readProfileStringChecked(section, key, defaultValue, file).value;
}

bool profileHolds(std::string_view section, std::span<const ProfileEntry> entries,
                  std::string_view file) {
  const std::optional<std::string> bytes = readProfileBytes(resolveProfileName(file));
  if (!bytes) return false;
  for (const ProfileEntry& e : entries)
    if (whyRefused(section, e.key, e.value) || editProfile(*bytes, section, e.key, e.value))
      return false;
  return true;
}

WriteResult writeProfileString(std::string_view section, std::string_view key,
                               std::string_view value, const std::filesystem::path& file) {
  if (whyRefused(section, key, value)) return WriteResult::Refused;
  return writeProfileValue(section, key, value, file);
}

std::string LER_INI(std::string_view section, std::string_view key, std::string_view defaultValue,
                    std::string_view file) {
  return readProfileString(section, key, defaultValue, resolveProfileNameForReading(file));
}

void ESCREVER_INI(std::string_view section, std::string_view key, std::string_view value,
                  std::string_view file) {
  (void)writeProfileString(section, key, value, resolveProfileName(file));
}

}  // namespace quorvel
