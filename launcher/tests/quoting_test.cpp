// The child command line, checked as literal text: under Wine the system's
// own parser is Wine's, so a round trip alone would prove little.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include "launcher/command_line.h"
#include "payload/stored_payload.h"
#include "tests/support/process.h"

static const unsigned char kPayload[] = {'V', 'O', 'Y'};
extern "C" {
const unsigned char* const onefile_payload = kPayload;
const unsigned long long onefile_payload_size = 3;
}

namespace {
std::wstring quoted(const wchar_t* argument) {
  wchar_t buffer[kCommandLineCapacity];
  buffer[0] = L'\0';
  const wchar_t* end = append_argument(buffer, buffer + kCommandLineCapacity, argument);
  EXPECT_EQ(static_cast<size_t>(end - buffer), wcslen(buffer));
  return buffer;
}
}  // namespace

TEST(AppendArgument, QuotesAsTheTableSays) {
  EXPECT_EQ(quoted(L"abc"), L"abc");
  EXPECT_EQ(quoted(L"C:\\dir\\"), L"C:\\dir\\");
  EXPECT_EQ(quoted(L"a b"), L"\"a b\"");
  EXPECT_EQ(quoted(L"a\"b"), L"\"a\\\"b\"");
  EXPECT_EQ(quoted(L"C:\\x y\\"), L"\"C:\\x y\\\\\"");
  EXPECT_EQ(quoted(L"a\\\\\"b c"), L"\"a\\\\\\\\\\\"b c\"");
  EXPECT_EQ(quoted(L"a\\b c"), L"\"a\\b c\"");
  EXPECT_EQ(quoted(L"tab\there"), L"\"tab\there\"");
  EXPECT_EQ(quoted(L"line\nfeed"), L"\"line\nfeed\"");
  EXPECT_EQ(quoted(L"v\vtab"), L"\"v\vtab\"");
  // The empty argument is kept, so the child still receives it.
  EXPECT_EQ(quoted(L""), L"\"\"");
}

TEST(AppendArgument, SystemParserGivesEveryArgumentBack) {
  const wchar_t* arguments[] = {L"plain", L"two words", L"q\"uote", L"end\\", L"x y\\\\", L"\\\\\"",
                                L"",      L"\t",        L"\u00e9t\u00e9 \u4e2d"};
  std::wstring line = L"prog.exe";
  for (const wchar_t* a : arguments) line += L" " + quoted(a);
  int count = 0;
  wchar_t** parsed = CommandLineToArgvW(line.c_str(), &count);
  ASSERT_NE(parsed, nullptr);
  ASSERT_EQ(count, 1 + static_cast<int>(std::size(arguments)));
  for (size_t i = 0; i < std::size(arguments); ++i) EXPECT_EQ(std::wstring(parsed[i + 1]), arguments[i]) << i;
  LocalFree(parsed);
}

namespace {
std::vector<std::wstring> split(const wchar_t* command_line) {
  std::vector<std::wstring> texts;
  for (const CommandLineArgument& a : split_command_line(command_line)) texts.push_back(a.text);
  return texts;
}
using Texts = std::vector<std::wstring>;
}  // namespace

TEST(SplitCommandLine, SplitsAsTheTableSays) {
  EXPECT_EQ(split(L"prog a  b"), (Texts{L"prog", L"a", L"b"}));
  EXPECT_EQ(split(L"\"C:\\x y\\p.exe\" a"), (Texts{L"C:\\x y\\p.exe", L"a"}));
  EXPECT_EQ(split(L"\"C:\\x y\"\\p.exe"), (Texts{L"C:\\x y", L"\\p.exe"}));
  EXPECT_EQ(split(L"p a\\\\b"), (Texts{L"p", L"a\\\\b"}));
  EXPECT_EQ(split(L"p a\\\\\"b c\""), (Texts{L"p", L"a\\b c"}));
  EXPECT_EQ(split(L"p a\\\"b"), (Texts{L"p", L"a\"b"}));
  EXPECT_EQ(split(L"p a\\\\\\\"b"), (Texts{L"p", L"a\\\"b"}));
  EXPECT_EQ(split(L"p \"a \"\"b\""), (Texts{L"p", L"a \"b"}));
  EXPECT_EQ(split(L"p \"a \"\"b c\""), (Texts{L"p", L"a \"b", L"c"}));
  EXPECT_EQ(split(L"p \"\"\"a\"\"\""), (Texts{L"p", L"\"a\""}));
  EXPECT_EQ(split(L"p \"\" x"), (Texts{L"p", L"", L"x"}));
  EXPECT_EQ(split(L"p \"\""), (Texts{L"p", L""}));
  EXPECT_EQ(split(L"p\t a\t"), (Texts{L"p", L"a"}));
  EXPECT_EQ(split(L"p \"open"), (Texts{L"p", L"open"}));
  EXPECT_EQ(split(L""), (Texts{L""}));
  EXPECT_EQ(split(L"   a"), (Texts{L"", L"a"}));
  // A quote counts even when it adds no text; an escaped one does not.
  const auto quoted = split_command_line(L"\"p\" a \"b\" \"\" \\\"c\\\" d\"\"e");
  ASSERT_EQ(quoted.size(), 6u);
  EXPECT_TRUE(quoted[0].quoted);
  EXPECT_FALSE(quoted[1].quoted);
  EXPECT_TRUE(quoted[2].quoted);
  EXPECT_TRUE(quoted[3].quoted);
  EXPECT_FALSE(quoted[4].quoted);
  EXPECT_TRUE(quoted[5].quoted);
  EXPECT_EQ(quoted[4].text, L"\"c\"");
  EXPECT_EQ(quoted[5].text, L"de");
}

