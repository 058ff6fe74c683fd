// The outside project's program main: its exit code is the number in the
// data file beside it plus the one after its fixed argument "--plus", so a
// run proves that the payload carried the file, that the packed arguments
// reached the program and that its exit code became the launcher's.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "answer.h"

int main(int argc, char** argv) {
  if (argc != 3 || strcmp(argv[1], "--plus") != 0) return 210;
  wchar_t self[1024];
  const DWORD length = GetModuleFileNameW(nullptr, self, 1024);
  if (length == 0 || length >= 1024) return 211;
  const int answer = read_answer(self) + atoi(argv[2]);
  printf("outside program: %d\n", answer);
  return answer;
}
