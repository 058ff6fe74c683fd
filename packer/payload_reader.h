// Reading a stored payload back (contract/format.h), for --list, --verify and
// --extract: the whole of it is decoded as a stream, in bounded memory
// whatever its size, and every rule the packer writes by is checked on the
// way. The first problem ends the read with PayloadProblem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace onefile_pack {

class InputFile;

// A payload that is not as the packer writes it; what() is the reason.
class PayloadProblem : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PayloadEntry {
  size_t index = 0;     // from 1, in stream order; 1 is the main file
  std::u16string name;  // as stored: backslashes between folders
  uint64_t size = 0;
};

// Receives the entries while they are decoded: begin(), the content in
// pieces (none for an empty file), end(). May throw to stop the read.
class EntryVisitor {
 public:
  virtual ~EntryVisitor() = default;
  virtual void begin(const PayloadEntry&) {}
  virtual void content(const unsigned char*, size_t) {}
  virtual void end(const PayloadEntry&) {}
};

struct PayloadFacts {
  size_t files = 0;
  uint64_t content_size = 0;  // all files' bytes
  uint64_t stored_size = 0;   // the stored payload's bytes
  bool checksummed = false;   // the frame carries a content checksum, and it matched
};

// Reads the stored payload of `size` bytes that starts at `in`'s read
// position, and checks it: the header; one Zstandard frame that the
// launcher's decoder takes (a window of at most 2^27 bytes, no dictionary)
// and its content checksum when it has one; entries whose names hold 1 to
// 1023 units, follow the launcher's name rule and are unique (ignoring case,
// as Windows does); the end marker with nothing after it; the zero bytes up
// to a multiple of 8 and the count after the frame. Throws PayloadProblem
// naming the first problem; errors of the visitor pass through.
PayloadFacts read_stored_payload(InputFile& in, uint64_t size, EntryVisitor& visitor);

// A payload name for messages: UTF-8, as stored.
std::string entry_text(const std::u16string& name);

}  // namespace onefile_pack
