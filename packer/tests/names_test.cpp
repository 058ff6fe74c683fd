#include "packer/names.h"

#include <gtest/gtest.h>

#include "packer/pack_error.h"

using namespace onefile_pack;

TEST(Utf8ToUtf16, ConvertsEveryLength) {
  std::u16string out;
  ASSERT_TRUE(utf8_to_utf16("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", out));
  EXPECT_EQ(out, std::u16string(u"a\u00e9\u20ac\xD83D\xDE00"));
  ASSERT_TRUE(utf8_to_utf16("\xF4\x8F\xBF\xBF", out));  // U+10FFFF, the last code point
  EXPECT_EQ(out, std::u16string(u"\xDBFF\xDFFF"));
}

TEST(Utf8ToUtf16, RefusesMalformedInput) {
  std::u16string out;
  for (const char* bad : {"\xC0\x80",            // overlong NUL
                          "\xE0\x80\xAF",        // overlong slash
                          "\xED\xA0\x80",        // a surrogate code point
                          "\xF4\x90\x80\x80",    // above U+10FFFF
                          "\xE2\x82",            // truncated
                          "a\x80",               // lone continuation byte
                          "\xFF", "\xC3\x28"})   // invalid lead, bad continuation
    EXPECT_FALSE(utf8_to_utf16(bad, out)) << bad;
}

TEST(ComponentProblem, AcceptsOrdinaryNames) {
  for (const char* good : {"app.dll", "a", ".hidden", "..x", "x..y", "\xC3\xBC" "ber.txt", "console.txt", "COM10",
                           "lpt", "nul_x", "a b", "#1 [x] {y}"})
    EXPECT_EQ(component_problem(good), "") << good;
}

TEST(ComponentProblem, RefusesWhatWindowsCannotHold) {
  for (const char* bad : {"", ".", "..", "a:b", "a\\b", "tab\tx", "a?", "a*", "a<b", "a>b", "a|b", "a\"b", "a.",
                          "a ", "NUL", "nul.txt", "Com1.log", "LPT9", "aux .x", "CON", "\xFF" "x",
                          "conin$", "CONOUT$.log", "COM\xC2\xB9", "lpt\xC2\xB3.txt", "Nul .tar.gz"})
    EXPECT_NE(component_problem(bad), "") << bad;
}

TEST(FoldCase, MapsEveryUnitToUpperCaseAsWindowsDoes) {
  EXPECT_EQ(fold_case(u"abc\\\u0436.txt"), fold_case(u"ABC\\\u0416.TXT"));   // Cyrillic zhe
  EXPECT_EQ(fold_case(u"\u00e4\\x"), fold_case(u"\u00c4\\X"));                // a with diaeresis
  EXPECT_EQ(fold_case(u"\uff41"), fold_case(u"\uff21"));                      // fullwidth a
  EXPECT_EQ(fold_case(u"\u03c9"), fold_case(u"\u03a9"));                      // Greek omega
  EXPECT_NE(fold_case(u"\xD801\xDC28"), fold_case(u"\xD801\xDC00"));          // surrogates stay apart
}

TEST(ShortAlias, AliasFormBesideALongerNameItCouldStandFor) {
  struct Case {
    const char16_t* alias;
    const char16_t* sibling;
    bool refused;
  } cases[] = {
      {u"abcd~cmk.txt", u"abcdefghijkl.txt", true},
      {u"ABCDEF~1.TXT", u"abcdefghijkl.txt", true},
      {u"ab~1", u"abcdefghijkl", true},
      {u"prog~12.htm", u"program files.html", true},
      {u"abcd~cmk.txt", u"abcdefghijkl.dat", false},  // another extension
      {u"abcd~cmk.txt", u"xbcdefghijkl.txt", false},  // another first character
      {u"abcdefghi~1.txt", u"abcdefghijkl.txt", false},  // too long for an alias
      {u"abcd~.txt", u"abcdefghijkl.txt", false},   // nothing after the tilde
      {u"abcd~c-k.txt", u"abcdefghijkl.txt", false},
      {u"a~1.txt", u"a.txt", false},                // the sibling is not longer
  };
  for (const Case& c : cases)
    EXPECT_EQ(may_be_short_alias_of(c.alias, c.sibling), c.refused)
        << std::string(c.alias, c.alias + std::char_traits<char16_t>::length(c.alias));
}

TEST(PayloadName, JoinsWithBackslashesUpToTheLimit) {
  EXPECT_EQ(payload_name("a/b/c.txt", "x"), u"a\\b\\c.txt");
  EXPECT_EQ(payload_name("\xC3\xA9/d", "x"), u"\u00e9\\d");

  const std::string dirs = std::string(250, 'd') + "/" + std::string(250, 'e') + "/" + std::string(250, 'f') + "/";
  const std::string at_limit = dirs + std::string(1023 - dirs.size(), 'g');
  EXPECT_EQ(payload_name(at_limit, "x").size(), 1023u);
  EXPECT_THROW(payload_name(at_limit + "g", "x"), PackError);

  // A character outside the BMP takes two units.
  const std::string emoji = "\xF0\x9F\x98\x80";
  EXPECT_EQ(payload_name(dirs + std::string(1021 - dirs.size(), 'g') + emoji, "x").size(), 1023u);
  EXPECT_THROW(payload_name(dirs + std::string(1022 - dirs.size(), 'g') + emoji, "x"), PackError);
}

TEST(PayloadName, ErrorNamesTheFileAndTheReason) {
  try {
    payload_name("ok/bad:name.txt", "/tree/ok/bad:name.txt");
    FAIL() << "no error";
  } catch (const PackError& error) {
    EXPECT_EQ(std::string(error.what()),
              "/tree/ok/bad:name.txt: file name contains a colon, which Windows reads as a drive or stream");
  }
}

TEST(DisplayPath, EscapesWhatWouldBreakTheLine) {
  EXPECT_EQ(display_path("a\nb\xFF\xC3\xA9"), "a\\x0Ab\\xFF\xC3\xA9");
}
