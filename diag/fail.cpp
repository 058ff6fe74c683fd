#include "diag/fail.h"

#include <cstdio>
#include <cstdlib>

#include "diag/messages.h"

void (*g_before_fatal_stop)() = nullptr;

namespace {

void before_fatal_stop() {
  if (g_before_fatal_stop) g_before_fatal_stop();
}

}  // namespace

void fail_message(const char* text) {
  before_fatal_stop();
  puts(text);
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
  exit(kFatalExitCode);
}

void fail_template(const wchar_t* path_template) {
  before_fatal_stop();
  fprintf(stderr, msg::kTemplateFormat, path_template);
  abort();
}

void fail_open_for_writing(const wchar_t* path) {
  before_fatal_stop();
  fprintf(stderr, msg::kOpenForWritingFormat, path);
  exit(kFatalExitCode);
}
