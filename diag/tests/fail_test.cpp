// The reporters are run in a fresh copy of this binary, so the tests see the
// exact bytes on each stream and the exit code.
#include <gtest/gtest.h>

#include "diag/fail.h"
#include "diag/messages.h"
#include "tests/support/process.h"

using onefile_test::run_mode;

ONEFILE_TEST_MODE(fail_message) { fail_message(msg::kHeader); }
ONEFILE_TEST_MODE(fail_system) { fail_system(msg::kLoadDll, std::wcstoul(args.at(0).c_str(), nullptr, 0)); }
ONEFILE_TEST_MODE(fail_template) { fail_template(L"{TEMP}\\onefile_{PID}"); }
ONEFILE_TEST_MODE(fail_open) { fail_open_for_writing(L"C:\\t\\x.dll"); }

TEST(FailMessage, PrintsLineOnStdoutAndExitsWith2) {
  auto r = run_mode(L"fail_message");
  EXPECT_EQ(r.exit_code, 2u);
  EXPECT_EQ(r.out, "Error, couldn't find attached data header.\n");
  EXPECT_EQ(r.err, "");
}

TEST(FailSystem, TrimsLineBreaksOfSystemText) {
  // ERROR_FILE_NOT_FOUND has a system text ending in CR LF.
  auto r = run_mode(L"fail_system", {L"2"});
  EXPECT_EQ(r.exit_code, 2u);
  EXPECT_EQ(r.out, "");
  ASSERT_EQ(r.err.rfind("Error, load DLL. ([Error 2] ", 0), 0u) << r.err;
  ASSERT_GE(r.err.size(), 3u);
  EXPECT_EQ(r.err.substr(r.err.size() - 2), ")\n");
  EXPECT_EQ(r.err.find('\r'), std::string::npos);
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1);
}

TEST(FailSystem, LargeCodesPrintNegativeAndUnknownCodesGiveEmptyText) {
  // 0xE0000001 has no system text: the line still has its shape.
  auto r = run_mode(L"fail_system", {L"0xE0000001"});
  EXPECT_EQ(r.exit_code, 2u);
  EXPECT_EQ(r.err, "Error, load DLL. ([Error -536870911] )\n");
}

TEST(FailTemplate, PrintsTemplateAndAborts) {
  auto r = run_mode(L"fail_template");
  EXPECT_EQ(r.exit_code, 3u);  // the runtime's abort status
  EXPECT_EQ(r.err.rfind("Error, couldn't runtime expand spec '{TEMP}\\onefile_{PID}'.\n", 0), 0u) << r.err;
  EXPECT_EQ(r.out, "");
}

TEST(FailOpenForWriting, PrintsPathOnStderrAndExitsWith2) {
  auto r = run_mode(L"fail_open");
  EXPECT_EQ(r.exit_code, 2u);
  EXPECT_EQ(r.err, "Error, failed to open 'C:\\t\\x.dll' for writing.\n");
  EXPECT_EQ(r.out, "");
}

TEST(TrimLineBreaks, RemovesOnlyTrailingBreaks) {
  char text[] = "Access denied.\r\n";
  trim_line_breaks(text, sizeof(text) - 1);
  EXPECT_STREQ(text, "Access denied.");
  char only_breaks[] = "\r\n\n";
  trim_line_breaks(only_breaks, sizeof(only_breaks) - 1);
  EXPECT_STREQ(only_breaks, "");
  char inner[] = "a\r\nb";
  trim_line_breaks(inner, sizeof(inner) - 1);
  EXPECT_STREQ(inner, "a\r\nb");
}
