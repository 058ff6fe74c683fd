// A small reader for Windows PE images (executables and DLLs) held in memory.
// The packer uses it to check the main library and a program main before
// packing and to find where a template launcher's headers lie before
// completing it; the tests use it to read back a produced executable.
//
// Every read is bounds-checked against the buffer: a truncated or malformed
// image throws PeError with a one-line reason and never reads outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "packer/utf.h"

namespace onefile_pe {

using onefile_pack::utf16_to_utf8;

// Where the header fields lie: the one description of the layout, for the
// reader below and for the packer, which rewrites some of them in place.
namespace layout {
inline constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
inline constexpr size_t kLfanew = 0x3c;                // in the DOS header
// The file header, after the signature.
inline constexpr size_t kFileHeaderSize = 20;
inline constexpr size_t kMachine = 0;
inline constexpr size_t kSectionCount = 2;
inline constexpr size_t kTimestamp = 4;
inline constexpr size_t kOptionalHeaderSize = 16;
inline constexpr size_t kCharacteristics = 18;
// The optional header: these fields lie at the same offsets in PE32 and PE32+.
inline constexpr uint16_t kMagicPe32 = 0x10b;
inline constexpr uint16_t kMagicPe32Plus = 0x20b;
inline constexpr size_t kMagic = 0;
inline constexpr size_t kInitializedDataSize = 8;
inline constexpr size_t kSectionAlignment = 32;
inline constexpr size_t kFileAlignment = 36;
inline constexpr size_t kImageSize = 56;
inline constexpr size_t kHeadersSize = 60;
inline constexpr size_t kChecksum = 64;
inline constexpr size_t kSubsystem = 68;
// The directory count, followed by the directories of 8 bytes (RVA, size).
inline constexpr size_t kDirectoryCountPe32 = 92;
inline constexpr size_t kDirectoryCountPe32Plus = 108;
inline constexpr size_t kDirectoryEntrySize = 8;
inline constexpr size_t kExportDirectory = 0;
inline constexpr size_t kResourceDirectory = 2;
inline constexpr size_t kCertificateDirectory = 4;
// A section header.
inline constexpr size_t kSectionHeaderSize = 40;
inline constexpr size_t kSectionNameSize = 8;
inline constexpr size_t kSectionVirtualSize = 8;
inline constexpr size_t kSectionVirtualAddress = 12;
inline constexpr size_t kSectionRawSize = 16;
inline constexpr size_t kSectionRawOffset = 20;
inline constexpr size_t kSectionCharacteristics = 36;
}  // namespace layout

inline constexpr uint16_t kMachineI386 = 0x014c;
inline constexpr uint16_t kMachineAmd64 = 0x8664;
inline constexpr uint16_t kMachineArm64 = 0xaa64;

inline constexpr uint16_t kCharacteristicDll = 0x2000;  // IMAGE_FILE_DLL

inline constexpr uint16_t kSubsystemWindowsGui = 2;
inline constexpr uint16_t kSubsystemWindowsConsole = 3;

// The machine for messages: "ARM64 (machine 0xaa64)".
std::string machine_text(uint16_t machine);

// Resource types (RT_*) the packer writes.
inline constexpr uint16_t kResourceIcon = 3;
inline constexpr uint16_t kResourceGroupIcon = 14;
inline constexpr uint16_t kResourceVersion = 16;
inline constexpr uint16_t kResourceManifest = 24;

class PeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A resource type or name: a 16-bit number or a UTF-16 string.
struct ResourceId {
  bool is_name = false;
  uint16_t id = 0;
  std::u16string name;

  bool operator==(uint16_t number) const { return !is_name && id == number; }
};

struct Resource {
  ResourceId type;
  ResourceId name;
  uint16_t language = 0;
  uint32_t code_page = 0;
  std::string_view data;  // points into the owning PeFile's buffer
};

struct Section {
  std::string name;  // up to 8 characters
  uint32_t virtual_address = 0;
  uint32_t virtual_size = 0;
  uint32_t raw_offset = 0;
  uint32_t raw_size = 0;
  uint32_t characteristics = 0;
};

// A data directory: the RVA and size of a table; zero when absent.
struct DataDirectory {
  uint32_t rva = 0;
  uint32_t size = 0;
};

// A parsed image. Owns its bytes; the views in Resource stay valid while the
// PeFile lives (also after a move).
class PeFile {
 public:
  // Checks the DOS and PE headers and reads the section table.
  explicit PeFile(std::vector<uint8_t> bytes);
  // Reads a whole file; PeError names the file when it cannot be read or parsed.
  static PeFile load(const std::filesystem::path& path);

