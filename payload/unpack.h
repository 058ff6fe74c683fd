// Turning entry records into files below the target directory.
#pragma once

#include <windows.h>

#include <cstddef>

#include "contract/format.h"
#include "paths/wide_path.h"

// A file's content is decoded and written in pieces of this many bytes.
inline constexpr size_t kWriteChunk = 32768;
// How many directories unpacking remembers as existing.
inline constexpr size_t kKnownDirectorySlots = 1024;

// One entry of the payload's list as unpacking reads it: its name, its path
// below the target directory, and its size once that has been read. The
// caller owns it; each read fills it anew.
struct Entry {
  wchar_t name[payload_format::kNameBufferUnits];
  wchar_t path[kPathCapacity];
  unsigned long long size = 0;
};

// A target directory is fully qualified, without a trailing backslash.
// `stop` is set by another thread before it deletes the target directory:
// unpacking then stops writing, closes its file and reports `interrupted`
// instead of failing, and the caller leaves the end of the process to that
// thread.
enum class EntryOutcome { end_of_list, file_written, interrupted };

// One pass of the entry loop: reads a name into `entry`; at the end marker
// returns end_of_list (`entry.name` empty); otherwise writes the record's
// file at `entry.path` below `target_directory` and returns file_written
// (or interrupted), with `entry.size` its size.
EntryOutcome unpack_next_entry(const wchar_t* target_directory, const volatile LONG& stop, Entry& entry);

// Reads the first name only, which names the main library, and puts its path
// below `target_directory` into `main_library_path` (kPathCapacity units);
// false when the list is empty. Nothing is written or created.
bool read_first_entry_path(const wchar_t* target_directory, wchar_t* main_library_path);

// The steps of one pass, for a caller that decides per entry what to do
// with it (the cache): reads the next name into `entry.name` and its path
// below `target_directory` into `entry.path`, false at the end marker; then
// reads the size into `entry.size`; then either writes the content to a
// file at `path` (false when stopped, as unpack_next_entry) or decodes it
// without writing it anywhere.
bool read_next_entry(const wchar_t* target_directory, Entry& entry);
void read_entry_size(Entry& entry);
bool write_entry_file(const wchar_t* path, unsigned long long size, const volatile LONG& stop);
void skip_entry_content(unsigned long long size);

// Closes the file being written, if any, so that a deletion can remove it.
void close_file_being_written();

// Creates the target directory (and the folders above it, as unpacking
// does) before the first entry is unpacked into it. True when it made the
// directory; a directory that already exists is refused with the write
// message and ERROR_ALREADY_EXISTS, since someone else may have filled it;
// any other failure returns false and shows when the first file cannot be
// opened.
bool create_target_directory(const wchar_t* target_directory);

// Makes sure one directory exists; remembers the directories it knows.
bool ensure_directory(const wchar_t* path);

// Makes sure every directory above `path` exists (not `path` itself).
void create_parent_directories(const wchar_t* path);
