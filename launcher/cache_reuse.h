// An update's first start: the files that did not change become hard links
// to those of the key folder used last.
#pragma once

#include "launcher/cache_folder.h"

// Picks the folder of the most recently used other key of the root whose
// record has digests, holds its record and lists its files; none when the
// launcher carries no digests.
void find_reuse_source(const CacheFolders& folders);

// When the reuse source holds the file `name` with `size` and `digest`:
// makes its folders and has `path` made a hard link to it (by the linking
// thread), and returns true; the caller skips the content. False when it
// does not: the caller writes the file.
bool link_from_reuse_source(const wchar_t* name, unsigned long long size, const unsigned char* digest,
                            const wchar_t* path);

// Whether files are linked: a file written afterwards must not write into one.
bool reuse_source_in_use();

// Once the payload is decoded: waits for the links, and copies each file
// that could not be linked (a file system without links). A copy that fails
// is the write error.
void finish_links();

// Lets the reuse source go.
void release_reuse_source();
