// The profile format on real files: each case starts from given bytes (or no
// file), applies writes and compares the result and the final bytes exactly.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "profile/ini.hpp"
#include "tests/support/temp_dir.hpp"

namespace quorvel {
namespace {

using namespace std::string_literals;
using test::readFile;
using test::TempDir;
using test::writeFile;

// Windows-1252 bytes of the configuration names, and their capitals.
const std::string kConfiguracao = "Configura\xE7\xE3o";
const std::string kBalanca =
    "Balan\xE7"
    "a";
const std::string kCONFIGURACAO = "CONFIGURA\xC7\xC3O";
const std::string kBALANCA =
    "BALAN\xC7"
    "A";

struct Write {
  std::string section;
  std::string key;
  std::string value;
  WriteResult expected;
};

struct WriteCase {
  const char* name;
  std::optional<std::string> start;  // nothing: no file
  std::vector<Write> writes;
  std::string expected;
};
// Failure messages name the case instead of dumping its bytes.
void PrintTo(const WriteCase& c, std::ostream* os) {
  *os << c.name;
}

constexpr auto W = WriteResult::Written;
constexpr auto U = WriteResult::Unchanged;
constexpr auto R = WriteResult::Refused;

const WriteCase kWriteCases[] = {
    {"NewFileInExistingFolder", std::nullopt, {{"S", "k", "v", W}}, "[S]\r\nk=v\r\n"},
    {"EmptyFile", "", {{"S", "k", "v", W}}, "[S]\r\nk=v\r\n"},
    {"ReplaceKeepsEveryOtherByte",
     "; head\n\nk=0\n[S]\n  K = old  \n; c\nx=1\n[T]\nk=t\n",
     {{"S", "k", "new", W}},
     "; head\n\nk=0\n[S]\nK=new\r\n; c\nx=1\n[T]\nk=t\n"},
    {"MixedLineEndsStay",
     "[A]\ra=1\r\n[S]\nk=1\n\n",
     {{"S", "k", "2", W}},
     "[A]\ra=1\r\n[S]\nk=2\r\n\n"},
    {"NewEntryAfterLastEntryBeforeBlankAndComments",
     "[S]\r\na=1\r\nb=2\r\n\r\n; note\r\n[T]\r\n",
     {{"S", "c", "3", W}},
     "[S]\r\na=1\r\nb=2\r\nc=3\r\n\r\n; note\r\n[T]\r\n"},
    {"NewEntryAfterHeaderOfSectionWithoutEntries",
     "[S]\r\n;k=1\r\n\r\n[T]\r\nx=1\r\n",
     {{"S", "k", "2", W}},
     "[S]\r\nk=2\r\n;k=1\r\n\r\n[T]\r\nx=1\r\n"},
    {"NewEntryAfterEntryWithoutLineEnd",
     "[S]\r\na=1",
     {{"S", "b", "2", W}},
     "[S]\r\na=1\r\nb=2\r\n"},
    {"ReplacedLastLineGetsLineEnd", "[S]\r\nk=1", {{"S", "k", "2", W}}, "[S]\r\nk=2\r\n"},
    {"MissingSectionAppendedWithoutBlankLine",
     "[T]\r\nx=1\r\n",
     {{"S", "k", "v", W}},
     "[T]\r\nx=1\r\n[S]\r\nk=v\r\n"},
    {"MissingSectionAfterFileWithoutLineEnd",
     "[T]\r\nx=1",
     {{"S", "k", "v", W}},
     "[T]\r\nx=1\r\n[S]\r\nk=v\r\n"},
    {"AccentedNamesAsWindows1252",
     std::nullopt,
     {{kConfiguracao, kBalanca, "DIG", W}},
     "[Configura\xE7\xE3o]\r\nBalan\xE7"
     "a=DIG\r\n"},
    {"AccentedCapitalsMatchAndKeepTheirSpelling",
     "[" + kCONFIGURACAO + "]\r\n" + kBALANCA + "=TOL\r\n",
     {{kConfiguracao, kBalanca, "DIG", W}},
     "[" + kCONFIGURACAO + "]\r\n" + kBALANCA + "=DIG\r\n"},
    {"FirstSectionOfANameWins",
     "[S]\r\na=1\r\n[T]\r\n[s]\r\nk=old\r\n",
     {{"S", "k", "new", W}},
     "[S]\r\na=1\r\nk=new\r\n[T]\r\n[s]\r\nk=old\r\n"},
    {"FirstEntryOfAKeyWins",
     "[S]\r\nk=1\r\nk=2\r\n",
     {{"S", "k", "3", W}},
     "[S]\r\nk=3\r\nk=2\r\n"},
    {"ArgumentsLoseSpacesValueDoesNot",
     std::nullopt,
     {{"  S  ", " k ", " v", W}},
     "[S]\r\nk= v\r\n"},
    {"EmptySectionNameIsASection", "k=0\r\n", {{"", "k", "v", W}}, "k=0\r\n[]\r\nk=v\r\n"},
    {"HeaderTextAfterBracketIgnored", "[S] x\r\nk=1\r\n", {{"S", "k", "2", W}}, "[S] x\r\nk=2\r\n"},
    {"NulBytesAreOrdinary",
     "[S]\r\nn=a\0b\r\nk=1\r\n"s,
     {{"S", "k", "2", W}},
     "[S]\r\nn=a\0b\r\nk=2\r\n"s},
    {"SameValueLeavesFile", "[S]\n k = v \n", {{"S", "K", "v", U}}, "[S]\n k = v \n"},
    {"QuotedValueComparedAsWritten", "[S]\r\nk=\"v\"\r\n", {{"S", "k", "v", W}}, "[S]\r\nk=v\r\n"},
    {"RefusedArgumentsWriteNothing",
     "[S]\r\nk=1\r\n",
     {{"S", "k", "a\rb", R},
      {"S", "k", "a\nb", R},
      {"S", "a\nb", "v", R},
      {"S\r", "k", "v", R},
      {"a]b", "k", "v", R},
      {"S", "a=b", "v", R},
      {"S", " ;k", "v", R},
      {"S", "[k", "v", R},
      {"S", "\t;k", "v", R},
      {"S", "\x1A\v[X", "v", R},
      {"\tS]\t", "k", "v", R}},
     "[S]\r\nk=1\r\n"},
    // Names lose every blank that the lines of the file lose, so each write
    // finds the entry or section that the last one wrote.
    {"KeyWithTabsFindsItsEntry",
     std::nullopt,
     {{"S", "\tK", "1", W}, {"S", "\tK", "2", W}, {"S", "K\t", "3", W}, {"S", "\vk\x1A", "3", U}},
     "[S]\r\nK=3\r\n"},
    {"SectionWithTabsFindsItself",
     "[T]\r\n",
     {{"S\t", "k", "1", W}, {"S\t", "k", "2", W}, {"\x1As\v", "k", "2", U}},
     "[T]\r\n[S]\r\nk=2\r\n"},
    {"CtrlZIsABlankOfTheFile",
     "[S]\x1A\r\n\x1Ak\x1A=1\x1A\r\n\x1A",
     {{"S", "k", "1", U}, {"S", "k", "2", W}},
     "[S]\x1A\r\nk=2\r\n\x1A"},
    {"TwoComputersKeepEachOthersSections",
     std::nullopt,
     {{"Pesagem.WS1", "Ativo", "1", W},
      {"Pesagem.WS1", "Peso", "12.5", W},
      {"Pesagem.WS2", "Ativo", "1", W},
      {"Pesagem.WS2", "Peso", "7", W},
      {"Pesagem.WS1", "Peso", "13", W},
      {"Pesagem.WS1", "Ativo", "1", U}},
     "[Pesagem.WS1]\r\nAtivo=1\r\nPeso=13\r\n[Pesagem.WS2]\r\nAtivo=1\r\nPeso=7\r\n"},
};

class WriteFormat : public testing::TestWithParam<WriteCase> {};

TEST_P(WriteFormat, FinalBytes) {
  const WriteCase& c = GetParam();
  TempDir dir;
  const auto file = dir / "p.ini";
  if (c.start) writeFile(file, *c.start);
  for (const Write& w : c.writes) {
    EXPECT_EQ(writeProfileString(w.section, w.key, w.value, file), w.expected)
        << "[" << w.section << "] " << w.key << "=" << w.value;
  }
  EXPECT_EQ(readFile(file), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Profile, WriteFormat, testing::ValuesIn(kWriteCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(WriteFormat, AccentedNamesAreTheGivenBytes) {
  TempDir dir;
  const auto file = dir / "p.ini";
  ASSERT_EQ(writeProfileString(kConfiguracao, kBalanca, "x", file), W);
  const std::string expected = {'[',  0x43,   0x6F,   0x6E,   0x66, 0x69, 0x67, 0x75, 0x72,
                                0x61, '\xE7', '\xE3', 0x6F,   ']',  '\r', '\n', 0x42, 0x61,
                                0x6C, 0x61,   0x6E,   '\xE7', 0x61, '=',  'x',  '\r', '\n'};
  EXPECT_EQ(readFile(file), expected);
}

struct ReadCase {
  const char* name;
  std::optional<std::string> content;
  std::string section;
  std::string key;
  std::string defaultValue;
  std::string expected;
};
void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << c.name;
}

const ReadCase kReadCases[] = {
    {"MissingFileGivesDefault", std::nullopt, "S", "k", "d", "d"},
    {"DefaultLosesTrailingSpacesOnly", std::nullopt, "S", "k", " d \t  ", " d \t"},
    {"MissingSection", "[T]\r\nk=1\r\n", "S", "k", "d", "d"},
    {"MissingEntry", "[S]\r\nx=1\r\n", "S", "k", "d", "d"},
    {"EmptyValueIsNotTheDefault", "[S]\r\nk=\r\n", "S", "k", "d", ""},
    {"CarriageReturnOnlyLines", "[S]\rk=1\r", "S", "k", "d", "1"},
    {"LineFeedOnlyLines", "[S]\nk=1", "S", "k", "d", "1"},
    {"BlanksTrimmed", " \t[\t S ]\t\r\n\v k \t= v 1 \t\r\n", "S", "k", "d", "v 1"},
    {"ArgumentsLoseSpaces", "[S]\r\nk=1\r\n", " S ", "  k ", "d", "1"},
    {"ArgumentsLoseEveryBlank", "[S]\r\nk=1\r\n", "\tS\v", "\x1Ak\t", "d", "1"},
    {"CtrlZIsABlank",
     "\x1A[\x1AS]\x1A\r\n\x1Ak\x1A=\x1A"
     "1\x1A\r\n\x1A",
     "S", "k", "d", "1"},
    {"HeaderWithoutClosingBracket", "[S \r\nk=1\r\n", "S", "k", "d", "1"},
    {"DoubleQuotesRemoved", "[S]\r\nk=\"a b\"\r\n", "S", "k", "d", "a b"},
    {"SingleQuotesRemoved", "[S]\r\nk= 'x' \r\n", "S", "k", "d", "x"},
    {"OnlyOnePairRemoved", "[S]\r\nk=\"\"x\"\"\r\n", "S", "k", "d", "\"x\""},
    {"LoneQuoteKept", "[S]\r\nk=\"\r\n", "S", "k", "d", "\""},
    {"MismatchedQuotesKept", "[S]\r\nk=\"a'\r\n", "S", "k", "d", "\"a'"},
    {"SemicolonLineIsComment", "[S]\r\n ;k=1\r\n", "S", ";k", "d", "d"},
    {"HashStartsNoComment", "[S]\r\n#k=1\r\n", "S", "#k", "d", "1"},
    {"NoCommentsAtLineEnd", "[S]\r\nk=1 ;c\r\n", "S", "k", "d", "1 ;c"},
    {"LineWithoutEqualsIsNoEntry", "[S]\r\nk\r\nk=2\r\n", "S", "k", "d", "2"},
    {"ValueAfterFirstEquals", "[S]\r\nk = a=b\r\n", "S", "k", "d", "a=b"},
    {"FirstSectionWins", "[S]\r\na=1\r\n[s]\r\nk=2\r\n", "S", "k", "d", "d"},
    {"FirstEntryWins", "[S]\r\nK=1\r\nk=2\r\n", "S", "k", "d", "1"},
    {"LinesBeforeFirstSectionBelongToNone", "k=1\r\n[S]\r\n", "", "k", "d", "d"},
    {"EmptySectionName", "[]\r\nk=1\r\n", "", "k", "d", "1"},
    {"AsciiCase", "[SeC]\r\nKEY=1\r\n", "sEc", "key", "d", "1"},
    {"AccentedCase", "[" + kCONFIGURACAO + "]\r\n" + kBALANCA + "=TOL\r\n", kConfiguracao, kBalanca,
     "d", "TOL"},
    {"AccentedCaseAmongC1Letters", "[\x8A\x8C\x8E\x9F]\r\nk=1\r\n", "\x9A\x9C\x9E\xFF", "k", "d",
     "1"},
    {"MultiplyAndDivideSignsDiffer", "[\xD7]\r\nk=1\r\n", "\xF7", "k", "d", "d"},
    {"Utf8IsAnotherName", "[Configura\xC3\xA7\xC3\xA3o]\r\nk=1\r\n", kConfiguracao, "k", "d", "d"},
    {"ByteOrderMarkIsNotSpecial", "\xEF\xBB\xBF[S]\r\nk=1\r\n", "S", "k", "d", "d"},
    {"NulBytesPassThrough", "[S]\r\nk=a\0b\r\n"s, "S", "k", "d", "a\0b"s},
};

class ReadFormat : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadFormat, Value) {
  const ReadCase& c = GetParam();
  TempDir dir;
  const auto file = dir / "p.ini";
  if (c.content) writeFile(file, *c.content);
  EXPECT_EQ(readProfileString(c.section, c.key, c.defaultValue, file), c.expected);
  if (!c.content) {
    EXPECT_FALSE(std::filesystem::exists(file));
  }
}

INSTANTIATE_TEST_SUITE_P(Profile, ReadFormat, testing::ValuesIn(kReadCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

TEST(ProfileHolds, TrueOnlyWhenNoEntryWouldChange) {
  test::TempDir dir;
  const std::string file = (dir / "h.txt").string();
  test::writeFile(file,
                  "[Pesagem.WS2]\r\nPeso=2\r\n[pesagem.ws1]\r\n ativo = 1 \r\nPeso=\"12.5\"\r\n");
  struct Case {
    const char* section;
    const char* ativo;
    const char* peso;
    bool holds;
  };
  for (const Case& c :
       {Case{"Pesagem.WS1", "1", "\"12.5\"", true}, Case{" PESAGEM.WS1 ", "1", "\"12.5\"", true},
        Case{"\tPesagem.WS1\x1A", "1", "\"12.5\"", true},
        Case{"Pesagem.WS1", "1", "12.5", false},  // the quotes are part of it
        Case{"Pesagem.WS1", "2", "\"12.5\"", false}, Case{"Pesagem.WS3", "1", "2", false},
        Case{"Pesagem.WS1", "1\r\n", "\"12.5\"", false}}) {
    const std::array<ProfileEntry, 2> entries{{{"Ativo", c.ativo}, {"Peso", c.peso}}};
    EXPECT_EQ(profileHolds(c.section, entries, file), c.holds) << c.section << " " << c.peso;
  }
  const std::array<ProfileEntry, 1> one{{{"Peso", "2"}}};
  EXPECT_FALSE(profileHolds("Pesagem.WS2", one, (dir / "missing.txt").string()));
}

}  // namespace
}  // namespace quorvel
