// Where profile names land on Linux: the configuration folder after the XDG
// rules, Windows paths mapped onto the one file tree.
#include "profile/paths.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "profile/ini.hpp"
#include "tests/support/temp_dir.hpp"

namespace quorvel {
namespace {

using test::readFile;
using test::ScopedEnv;
using test::TempDir;

TEST(ProfileNames, Resolution) {
  TempDir dir;
  ScopedEnv xdg{"XDG_CONFIG_HOME", dir.path().string()};
  const std::pair<const char*, std::filesystem::path> cases[] = {
      {"quorvel.ini", dir / "quorvel" / "quorvel.ini"},
      {"C:\\Pesagem\\quorvel.txt", "/Pesagem/quorvel.txt"},
      {"\\quorvel.txt", "/quorvel.txt"},
      {"z:/x/y.txt", "/x/y.txt"},
      {"rel\\a.txt", "rel/a.txt"},
      {"\\\\server\\share\\a.txt", "//server/share/a.txt"},
  };
  for (const auto& [name, path] : cases) EXPECT_EQ(resolveProfileName(name), path) << name;
}

TEST(ProfileNames, ConfigFolderWithoutUsableXdg) {
  ScopedEnv home{"HOME", "/home/someone"};
  for (const char* xdg : {static_cast<const char*>(nullptr), "", "relative/dir"}) {
    ScopedEnv env{"XDG_CONFIG_HOME",
                  xdg ? std::optional<std::string>(xdg) : std::optional<std::string>()};
    EXPECT_EQ(configDirectory(), "/home/someone/.config/quorvel") << (xdg ? xdg : "(unset)");
  }
}

TEST(ProfileNames, SystemOperationsReachTheResolvedFiles) {
  TempDir dir;
  ScopedEnv xdg{"XDG_CONFIG_HOME", dir.path().string()};
  std::filesystem::create_directories(dir / "quorvel");
  ESCREVER_INI("S", "k", "v", "quorvel.ini");
  EXPECT_EQ(readFile(dir / "quorvel" / "quorvel.ini"), "[S]\r\nk=v\r\n");

  std::string windowsFolder = "C:" + dir.path().string();
  for (char& c : windowsFolder)
    if (c == '/') c = '\\';
  ESCREVER_INI("Pesagem.WS1", "Ativo", "1", windowsFolder + "\\quorvel.txt");
  EXPECT_EQ(readFile(dir / "quorvel.txt"), "[Pesagem.WS1]\r\nAtivo=1\r\n");
  EXPECT_EQ(LER_INI("pesagem.ws1", "ATIVO", "0", windowsFolder + "\\quorvel.txt"), "1");
}

}  // namespace
}  // namespace quorvel
