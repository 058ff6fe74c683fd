// fail_message for the payload reader's host tests: as the launcher's, the
// line on standard output, then exit code 2.
#include <cstdio>
#include <cstdlib>

#include "diag/fail_message.h"
#include "diag/messages.h"

void fail_message(const char* text) {
  std::puts(text);
  std::exit(kFatalExitCode);
}
