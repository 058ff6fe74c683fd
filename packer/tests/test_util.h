// Helpers for the packer's tests: scratch folders, running the built
// onefile-pack, and reading a stored payload back with libzstd.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace pack_test {

// A fresh folder under the temporary folder, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }
  // Writes `bytes` to `relative`, creating the folders on the way.
  std::string write(const std::string& relative, const std::string& bytes) const;
  std::string mkdir(const std::string& relative) const;
  // Names of the entries directly in `relative` (".": the folder itself).
  std::vector<std::string> list(const std::string& relative = ".") const;

 private:
  std::string path_;
};

std::string read_file(const std::string& path);
bool exists(const std::string& path);

// Deterministic bytes: `size` bytes of a simple generator seeded by `seed`.
std::string random_bytes(size_t size, uint32_t seed);

struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs the built onefile-pack with `args`; `env` entries "NAME=value" are
// added to the environment ("NAME=" removes NAME). With `unprivileged`,
// the packer runs as user and group 65534 (for permission tests as root).
RunResult run_pack(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                   bool unprivileged = false);

// The same for any program.
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const std::vector<std::string>& env = {}, bool unprivileged = false);

// A stored payload taken apart.
struct Payload {
  std::string header;       // the first 3 bytes
  std::string frame;        // the Zstandard frame
  std::string after_frame;  // everything after the frame
  std::vector<std::pair<std::u16string, std::string>> entries;  // decoded records
  bool ends_with_marker = false;  // the stream ended with the end marker and nothing after it
};

// Splits and decodes `bytes` (fails the current test on malformed input).
Payload parse_payload(const std::string& bytes);

std::u16string u16(const std::string& utf8);

// UTF-16LE bytes of each text with its 0x0000 unit, one after the other: a
// text field of the data section, or a text list.
std::string utf16z(const std::vector<std::string>& texts);

// The fields of a packed launcher's data section by id, read through the
// PE reader and data_section::find_field; empty when it has none.
std::map<uint32_t, std::string> data_fields(const std::string& exe);

}  // namespace pack_test
