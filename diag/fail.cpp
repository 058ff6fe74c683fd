#include "diag/fail.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "diag/messages.h"

void (*g_before_fatal_stop)() = nullptr;
void (*g_show_fatal_message)(const wchar_t* line, const DWORD* code) = nullptr;

namespace {

// Set once a reporter has cleaned up and shown its message; the abort that
// ends fail_template must not do either again.
volatile bool g_reported = false;

constexpr size_t kLineCapacity = 8192;

void before_fatal_stop() {
  g_reported = true;
  if (g_before_fatal_stop) g_before_fatal_stop();
}

// The line of a message format of messages.h (ASCII, printf's conversions
// mean the same to swprintf) with one argument, without its newline, for the
// box, once the line has gone to the streams.
template <typename Argument>
void show_fatal_message(const char* format, Argument argument, const DWORD* code = nullptr) {
  if (!g_show_fatal_message) return;
  static wchar_t wide_format[256];
  size_t n = 0;
  for (; format[n] && format[n] != '\n' && n + 1 < 256; ++n) wide_format[n] = static_cast<unsigned char>(format[n]);
  wide_format[n] = L'\0';
  static wchar_t line[kLineCapacity];
  if (swprintf(line, kLineCapacity, wide_format, argument) < 0) line[kLineCapacity - 1] = L'\0';
  g_show_fatal_message(line, code);
}

}  // namespace

void fail_message(const char* text) {
  before_fatal_stop();
  puts(text);
  fflush(stdout);
  show_fatal_message("%hs", text);
  exit(kFatalExitCode);
}

void trim_line_breaks(char* text, DWORD length) {
  for (DWORD i = length; i-- > 0;) {
    if (text[i] != '\r' && text[i] != '\n') break;
    text[i] = '\0';
  }
}

void fail_system(const char* text, DWORD code) {
  before_fatal_stop();
  char* system_text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
      0x0409, reinterpret_cast<char*>(&system_text), 0, nullptr);
  // The system's texts end in CR LF; the line must end right after the text.
  if (length > 0) trim_line_breaks(system_text, length);
  // With no text for the code the pointer stays unset: print an empty text.
  fprintf(stderr, msg::kSystemErrorFormat, text, static_cast<long>(code),
          length > 0 && system_text ? system_text : "");
  show_fatal_message("%hs", text, &code);
  exit(kFatalExitCode);
}

void fail_template(const wchar_t* path_template) {
  before_fatal_stop();
  fprintf(stderr, msg::kTemplateFormat, path_template);
  show_fatal_message(msg::kTemplateFormat, path_template);
  abort();
}

void fail_open_for_writing(const wchar_t* path) {
  before_fatal_stop();
  fprintf(stderr, msg::kOpenForWritingFormat, path);
  show_fatal_message(msg::kOpenForWritingFormat, path);
  exit(kFatalExitCode);
}

void report_abort(int) {
  if (g_reported) return;
  before_fatal_stop();
  show_fatal_message("%hs", msg::kBoundViolated);
}
