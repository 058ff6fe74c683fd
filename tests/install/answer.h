// The number in data\answer.txt beside the file `beside` (a full path), or a
// code above 200 that says what went wrong: both of the outside project's
// apps prove with it that the payload carried the data file.
#pragma once

#include <stdio.h>
#include <wchar.h>

inline int read_answer(const wchar_t* beside) {
  wchar_t path[1024];
  if (wcslen(beside) >= 1000) return 200;
  wcscpy(path, beside);
  wchar_t* slash = wcsrchr(path, L'\\');
  if (!slash) return 201;
  wcscpy(slash + 1, L"data\\answer.txt");
  FILE* file = _wfopen(path, L"r");
  if (!file) return 202;
  int answer = 0;
  if (fscanf(file, "%d", &answer) != 1) answer = 203;
  fclose(file);
  return answer;
}
