// Profile file reader and writer against arbitrary files and arguments.
//
// Input: one flag byte, then section, key and value (or default) each ended by
// a NUL byte, then the file's bytes. Flag bit 0 writes instead of reading; bit 1
// leaves the file missing.
//
// Checked on every input: no crash; a read changes nothing and gives the default
// (less trailing spaces) for a missing file; a refused, failed or unchanged
// write leaves the file byte for byte; a write that lands changes at most one
// line of the old file, leaves every other entry reading as before, reads back
// as written, and leaves no temporary file behind; arguments that would break
// the format are never written.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "profile/ini.hpp"
#include "tests/fuzz/fuzz_support.hpp"

namespace {

using quorvel::WriteResult;
using quorvel::fuzz::slurp;

constexpr std::string_view kBlanks = " \t\v\x1A";
constexpr std::string_view kSentinel = "\x01(missing)";

std::string_view trim(std::string_view s, std::string_view set) {
  const auto b = s.find_first_not_of(set);
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(set) - b + 1);
}

std::string_view trimRight(std::string_view s, std::string_view set) {
  const auto e = s.find_last_not_of(set);
  return e == std::string_view::npos ? std::string_view{} : s.substr(0, e + 1);
}

bool hasLineEnd(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

// A name that the reader finds again as given: both sides drop the same
// blanks, so any name does unless it is empty or (for a key) its line would
// read as a header or a comment.
bool roundTripsAsName(std::string_view name, bool isKey) {
  const std::string_view t = trim(name, kBlanks);
  if (t.empty()) return false;
  if (isKey && (t.front() == '[' || t.front() == ';')) return false;
  return true;
}

bool roundTripsAsValue(std::string_view v) {
  if (v != trim(v, kBlanks)) return false;
  if (v.size() >= 2 && v.front() == v.back() && (v.front() == '"' || v.front() == '\'')) {
    return false;
  }
  return v.find('\0') == std::string_view::npos;
}

// Equal under any case folding the reader might apply: ASCII letters fold, and
// any byte above 127 may match any other.
bool mayMatch(std::string_view a, std::string_view b) {
  a = trim(a, kBlanks);
  b = trim(b, kBlanks);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (x >= 128 || y >= 128) continue;
    const auto lx = (x >= 'A' && x <= 'Z') ? x + 32 : x;
    const auto ly = (y >= 'A' && y <= 'Z') ? y + 32 : y;
    if (lx != ly) return false;
  }
  return true;
}

// The (section, key) pairs of a file as a plain line reader sees them.
std::vector<std::pair<std::string, std::string>> entries(std::string_view file) {
  std::vector<std::pair<std::string, std::string>> out;
  std::optional<std::string> section;
  std::size_t pos = 0;
  while (pos <= file.size() && out.size() < 16) {
    const auto end = file.find_first_of("\r\n", pos);
    const std::string_view line =
        trim(file.substr(pos, end == std::string_view::npos ? file.npos : end - pos), kBlanks);
    if (!line.empty() && line.front() == '[') {
      const auto close = line.find(']');
      section = std::string(
          trim(line.substr(1, close == std::string_view::npos ? line.npos : close - 1), kBlanks));
    } else if (section && !line.empty() && line.front() != ';') {
      const auto eq = line.find('=');
      if (eq != std::string_view::npos && eq > 0) {
        out.emplace_back(*section, std::string(trim(line.substr(0, eq), kBlanks)));
      }
    }
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  return out;
}

// True when the bytes that differ between `before` and `after`, taken from
// either end, lie within one line of `before`.
bool changesOneLine(std::string_view before, std::string_view after) {
  const auto check = [&](std::size_t prefix, std::size_t suffix) {
    const std::string_view removed = before.substr(prefix, before.size() - suffix - prefix);
    return !hasLineEnd(trimRight(removed, "\r\n")) &&
           trimRight(removed, "\r\n").size() + 2 >= removed.size();
  };
  const std::size_t limit = std::min(before.size(), after.size());
  std::size_t p = 0;
  while (p < limit && before[p] == after[p]) ++p;
  std::size_t s = 0;
  while (s < limit - p && before[before.size() - 1 - s] == after[after.size() - 1 - s]) ++s;
  if (check(p, s)) return true;
  std::size_t s2 = 0;
  while (s2 < limit && before[before.size() - 1 - s2] == after[after.size() - 1 - s2]) ++s2;
  std::size_t p2 = 0;
  while (p2 < limit - s2 && before[p2] == after[p2]) ++p2;
  return check(p2, s2);
}

// Nothing in the folder but the file and, where the system's writers keep one
// (Windows), their lock file beside it.
bool onlyFileIn(const std::filesystem::path& folder, const std::filesystem::path& file) {
  const std::filesystem::path lock = folder / ("." + file.filename().string() + ".lock");
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    if (e.path() != file && e.path() != lock) return false;
  }
  return true;
}

