// The outside project's main library: its exit code is the number in the
// data file shipped beside it, so a run proves that the payload carried the
// file and that run_code's result became the launcher's exit code.
#include <vorlan-onefile/run_code.h>

#include <stdio.h>
#include <wchar.h>

ONEFILE_RUN_CODE {
  (void)argc;
  (void)argv;
  wchar_t path[1024];
  wcscpy(path, library_path);
  wchar_t* slash = wcsrchr(path, L'\\');
  if (!slash) return 200;
  wcscpy(slash + 1, L"data\\answer.txt");
  FILE* file = _wfopen(path, L"r");
  if (!file) return 201;
  int answer = 0;
  if (fscanf(file, "%d", &answer) != 1) answer = 202;
  fclose(file);
  wprintf(L"outside app: %d\n", answer);
  return answer;
}
