// A packed app read back: the launcher's headers through the PE reader, its
// data section (contract/data_section.h) with the build-time texts, and where
// the stored payload lies in the file. Only the headers and the small fields
// are held in memory; the payload is read from the file when it is decoded.
// A stored payload written with --payload-only is taken too.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace onefile_pack {

struct PackedApp {
  std::string path;
  uint64_t file_size = 0;
  bool payload_only = false;  // a stored payload without launcher
  bool console = false;       // the launcher's kind
  uint64_t payload_offset = 0, payload_size = 0;
  // Every field of the data section but the payload, the file digests and
  // ids this packer does not know, as stored.
  std::map<uint32_t, std::string> fields;

  // What only --verify looks at: the PE checksum field (its file offset and
  // value, 0 when the header carries none), the end of the last section's
  // file data and the signature (the certificate table) after it, if any.
  uint64_t checksum_at = 0;
  uint32_t checksum = 0;
  uint64_t sections_end = 0;
  uint64_t signature_offset = 0, signature_size = 0;

  bool has(uint32_t id) const { return fields.count(id) != 0; }
  // A text field in UTF-8; empty when absent.
  std::string text(uint32_t id) const;
  // The fixed arguments of a program main.
  std::vector<std::string> arguments() const;
};

// Reads `path` and checks what --list and --extract need: a launcher with
// the data section whose layout this packer knows, every field inside it,
// texts that end as texts do, and the section inside the file. Throws
// PackError naming the file: "not an app packed by onefile-pack (...)" for
// any other file, "damaged: ..." for a packed app that is not whole.
PackedApp open_packed_app(const std::string& path);

// The PE checksum of the whole file, its checksum field read as zero.
uint32_t file_pe_checksum(const PackedApp& app);

}  // namespace onefile_pack
