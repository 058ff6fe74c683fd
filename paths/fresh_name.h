// The launcher's one source of fresh names: the random text of {RANDOM},
// and the names of the folders it makes beside a cache's key folders (a
// staging folder, a folder moved aside), all in the target folder's shape
// (contract/target_folder_name.h).
#pragma once

#include "contract/target_folder_name.h"

// A new random text, with a terminator, into `out` (kRandomUnits + 1 units).
// Texts made in one process differ from each other, and from those of
// processes started at the same moment.
void new_random_text(wchar_t* out);

// A fresh name of the target folder's shape for this process (its ID, the
// time now, a new random text), joined to `root` in `out` (kPathCapacity
// units).
void make_fresh_folder(wchar_t* out, const wchar_t* root);
