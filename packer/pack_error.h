// Failures of the packer and its resources: the one error type of every
// refusal, reported as a single line "onefile-pack: <subject>: <reason>",
// where the subject is the file, folder or option at fault. The PE reader
// throws its own PeError (packer/pe/pe_file.h); check_main_library turns it
// into a PackError naming the library.
#pragma once

#include <stdexcept>
#include <string>

namespace onefile_pack {

class PackError : public std::runtime_error {
 public:
  // The line is made printable with display_path, so raw paths may be passed.
  PackError(const std::string& subject, const std::string& reason);
};

// `path` made safe for a one-line message: control characters and bytes that
// are not valid UTF-8 are shown as \xNN.
std::string display_path(const std::string& path);

}  // namespace onefile_pack
