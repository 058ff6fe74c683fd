// The commands that look into a packed app (or a stored payload written
// with --payload-only) instead of packing one. Each decodes the whole
// payload and checks it on the way (packer/payload_reader.h); a failure is
// a PackError naming the file.
#pragma once

#include <string>

namespace onefile_pack {

// --list: the packed files, one a line with its size, in payload order (the
// main first); then the build's texts, the launcher's kind, the main, the
// target template, the cache, the splash and the payload's sizes. On
// standard output.
void list_app(const std::string& path);

// --verify: the data section's layout, the payload's structure and content
// checksum, what follows the sections (only a signature may), and the PE
// checksum when the header carries one. One line on standard output when
// all holds (none with `quiet`); PackError with the first problem otherwise.
void verify_app(const std::string& path, bool quiet);

// --extract: writes the packed files below `to`, a folder that is made or
// exists empty, byte for byte, with the launcher's name rule. What it wrote
// goes again when it fails or is interrupted. A summary on standard error
// unless `quiet`.
void extract_app(const std::string& path, const std::string& to, bool quiet);

}  // namespace onefile_pack
