#include "packer/pe/pe_file.h"

#include "contract/little_endian.h"
#include "packer/pack_error.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

namespace onefile_pe {
namespace {

// Little-endian reads that refuse to leave the buffer. Offsets and lengths
// come from the file, so every sum is done in 64 bits.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool has(uint64_t offset, uint64_t length) const { return offset <= size_ && length <= size_ - offset; }

  void need(uint64_t offset, uint64_t length, const char* what) const {
    if (!has(offset, length)) throw PeError(std::string("truncated ") + what);
  }

  uint16_t u16(uint64_t offset, const char* what) const {
    need(offset, 2, what);
    return static_cast<uint16_t>(little_endian::read(data_ + offset, 2));
  }

  uint32_t u32(uint64_t offset, const char* what) const {
    need(offset, 4, what);
    return static_cast<uint32_t>(little_endian::read(data_ + offset, 4));
  }

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  const uint8_t* data_;
  size_t size_;
};

using namespace layout;
// A real resource tree has at most a few thousand entries; the cap keeps a
// tree whose directories share subdirectories from exploding.
constexpr size_t kMaxResourceEntries = 100000;

const char* machine_name(uint16_t machine) {
  switch (machine) {
    case kMachineI386:
      return "32-bit x86";
    case kMachineAmd64:
      return "64-bit x86";
    case kMachineArm64:
      return "ARM64";
    case 0x01c4:
      return "ARM";
    default:
      return nullptr;
  }
}

std::string hex(uint32_t value) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  do {
    text.insert(text.begin(), digits[value & 15]);
    value >>= 4;
  } while (value != 0);
  return "0x" + text;
}

// A path for a message, quoted, shown as display_path shows any name.
std::string quote(const std::filesystem::path& path) { return "'" + onefile_pack::display_path(path.u8string()) + "'"; }

std::string read_file(const std::filesystem::path& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::strerror(errno);
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return "read error";
  return {};
}


}  // namespace

std::string machine_text(uint16_t machine) {
  const char* name = machine_name(machine);
  return name ? std::string(name) + " (machine " + hex(machine) + ")" : "unknown machine " + hex(machine);
}

