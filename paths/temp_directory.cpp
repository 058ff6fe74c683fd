#include "paths/temp_directory.h"

#include <windows.h>

bool temp_directory(wchar_t* directory, size_t capacity) {
  // A size it needs (larger than the buffer) is as much a failure as 0.
  const DWORD length = GetTempPathW(static_cast<DWORD>(capacity), directory);
  if (length == 0 || length >= capacity) {
    directory[0] = L'\0';
    return false;
  }
  // A folder's path ends without a backslash, so that "{TEMP}\name" has
  // exactly one.
  for (DWORD end = length; end > 0 && directory[end - 1] == L'\\';) directory[--end] = L'\0';
  return true;
}
