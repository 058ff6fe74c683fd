// Turning entry records into files below the target directory.
#pragma once

#include <windows.h>

#include <cstddef>

inline constexpr size_t kPathCapacity = 4096;
inline constexpr size_t kWriteChunk = 32768;
inline constexpr size_t kKnownDirectorySlots = 1024;

// Process-wide buffers shared with the launcher core.
extern wchar_t g_target_directory[kPathCapacity];    // fully qualified, no trailing backslash
extern wchar_t g_main_library_path[kPathCapacity];   // empty until the first record
extern wchar_t g_entry_name[1024];
extern wchar_t g_entry_path[kPathCapacity];
extern unsigned long long g_entry_size;              // of the record last unpacked

// Set by the console handler before its clean-up deletes the target
// directory; unpacking then stops writing, closes its file and reports
// `interrupted` instead of failing, and the caller leaves the end of the
// process to the system.
extern volatile unsigned char g_interrupted;

enum class EntryOutcome { end_of_list, main_library_reached, file_written, interrupted };

// One pass of the entry loop: reads a name; at the end marker returns
// end_of_list; builds the entry path and, for the first record, the main
// library path; in the child role returns main_library_reached there;
// otherwise unpacks the record and returns file_written (or interrupted).
EntryOutcome unpack_next_entry(bool child_role);

// Reads the record's size and content and writes the file at `entry_path`;
// false when interrupted before it was complete (the file is closed then).
bool unpack_entry(const wchar_t* entry_path);

// Closes the file being written, if any, so that a deletion can remove it.
void close_file_being_written();

// Parent role: creates the target directory (and the folders above it, as
// unpacking does). True when it made the directory; a directory that already
// exists is refused with the write message and ERROR_ALREADY_EXISTS, since
// someone else may have filled it; any other failure returns false and shows
// when the first file cannot be opened.
bool create_target_directory();

// Makes sure one directory exists; remembers the directories it knows.
bool ensure_directory(const wchar_t* path);

// Makes sure every directory above `path` exists (not `path` itself).
void create_parent_directories(const wchar_t* path);
