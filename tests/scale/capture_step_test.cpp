#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "scale/capture_step.hpp"
#include "tests/support/fakes.hpp"
#include "tests/support/temp_dir.hpp"

namespace quorvel {
namespace {

using test::RecordingWindow;
using test::ScriptedSerial;

constexpr std::uint32_t kNameLength = 11;  // what the computer-name query left in V_TAM

struct Fixture {
  test::TempDir dir;
  CaptureState s;
  ScriptedSerial serial;
  RecordingWindow window;

  explicit Fixture(const char* brand, std::int32_t divisor = 10) {
    s.FLAG_ABERTA = 1;
    s.COMPORT = 2;
    s.V_BALANCA = brand;
    s.V_DIVISOR = divisor;
    s.V_NOME_CPD = "WS1";
    s.V_TAM = kNameLength;
    s.V_PASTA = dir.path().string();
  }
  void run(std::string_view bytes = {}) {
    serial.feed(bytes);
    CAPTURA_PESO(s, serial, window);
  }
  std::filesystem::path handOff() const { return dir / "quorvel.txt"; }
  std::string handOffBytes() const { return test::readFile(handOff()); }
};

std::string section(std::string_view peso) {
  return "[Pesagem.WS1]\r\nAtivo=1\r\nPeso=" + std::string(peso) + "\r\n";
}

struct StreamCase {
  const char* name;
  const char* brand;
  std::int32_t divisor;
  std::string bytes;  // everything the scale sent before one run
  std::string buffer;
  std::int64_t thousandths;
  std::uint32_t tam;
  const char* peso;  // nullptr: no hand-off file
};

void PrintTo(const StreamCase& c, std::ostream* os) {
  *os << c.name;
}

class CaptureStream : public testing::TestWithParam<StreamCase> {};

TEST_P(CaptureStream, GivesLineWeightAndHandOff) {
  const StreamCase& c = GetParam();
  Fixture f(c.brand, c.divisor);
  f.run(c.bytes);
  EXPECT_EQ(f.s.V_BUFFER.view(), c.buffer);
  EXPECT_EQ(f.s.V_PESO.thousandths(), c.thousandths);
  EXPECT_EQ(f.s.V_TAM, c.tam);
  if (c.peso)
    EXPECT_EQ(f.handOffBytes(), section(c.peso));
  else
    EXPECT_FALSE(std::filesystem::exists(f.handOff()));
  EXPECT_EQ(f.s.V_ERRO, 0);
}

const std::string k300(300, '7');

INSTANTIATE_TEST_SUITE_P(
    Brands, CaptureStream,
    testing::Values(
        StreamCase{"Precision", "Precision", 10, "+001234\r", "+001234", 123'400, 7, "123.4"},
        StreamCase{"PrecisionDivisorOne", "Precision", 1, "+001500\r", "+001500", 1'500'000, 7,
                   "1500"},
        StreamCase{"PrecisionRoundsThirdDecimal", "Precision", 3, " 000001\r", " 000001", 333, 7,
                   "0.333"},
        StreamCase{"PrecisionRoundsOnlyTheQuotient", "Precision", 10, "x1.2345\r", "x1.2345", 123,
                   7, "0.123"},
        StreamCase{"PrecisionEightCharacters", "Precision", 10, "+0012345\r", "+0012345", 0, 8,
                   nullptr},
        StreamCase{"PrecisionDivisorZero", "Precision", 0, "+001234\r", "+001234", 0, 7, nullptr},
        StreamCase{"PrecisionNoLineYet", "Precision", 10, "+0012", "", 0, 0, nullptr},
        StreamCase{"Dig", "DIG", 10, "+0001500\r", "+0001500", 1'500'000, kNameLength, "1500"},
        StreamCase{"FilWithPoint", "FIL", 10, " 0012.50\r", " 0012.50", 12'500, kNameLength,
                   "12.5"},
        StreamCase{"FilNegativeWritesNothing", "FIL", 10, " -012.50\r", " -012.50", -12'500,
                   kNameLength, nullptr},
        StreamCase{"FilFirstPositionIsNoPartOfTheWeight", "FIL", 10, "-0012.50\r", "-0012.50",
                   12'500, kNameLength, "12.5"},
        StreamCase{"Tol", "TOL", 10, "001500\r", "001500", 1'500'000, kNameLength, "1500"},
        StreamCase{"TolSevenCharacters", "TOL", 10, "0015000\r", "0015000", 0, kNameLength,
                   nullptr},
        StreamCase{"TrailingBlankBrand", "TOL   ", 10, "001500\r", "001500", 1'500'000,
                   kNameLength, "1500"},
        StreamCase{"StxAndLineFeedDropped", "TOL", 10, "\x02" "001234\r\n", "001234", 1'234'000,
                   kNameLength, "1234"},
        StreamCase{"ControlAndHighBytesDropped", "TOL", 10, "00\t1\x7F" "2\xFF" "34\r", "001234",
                   1'234'000, kNameLength, "1234"},
        StreamCase{"TwoLinesOnlyLastParsed", "TOL", 10, "001000\r002000\r", "002000", 2'000'000,
                   kNameLength, "2000"},
        StreamCase{"CarriageReturnOnEmptyLine", "TOL", 10, "\r\r001500\r", "001500", 1'500'000,
                   kNameLength, "1500"},
        StreamCase{"BlanksBeforeLineEnd", "TOL", 10, "   \r001500\r", "   001500", 0, kNameLength,
                   nullptr},
        StreamCase{"GarbageWeightText", "TOL", 10, "0a1500\r", "0a1500", 0, kNameLength, nullptr},
        StreamCase{"OverlongLineKeepsFirst254", "TOL", 10, k300 + "\r", k300.substr(0, 254), 0,
                   kNameLength, nullptr}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CaptureStep, ReadResultsUseTheirLowByteAndStopWhenNegative) {
  Fixture f("TOL");
  // 304 carries the digit zero in its low byte; a negative result ends the run's reading.
  f.serial.reads = {304, 304, '1', '5', '0', '0', 13, 0x7FFF8000, '9', 13};
  f.run();
  EXPECT_EQ(f.s.V_BUFFER.view(), "001500");
  EXPECT_EQ(f.s.RETCODE, -32768);
  EXPECT_EQ(f.s.RETCHR, 13);
  EXPECT_EQ(f.handOffBytes(), section("1500"));
  EXPECT_EQ(f.serial.reads.size(), 2u);  // the rest waits for the next run
}

TEST(CaptureStep, CarriesAnUnfinishedLineIntoTheNextRun) {
  Fixture f("TOL");
  f.run("0015");
  EXPECT_EQ(f.s.STRLEITURA.view(), "0015");
  EXPECT_TRUE(f.s.V_BUFFER.empty());
  f.run("00\r00");
  EXPECT_EQ(f.s.V_BUFFER.view(), "001500");
  EXPECT_EQ(f.s.STRLEITURA.view(), "00");
}

TEST(CaptureStep, RedisplaysOnceAfterTheWeightAndBeforeTheWrite) {
  Fixture f("TOL");
  struct Seen {
    std::string buffer;
    std::int64_t thousandths;
    bool written;
  };
  std::vector<Seen> seen;
  f.window.onDisplay = [&] {
    seen.push_back({std::string(f.s.V_BUFFER.view()), f.s.V_PESO.thousandths(),
                    std::filesystem::exists(f.handOff())});
  };
  f.run("001000\r002000\r003000\r00");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].buffer, "003000");
  EXPECT_EQ(seen[0].thousandths, 3'000'000);
  EXPECT_FALSE(seen[0].written);
  EXPECT_EQ(f.handOffBytes(), section("3000"));
}

// What the waiting-byte query answers decides whether a run reads, and how much.
struct WaitingCase {
  const char* name;
  std::int32_t waiting;
  int byteReads;
  const char* buffer;
  const char* unfinished;
};

void PrintTo(const WaitingCase& c, std::ostream* os) {
  *os << c.name;
}

class WaitingQuery : public testing::TestWithParam<WaitingCase> {};

TEST_P(WaitingQuery, StartsTheReadLoopAndBoundsIt) {
  const WaitingCase& c = GetParam();
  Fixture f("TOL");
  f.serial.waitingResult = c.waiting;
  f.run("001000\r002000\r0030");
  EXPECT_EQ(f.serial.byteReads, c.byteReads);
  EXPECT_EQ(f.s.V_BUFFER.view(), c.buffer);
  EXPECT_EQ(f.s.STRLEITURA.view(), c.unfinished);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WaitingQuery,
    testing::Values(WaitingCase{"LowBitsZeroReadsNothing", 0x10000, 0, "", ""},
                    WaitingCase{"CountBoundsTheRun", 7, 7, "001000", ""},
                    WaitingCase{"CountEndingInsideALine", 10, 10, "001000", "002"},
                    // Negative as 16 bits: bytes wait all the same; the run
                    // reads until a read finds none.
                    WaitingCase{"LowBitsAllOnes", 0xFFFF, 19, "002000", "0030"},
                    WaitingCase{"LowBitsSignOnly", 0x8000, 19, "002000", "0030"},
                    WaitingCase{"NegativeCount", -1, 19, "002000", "0030"},
                    WaitingCase{"HugeCount", 0x7FFF8000, 19, "002000", "0030"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CaptureStep, ARunReadsAtMostOneMebibyte) {
  Fixture f("TOL");
  constexpr std::size_t kMost = std::size_t{1} << 20;
  std::string backlog;
  while (backlog.size() + 14 <= kMost) backlog += "001000\r";
  backlog.resize(kMost - 7, '\n');  // line feeds count toward no line
  backlog += "002000\r003000\r";
  f.serial.waitingResult = 0x7FFFFFFF;
  f.run(backlog);
  EXPECT_EQ(f.serial.byteReads, static_cast<int>(kMost));
  EXPECT_EQ(f.s.V_BUFFER.view(), "002000");
  EXPECT_EQ(f.window.displays, 1);
  f.run();
  EXPECT_EQ(f.s.V_BUFFER.view(), "003000");
}

TEST(CaptureStep, ClosedPortReadsShowsAndWritesNothing) {
  Fixture f("TOL");
  f.s.FLAG_ABERTA = 0;
  f.run("001500\r");
  EXPECT_EQ(f.serial.queries, 0);
  EXPECT_EQ(f.window.displays, 0);
  EXPECT_FALSE(std::filesystem::exists(f.handOff()));
}

TEST(CaptureStep, NothingWaitingParsesTheLastLineAgain) {
  Fixture f("TOL");
  f.run("001500\r");
  // Another workstation's section and a stale value of ours: the next run restores ours only.
  test::writeFile(f.handOff(), "[Pesagem.WS2]\r\nPeso=7\r\n" + section("1"));
  f.serial.waitingResult = 0x10000;  // low 16 bits 0: nothing waits
  f.serial.feed("002000\r");
  CAPTURA_PESO(f.s, f.serial, f.window);
  EXPECT_EQ(f.serial.byteReads, 7);  // the first run's seven bytes
  EXPECT_EQ(f.s.V_BUFFER.view(), "001500");
  EXPECT_EQ(f.handOffBytes(), "[Pesagem.WS2]\r\nPeso=7\r\n" + section("1500"));
}

TEST(CaptureStep, ZeroWeightKeepsTheLastPositiveOneInTheFile) {
  Fixture f("DIG");
  f.run("+0000250\r");
  f.run("+0000000\r");
  EXPECT_EQ(f.s.V_PESO, Decimal{});
  f.run("+00\r");
  EXPECT_EQ(f.handOffBytes(), section("250"));
}

TEST(CaptureStep, UnknownBrandWarnsEveryRunAndKeepsTheWeight) {
  Fixture f("TOL");
  f.run("001500\r");
  f.s.V_BALANCA = "tol";
  test::writeFile(f.handOff(), "");
  f.run("002000\r");
  f.run();
  const std::string warning = "message(Aviso|Marca (tol) desconhecida!|exclamation)";
  EXPECT_EQ(std::count(f.window.log.begin(), f.window.log.end(), warning), 2);
  EXPECT_EQ(f.s.V_ERRO, 1);
  EXPECT_EQ(f.s.V_PESO.thousandths(), 1'500'000);
  EXPECT_EQ(f.s.V_BUFFER.view(), "002000");
  EXPECT_EQ(f.handOffBytes(), section("1500"));
}

TEST(CaptureStep, MissingFolderWritesNothingAndCaptureGoesOn) {
  Fixture f("TOL");
  f.s.V_PASTA = (f.dir / "gone").string();
  f.run("001500\r");
  EXPECT_EQ(f.s.V_PESO.thousandths(), 1'500'000);
  EXPECT_FALSE(std::filesystem::exists(f.dir / "gone"));
  f.s.V_PASTA = f.dir.path().string() + "\\";  // a closing backslash doubles: still the folder
  f.run();
  EXPECT_EQ(f.handOffBytes(), section("1500"));
}

TEST(CaptureStep, EmptyFolderWritesAtTheRoot) {
  const std::filesystem::path root = "/quorvel.txt";
  if (::access("/", W_OK) != 0 || std::filesystem::exists(root))
    GTEST_SKIP() << "needs a writable root folder without a quorvel.txt";
  Fixture f("TOL");
  f.s.V_PASTA = "";
  f.s.V_NOME_CPD = "EMPTYFOLDERTEST";
  f.run("000042\r");
  const std::string bytes = test::readFile(root);
  std::filesystem::remove(root);
  EXPECT_EQ(bytes, "[Pesagem.EMPTYFOLDERTEST]\r\nAtivo=1\r\nPeso=42\r\n");
}

}  // namespace
}  // namespace quorvel
