// quorvel-ini: one profile value from the command line, by the same rules as the
// program itself.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "profile/ini.hpp"
#include "profile/paths.hpp"
#include "tools/quorvel-ini/console.hpp"

namespace {

constexpr std::string_view kHelp =
    "Usage: quorvel-ini get SECTION KEY DEFAULT FILE\n"
    "       quorvel-ini set SECTION KEY VALUE FILE\n"
    "\n"
    "Reads or writes one value of a profile (INI) file, the format of the Quorvel\n"
    "configuration file and hand-off file.\n"
    "\n"
    "  get  prints the value followed by a newline; a missing file, section or\n"
    "       entry prints DEFAULT (less its trailing spaces). A file that is there\n"
    "       but cannot be read (no permission, a folder) prints DEFAULT too, and\n"
    "       the reason goes to standard error with exit status 1.\n"
    "  set  writes the value in place: every other line of the file stays as it\n"
    "       was. The file is created in an existing folder when missing.\n"
    "\n"
    "FILE is a plain path, used as given.\n"
    "Section and key names match regardless of letter case.\n"
    "\n"
    "Encoding: names and values are Windows-1252 bytes, passed through unchanged.\n"
    "The configuration section and key spelled with accents must be given as\n"
    "Windows-1252 bytes, not UTF-8, for example in bash:\n"
    "  quorvel-ini get $'Configura\\xe7\\xe3o' $'Balan\\xe7a' '' ~/.config/quorvel/quorvel.ini\n"
    "\n"
    "Exit status:\n"
    "  0  success: the value or, for a missing file, section or entry, DEFAULT\n"
    "     was printed; the value was written or was already there\n"
    "  1  get: the file is there but cannot be read (DEFAULT was printed);\n"
    "     set: the write was refused or failed; the reason is on standard error\n"
    "  2  wrong usage\n";

void say(std::FILE* to, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), to);
}

int usage(std::string_view problem) {
  say(stderr, "quorvel-ini: ");
  say(stderr, problem);
  say(stderr, "\nTry 'quorvel-ini --help'.\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = quorvel::consoleArguments(argc, argv);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    say(stdout, kHelp);
    return 0;
  }
  if (args.empty()) return usage("missing command (get or set)");
  const std::string_view command = args[0];
  if (command != "get" && command != "set")
    return usage("unknown command: " + std::string(command));
  if (args.size() != 5) return usage(std::string(command) + " takes four arguments");

  const std::string_view section = args[1];
  const std::string_view key = args[2];
  const std::string_view text = args[3];
  const std::string_view file = args[4];
  const std::filesystem::path path = quorvel::nativeProfilePath(file);
  if (command == "get") {
    const quorvel::ProfileRead read = quorvel::readProfileStringChecked(section, key, text, path);
    say(stdout, read.value + "\n");
    if (std::fflush(stdout) != 0) return 1;
    if (read.error != 0) {
      say(stderr, "quorvel-ini: cannot read ");
      say(stderr, file);
      say(stderr, ": ");
      say(stderr, std::strerror(read.error));
      say(stderr, "\n");
      return 1;
    }
    return 0;
  }

  switch (quorvel::writeProfileString(section, key, text, path)) {
    case quorvel::WriteResult::Written:
    case quorvel::WriteResult::Unchanged:
      return 0;
    case quorvel::WriteResult::Refused:
      say(stderr, "quorvel-ini: write refused: ");
      say(stderr, quorvel::whyRefused(section, key, text).value_or("invalid arguments"));
      say(stderr, "\n");
      return 1;
    case quorvel::WriteResult::Failed: {
      const int error = errno;
      say(stderr, "quorvel-ini: cannot write ");
      say(stderr, file);
      say(stderr, ": ");
      say(stderr, std::strerror(error));
      say(stderr, "\n");
      return 1;
    }
  }
  return 1;
}
