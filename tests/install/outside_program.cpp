// The outside project's program main: its exit code is the number in the
// data file beside it plus the one after its fixed argument "--plus", so a
// run proves that the payload carried the file, that the packed arguments
// reached the program exactly as written and that its exit code became the
// launcher's.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "answer.h"

int main(int argc, char** argv) {
  // The fixed arguments as the CMake call wrote them: after "--plus" and its
  // number an empty one, one with a semicolon, one ending in a backslash and
  // one that would close a bracket argument.
  const char* const fixed[] = {"--plus", nullptr, "", "a;b", "C:\\dir\\", "]]"};
  bool as_written = argc == 7;
  for (int i = 1; as_written && i < argc; ++i)
    as_written = !fixed[i - 1] || strcmp(argv[i], fixed[i - 1]) == 0;
  if (!as_written) {
    for (int i = 1; i < argc; ++i) printf("argument %d: [%s]\n", i, argv[i]);
    return 210;
  }
  wchar_t self[1024];
  const DWORD length = GetModuleFileNameW(nullptr, self, 1024);
  if (length == 0 || length >= 1024) return 211;
  const int answer = read_answer(self) + atoi(argv[2]);
  printf("outside program: %d\n", answer);
  return answer;
}
