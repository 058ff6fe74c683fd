// The outside project's main library: its exit code is the number in the
// data file shipped beside it, so a run proves that the payload carried the
// file and that run_code's result became the launcher's exit code.
#include <vorlan-onefile/run_code.h>

#include "answer.h"

ONEFILE_RUN_CODE {
  (void)argc;
  (void)argv;
  const int answer = read_answer(library_path);
  wprintf(L"outside app: %d\n", answer);
  return answer;
}
