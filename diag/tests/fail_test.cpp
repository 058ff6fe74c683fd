// The reporters are run in a fresh copy of this binary, so the tests see the
// exact bytes on each stream and the exit code.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "diag/fail.h"
#include "diag/messages.h"
#include "diag/system_text.h"
#include "tests/support/process.h"

using onefile_test::run_mode;

ONEFILE_TEST_MODE(fail_message) { fail_message(msg::kHeader); }
ONEFILE_TEST_MODE(fail_system) {
  fail_system(msg::kLoadDll, std::wcstoul(args.at(0).c_str(), nullptr, 0), args.size() > 1 ? args[1].c_str() : nullptr);
}
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

// ERROR_BAD_EXE_FORMAT's text names the file (%1): the path the failed call
// had fills it; without one nothing stands in its place.
TEST(FailSystem, FillsTheSystemTextsInsertWithThePath) {
  auto r = run_mode(L"fail_system", {L"193", L"C:\\t\\x.dll"});
  EXPECT_EQ(r.exit_code, 2u);
  EXPECT_EQ(r.err.rfind("Error, load DLL. ([Error 193] ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("C:\\t\\x.dll"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('%'), std::string::npos) << r.err;
  r = run_mode(L"fail_system", {L"193"});
  EXPECT_EQ(r.err.find('%'), std::string::npos) << r.err;

  char text[256];
  system_text(193, L"C:\\t\\x.dll", text, sizeof text);
  EXPECT_NE(std::string(text).find("C:\\t\\x.dll"), std::string::npos) << text;
  system_text(0xE0000001, nullptr, text, sizeof text);
  EXPECT_STREQ(text, "");
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
  // The box's wide texts go through the same trim, which says what is left.
  wchar_t wide[] = L"Access denied.\r\n";
  EXPECT_EQ(trim_line_breaks(wide, wcslen(wide)), 14u);
  EXPECT_STREQ(wide, L"Access denied.");
}

namespace {

// Stands for a windowed launcher's box: each call is one line on standard
// error, after the clean-up's line.
void record_box(const FatalMessage& message) {
  fprintf(stderr, "box: %ls|%ld|%s\n", message.line, message.code ? static_cast<long>(*message.code) : -1L,
          message.stream == STD_OUTPUT_HANDLE ? "stdout" : "stderr");
}

void record_clean_up() { fputs("clean-up\n", stderr); }

void with_box(void (*fail)()) {
  g_show_fatal_message = record_box;
  g_before_fatal_stop = record_clean_up;
  signal(SIGABRT, report_abort);
  fail();
}

}  // namespace

ONEFILE_TEST_MODE(box_message) { with_box([] { fail_message(msg::kHeader); }); return 0; }
ONEFILE_TEST_MODE(box_system) { with_box([] { fail_system(msg::kWrite, 0xE0000001); }); return 0; }
ONEFILE_TEST_MODE(box_open) { with_box([] { fail_open_for_writing(L"C:\\t\\x.dll"); }); return 0; }
ONEFILE_TEST_MODE(box_template) { with_box([] { fail_template(L"{TEMP}\\x"); }); return 0; }
ONEFILE_TEST_MODE(box_abort) { with_box([] { abort(); }); return 0; }

TEST(FatalMessageBox, ComesOnceAfterTheCleanUpAndTheStreamsWithTheSameText) {
  struct Case {
    const wchar_t* mode;
    DWORD exit_code;
    const char* err;  // everything on standard error
  } const cases[] = {
      // The box knows the stream the line went to.
      {L"box_message", 2, "clean-up\nbox: Error, couldn't find attached data header.|-1|stdout\n"},
      {L"box_system", 2,
       "clean-up\nError, couldn't unpack file to target path. ([Error -536870911] )\nbox: Error, couldn't unpack "
       "file to target path.|-536870911|stderr\n"},
      {L"box_open", 2,
       "clean-up\nError, failed to open 'C:\\t\\x.dll' for writing.\nbox: Error, failed to open 'C:\\t\\x.dll' for "
       "writing.|-1|stderr\n"},
      // The abort that ends a template failure neither cleans up nor shows
      // a second box.
      {L"box_template", 3,
       "clean-up\nError, couldn't runtime expand spec '{TEMP}\\x'.\nbox: Error, couldn't runtime expand spec "
       "'{TEMP}\\x'.|-1|stderr\n"},
      // A violated bound says so on standard error too.
      {L"box_abort", 3,
       "clean-up\nError, a path or text was longer than the launcher can handle.\nbox: Error, a path or text was "
       "longer than the launcher can handle.|-1|stderr\n"},
  };
  for (const Case& c : cases) {
    auto r = run_mode(c.mode);
    EXPECT_EQ(r.exit_code, c.exit_code) << onefile_test::narrow(c.mode);
    // The runtime's own abort text may follow on standard error.
    EXPECT_EQ(r.err.substr(0, strlen(c.err)), c.err) << onefile_test::narrow(c.mode);
  }
}
