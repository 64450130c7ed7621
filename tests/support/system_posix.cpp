#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "tests/support/system.hpp"

extern char** environ;

namespace quorvel::test {

const char* const kConfigHomeVariable = "XDG_CONFIG_HOME";

std::filesystem::path makeTempFolder(const std::string& prefix) {
  std::string tmpl = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return tmpl;
}

void setEnvironment(const std::string& name, const std::optional<std::string>& value) {
  if (value)
    ::setenv(name.c_str(), value->c_str(), 1);
  else
    ::unsetenv(name.c_str());
}

namespace {

std::string drain(int fd) {
  std::string s;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) s.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return s;
}

}  // namespace

ProgramRun runProgram(const std::filesystem::path& program, const std::vector<std::string>& args) {
  std::vector<std::string> all = args;
  all.insert(all.begin(), program.string());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2];
  int err[2];
  ProgramRun run;
  if (::pipe(out) != 0) return run;
  if (::pipe(err) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  run.out = drain(out[0]);  // outputs are small: one pipe at a time does not block
  run.err = drain(err[0]);
  int status = 0;
  if (spawned == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    run.status = WEXITSTATUS(status);
  return run;
}

}  // namespace quorvel::test
