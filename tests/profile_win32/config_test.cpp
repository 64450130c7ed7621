// Where the configuration file and other profile names land on Windows: the
// per-user file, the Windows folder's file of an existing workstation, the
// user's VirtualStore copy of it, native paths.
#include "profile/config.hpp"

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

#include "profile/ini.hpp"
#include "profile/paths.hpp"
#include "tests/support/profile_fixtures.hpp"
#include "tests/support/temp_dir.hpp"

namespace quorvel {
namespace {

using test::kConfigHeader;
using test::readFile;
using test::ScopedEnv;
using test::TempDir;
using test::writeFile;

std::filesystem::path windowsFolder() {
  wchar_t buffer[MAX_PATH];
  const UINT n = GetWindowsDirectoryW(buffer, MAX_PATH);
  return std::filesystem::path(std::wstring(buffer, n));
}

// A workstation's files: the per-user folders in a temporary folder, and the
// Windows folder's quorvel.ini, which the test puts back as it found it.
class WindowsConfig : public testing::Test {
 protected:
  void SetUp() override {
    if (std::filesystem::exists(shared)) sharedBefore = readFile(shared);
    std::filesystem::remove(shared);
  }
  void TearDown() override {
    std::filesystem::remove(shared);
    if (sharedBefore) writeFile(shared, *sharedBefore);
  }
  TempDir dir;
  ScopedEnv appData{"APPDATA", (dir / "Roaming").string()};
  ScopedEnv localAppData{"LOCALAPPDATA", (dir / "Local").string()};
  std::filesystem::path own = dir / "Roaming" / "Quorvel" / "quorvel.ini";
  std::filesystem::path shared = windowsFolder() / "quorvel.ini";
  std::filesystem::path virtualised =
      dir / "Local" / "VirtualStore" / windowsFolder().relative_path() / "quorvel.ini";
  std::optional<std::string> sharedBefore;
  CaptureState s;
};

TEST_F(WindowsConfig, NoFileAnywhereGivesDefaultsAndCreatesNothing) {
  LER_CONFIGURACAO(s);
  EXPECT_EQ(s.V_PASTA, "");
  EXPECT_EQ(s.V_PORTA, 0);
  EXPECT_EQ(s.V_DIVISOR, 10);
  EXPECT_FALSE(std::filesystem::exists(dir / "Roaming"));
  EXPECT_FALSE(std::filesystem::exists(shared));
}

TEST_F(WindowsConfig, WindowsFolderFileCarriesOverUntilTheFirstSave) {
  writeFile(shared, "[Outra]\r\nx=y\r\n" + kConfigHeader +
                        "Pasta=C:\\Pesagem\r\nPorta=3\r\nVelocidade=9600\r\n");
  LER_CONFIGURACAO(s);
  EXPECT_EQ(s.V_PASTA, "C:\\Pesagem");
  EXPECT_EQ(s.V_PORTA, 3);
  EXPECT_EQ(s.V_VELOCIDADE, 9600);

  s.V_PORTA = 4;
  GRAVAR(s);
  EXPECT_EQ(readFile(own), kConfigHeader +
                               "Pasta=C:\\Pesagem\r\nBalan\xE7"
                               "a=\r\nPorta=4\r\nVelocidade=9600\r\nDivisor=10\r\n");
  EXPECT_EQ(readFile(shared), "[Outra]\r\nx=y\r\n" + kConfigHeader +
                                  "Pasta=C:\\Pesagem\r\nPorta=3\r\nVelocidade=9600\r\n");

  // The next start reads the per-user file, whatever the old one says.
  writeFile(shared, kConfigHeader + "Porta=9\r\n");
  CaptureState next;
  LER_CONFIGURACAO(next);
  EXPECT_EQ(next.V_PORTA, 4);
  EXPECT_EQ(next.V_VELOCIDADE, 9600);
}

TEST_F(WindowsConfig, VirtualStoreCopyComesBeforeTheWindowsFolder) {
  writeFile(shared, kConfigHeader + "Porta=1\r\n");
  std::filesystem::create_directories(virtualised.parent_path());
  writeFile(virtualised, kConfigHeader + "Porta=2\r\n");
  LER_CONFIGURACAO(s);
  EXPECT_EQ(s.V_PORTA, 2);
  std::filesystem::create_directories(own.parent_path());
  writeFile(own, kConfigHeader + "Porta=5\r\n");
  LER_CONFIGURACAO(s);
  EXPECT_EQ(s.V_PORTA, 5);
}

TEST_F(WindowsConfig, NamesResolve) {
  EXPECT_EQ(resolveProfileName("quorvel.ini"), own);
  EXPECT_EQ(resolveProfileNameForReading("quorvel.ini"), own);  // no file anywhere: the own one
  writeFile(shared, kConfigHeader);
  EXPECT_EQ(resolveProfileNameForReading("quorvel.ini"), shared);
  EXPECT_EQ(resolveProfileName("quorvel.ini"), own);
  const std::pair<const char*, const wchar_t*> native[] = {
      {"C:\\Pesagem\\quorvel.txt", L"C:\\Pesagem\\quorvel.txt"},
      {"\\\\server\\share\\quorvel.txt", L"\\\\server\\share\\quorvel.txt"},
      {"D:quorvel.txt", L"D:quorvel.txt"},
      {"C:\\Balan\xE7"
       "a\\\x80.txt",
       L"C:\\Balan\u00E7a\\\u20AC.txt"},  // Windows-1252, not Latin-1
  };
  for (const auto& [name, path] : native) {
    EXPECT_EQ(resolveProfileName(name), std::filesystem::path(path)) << name;
    EXPECT_EQ(resolveProfileNameForReading(name), std::filesystem::path(path)) << name;
  }
}

TEST_F(WindowsConfig, SystemOperationsReachNativePathsSpeltInWindows1252) {
  const std::filesystem::path folder = dir.path() / std::filesystem::path(L"Pesagem \u00E7\u20AC");
  std::filesystem::create_directory(folder);
  std::string name = dir.path().string() + "\\Pesagem \xE7\x80\\quorvel.txt";
  for (char& c : name)
    if (c == '/') c = '\\';
  ESCREVER_INI("Pesagem.WS1", "Ativo", "1", name);
  EXPECT_EQ(readFile(folder / "quorvel.txt"), "[Pesagem.WS1]\r\nAtivo=1\r\n");
  EXPECT_EQ(LER_INI("pesagem.ws1", "ATIVO", "0", name), "1");
}

}  // namespace
}  // namespace quorvel
