#include <gtest/gtest.h>

#include "packer/resources/resources.h"

namespace onefile_resources {
namespace {

std::string check_error(const std::string& text) {
  try {
    check_version_text("--product", text);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

TEST(CheckVersionText, AcceptsPrintableUnicodeUpToTheLimit) {
  for (const char* text : {"", "ACME Tools", "Grüße & \"Söhne\" \\ 1.0", "€ 𝄞 日本"}) {
    EXPECT_EQ(check_error(text), "") << text;
  }
  EXPECT_EQ(check_error(std::string(255, 'a')), "");
  // Characters outside the basic plane take two UTF-16 units each.
  std::string clefs;
  for (int i = 0; i < 127; ++i) clefs += "𝄞";
  EXPECT_EQ(check_error(clefs), "");
  EXPECT_EQ(check_error(clefs + "a"), "");
  EXPECT_EQ(check_error(clefs + "𝄞"),
            "--product: the text is longer than 255 UTF-16 units (a character beyond U+FFFF counts as two), which the version resource cannot hold");
  EXPECT_EQ(check_error(std::string(256, 'a')),
            "--product: the text is longer than 255 UTF-16 units (a character beyond U+FFFF counts as two), which the version resource cannot hold");
}

TEST(CheckVersionText, RejectsControlCharactersAndBadUtf8) {
  const std::string control = "--product: the text has a control character (";
  const std::string cannot = "), which the version resource cannot hold";
  EXPECT_EQ(check_error("a\nb"), control + "U+000A" + cannot);
  EXPECT_EQ(check_error(std::string("a\0b", 3)), control + "U+0000" + cannot);
  EXPECT_EQ(check_error("\x7f"), control + "U+007F" + cannot);
  EXPECT_EQ(check_error("\xc2\x85"), control + "U+0085" + cannot);
  EXPECT_EQ(check_error("\xe2\x80\xa8"), control + "U+2028" + cannot);
  for (const char* bad : {"\xff", "caf\xe9", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82"}) {
    EXPECT_EQ(check_error(bad), "--product: the text is not valid UTF-8");
  }
}

TEST(ParseNumericVersion, TakesOneToFourNumbersOrNothing) {
  const std::pair<const char*, std::vector<uint16_t>> cases[] = {
      {"1.2.3.4", {1, 2, 3, 4}},   {"7", {7, 0, 0, 0}},
      {"2.5", {2, 5, 0, 0}},       {"65535.0.0.1", {65535, 0, 0, 1}},
      {"010.2", {10, 2, 0, 0}},    {"", {0, 0, 0, 0}},
      {"1.2.3.4.5", {0, 0, 0, 0}}, {"65536", {0, 0, 0, 0}},
      {"1.0-beta", {0, 0, 0, 0}},  {"v1.0", {0, 0, 0, 0}},
      {"1..2", {0, 0, 0, 0}},      {"1.2.", {0, 0, 0, 0}},
      {".1", {0, 0, 0, 0}},        {"99999999999", {0, 0, 0, 0}},
      {"1. 2", {0, 0, 0, 0}},
  };
  for (const auto& [text, expected] : cases) {
    NumericVersion v = parse_numeric_version(text);
    EXPECT_EQ(std::vector<uint16_t>(v.part, v.part + 4), expected) << text;
  }
}

}  // namespace
}  // namespace onefile_resources
