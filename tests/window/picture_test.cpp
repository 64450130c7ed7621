#include "platform/window/picture.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace quorvel {
namespace {

struct ParseCase {
  const char* text;
  bool valid;
  Picture::Kind kind = Picture::Kind::Text;
  int width = 0;
  int decimals = 0;
};

TEST(Picture, ParsesTheThreeFormsAndNothingElse) {
  using K = Picture::Kind;
  const ParseCase cases[] = {
      {"s50", true, K::Text, 50},
      {"s254", true, K::Text, 254},
      {"n15`3", true, K::Number, 15, 3},
      {"n1", true, K::Number, 1},
      {"n4", true, K::Number, 4},
      {"", false},
      {"s", false},
      {"s0", false},
      {"x5", false},
      {"S5", false},
      {"n-4", false},
      {"n4 ", false},
      {"n15`", false},
      {"n15`0", false},
      {"n3`2", false},
      {"s5`2", false},
      {"n15,3", false},
      {"s12345", false},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<Picture> p = Picture::parse(c.text);
    ASSERT_EQ(p.has_value(), c.valid);
    if (!p) continue;
    EXPECT_EQ(p->kind, c.kind);
    EXPECT_EQ(p->width, c.width);
    EXPECT_EQ(p->decimals, c.decimals);
  }
}

// One field of each bound type, with known values.
struct Fields {
  Text text{51};
  Decimal weight;
  std::int32_t i32 = 7;
  std::uint32_t u32 = 7;
  std::uint8_t u8 = 7;

  FieldRef ref(char which) {
    switch (which) {
      case 't':
        return &text;
      case 'd':
        return &weight;
      case 'i':
        return &i32;
      case 'u':
        return &u32;
      default:
        return &u8;
    }
  }
  // The field's value as plain text, independently of any picture.
  std::string value(char which) const {
    switch (which) {
      case 't':
        return std::string(text.view());
      case 'd':
        return std::to_string(weight.thousandths());
      case 'i':
        return std::to_string(i32);
      case 'u':
        return std::to_string(u32);
      default:
        return std::to_string(u8);
    }
  }
};

struct FormatCase {
  const char* picture;
  char field;
  std::int64_t number;  // thousandths for the weight
  const char* text;     // for the text field
  const char* shown;
};

TEST(Picture, FormatsFieldsThroughThePicture) {
  const FormatCase cases[] = {
      {"s50", 't', 0, "PC-01", "PC-01"},
      {"s254", 't', 0,
       "Balan\xE7"
       "a ",
       "Balan\xE7"
       "a "},
      {"n15`3", 'd', 12'500, "", "12,500"},
      {"n15`3", 'd', 0, "", "0,000"},
      {"n15`3", 'd', -1'500, "", "-1,500"},
      {"n15`3", 'd', 1'234'567'890, "", "1234567,890"},  // no grouping
      {"n5`1", 'd', 12'350, "", "12,4"},                 // half away from zero
      {"n5`1", 'd', -12'350, "", "-12,4"},
      {"n5`1", 'd', 12'349, "", "12,3"},
      {"n6`4", 'd', 12'500, "", "12,5000"},
      {"n4", 'd', 12'500, "", "13"},
      {"n4", 'i', 9600, "", "9600"},
      {"n4", 'i', 19200, "", "19200"},  // wider than the picture: whole
      {"n4", 'i', -5, "", "-5"},        // negative: with its sign
      {"n2", 'u', 254, "", "254"},
      {"n1", '8', 3, "", "3"},
      {"n5`2", 'i', 42, "", "42,00"},
      {"s10", 'i', 42, "", "42"},
      {"s10", 'd', 12'500, "", "12,500"},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(std::string(c.picture) + " " + c.shown);
    Fields f;
    f.text = c.text;
    f.weight = Decimal::fromThousandths(c.number);
    f.i32 = static_cast<std::int32_t>(c.number);
    f.u32 = static_cast<std::uint32_t>(c.number);
    f.u8 = static_cast<std::uint8_t>(c.number);
    EXPECT_EQ(Picture::parse(c.picture)->format(f.ref(c.field)), c.shown);
  }
}

struct StoreCase {
  const char* picture;
  char field;
  const char* input;
  bool accepted;
  const char* value;  // the field afterwards, as Fields::value gives it
};

template <std::size_t N>
void expectStores(const StoreCase (&cases)[N]) {
  for (const StoreCase& c : cases) {
    SCOPED_TRACE(std::string(c.picture) + " <- '" + c.input + "'");
    Fields f;
    f.text = "old";
    ASSERT_EQ(Picture::parse(c.picture)->store(c.input, f.ref(c.field)), c.accepted);
    EXPECT_EQ(f.value(c.field), c.value);
  }
}

TEST(Picture, StoresAdmittedInput) {
  const StoreCase cases[] = {
      {"s5", 't', "abcdefg", true, "abcde"},
      {"s50", 't', "", true, ""},
      {"s50", 't', "  PC ", true, "  PC "},
      {"s50", 't',
       "Balan\xE7"
       "a",
       true,
       "Balan\xE7"
       "a"},
      {"n4", 'i', "9600", true, "9600"},
      {"n4", 'i', " 12 ", true, "12"},
      {"n4", 'i', "0012", true, "12"},
      {"n4", 'i', "", true, "0"},
      {"n4", 'i', "   ", true, "0"},
      {"n1", '8', "9", true, "9"},
      {"n4", '8', "255", true, "255"},
      {"n2", 'u', "54", true, "54"},
      {"n15`3", 'd', "12,5", true, "12500"},
      {"n15`3", 'd', "12", true, "12000"},
      {"n15`3", 'd', ",5", true, "500"},
      {"n15`3", 'd', "12,", true, "12000"},
      {"n15`3", 'd', "99999999999,999", true, "99999999999999"},
      {"n8`4", 'd', "1,0005", true, "1001"},  // rounded to the field's thousandths
      {"n4", 't', " 0042 ", true, "0042"},
      {"s3", 'i', "12", true, "12"},
  };
  expectStores(cases);
}

TEST(Picture, RefusesInputThePictureDoesNotAdmitAndKeepsTheField) {
  const StoreCase cases[] = {
      {"n4", 'i', "a", false, "7"},
      {"n4", 'i', "12a", false, "7"},
      {"n4", 'i', "1 2", false, "7"},
      {"n4", 'i', "-5", false, "7"},
      {"n4", 'i', "+5", false, "7"},
      {"n4", 'i', "12345", false, "7"},  // more digits than positions
      {"n4", 'i', "1,5", false, "7"},    // no decimals in the picture
      {"n1", '8', "10", false, "7"},
      {"n4", '8', "256", false, "7"},  // more than the field's type holds
      {"n12", 'i', "99999999999", false, "7"},
      {"n15`3", 'd', "12,3456", false, "0"},
      {"n15`3", 'd', "12.5", false, "0"},  // the mark is the comma
      {"n15`3", 'd', ",", false, "0"},
      {"n15`3", 'd', "1,2,3", false, "0"},
      {"n15`3", 'd', "999999999999", false, "0"},
      {"n4", 't', "x", false, "old"},
      {"s3", 'i', "abc", false, "7"},
  };
  expectStores(cases);
}

}  // namespace
}  // namespace quorvel
