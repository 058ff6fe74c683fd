// The cheap check of a cache folder: its record, and a listing of each
// directory the record names.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "launcher/cache.h"
#include "paths/wide_path.h"

namespace {

using cache_record::ListedFile;

// The whole of the open `file`; false when it cannot be read.
bool read_whole_file(HANDLE file, std::vector<unsigned char>& data) {
  LARGE_INTEGER length;
  if (!GetFileSizeEx(file, &length) || length.QuadPart > 0x7fffffff) return false;
  data.resize(static_cast<size_t>(length.QuadPart));
  DWORD read = 0;
  return ReadFile(file, data.data(), static_cast<DWORD>(data.size()), &read, nullptr) && read == data.size();
}

// Orders files by directory, then by name, so that each directory's files
// form one run that its listing can be matched against.
bool listed_before(const ListedFile& x, const ListedFile& y) {
  const int directories = x.name.compare(0, x.file, y.name, 0, y.file);
  if (directories != 0) return directories < 0;
  return x.name.compare(x.file, std::wstring::npos, y.name, y.file, std::wstring::npos) < 0;
}

bool same_directory(const ListedFile& x, const ListedFile& y) {
  return x.name.compare(0, x.file, y.name, 0, y.file) == 0;
}

// The files of one directory, `first` to `end`, sorted by name: true when
// its listing holds each of them as a file of its size. One listing per
// directory instead of one query per file: a listing does not open the files,
// which on Windows every scanner would inspect.
bool directory_holds(const wchar_t* folder, const ListedFile* first, const ListedFile* end) {
  wchar_t pattern[kPathCapacity];
  bounded_join(pattern, kPathCapacity, folder, first->name.substr(0, first->file).c_str());
  bounded_append(pattern, kPathCapacity, L"*");
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(pattern, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return false;
  const auto by_name = [](const ListedFile& file, const wchar_t* name) {
    return wcscmp(file.name.c_str() + file.file, name) < 0;
  };
  size_t matched = 0;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const ListedFile* file = std::lower_bound(first, end, found.cFileName, by_name);
    if (file != end && wcscmp(file->name.c_str() + file->file, found.cFileName) == 0)
      matched += ((uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow) == file->size;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return matched == static_cast<size_t>(end - first);
}

// Whether every file of `files` is in `folder` with its size.
bool files_are_present(const wchar_t* folder, std::vector<ListedFile>& files) {
  std::sort(files.begin(), files.end(), listed_before);
  for (auto first = files.begin(); first != files.end();) {
    auto end = std::find_if_not(first, files.end(), [&](const ListedFile& f) { return same_directory(f, *first); });
    if (!directory_holds(folder, &*first, &*first + (end - first))) return false;
    first = end;
  }
  return true;
}

HANDLE open_record_shared(const wchar_t* folder, DWORD share) {
  wchar_t path[kPathCapacity];
  record_path(path, folder);
  return CreateFileW(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

HANDLE open_record(const wchar_t* folder) {
  HANDLE file = open_record_shared(folder, FILE_SHARE_READ);
  // Another start's sweep may hold the record for a moment to see whether
  // it is in use: that is no damage.
  for (int attempt = 0; file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION && attempt < 100;
       ++attempt) {
    Sleep(10);
    file = open_record_shared(folder, FILE_SHARE_READ);
  }
  return file;
}

bool folder_is_complete(const wchar_t* folder, const wchar_t* key, HANDLE* keep) {
  HANDLE file = open_record(folder);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::vector<unsigned char> data;
  std::vector<ListedFile> files;
  const bool complete = read_whole_file(file, data) && cache_record::decode(data.data(), data.size(), key, files) &&
                        files_are_present(folder, files);
  if (complete && keep) *keep = file;
  else CloseHandle(file);
  return complete;
}

bool carries_mark(const wchar_t* folder, DWORD share) {
  HANDLE file = open_record_shared(folder, share);
  if (file == INVALID_HANDLE_VALUE) return false;
  unsigned char magic[sizeof cache_record::kMagic];
  DWORD read = 0;
  const bool marked = ReadFile(file, magic, sizeof magic, &read, nullptr) && cache_record::has_magic(magic, read);
  CloseHandle(file);
  return marked;
}
