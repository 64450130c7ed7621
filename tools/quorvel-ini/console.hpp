#pragma once
// The command line and standard streams of quorvel-ini, one implementation per
// system: arguments are Windows-1252 bytes, and what is written to the
// standard streams reaches them byte for byte.
#include <string>
#include <vector>

namespace quorvel {

// The arguments after the program name. Windows: taken from the Unicode command
// line and converted to Windows-1252 whatever the system's code page (a
// character outside it becomes '?'); the standard streams are switched to
// binary, so that "\n" is not written as "\r\n".
std::vector<std::string> consoleArguments(int argc, char** argv);

}  // namespace quorvel
