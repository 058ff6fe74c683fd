// The cache record's file: where it lies in a folder, writing it, and
// noting the key's last use in its time.
#pragma once

#include <windows.h>

#include <cstddef>

// The record's file name.
const wchar_t* record_name();

// The record's path in `folder`, in `out` (kPathCapacity units).
void record_path(wchar_t* out, const wchar_t* folder);

// Writes `size` bytes of record at the start of the record file of `folder`,
// creating it (`create`) or over the mark that is there. Fails the run with
// a message when it cannot.
void write_record(const wchar_t* folder, const unsigned char* data, size_t size, bool create);

// Sets the held `record`'s last-write time to now: the key's last use. One
// small write, silent when it fails.
void note_last_use(HANDLE record);
