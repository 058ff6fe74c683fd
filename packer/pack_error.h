// Failures of the packer. Each one is reported as a single line
// "onefile-pack: <subject>: <reason>", where the subject is the file, folder
// or option at fault, optionally followed by details such as a linker's output.
#pragma once

#include <stdexcept>
#include <string>

namespace onefile_pack {

class PackError : public std::runtime_error {
 public:
  // The line is made printable with display_path, so raw paths may be passed.
  PackError(const std::string& subject, const std::string& reason, std::string details = {});

  // Text shown after the line (already ending in a newline, or empty).
  const std::string& details() const { return details_; }

 private:
  std::string details_;
};

// The system's text for an errno value.
std::string errno_text(int error);

// `path` made safe for a one-line message: control characters and bytes that
// are not valid UTF-8 are shown as \xNN.
std::string display_path(const std::string& path);

}  // namespace onefile_pack
