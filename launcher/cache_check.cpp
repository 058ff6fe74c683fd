// The cheap check of a cache folder: its record, and a listing of each
// directory the record names.
#include "launcher/cache_check.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "launcher/cache_record_file.h"
#include "paths/wide_path.h"

namespace {

using cache_record::ListedFile;

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

// The files of one directory, `first` to `end`, sorted by name: marks in
// `present` (one flag per file, from `first` on) each that its listing
// holds as a file of its size, and returns how many. One listing per
// directory instead of one query per file: a listing does not open the
// files, which on Windows every scanner would inspect. With `plain`, a
// link is no file.
size_t directory_holds(const wchar_t* folder, const ListedFile* first, const ListedFile* end,
                       std::vector<bool>::iterator present, bool plain) {
  wchar_t pattern[kPathCapacity];
  bounded_join(pattern, kPathCapacity, folder, first->name.substr(0, first->file).c_str());
  bounded_append(pattern, kPathCapacity, L"*");
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(pattern, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return 0;
  const auto by_name = [](const ListedFile& file, const wchar_t* name) {
    return wcscmp(file.name.c_str() + file.file, name) < 0;
  };
  size_t matched = 0;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (plain && (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    const ListedFile* file = std::lower_bound(first, end, found.cFileName, by_name);
    if (file != end && wcscmp(file->name.c_str() + file->file, found.cFileName) == 0 &&
        ((uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow) == file->size) {
      present[file - first] = true;
      ++matched;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return matched;
}

// Calls `visit` with each directory's run of `files` (sorted).
template <typename Visit>
void for_each_directory(const std::vector<ListedFile>& files, Visit visit) {
  for (auto first = files.begin(); first != files.end();) {
    auto end = std::find_if_not(first, files.end(), [&](const ListedFile& f) { return same_directory(f, *first); });
    if (!visit(first, end)) return;
    first = end;
  }
}

HANDLE open_record_shared(const wchar_t* folder, DWORD access, DWORD share) {
  wchar_t path[kPathCapacity];
  record_path(path, folder);
  return CreateFileW(path, access, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

HANDLE open_record(const wchar_t* folder) {
  // Opened to set its time too (the key's last use); a record the user may
  // only read is still used, its use just not noted. Attributes are no data:
  // two runs holding it so do not exclude each other.
  const auto open = [folder] {
    HANDLE file = open_record_shared(folder, GENERIC_READ | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
      file = open_record_shared(folder, GENERIC_READ, FILE_SHARE_READ);
    return file;
  };
  HANDLE file = open();
  // Another start's sweep may hold the record for a moment to see whether
  // it is in use: that is no damage.
  for (int attempt = 0; file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION && attempt < 100;
       ++attempt) {
    Sleep(10);
    file = open();
  }
  return file;
}

bool read_whole_file(HANDLE file, std::vector<unsigned char>& data) {
  LARGE_INTEGER length;
  if (!GetFileSizeEx(file, &length) || length.QuadPart > 0x7fffffff) return false;
  data.resize(static_cast<size_t>(length.QuadPart));
  DWORD read = 0;
  return ReadFile(file, data.data(), static_cast<DWORD>(data.size()), &read, nullptr) && read == data.size();
}

bool folder_is_complete(const wchar_t* folder, const wchar_t* key, HANDLE* keep) {
  HANDLE file = open_record(folder);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::vector<unsigned char> data;
  std::vector<ListedFile> files;
  bool complete = read_whole_file(file, data) && cache_record::decode(data.data(), data.size(), key, files);
  if (complete) {
    sort_listed_files(files);
    std::vector<bool> present(files.size());
    for_each_directory(files, [&](auto first, auto end) {
      complete = directory_holds(folder, &*first, &*first + (end - first), present.begin() + (first - files.begin()),
                                 false) == static_cast<size_t>(end - first);
      return complete;
    });
  }
  if (complete && keep) *keep = file;
  else CloseHandle(file);
  return complete;
}

void sort_listed_files(std::vector<ListedFile>& files) { std::sort(files.begin(), files.end(), listed_before); }

size_t find_listed_file(const std::vector<ListedFile>& files, const wchar_t* name) {
  ListedFile probe{name, 0, 0, {}};
  if (const wchar_t* last = wcsrchr(name, L'\\')) probe.file = static_cast<size_t>(last - name) + 1;
  const auto at = std::lower_bound(files.begin(), files.end(), probe, listed_before);
  return at != files.end() && at->name == probe.name ? static_cast<size_t>(at - files.begin()) : files.size();
}

std::vector<bool> present_files(const wchar_t* folder, const std::vector<ListedFile>& files) {
  std::vector<bool> present(files.size());
  for_each_directory(files, [&](auto first, auto end) {
    if (!crosses_link(folder, first->name.c_str()))
      directory_holds(folder, &*first, &*first + (end - first), present.begin() + (first - files.begin()), true);
    return true;
  });
  return present;
}

bool crosses_link(const wchar_t* folder, const wchar_t* name) {
  wchar_t path[kPathCapacity];
  bounded_join(path, kPathCapacity, folder, name);
  const size_t top = wcslen(folder);
  // Each folder between, from the last up: cut at each backslash after the top.
  for (size_t at = wcslen(path); at > top + 1; --at) {
    if (path[at - 1] != L'\\' || at - 1 == top) continue;
    path[at - 1] = L'\0';
    if (is_link(path)) return true;
  }
  return false;
}

bool carries_mark(const wchar_t* folder, DWORD share) {
  HANDLE file = open_record_shared(folder, GENERIC_READ, share);
  if (file == INVALID_HANDLE_VALUE) return false;
  unsigned char magic[sizeof cache_record::kMagic];
  DWORD read = 0;
  const bool marked = ReadFile(file, magic, sizeof magic, &read, nullptr) && cache_record::has_magic(magic, read);
  CloseHandle(file);
  return marked;
}
