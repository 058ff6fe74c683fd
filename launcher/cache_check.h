// The cheap check of a cache folder, and reading its record: one listing
// per directory the record names, no file opened or read.
#pragma once

#include <windows.h>

#include <vector>

#include "contract/cache_record.h"

// The record of `folder`, opened for reading (and to set its time) and
// shared for reading only (held open, that is the in-use mark);
// INVALID_HANDLE_VALUE when it cannot be.
HANDLE open_record(const wchar_t* folder);

// The whole of the open `file`; false when it cannot be read.
bool read_whole_file(HANDLE file, std::vector<unsigned char>& data);

// The cheap check: the record names `key` and lists at least the main
// library, and every file it lists is there with its size. Contents are not
// read. With `keep`, a complete folder's record stays open in *keep.
bool folder_is_complete(const wchar_t* folder, const wchar_t* key, HANDLE* keep);

// Sorts `files` as present_files lists them, by folder, then by name.
void sort_listed_files(std::vector<cache_record::ListedFile>& files);

// The index of `name` in `files` sorted as above, or files.size().
size_t find_listed_file(const std::vector<cache_record::ListedFile>& files, const wchar_t* name);

// For `files` (sorted), whether each is in `folder` as a plain file (no
// link) of its size, with no link on the way to it; one listing per folder.
std::vector<bool> present_files(const wchar_t* folder, const std::vector<cache_record::ListedFile>& files);

// Whether a folder between `folder` and its file `name` (folder itself
// excluded) is a link.
bool crosses_link(const wchar_t* folder, const wchar_t* name);

// Whether `folder` carries the mark (a record that starts with the magic),
// read with `share` as the record's sharing: 0 also tells that no run holds it.
bool carries_mark(const wchar_t* folder, DWORD share);
