#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <limits>

#include "capture/state/cp1252.hpp"
#include "capture/state/state.hpp"

namespace quorvel {
namespace {

TEST(CaptureState, StartsEmptyWithDivisorTen) {
  const CaptureState s;
  EXPECT_EQ(s.V_DIVISOR, 10);
  EXPECT_EQ(s.V_TAM, 0u);
  EXPECT_EQ(s.V_PESO, Decimal{});
  EXPECT_EQ(s.RETCODE, 0);
  EXPECT_EQ(s.FLAG_ABERTA, 0);
  EXPECT_EQ(s.V_PORTA, 0);
  EXPECT_EQ(s.V_VELOCIDADE, 0);
  EXPECT_EQ(s.WINDOWOPENED + s.WINDOWINITIALIZED + s.V_ERRO + s.WHANDLE, 0);
  for (const Text* t : {&s.V_NOME_CPD, &s.STRLEITURA, &s.V_BUFFER, &s.V_PASTA, &s.V_BALANCA})
    EXPECT_TRUE(t->empty());
  EXPECT_EQ(s.V_NOME_CPD.maxLength(), 50u);
  EXPECT_EQ(s.V_BUFFER.maxLength(), 254u);
  EXPECT_EQ(s.V_PASTA.maxLength(), 254u);
  EXPECT_EQ(s.V_BALANCA.maxLength(), 29u);
}

TEST(Text, KeepsFirstBytesUpToCapacityLessOne) {
  Text t(30);
  t = std::string(40, 'x') + "y";
  EXPECT_EQ(t.view(), std::string(29, 'x'));
  t = std::string_view("ab\0cd", 5);
  EXPECT_EQ(t.view(), "ab");
  t = "Balan\xE7" "a";  // bytes pass through unchanged
  EXPECT_EQ(t.view(), "Balan\xE7" "a");

  Text small(3);
  EXPECT_TRUE(small.append('1'));
  EXPECT_TRUE(small.append('2'));
  EXPECT_FALSE(small.append('3'));
  EXPECT_EQ(small.view(), "12");
}

TEST(Text, NamesCompareExactlyButForTrailingSpaces) {
  EXPECT_TRUE(sameName("TOL   ", "TOL"));
  EXPECT_FALSE(sameName("tol", "TOL"));
  EXPECT_FALSE(sameName(" TOL", "TOL"));
  EXPECT_TRUE(sameName("   ", ""));
}

struct ParseCase {
  const char* name;
  const char* text;
  std::int64_t thousandths;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
  *os << c.name;
}

class DecimalParse : public testing::TestWithParam<ParseCase> {};

TEST_P(DecimalParse, GivesExactThousandths) {
  EXPECT_EQ(Decimal::parse(GetParam().text).thousandths(), GetParam().thousandths)
      << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecimalParse,
    testing::Values(
        ParseCase{"Digits", "001234", 1'234'000}, ParseCase{"LeadingSpaces", "  12.5", 12'500},
        ParseCase{"SpacesBetweenDigits", "1 2 3", 123'000},
        ParseCase{"SignAndDecimalComma", "-0012,5", -12'500}, ParseCase{"PlusSign", "+7", 7'000},
        ParseCase{"NoWholePart", ".5", 500}, ParseCase{"NoDecimals", "3.", 3'000},
        ParseCase{"FourthDecimalFiveRoundsUp", "0.0005", 1},
        ParseCase{"BelowHalfRoundsDown", "0.0004999", 0},
        ParseCase{"NegativeRoundsAwayFromZero", "-0.0005", -1},
        ParseCase{"FifteenDigits", "999999999999.999", 999'999'999'999'999},
        // no number: 0
        ParseCase{"Empty", "", 0}, ParseCase{"Blank", "   ", 0}, ParseCase{"SignAlone", "-", 0},
        ParseCase{"MarkAlone", ".", 0}, ParseCase{"Letter", "12a", 0},
        ParseCase{"TwoMarks", "1.2.3", 0}, ParseCase{"TrailingSign", "1-", 0},
        ParseCase{"TwoSigns", "--1", 0}, ParseCase{"Exponent", "1e3", 0},
        ParseCase{"ThirteenWholeDigits", "1000000000000", 0},
        ParseCase{"RoundsPastFifteenDigits", "999999999999.9995", 0},
        ParseCase{"ControlCharacter", "\00212", 0}),
    [](const auto& p) { return std::string(p.param.name); });

struct QuotientCase {
  const char* name;
  const char* text;
  std::int32_t divisor;
  std::int64_t thousandths;
};

void PrintTo(const QuotientCase& c, std::ostream* os) {
  *os << c.name;
}

class DecimalQuotient : public testing::TestWithParam<QuotientCase> {};

TEST_P(DecimalQuotient, DividesTheExactNumberAndRoundsOnce) {
  const QuotientCase& c = GetParam();
  EXPECT_EQ(Decimal::parseDivided(c.text, c.divisor).thousandths(), c.thousandths)
      << '"' << c.text << "\" / " << c.divisor;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecimalQuotient,
    testing::Values(QuotientCase{"Reading", "001234", 10, 123'400},
                    QuotientCase{"ByOne", "001500", 1, 1'500'000},
                    QuotientCase{"Thirds", "1", 3, 333}, QuotientCase{"TwoThirds", "2", 3, 667},
                    // The text keeps all its decimals until the one rounding.
                    QuotientCase{"FourDecimals", "1.2345", 10, 123},
                    QuotientCase{"FourDecimalsAboveHalf", "1.2355", 10, 124},
                    QuotientCase{"ExactHalfRoundsUp", "1.235", 10, 124},
                    QuotientCase{"ExactHalfNegative", "-1.235", 10, -124},
                    QuotientCase{"HalfOfTheLastPlace", "0.001", 2, 1},
                    QuotientCase{"NegativeHalf", "-0.001", 2, -1},
                    QuotientCase{"NegativeDivisor", "0.001", -2, -1},
                    QuotientCase{"ManyDecimalsJustAboveHalf", "0.00150000001", 3, 1},
                    QuotientCase{"ManyDecimalsJustBelowHalf", "0.00149999999", 3, 0},
                    QuotientCase{"FifteenDigitsByTheLeastDivisor", "999999999999.999",
                                 std::numeric_limits<std::int32_t>::min(), -465'661},
                    QuotientCase{"TooLargeToDivide", "1000000000000", 1000, 0},
                    QuotientCase{"DivisorZero", "5", 0, 0},
                    QuotientCase{"NoNumber", "abc", 10, 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Decimal, WritesTextInEveryLocale) {
  std::setlocale(LC_ALL,
                 "pt_BR.UTF-8");  // decimal comma where installed; the texts must not change
  struct Case {
    std::int64_t t;
    const char* fixed;
    const char* shortest;
  };
  for (const Case& c :
       {Case{123'400, "123.400", "123.4"}, Case{1'500'000, "1500.000", "1500"},
        Case{-12'500, "-12.500", "-12.5"}, Case{1, "0.001", "0.001"}, Case{0, "0.000", "0"},
        Case{Decimal::kMaxThousandths, "999999999999.999", "999999999999.999"}}) {
    const auto v = Decimal::fromThousandths(c.t);
    EXPECT_EQ(v.toString(), c.fixed);
    EXPECT_EQ(v.toShortestText(), c.shortest);
    const std::string text = v.toShortestText();
    double back = 0;
    std::from_chars(text.data(), text.data() + text.size(), back);
    EXPECT_EQ(back, v.toDouble());
  }
  EXPECT_EQ(Decimal::fromThousandths(12'500).toString(','), "12,500");
  std::setlocale(LC_ALL, "C");
}

TEST(Cp1252, RoundTripsEveryByteAndRefusesWhatItCannotHold) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(cp1252::fromUtf8(cp1252::toUtf8(all)), all);
  EXPECT_EQ(cp1252::toUtf8("Configura\xE7\xE3o"), "Configuração");
  EXPECT_EQ(cp1252::fromUtf8("Balança"),
            "Balan\xE7"
            "a");
  EXPECT_EQ(cp1252::fromUtf8("€"), "\x80");
  EXPECT_EQ(cp1252::fromUtf8("Ω"), std::nullopt);     // not in the page
  EXPECT_EQ(cp1252::fromUtf8("😀"), std::nullopt);     // four-byte sequence
  EXPECT_EQ(cp1252::fromUtf8("\xC3"), std::nullopt);  // cut sequence
  EXPECT_EQ(cp1252::fromUtf8("\xE2\x82"), std::nullopt);
}

}  // namespace
}  // namespace quorvel
