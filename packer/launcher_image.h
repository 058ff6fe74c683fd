// Completing a template launcher: a copy of the template image with the
// resource section and the data section (contract/data_section.h) added as
// two new sections, headers updated (section table, SizeOfImage, the
// resource directory, the checksum). No compiler or linker is involved, and
// the same inputs always give the same bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace onefile_pack {

class OutputFile;

// The largest stored payload a launcher carries: 2 GiB minus 16 MiB. The
// image size is a 32-bit field, and the loader maps no image of 2 GiB or
// more; the 16 MiB leave room for the launcher and its resources.
inline constexpr uint64_t kMaxPayloadSize = (uint64_t{2} << 30) - (uint64_t{16} << 20);

// The values of the data section's fields, one member per field of
// contract/packed_fields.inc but the payload: texts in UTF-8, text lists,
// bytes. An empty member writes no field where its row says so.
struct BuildTexts {
#define ONEFILE_TEXT_FIELD(Name, id, option, member, ...) std::string member;
#define ONEFILE_TEXT_LIST_FIELD(Name, id, option, member, ...) std::vector<std::string> member;
#define ONEFILE_BYTES_FIELD(Name, id, option, member, ...) std::string member;
#include "contract/packed_fields.inc"
};

// The file name of an output path: what follows the last '/' (on Windows,
// where '\' has become '/' already, also a drive's ':', as in "C:App.exe").
std::string output_file_name(const std::string& output_path);

// The product text used when --product is absent: the output's file name
// without a final ".exe" (any case).
std::string default_product(const std::string& output_path);

// Throws PackError naming `payload_path` when `size` exceeds kMaxPayloadSize.
void check_payload_size(const std::string& payload_path, uint64_t size);

struct LauncherInputs {
  std::string_view template_image;  // a template launcher's bytes
  std::string payload_path;         // the stored payload, copied byte for byte
  BuildTexts texts;
  // The resource section for the RVA it is mapped at.
  std::function<std::string(uint32_t rva)> resources;
};

// Writes the completed launcher to `out`. Throws PackError naming the
// payload or the output on failure.
void write_launcher(const LauncherInputs& inputs, OutputFile& out);

// The PE checksum of a whole image whose checksum field (at
// `checksum_offset`) reads as zero, fed in pieces of any size.
class PeChecksum {
 public:
  void add(const void* data, size_t size);
  uint32_t value() const;

 private:
  uint64_t sum_ = 0;
  uint64_t length_ = 0;
};

}  // namespace onefile_pack
