#include "diag/fail.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "diag/messages.h"
#include "diag/system_text.h"

void (*g_before_fatal_stop)() = nullptr;
void (*g_show_fatal_message)(const FatalMessage& message) = nullptr;

namespace {

// Set once a reporter has cleaned up and shown its message; the abort that
// ends fail_template must not do either again.
volatile bool g_reported = false;

constexpr size_t kLineCapacity = 8192;
// A message format of messages.h, widened.
constexpr size_t kFormatCapacity = 256;

void before_fatal_stop() {
  g_reported = true;
  if (g_before_fatal_stop) g_before_fatal_stop();
}

// The line of a message format of messages.h (ASCII, printf's conversions
// mean the same to swprintf) with one argument, without its newline, for the
// box, once the line has gone to `stream`.
template <typename Argument>
void show_fatal_message(DWORD stream, const char* format, Argument argument, const DWORD* code = nullptr,
                        const wchar_t* insert = nullptr) {
  if (!g_show_fatal_message) return;
  static wchar_t wide_format[kFormatCapacity];
  size_t n = 0;
  for (; format[n] && format[n] != '\n' && n + 1 < kFormatCapacity; ++n)
    wide_format[n] = static_cast<unsigned char>(format[n]);
  wide_format[n] = L'\0';
  static wchar_t line[kLineCapacity];
  if (swprintf(line, kLineCapacity, wide_format, argument) < 0) line[kLineCapacity - 1] = L'\0';
  g_show_fatal_message({line, code, insert, stream});
}

}  // namespace

void fail_message(const char* text) {
  before_fatal_stop();
  puts(text);
  fflush(stdout);
  show_fatal_message(STD_OUTPUT_HANDLE, "%hs", text);
  exit(kFatalExitCode);
}

void fail_system(const char* text, DWORD code, const wchar_t* insert) {
  before_fatal_stop();
  static char code_text[kSystemTextCapacity];
  system_text(code, insert, code_text, kSystemTextCapacity);
  fprintf(stderr, msg::kSystemErrorFormat, text, static_cast<long>(code), code_text);
  show_fatal_message(STD_ERROR_HANDLE, "%hs", text, &code, insert);
  exit(kFatalExitCode);
}

void fail_template(const wchar_t* path_template) {
  before_fatal_stop();
  fprintf(stderr, msg::kTemplateFormat, path_template);
  show_fatal_message(STD_ERROR_HANDLE, msg::kTemplateFormat, path_template);
  abort();
}

void fail_open_for_writing(const wchar_t* path) {
  before_fatal_stop();
  fprintf(stderr, msg::kOpenForWritingFormat, path);
  show_fatal_message(STD_ERROR_HANDLE, msg::kOpenForWritingFormat, path);
  exit(kFatalExitCode);
}

void report_abort(int) {
  if (g_reported) return;
  before_fatal_stop();
  fprintf(stderr, "%s\n", msg::kBoundViolated);
  fflush(stderr);
  show_fatal_message(STD_ERROR_HANDLE, "%hs", msg::kBoundViolated);
}
