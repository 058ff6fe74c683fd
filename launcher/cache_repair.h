// Repairing a key folder in place: only the files that fail the check are
// written, and renamed over theirs once the payload's checksum holds.
#pragma once

#include <vector>

#include "launcher/cache_folder.h"

// For a repair, holds the key folder's record alone (no other run holds
// the folder); false when it carries no mark, is a link, or is held.
bool hold_for_repair(CacheFolders& folders);

// Whether the key folder's file `name` fails the check (missing, of another
// size, a link or a folder); such a file is written, noted in
// folders.repaired, and renamed over it.
bool needs_repair(CacheFolders& folders, const wchar_t* name, unsigned long long size);

// Renames the written files over the key folder's and writes `record` as
// its record; false, leaving the rest alone, when a file cannot be replaced
// (in use) or would be renamed through a link. Lets the held record go
// either way; on success the record is held for reading.
bool finish_repair(CacheFolders& folders, const std::vector<unsigned char>& record);
