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

struct BuildTexts {
  std::string company;  // UTF-8
  std::string product;
  std::string version;  // also the file and product version texts
  std::string target_template;  // empty: the launcher's default
  std::string cache_key;        // empty: no cache
  std::string splash_text;      // empty: "Preparing …"
  std::string splash_image;     // the bitmap of data_section::kSplashImage; empty: none
  std::string file_digests;     // data_section::kFileDigests, 32 bytes a file; empty: none
  // A program main: its path below the root ('\\' separators) and the fixed
  // arguments. Empty for a DLL main, whose data section has neither field.
  std::string program_main;
  std::vector<std::string> arguments;
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
