// The child command line, checked as literal text: under Wine the system's
// own parser is Wine's, so a round trip alone would prove little.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include "launcher/launcher.h"
#include "payload/stored_payload.h"
#include "tests/support/process.h"

extern "C" {
const unsigned char onefile_payload[] = {'V', 'O', 'Y'};
const unsigned long long onefile_payload_size = 3;
}

namespace {
std::wstring quoted(const wchar_t* argument) {
  reset_child_command_line();
  append_argument(argument);
  return child_command_line();
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

ONEFILE_TEST_MODE(overlong_command_line) {
  reset_child_command_line();
  std::wstring big(32767, L'x');
  append_argument(big.c_str());  // exactly fills the buffer
  append_argument(L"y");         // one more unit: abort
  return 0;
}

TEST(AppendArgument, CommandLineBeyond32767UnitsAborts) {
  auto r = onefile_test::run_mode(L"overlong_command_line");
  EXPECT_EQ(r.exit_code, 3u);
}
