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
            "--product: the text is longer than 255 characters, which the version resource cannot hold");
  EXPECT_EQ(check_error(std::string(256, 'a')),
            "--product: the text is longer than 255 characters, which the version resource cannot hold");
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

TEST(ResourceScript, EscapesEverythingButPlainAscii) {
  ResourceTexts texts{"Caf\xc3\xa9 1\"\xe2\x82\xac", "A\\B?", "1.0-beta", ""};
  std::string script = make_resource_script(texts, "i.ico", "m.manifest");
  EXPECT_NE(script.find("VALUE \"CompanyName\", L\"Caf\\x00e9 1\\x0022\\x20ac\"\n"), std::string::npos) << script;
  EXPECT_NE(script.find("VALUE \"ProductName\", L\"A\\x005cB\\x003f\"\n"), std::string::npos);
  EXPECT_NE(script.find("FILEVERSION 0, 0, 0, 0\n"), std::string::npos);
  EXPECT_EQ(script.find("OriginalFilename"), std::string::npos);
  for (char c : script) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << int(c);

  texts.company = "\xf0\x9d\x84\x9e";  // U+1D11E, a surrogate pair
  texts.original_filename = "app.exe";
  script = make_resource_script(texts, "i.ico", "m.manifest");
  EXPECT_NE(script.find("L\"\\xd834\\xdd1e\""), std::string::npos);
  EXPECT_NE(script.find("VALUE \"OriginalFilename\", L\"app.exe\""), std::string::npos);
}

}  // namespace
}  // namespace onefile_resources
