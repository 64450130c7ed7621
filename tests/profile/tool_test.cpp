// The quorvel-ini program, run as a separate process with byte arguments.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.hpp"

extern char** environ;

namespace quorvel {
namespace {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string drain(int fd) {
  std::string s;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) s.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return s;
}

ToolRun runTool(std::vector<std::string> args) {
  args.insert(args.begin(), QUORVEL_INI_TOOL);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2];
  int err[2];
  ToolRun run;
  if (::pipe(out) != 0 || ::pipe(err) != 0) return run;
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

TEST(Tool, AccentedNamesRoundTripAsWindows1252) {
  test::TempDir dir;
  const std::string file = (dir / "quorvel.ini").string();
  const ToolRun set = runTool({"set", "Configura\xE7\xE3o",
                               "Balan\xE7"
                               "a",
                               "DIG", file});
  EXPECT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(test::readFile(file),
            "[Configura\xE7\xE3o]\r\nBalan\xE7"
            "a=DIG\r\n");
  const ToolRun get = runTool({"get", "CONFIGURA\xC7\xC3O",
                               "BALAN\xC7"
                               "A",
                               "x", file});
  EXPECT_EQ(get.status, 0);
  EXPECT_EQ(get.out, "DIG\n");
  const ToolRun missing = runTool({"get", "Configura\xE7\xE3o", "Porta", "0  ", file});
  EXPECT_EQ(missing.out, "0\n");
}

TEST(Tool, UsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"put", "S", "k", "v", "f"}, {"get", "S", "k", "d"}, {"set", "S", "k", "v", "f", "x"}};
  for (const auto& args : cases) {
    const ToolRun r = runTool(args);
    EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
    EXPECT_NE(r.err.find("quorvel-ini --help"), std::string::npos);
    EXPECT_TRUE(r.out.empty());
  }
  const ToolRun help = runTool({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Windows-1252"), std::string::npos);
}

TEST(Tool, RefusedAndFailedWritesSayWhy) {
  test::TempDir dir;
  const std::string file = (dir / "p.ini").string();
  test::writeFile(file, "[S]\r\nk=1\r\n");
  const ToolRun refused = runTool({"set", "S", "a=b", "v", file});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("'='"), std::string::npos) << refused.err;
  EXPECT_EQ(test::readFile(file), "[S]\r\nk=1\r\n");

  const ToolRun failed = runTool({"set", "S", "k", "v", (dir / "none" / "p.ini").string()});
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find("No such file or directory"), std::string::npos) << failed.err;
}

}  // namespace
}  // namespace quorvel
