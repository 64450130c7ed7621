// A workstation in a child process, for the tests of profile files shared
// between processes. Exit code 0 when all went as it must, else the first rule
// broken (see the codes below).
//
//   profile_child writer FILE SECTION COUNT
//     writes Ativo=1 and Peso=1..COUNT into SECTION through the profile access;
//   profile_child reader FILE EVENT SECTION...
//     reads Peso and Ativo of each SECTION with the Windows profile function
//     GetPrivateProfileStringA until the named event is set.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "profile/ini.hpp"
#include "profile/paths.hpp"

namespace {

constexpr int kBadUsage = 10;
// Writer: a write did not land by the next call at the latest.
constexpr int kWriteLost = 3;
// Reader: a section or an entry already seen vanished, a value went back, or
// no value was seen at all. (A write may be late by a tick, so Peso may show
// before Ativo when the Ativo write had to wait for the next tick.)
constexpr int kSectionVanished = 4;
constexpr int kValueWentBack = 5;
constexpr int kEntryMissing = 6;
constexpr int kNothingSeen = 7;

int writer(const std::string& file, const std::string& section, int count) {
  const std::filesystem::path path = quorvel::nativeProfilePath(file);
  bool lastFailed = false;
  auto write = [&](const char* key, const std::string& value) {
    const bool failed =
        quorvel::writeProfileString(section, key, value, path) == quorvel::WriteResult::Failed;
    if (failed && lastFailed) return false;  // two ticks in a row
    lastFailed = failed;
    return true;
  };
  for (int n = 1; n <= count; ++n) {
    if (!write("Ativo", "1") || !write("Peso", std::to_string(n))) return kWriteLost;
  }
  // The last value is in the file by the next tick at the latest.
  if (lastFailed && !write("Peso", std::to_string(count))) return kWriteLost;
  return 0;
}

int reader(const std::string& file, const std::string& event,
           const std::vector<std::string>& sections) {
  HANDLE stop = OpenEventA(SYNCHRONIZE, FALSE, event.c_str());
  if (stop == nullptr) return kBadUsage;
  std::vector<long> last(sections.size(), 0);
  std::vector<bool> active(sections.size(), false);
  bool seen = false;
  char buffer[64];
  while (WaitForSingleObject(stop, 0) == WAIT_TIMEOUT) {
    for (std::size_t i = 0; i < sections.size(); ++i) {
      GetPrivateProfileStringA(sections[i].c_str(), "Peso", "", buffer, sizeof buffer,
                               file.c_str());
      const long peso = std::strtol(buffer, nullptr, 10);
      if (peso == 0) {
        if (last[i] > 0) return kSectionVanished;
        continue;
      }
      if (peso < last[i]) return kValueWentBack;
      last[i] = peso;
      seen = true;
      GetPrivateProfileStringA(sections[i].c_str(), "Ativo", "", buffer, sizeof buffer,
                               file.c_str());
      if (std::string(buffer) == "1")
        active[i] = true;
      else if (active[i])
        return kEntryMissing;
    }
  }
  CloseHandle(stop);
  return seen ? 0 : kNothingSeen;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == "writer")
    return writer(args[1], args[2], std::atoi(args[3].c_str()));
  if (args.size() >= 4 && args[0] == "reader")
    return reader(args[1], args[2], std::vector<std::string>(args.begin() + 3, args.end()));
  return kBadUsage;
}