// The system's own parser (Wine's here) agrees, also where the rules are
// least known: runs of quotes inside and outside quotes, backslashes before
// them, argument 0 quoted and not.
TEST(SplitCommandLine, AgreesWithTheSystemsParser) {
  const wchar_t* const lines[] = {
      L"prog a b",          L"\"pro g\" \"a b\" c",  L"p \"\"\"\"",         L"p \"\"\"\"\"",
      L"p a\"\"b",          L"p \"a\"\"b\"",         L"p \"a\"\"\"b\"",     L"p \\\\\"a b\\\\\" c",
      L"p \\\\\\\"a b",     L"p a\\\\\\\\\"b c\"",   L"\"p\"x y",           L"p \"a b\"c d",
      L"p \t\"\"\t\"\"",    L"p a\\ b\\\\ c\\",      L"p \"\"\"\"\"\"\"x",  L"p \"a\\\"\" b",
  };
  for (const wchar_t* line : lines) {
    int count = 0;
    wchar_t** parsed = CommandLineToArgvW(line, &count);
    ASSERT_NE(parsed, nullptr);
    Texts expected(parsed, parsed + count);
    LocalFree(parsed);
    EXPECT_EQ(split(line), expected) << onefile_test::narrow(line);
  }
}

// Each call goes on where the one before ended, in a buffer of the caller's:
// two command lines are built side by side.
TEST(AppendArgument, AppendsWhereTheTextEndedInTheCallersBuffer) {
  wchar_t first[64] = L"", second[64] = L"";
  wchar_t* end = append_text(first, std::end(first), L"prog");
  wchar_t* other = append_argument(second, std::end(second), L"a b");
  end = append_text(end, std::end(first), L" ");
  end = append_argument(end, std::end(first), L"x\"y");
  other = append_argument(append_text(other, std::end(second), L" "), std::end(second), L"*.c", true);
  EXPECT_STREQ(first, L"prog \"x\\\"y\"");
  EXPECT_EQ(end, first + wcslen(first));
  EXPECT_STREQ(second, L"\"a b\" \"*.c\"");
  EXPECT_EQ(other, second + wcslen(second));

  wchar_t line[64];
  end = build_child_command_line(line, std::size(line), L"C:\\a b\\app.exe", L"app.exe x \"*.txt\" *.c");
  EXPECT_EQ(end, line + wcslen(line));
  EXPECT_STREQ(line, L"\"C:\\a b\\app.exe\" x \"*.txt\" *.c");
}

// A text that exactly fills the buffer with its terminator fits; one unit
// more aborts.
ONEFILE_TEST_MODE(overlong_command_line) {
  static wchar_t buffer[kCommandLineCapacity];
  const std::wstring big(kCommandLineCapacity - 2, L'x');
  wchar_t* end = append_argument(buffer, std::end(buffer), big.c_str());
  end = append_text(end, std::end(buffer), L"y");  // exactly fills the buffer
  if (end != std::end(buffer) - 1) return 10;
  append_argument(end, std::end(buffer), L"z");  // one more unit: abort
  return 0;
}

TEST(AppendArgument, CommandLineBeyond32767UnitsAborts) {
  auto r = onefile_test::run_mode(L"overlong_command_line");
  EXPECT_EQ(r.exit_code, 3u);
}
