// Bounded operations on wide path buffers. A buffer is passed with its
// capacity in code units, terminator included. A copy or append that leaves no
// room for the text and its terminator ends the process through abort: paths
// are never truncated.
#pragma once

#include <cstddef>

// The capacity of a path buffer: 4095 units and the terminator. Every path
// the launcher builds (the target directory, a file below it, a cache
// folder) lives in one.
inline constexpr size_t kPathCapacity = 4096;

// Length of `text` if it is terminated within `capacity` units; aborts otherwise.
size_t bounded_length(const wchar_t* text, size_t capacity);

// dst = src, bounded by `capacity`.
void bounded_copy(wchar_t* dst, size_t capacity, const wchar_t* src);

// dst += src, bounded by `capacity`.
void bounded_append(wchar_t* dst, size_t capacity, const wchar_t* src);

// dst = folder, a backslash and name, bounded by `capacity`.
void bounded_join(wchar_t* dst, size_t capacity, const wchar_t* folder, const wchar_t* name);

// Whether `path` names an existing directory.
bool is_directory(const wchar_t* path);

// Whether `path` names a link (a symbolic link or a junction: a reparse point).
bool is_link(const wchar_t* path);
