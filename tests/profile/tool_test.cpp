// The quorvel-ini program, run as a separate process with byte arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/system.hpp"
#include "tests/support/temp_dir.hpp"

namespace quorvel {
namespace {

using ToolRun = test::ProgramRun;

ToolRun runTool(const std::vector<std::string>& args) {
  return test::runProgram(QUORVEL_INI_TOOL, args);
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

TEST(Tool, WriteThroughALinkLeadingNowhereSaysWhy) {
#ifdef _WIN32
  GTEST_SKIP() << "symbolic links to files are a POSIX matter";
#endif
  test::TempDir dir;
  const std::string dangling = (dir / "link.ini").string();
  std::filesystem::create_symlink(dir / "none" / "p.ini", dangling);
  const ToolRun nowhere = runTool({"set", "S", "k", "v", dangling});
  EXPECT_EQ(nowhere.status, 1);
  EXPECT_NE(nowhere.err.find("No such file or directory"), std::string::npos) << nowhere.err;
}

// A script must tell a file it cannot read from a missing entry: both print
// the default, but only the first fails and says why.
TEST(Tool, UnreadableFilePrintsTheDefaultAndFails) {
  test::TempDir dir;
  const ToolRun folder = runTool({"get", "S", "k", "d", dir.path().string()});
  EXPECT_EQ(folder.out, "d\n");
  EXPECT_EQ(folder.status, 1);
  EXPECT_NE(folder.err.find("cannot read " + dir.path().string() + ": "), std::string::npos)
      << folder.err;

  for (const std::string& file :
       {(dir / "missing.ini").string(), (dir / "no" / "p.ini").string()}) {
    const ToolRun missing = runTool({"get", "S", "k", "d", file});
    EXPECT_EQ(missing.out, "d\n");
    EXPECT_EQ(missing.status, 0) << file;
    EXPECT_EQ(missing.err, "");
  }
}

}  // namespace
}  // namespace quorvel
