#pragma once
// What the test fixtures need from the system, one implementation per system
// (system_posix.cpp, system_win32.cpp).
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::test {

// A new, empty folder named <prefix>XXXXXX in the system's temporary folder.
// Throws std::runtime_error when none can be made.
std::filesystem::path makeTempFolder(const std::string& prefix);

// The variable that names the folder where the configuration folder lives:
// XDG_CONFIG_HOME on Linux, APPDATA on Windows.
extern const char* const kConfigHomeVariable;

// Sets the variable for this process and the processes it starts; nothing
// removes it. On Windows both the C runtime's copy and the system's change.
void setEnvironment(const std::string& name, const std::optional<std::string>& value);

struct ProgramRun {
  int status = -1;  // the exit code; -1 when the program could not run or did not exit
  std::string out;
  std::string err;
};

// Runs the program with these arguments (bytes, passed unchanged) and waits for
// it, collecting what it writes to its standard output and error as text, the
// way the system's C runtime reads text (on Windows CR LF becomes LF). Outputs
// are expected to be small.
ProgramRun runProgram(const std::filesystem::path& program, const std::vector<std::string>& args);

}  // namespace quorvel::test
