#include <windows.h>

#include <cstdlib>
#include <random>
#include <stdexcept>

#include "tests/support/system.hpp"

namespace quorvel::test {

const char* const kConfigHomeVariable = "APPDATA";

std::filesystem::path makeTempFolder(const std::string& prefix) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::mt19937 random(seed());
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix;
    for (int i = 0; i < 6; ++i) name += kLetters[pick(random)];
    const std::filesystem::path folder = base / name;
    if (::CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  throw std::runtime_error("no temporary folder could be made");
}

void setEnvironment(const std::string& name, const std::optional<std::string>& value) {
  // getenv reads the C runtime's copy, the Windows calls the system's: both change.
  ::_putenv_s(name.c_str(), value ? value->c_str() : "");
  ::SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr);
}

namespace {

// One argument as the C runtime of the child splits its command line again.
std::string quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string q = "\"";
  std::size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    q.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    q += c;
  }
  q.append(2 * backslashes, '\\');
  q += '"';
  return q;
}

// All of a pipe, read as text: a program's C runtime writes its "\n" as CR LF.
std::string drain(HANDLE h) {
  std::string s;
  char buffer[4096];
  DWORD n = 0;
  while (::ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0) s.append(buffer, n);
  ::CloseHandle(h);
  std::string text;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) text += s[i];
  return text;
}

}  // namespace

ProgramRun runProgram(const std::filesystem::path& program, const std::vector<std::string>& args) {
  ProgramRun run;
  std::string commandLine = quoted(program.string());
  for (const std::string& a : args) commandLine += " " + quoted(a);

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!::CreatePipe(&outRead, &outWrite, &inherit, 0)) return run;
  if (!::CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    ::CloseHandle(outRead);
    ::CloseHandle(outWrite);
    return run;
  }
  ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION process{};
  const bool started = ::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process) != 0;
  ::CloseHandle(outWrite);
  ::CloseHandle(errWrite);
  run.out = drain(outRead);  // outputs are small: one pipe at a time does not block
  run.err = drain(errRead);
  if (!started) return run;
  DWORD code = 0;
  if (::WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
      ::GetExitCodeProcess(process.hProcess, &code))
    run.status = static_cast<int>(code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return run;
}

}  // namespace quorvel::test
