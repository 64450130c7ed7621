// The configuration file through the real profile access, in a configuration
// folder of the test's own.
#include "profile/config.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <limits>
#include <locale>
#include <string>

#include "profile/ini.hpp"
#include "tests/support/profile_fixtures.hpp"
#include "tests/support/system.hpp"
#include "tests/support/temp_dir.hpp"

namespace quorvel {
namespace {

using test::kConfigHeader;
using test::readFile;
using test::ScopedEnv;
using test::TempDir;
using test::writeFile;

const std::string kBalanca =
    "Balan\xE7"
    "a";

class Config : public testing::Test {
 protected:
  TempDir dir;
  ScopedEnv configHome{test::kConfigHomeVariable, dir.path().string()};
  std::filesystem::path folder = dir / "quorvel";
  std::filesystem::path file = folder / "quorvel.ini";
  CaptureState s;

  void givenFile(const std::string& bytes) {
    std::filesystem::create_directories(folder);
    writeFile(file, bytes);
  }
};

TEST_F(Config, NoFileGivesDefaultsAndCreatesNothing) {
  s.V_PASTA = "old";
  s.V_BALANCA = "old";
  s.V_PORTA = 9;
  s.V_VELOCIDADE = 9;
  s.V_DIVISOR = 9;
  LER_CONFIGURACAO(s);
  EXPECT_EQ(s.V_PASTA, "");
  EXPECT_EQ(s.V_BALANCA, "");
  EXPECT_EQ(s.V_PORTA, 0);
  EXPECT_EQ(s.V_VELOCIDADE, 0);
  EXPECT_EQ(s.V_DIVISOR, 10);
  EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST_F(Config, ReadsAllFiveInTheirKinds) {
  givenFile(kConfigHeader + "Pasta=C:\\Pesagem\r\n" + kBalanca +
            "=Precision\r\nPorta=3\r\nVelocidade=9600\r\nDivisor=100\r\n");
  LER_CONFIGURACAO(s);
  EXPECT_EQ(s.V_PASTA, "C:\\Pesagem");
  EXPECT_EQ(s.V_BALANCA, "Precision");
  EXPECT_EQ(s.V_PORTA, 3);
  EXPECT_EQ(s.V_VELOCIDADE, 9600);
  EXPECT_EQ(s.V_DIVISOR, 100);
}

TEST_F(Config, MissingDivisorGivesTen) {
  givenFile(kConfigHeader + "Porta=1\r\nVelocidade=2400\r\n");
  LER_CONFIGURACAO(s);
  EXPECT_EQ(s.V_VELOCIDADE, 2400);
  EXPECT_EQ(s.V_DIVISOR, 10);
}

TEST_F(Config, PortKeepsLowEightBits) {
  const std::pair<const char*, int> cases[] = {{"257", 1},   {"256", 0}, {"300", 44}, {"-1", 255},
                                               {"255", 255}, {"", 0},    {"x", 0}};
  for (const auto& [text, port] : cases) {
    givenFile(kConfigHeader + "Porta=" + text + "\r\n");
    LER_CONFIGURACAO(s);
    EXPECT_EQ(s.V_PORTA, port) << text;
  }
}

TEST_F(Config, OverlongTextsKeepWhatFitsAndSaveWritesThat) {
  const std::string folderText(300, 'p');
  const std::string brand(40, 'b');
  givenFile(kConfigHeader + "Pasta=" + folderText + "\r\n" + kBalanca + "=" + brand + "\r\n");
  LER_CONFIGURACAO(s);
  EXPECT_EQ(s.V_PASTA, folderText.substr(0, 254));
  EXPECT_EQ(s.V_BALANCA, brand.substr(0, 29));
  GRAVAR(s);
  EXPECT_EQ(LER_INI("Configura\xE7\xE3o", "Pasta", "", "quorvel.ini"), folderText.substr(0, 254));
  EXPECT_EQ(LER_INI("Configura\xE7\xE3o", kBalanca, "", "quorvel.ini"), brand.substr(0, 29));
}

TEST_F(Config, SaveWritesAllFiveAndKeepsTheRest) {
  givenFile("; kept\r\n[Portas]\r\nCOM3=/dev/ttyUSB0\r\n" + kConfigHeader +
            "Extra=1\r\nPorta=257\r\nDivisor=10\r\n\r\n[Outra]\r\nx=y\r\n");
  LER_CONFIGURACAO(s);
  s.V_PASTA = "C:\\Pesagem";
  s.V_BALANCA = "DIG";
  s.V_VELOCIDADE = -1200;
  GRAVAR(s);
  EXPECT_EQ(readFile(file), "; kept\r\n[Portas]\r\nCOM3=/dev/ttyUSB0\r\n" + kConfigHeader +
                                "Extra=1\r\nPorta=1\r\nDivisor=10\r\nPasta=C:\\Pesagem\r\n" +
                                kBalanca + "=DIG\r\nVelocidade=-1200\r\n\r\n[Outra]\r\nx=y\r\n");
}

TEST_F(Config, SaveCreatesTheMissingFolder) {
  ScopedEnv deeper{test::kConfigHomeVariable, (dir / "a" / "b").string()};
  s.V_PORTA = 2;
  s.V_DIVISOR = 1;
  GRAVAR(s);
  EXPECT_EQ(
      readFile(dir / "a" / "b" / "quorvel" / "quorvel.ini"),
      kConfigHeader + "Pasta=\r\n" + kBalanca + "=\r\nPorta=2\r\nVelocidade=0\r\nDivisor=1\r\n");
}

TEST_F(Config, NumbersAreTheSameInABrazilianLocale) {
  const std::string oldC = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "pt_BR.UTF-8") == nullptr) GTEST_SKIP() << "pt_BR.UTF-8 not installed";
  const std::locale oldGlobal = std::locale::global(std::locale("pt_BR.UTF-8"));
  s.V_VELOCIDADE = 1000000;
  s.V_DIVISOR = -2147483647 - 1;
  GRAVAR(s);
  CaptureState back;
  LER_CONFIGURACAO(back);
  std::locale::global(oldGlobal);
  std::setlocale(LC_ALL, oldC.c_str());
  EXPECT_EQ(LER_INI("Configura\xE7\xE3o", "Velocidade", "", "quorvel.ini"), "1000000");
  EXPECT_EQ(LER_INI("Configura\xE7\xE3o", "Divisor", "", "quorvel.ini"), "-2147483648");
  EXPECT_EQ(back.V_VELOCIDADE, 1000000);
  EXPECT_EQ(back.V_DIVISOR, std::numeric_limits<std::int32_t>::min());
}

TEST(ProfileInteger, Conversions) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  const std::pair<const char*, std::int32_t> cases[] = {
      {"2400", 2400},
      {"", 0},
      {"-12", -12},
      {"+7", 7},
      {" \t 5", 5},
      {"12abc", 12},
      {"1.9", 1},
      {"abc", 0},
      {"-", 0},
      {"+", 0},
      {"- 5", 0},
      {"2147483647", kMax},
      {"2147483648", kMax},
      {"-2147483648", kMin},
      {"-2147483649", kMin},
      {"99999999999999999999999", kMax},
      {"-99999999999999999999999", kMin},
      {"007", 7},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(profileInteger(text), value) << text;
}

}  // namespace
}  // namespace quorvel