PeFile::PeFile(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {
  Reader r(bytes_.data(), bytes_.size());
  if (!r.has(0, 64) || bytes_[0] != 'M' || bytes_[1] != 'Z') throw PeError("no DOS header (MZ)");
  uint64_t pe = r.u32(kLfanew, "DOS header");
  if (!r.has(pe, 4) || r.u32(pe, "PE signature") != kPeSignature) throw PeError("no PE signature");

  file_header_ = static_cast<size_t>(pe + 4);
  machine_ = r.u16(file_header_ + kMachine, "file header");
  uint16_t section_count = r.u16(file_header_ + kSectionCount, "file header");
  timestamp_ = r.u32(file_header_ + kTimestamp, "file header");
  optional_size_ = r.u16(file_header_ + kOptionalHeaderSize, "file header");
  characteristics_ = r.u16(file_header_ + kCharacteristics, "file header");

  uint64_t optional = optional_header_offset();
  r.need(optional, optional_size_, "optional header");
  if (optional_size_ < 2) throw PeError("no optional header");
  uint16_t magic = r.u16(optional + kMagic, "optional header");
  if (magic != kMagicPe32 && magic != kMagicPe32Plus) throw PeError("unknown optional header magic " + hex(magic));
  pe32_plus_ = magic == kMagicPe32Plus;

  // The directory count and table sit at different offsets in PE32 and PE32+.
  size_t count_offset = pe32_plus_ ? kDirectoryCountPe32Plus : kDirectoryCountPe32;
  if (optional_size_ < count_offset + 4) throw PeError("optional header too small");
  initialized_data_size_ = r.u32(optional + kInitializedDataSize, "optional header");
  section_alignment_ = r.u32(optional + kSectionAlignment, "optional header");
  file_alignment_ = r.u32(optional + kFileAlignment, "optional header");
  size_of_headers_ = r.u32(optional + kHeadersSize, "optional header");
  subsystem_ = r.u16(optional + kSubsystem, "optional header");
  uint32_t directory_count = r.u32(optional + count_offset, "optional header");
  directories_offset_ = static_cast<size_t>(optional + count_offset + 4);
  uint64_t directory_room = (optional_size_ - count_offset - 4) / kDirectoryEntrySize;
  if (directory_count > directory_room) throw PeError("data directories do not fit the optional header");
  for (uint32_t i = 0; i < directory_count; ++i) {
    uint64_t at = directory_offset(i);
    directories_.push_back({r.u32(at, "data directory"), r.u32(at + 4, "data directory")});
  }

  uint64_t table = section_table_offset();
  r.need(table, uint64_t{section_count} * kSectionHeaderSize, "section table");
  for (uint16_t i = 0; i < section_count; ++i) {
    uint64_t at = table + uint64_t{i} * kSectionHeaderSize;
    Section s;
    const char* name = reinterpret_cast<const char*>(bytes_.data() + at);
    s.name.assign(name, strnlen(name, kSectionNameSize));
    s.virtual_size = r.u32(at + kSectionVirtualSize, "section table");
    s.virtual_address = r.u32(at + kSectionVirtualAddress, "section table");
    s.raw_size = r.u32(at + kSectionRawSize, "section table");
    s.raw_offset = r.u32(at + kSectionRawOffset, "section table");
    s.characteristics = r.u32(at + kSectionCharacteristics, "section table");
    sections_.push_back(std::move(s));
  }
}

PeFile PeFile::load(const std::filesystem::path& path) {
  std::vector<uint8_t> bytes;
  std::string error = read_file(path, bytes);
  if (!error.empty()) throw PeError("cannot read " + quote(path) + ": " + error);
  try {
    return PeFile(std::move(bytes));
  } catch (const PeError& e) {
    throw PeError(quote(path) + " is not a valid PE file: " + e.what());
  }
}

size_t PeFile::offset_of(uint32_t rva, uint64_t size, const char* what) const {
  Reader r(bytes_.data(), bytes_.size());
  if (rva < size_of_headers_ && size <= size_of_headers_ - rva) {
    r.need(rva, size, what);
    return rva;
  }
  for (const Section& s : sections_) {
    // Only the part backed by file data can be read; a virtual size below the
    // raw size marks the rest as padding.
    uint64_t backed = s.raw_size;
    if (s.virtual_size != 0 && s.virtual_size < backed) backed = s.virtual_size;
    if (rva < s.virtual_address || rva - s.virtual_address >= backed) continue;
    uint64_t within = rva - s.virtual_address;
    if (size > backed - within) throw PeError(std::string(what) + " runs past the end of its section");
    uint64_t offset = uint64_t{s.raw_offset} + within;
    r.need(offset, size, what);
    return static_cast<size_t>(offset);
  }
  throw PeError(std::string(what) + " is outside every section");
}

std::string PeFile::c_string_at(uint32_t rva, const char* what) const {
  size_t offset = offset_of(rva, 1, what);
  // The string may run to the end of the section's file data, no further.
  size_t limit = offset;
  for (const Section& s : sections_) {
    uint64_t start = s.raw_offset;
    uint64_t end = start + s.raw_size;
    if (offset >= start && offset < end) limit = static_cast<size_t>(std::min<uint64_t>(end, bytes_.size()));
  }
  if (limit <= offset) limit = std::min<size_t>(size_of_headers_, bytes_.size());
  const uint8_t* begin = bytes_.data() + offset;
  const void* nul = std::memchr(begin, 0, limit - offset);
  if (!nul) throw PeError(std::string(what) + " is not terminated");
  return std::string(reinterpret_cast<const char*>(begin), static_cast<const uint8_t*>(nul) - begin);
}

std::vector<std::string> PeFile::export_names() const {
  std::vector<std::string> names;
  if (directories_.size() <= kExportDirectory || directories_[kExportDirectory].rva == 0) return names;
  Reader r(bytes_.data(), bytes_.size());
  size_t dir = offset_of(directories_[kExportDirectory].rva, 40, "export directory");
  uint32_t name_count = r.u32(dir + 24, "export directory");
  uint32_t name_table = r.u32(dir + 32, "export directory");
  if (name_count == 0) return names;
  size_t table = offset_of(name_table, uint64_t{name_count} * 4, "export name table");
  names.reserve(name_count);
  for (uint32_t i = 0; i < name_count; ++i) {
    names.push_back(c_string_at(r.u32(table + uint64_t{i} * 4, "export name table"), "export name"));
  }
  return names;
}

uint32_t PeFile::export_rva(const std::string& name) const {
  const std::vector<std::string> names = export_names();
  const auto it = std::find(names.begin(), names.end(), name);
  if (it == names.end()) return 0;
  Reader r(bytes_.data(), bytes_.size());
  const size_t dir = offset_of(directories_[kExportDirectory].rva, 40, "export directory");
  const uint32_t function_count = r.u32(dir + 20, "export directory");
  const size_t ordinals = offset_of(r.u32(dir + 36, "export directory"), uint64_t{names.size()} * 2, "export ordinal table");
  const uint16_t ordinal = r.u16(ordinals + uint64_t(it - names.begin()) * 2, "export ordinal table");
  if (ordinal >= function_count) throw PeError("export ordinal out of range");
  const size_t functions = offset_of(r.u32(dir + 28, "export directory"), uint64_t{function_count} * 4, "export address table");
  return r.u32(functions + uint64_t{ordinal} * 4, "export address table");
}

bool PeFile::is_code(uint32_t rva) const {
  constexpr uint32_t kExecutable = 0x20000000;  // IMAGE_SCN_MEM_EXECUTE
  for (const Section& s : sections_)
    if (rva >= s.virtual_address && rva - s.virtual_address < std::max(s.virtual_size, s.raw_size))
      return (s.characteristics & kExecutable) != 0;
  return false;
}

std::vector<Resource> PeFile::resources() const {
  std::vector<Resource> out;
  if (directories_.size() <= kResourceDirectory || directories_[kResourceDirectory].rva == 0) return out;
  Reader r(bytes_.data(), bytes_.size());
  const uint32_t base_rva = directories_[kResourceDirectory].rva;
  size_t visited = 0;

  // Offsets inside the tree are relative to its root.
  auto at = [&](uint32_t relative, uint64_t size, const char* what) {
    uint64_t rva = uint64_t{base_rva} + relative;
    if (rva > UINT32_MAX) throw PeError(std::string(what) + " is outside every section");
    return offset_of(static_cast<uint32_t>(rva), size, what);
  };

  auto read_id = [&](uint32_t field) {
    ResourceId id;
    if (field & 0x80000000u) {
      id.is_name = true;
      size_t name = at(field & 0x7fffffffu, 2, "resource name");
      uint16_t length = r.u16(name, "resource name");
      name = at(field & 0x7fffffffu, 2 + uint64_t{length} * 2, "resource name");
      for (uint16_t i = 0; i < length; ++i)
        id.name += static_cast<char16_t>(r.u16(name + 2 + i * 2u, "resource name"));
    } else {
      if (field > 0xffff) throw PeError("resource id " + hex(field) + " out of range");
      id.id = static_cast<uint16_t>(field);
    }
    return id;
  };

  // The tree is exactly three levels deep: type, name, language.
  std::function<void(uint32_t, int, Resource&)> walk = [&](uint32_t dir_offset, int level, Resource& current) {
    size_t dir = at(dir_offset, 16, "resource directory");
    uint32_t count = uint32_t{r.u16(dir + 12, "resource directory")} + r.u16(dir + 14, "resource directory");
    at(dir_offset, 16 + uint64_t{count} * 8, "resource directory");
    for (uint32_t i = 0; i < count; ++i) {
      if (++visited > kMaxResourceEntries) throw PeError("resource tree has too many entries");
      size_t entry = dir + 16 + i * 8u;
      ResourceId id = read_id(r.u32(entry, "resource entry"));
      uint32_t target = r.u32(entry + 4, "resource entry");
      bool is_directory = (target & 0x80000000u) != 0;
      if (level < 2) {
        if (!is_directory) throw PeError("resource tree is less than three levels deep");
        (level == 0 ? current.type : current.name) = std::move(id);
        walk(target & 0x7fffffffu, level + 1, current);
        continue;
      }
      if (is_directory) throw PeError("resource tree is more than three levels deep");
      if (id.is_name) throw PeError("resource language is a name");
      size_t data_entry = at(target, 16, "resource data entry");
      uint32_t data_rva = r.u32(data_entry, "resource data entry");
      uint32_t data_size = r.u32(data_entry + 4, "resource data entry");
      Resource resource = current;
      resource.language = id.id;
      resource.code_page = r.u32(data_entry + 8, "resource data entry");
      size_t data = offset_of(data_rva, data_size, "resource data");
      resource.data = std::string_view(reinterpret_cast<const char*>(bytes_.data() + data), data_size);
      out.push_back(std::move(resource));
    }
  };
  Resource current;
  walk(0, 0, current);
  return out;
}

const Resource* find_resource(const std::vector<Resource>& resources, uint16_t type, uint16_t name) {
  for (const Resource& resource : resources) {
    if (resource.type == type && resource.name == name) return &resource;
  }
  return nullptr;
}

void check_main_library(const std::filesystem::path& path, const std::string& export_name) {
  const std::string name = path.u8string();
  std::vector<uint8_t> bytes;
  std::string error = read_file(path, bytes);
  if (!error.empty()) throw onefile_pack::PackError(name, "main library cannot be read: " + error);

  const auto refuse = [&](const std::string& reason) { return onefile_pack::PackError(name, "main library " + reason); };
  const std::string not_dll = "is not a 64-bit Windows DLL";
  try {
    PeFile pe(std::move(bytes));
    if (pe.machine() != kMachineAmd64 || !pe.is_pe32_plus()) {
      const char* machine = machine_name(pe.machine());
      throw refuse(not_dll + " (it is built for " +
                   (machine ? std::string(machine) : "machine " + hex(pe.machine())) + ")");
    }
    if (!pe.is_dll()) throw refuse(not_dll + " (it is an executable)");
    const uint32_t rva = pe.export_rva(export_name);
    if (rva == 0) throw refuse("has no export named " + export_name);
    // Data exported under the name would be called as a function.
    if (!pe.is_code(rva)) throw refuse("exports " + export_name + " as data, not as a function");
  } catch (const PeError& e) {
    throw refuse(not_dll + " (" + e.what() + ")");
  }
}

}  // namespace onefile_pe