  PeFile(PeFile&&) = default;
  PeFile& operator=(PeFile&&) = default;
  PeFile(const PeFile&) = delete;
  PeFile& operator=(const PeFile&) = delete;

  uint16_t machine() const { return machine_; }
  uint16_t characteristics() const { return characteristics_; }
  uint32_t timestamp() const { return timestamp_; }
  uint16_t subsystem() const { return subsystem_; }
  bool is_pe32_plus() const { return pe32_plus_; }
  bool is_dll() const { return (characteristics_ & kCharacteristicDll) != 0; }
  // A DLL for 64-bit x86 Windows: machine AMD64, PE32+ optional header.
  bool is_amd64_dll() const { return machine_ == kMachineAmd64 && pe32_plus_ && is_dll(); }
  const std::vector<Section>& sections() const { return sections_; }

  // File offsets of the headers, for fields of namespace layout.
  size_t file_header_offset() const { return file_header_; }
  size_t optional_header_offset() const { return file_header_ + layout::kFileHeaderSize; }
  size_t section_table_offset() const { return optional_header_offset() + optional_size_; }
  // The data directory `index` and the file offset of its entry; the count
  // the optional header declares.
  size_t directory_count() const { return directories_.size(); }
  DataDirectory directory(size_t index) const {
    return index < directories_.size() ? directories_[index] : DataDirectory{};
  }
  size_t directory_offset(size_t index) const { return directories_offset_ + index * layout::kDirectoryEntrySize; }
  uint32_t section_alignment() const { return section_alignment_; }
  uint32_t file_alignment() const { return file_alignment_; }
  uint32_t headers_size() const { return size_of_headers_; }
  uint32_t initialized_data_size() const { return initialized_data_size_; }

  // Names in the export table, in table order; empty without one.
  std::vector<std::string> export_names() const;
  // The RVA the export `name` points at; 0 when there is no such export.
  uint32_t export_rva(const std::string& name) const;
  // True when `rva` lies in an executable section.
  bool is_code(uint32_t rva) const;

  // Every resource of the three-level tree (type, name, language); empty
  // without a resource table.
  std::vector<Resource> resources() const;

 private:
  // File offset of `size` bytes at `rva`; they must lie within one section's
  // file data (or the headers). `what` names the structure for the error.
  size_t offset_of(uint32_t rva, uint64_t size, const char* what) const;
  std::string c_string_at(uint32_t rva, const char* what) const;

  std::vector<uint8_t> bytes_;
  uint16_t machine_ = 0;
  uint16_t characteristics_ = 0;
  uint32_t timestamp_ = 0;
  uint16_t subsystem_ = 0;
  bool pe32_plus_ = false;
  size_t file_header_ = 0;
  uint16_t optional_size_ = 0;
  size_t directories_offset_ = 0;
  uint32_t section_alignment_ = 0;
  uint32_t file_alignment_ = 0;
  uint32_t initialized_data_size_ = 0;
  uint32_t size_of_headers_ = 0;
  std::vector<DataDirectory> directories_;
  std::vector<Section> sections_;
};

// Finds the resource of `type` and `name` (any language); null when absent.
const Resource* find_resource(const std::vector<Resource>& resources, uint16_t type, uint16_t name);

// Checks that `path` is a 64-bit Windows DLL exporting `export_name` as code.
// Throws PackError naming the file and the reason.
void check_main_library(const std::filesystem::path& path, const std::string& export_name);

// The contents of a version resource (VS_VERSIONINFO).
struct VersionInfo {
  uint16_t file_version[4] = {};
  uint16_t product_version[4] = {};
  uint32_t file_flags = 0;
  uint32_t file_os = 0;
  uint32_t file_type = 0;
  // String table key (such as "040904B0") -> value name -> value, in UTF-8.
  std::map<std::string, std::map<std::string, std::string>> strings;
  // The Translation value: language in the low word, code page in the high.
  std::vector<uint32_t> translations;
};

// Parses the data of an RT_VERSION resource; throws PeError when malformed.
VersionInfo parse_version_info(std::string_view data);


}  // namespace onefile_pe
