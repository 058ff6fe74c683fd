// The plain fatal reporter, declared apart from the others (diag/fail.h) so
// that code needing only this one, the payload reader, builds on any system;
// its host tests supply their own definition.
#pragma once

// `text` and a newline on standard output (puts), then exit code 2.
[[noreturn]] void fail_message(const char* text);