std::string takeField(std::string_view& in) {
  const auto nul = in.find('\0');
  std::string field(in.substr(0, nul));
  in = nul == std::string_view::npos ? std::string_view{} : in.substr(nul + 1);
  return field;
}

void fuzzRead(const std::string& section, const std::string& key, const std::string& def,
              const std::filesystem::path& file) {
  const std::optional<std::string> before = slurp(file);
  const std::string got = quorvel::readProfileString(section, key, def, file);
  QUORVEL_FUZZ_CHECK(slurp(file) == before);
  if (!before) QUORVEL_FUZZ_CHECK(got == trimRight(def, " "));
}

void fuzzWrite(const std::string& section, const std::string& key, const std::string& value,
               const std::filesystem::path& file) {
  const std::optional<std::string> before = slurp(file);
  std::map<std::pair<std::string, std::string>, std::string> others;
  if (before) {
    for (const auto& [sec, k] : entries(*before)) {
      if (mayMatch(sec, section) && mayMatch(k, key)) continue;
      others[{sec, k}] = quorvel::readProfileString(sec, k, kSentinel, file);
    }
  }

  const WriteResult result = quorvel::writeProfileString(section, key, value, file);
  const std::optional<std::string> after = slurp(file);
  QUORVEL_FUZZ_CHECK(onlyFileIn(file.parent_path(), file) || !after);

  const bool breaksFormat =
      hasLineEnd(value) || hasLineEnd(key) || hasLineEnd(section) ||
      key.find('=') != std::string::npos || trim(key, kBlanks).starts_with(';') ||
      trim(key, kBlanks).starts_with('[') || section.find(']') != std::string::npos;
  if (breaksFormat) QUORVEL_FUZZ_CHECK(result == WriteResult::Refused);

  if (result != WriteResult::Written) {
    QUORVEL_FUZZ_CHECK(after == before);
  } else {
    QUORVEL_FUZZ_CHECK(after.has_value());
    if (!before) {
      QUORVEL_FUZZ_CHECK(*after == "[" + std::string(trim(section, kBlanks)) + "]\r\n" +
                                       std::string(trim(key, kBlanks)) + "=" + value + "\r\n");
    } else {
      QUORVEL_FUZZ_CHECK(changesOneLine(*before, *after));
    }
  }

  if (result == WriteResult::Written || result == WriteResult::Unchanged) {
    if (roundTripsAsName(section, false) && roundTripsAsName(key, true) &&
        roundTripsAsValue(value)) {
      QUORVEL_FUZZ_CHECK(quorvel::readProfileString(section, key, kSentinel, file) == value);
    }
    for (const auto& [where, was] : others) {
      QUORVEL_FUZZ_CHECK(quorvel::readProfileString(where.first, where.second, kSentinel, file) ==
                         was);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t flags = data[0];
  std::string_view in(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string section = takeField(in);
  const std::string key = takeField(in);
  const std::string third = takeField(in);

  const std::filesystem::path file = quorvel::fuzz::scratchFolder() / "perfil.ini";
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(quorvel::fuzz::scratchFolder())) {
    std::filesystem::remove(e.path(), ec);
  }
  if ((flags & 2) == 0) quorvel::fuzz::spill(file, in);

  if ((flags & 1) != 0) {
    fuzzWrite(section, key, third, file);
  } else {
    fuzzRead(section, key, third, file);
  }
  return 0;
}
