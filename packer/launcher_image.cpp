#include "packer/launcher_image.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <cstdio>
#include <vector>

#include "contract/data_section.h"
#include "packer/file_system.h"
#include "packer/le_bytes.h"
#include "packer/names.h"
#include "packer/output_file.h"
#include "packer/pack_error.h"
#include "packer/pe/pe_file.h"

namespace onefile_pack {

namespace {

constexpr uint32_t kReadOnlyData = 0x40000040;  // initialized data, readable
constexpr uint64_t kPageSize = 4096;
// The loader maps no image of 2 GiB or more.
constexpr uint64_t kMaxImageSize = uint64_t{2} << 30;

uint64_t align(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// What the template's headers say, and where the fields lie that completing
// it rewrites (file offsets).
struct Layout {
  size_t section_count_at = 0;
  size_t initialized_data_at = 0;
  size_t image_size_at = 0;
  size_t checksum_at = 0;
  size_t resource_directory_at = 0;
  size_t new_section_headers = 0;  // just past the section table
  uint16_t section_count = 0;
  uint32_t initialized_data_size = 0;
  uint32_t file_alignment = 0;
  uint32_t section_alignment = 0;
  uint64_t end_of_file_data = 0;  // end of the last section's file data
  uint64_t end_of_image = 0;      // end of the last section in memory, aligned
};

Layout read_layout(std::string_view image) {
  using namespace onefile_pe::layout;
  const auto bad = [](const std::string& reason) { return PackError("template launcher", reason); };
  const onefile_pe::PeFile pe = [&] {
    try {
      return onefile_pe::PeFile(std::vector<uint8_t>(image.begin(), image.end()));
    } catch (const onefile_pe::PeError& e) {
      throw bad(std::string("not a Windows executable (") + e.what() + ")");
    }
  }();
  if (!pe.is_pe32_plus() || pe.directory_count() < 16) throw bad("not a 64-bit Windows executable");
  Layout l;
  const size_t optional = pe.optional_header_offset();
  l.section_count_at = pe.file_header_offset() + kSectionCount;
  l.initialized_data_at = optional + kInitializedDataSize;
  l.image_size_at = optional + kImageSize;
  l.checksum_at = optional + kChecksum;
  l.resource_directory_at = pe.directory_offset(kResourceDirectory);
  l.section_count = static_cast<uint16_t>(pe.sections().size());
  l.new_section_headers = pe.section_table_offset() + kSectionHeaderSize * l.section_count;
  l.initialized_data_size = pe.initialized_data_size();
  l.section_alignment = pe.section_alignment();
  l.file_alignment = pe.file_alignment();
  if (l.file_alignment == 0 || l.section_alignment == 0 || pe.headers_size() > image.size() ||
      l.new_section_headers > pe.headers_size())
    throw bad("malformed headers");
  // Two more section headers must fit before the first section's data.
  if (l.new_section_headers + kSectionHeaderSize * 2 > pe.headers_size())
    throw bad("no room for two more section headers");
  l.end_of_file_data = pe.headers_size();
  l.end_of_image = align(pe.headers_size(), l.section_alignment);
  for (const onefile_pe::Section& s : pe.sections()) {
    const uint64_t end_raw = uint64_t{s.raw_offset} + s.raw_size;
    const uint64_t end_virtual = uint64_t{s.virtual_address} + s.virtual_size;
    l.end_of_file_data = std::max(l.end_of_file_data, end_raw);
    l.end_of_image = std::max(l.end_of_image, align(end_virtual, l.section_alignment));
    if (s.name == std::string(data_section::kName, sizeof data_section::kName)) throw bad("already has a data section");
  }
  // Data after the sections (symbols, a signature) would end up inside the
  // new sections' file data.
  if (l.end_of_file_data != image.size()) throw bad("has data after its sections");
  if (pe.directory(kResourceDirectory).rva != 0 || pe.directory(kCertificateDirectory).rva != 0)
    throw bad("already has resources or a signature");
  return l;
}

void add_section_header(std::string& image, size_t at, uint32_t virtual_address, uint64_t virtual_size,
                        uint64_t raw_offset, uint64_t raw_size, const char (&name)[8]) {
  std::string header(name, 8);
  put32(header, static_cast<uint32_t>(virtual_size));
  put32(header, virtual_address);
  put32(header, static_cast<uint32_t>(raw_size));
  put32(header, static_cast<uint32_t>(raw_offset));
  put32(header, 0);  // relocations
  put32(header, 0);  // line numbers
  put32(header, 0);  // their counts
  put32(header, kReadOnlyData);
  image.replace(at, onefile_pe::layout::kSectionHeaderSize, header);
}

// UTF-16LE bytes of `text` with its terminator, appended to `bytes`; throws
// PackError naming `option` when `text` is not valid UTF-8.
void append_text(std::string& bytes, const std::string& text, const char* option) {
  std::u16string units;
  if (!utf8_to_utf16(text, units)) throw PackError(option, "the text is not valid UTF-8");
  units.push_back(u'\0');
  for (const char16_t unit : units) put16(bytes, unit);
}

// The data section's table and fields (contract/packed_fields.inc) but the
// payload's bytes, which follow at the returned string's end, a multiple of
// 16. Fields are written kind by kind in the order of the rows.
std::string data_section_head(const BuildTexts& texts, uint64_t payload_size) {
  std::vector<std::pair<uint32_t, std::string>> written;
#define ONEFILE_TEXT_FIELD(Name, id, option, member, symbol, fallback, when)  \
  if (data_section::when == data_section::kAlways || !texts.member.empty()) { \
    written.emplace_back(data_section::Name, std::string());                  \
    append_text(written.back().second, texts.member, option);                 \
  }
#include "contract/packed_fields.inc"
#define ONEFILE_TEXT_LIST_FIELD(Name, id, option, member, ...)                                     \
  if (!texts.member.empty()) {                                                                     \
    written.emplace_back(data_section::Name, std::string());                                       \
    for (const std::string& text : texts.member) append_text(written.back().second, text, option); \
  }
#include "contract/packed_fields.inc"
#define ONEFILE_BYTES_FIELD(Name, id, option, member, ...) \
  if (!texts.member.empty()) written.emplace_back(data_section::Name, texts.member);
#include "contract/packed_fields.inc"

  const size_t count = written.size() + 1;  // and the payload
  const uint64_t at =
      align(data_section::kHeaderSize + count * data_section::kFieldEntrySize, data_section::kFieldAlignment);
  std::string table(data_section::kMagic, sizeof data_section::kMagic);
  table.resize(at, '\0');
  set32(table, data_section::kVersionAt, data_section::kLayoutVersion);
  set32(table, data_section::kCountAt, static_cast<uint32_t>(count));
  std::string fields;
  size_t entry = data_section::kHeaderSize;
  const auto add_entry = [&](uint32_t id, uint64_t offset, uint64_t size) {
    set32(table, entry + data_section::kEntryIdAt, id);
    set32(table, entry + data_section::kEntryOffsetAt, static_cast<uint32_t>(offset));
    set_le(table, entry + data_section::kEntrySizeAt, size, 8);
    entry += data_section::kFieldEntrySize;
  };
  for (const auto& [id, bytes] : written) {
    add_entry(id, at + fields.size(), bytes.size());
    fields += bytes;
    pad_to(fields, data_section::kFieldAlignment);
  }
#define ONEFILE_PAYLOAD_FIELD(Name, ...) add_entry(data_section::Name, at + fields.size(), payload_size);
#include "contract/packed_fields.inc"
  return table + fields;
}

// Writes to `out` and to the checksum alike.
struct ImageWriter {
  OutputFile& out;
  PeChecksum checksum;
  void write(const void* data, size_t size) {
    out.write(data, size);
    checksum.add(data, size);
  }
  void zeros(uint64_t count) {
    static const char kZeros[4096] = {};
    for (; count > 0; count -= std::min<uint64_t>(count, sizeof kZeros))
      write(kZeros, static_cast<size_t>(std::min<uint64_t>(count, sizeof kZeros)));
  }
};

}  // namespace

std::string output_file_name(const std::string& output_path) {
#ifdef _WIN32
  return output_path.substr(output_path.find_last_of("/:") + 1);
#else
  return output_path.substr(output_path.find_last_of('/') + 1);
#endif
}

std::string default_product(const std::string& output_path) {
  std::string name = output_file_name(output_path);
  if (name.size() > 4) {
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (tail == ".exe") name.resize(name.size() - 4);
  }
  return name;
}

void check_payload_size(const std::string& payload_path, uint64_t size) {
  if (size > kMaxPayloadSize)
    throw PackError(payload_path, "the stored payload is " + std::to_string(size) +
                                      " bytes, more than a launcher can carry (" + std::to_string(kMaxPayloadSize) +
                                      " bytes: a Windows image stays below 2 GiB)");
}

void PeChecksum::add(const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  size_t i = 0;
  if (length_ % 2 == 1 && size > 0) sum_ += uint64_t{bytes[i++]} << 8;
  for (; i + 1 < size; i += 2) sum_ += bytes[i] | bytes[i + 1] << 8;
  if (i < size) sum_ += bytes[i];
  length_ += size;
}

uint32_t PeChecksum::value() const {
  uint64_t sum = sum_;
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return static_cast<uint32_t>(sum + length_);
}

void write_launcher(const LauncherInputs& inputs, OutputFile& out) {
  std::string image(inputs.template_image);
  const Layout l = read_layout(image);

  InputFile payload(inputs.payload_path, "stored payload");
  const uint64_t payload_size = payload.size();
  check_payload_size(inputs.payload_path, payload_size);

  const uint32_t resources_rva = static_cast<uint32_t>(l.end_of_image);
  const std::string resources = inputs.resources(resources_rva);
  // The data section starts on a page boundary of the file too, so that a
  // loader can map the payload from the file instead of copying it (Wine
  // copies a section that is not page-aligned, at about 3 ms per MB, in
  // both processes of every start). The padding goes to the end of .rsrc.
  const uint64_t page = std::max<uint64_t>(l.file_alignment, kPageSize);
  const uint64_t resources_raw = align(l.end_of_file_data + resources.size(), page) - l.end_of_file_data;
  const uint64_t data_rva = align(resources_rva + resources.size(), l.section_alignment);
  const std::string head = data_section_head(inputs.texts, payload_size);
  const uint64_t data_size = head.size() + payload_size;
  const uint64_t data_raw = align(data_size, l.file_alignment);
  const uint64_t image_size = align(data_rva + data_size, l.section_alignment);
  if (image_size >= kMaxImageSize)
    throw PackError(inputs.payload_path, "the launcher would map " + std::to_string(image_size) +
                                             " bytes, more than a Windows image may (2 GiB)");

  add_section_header(image, l.new_section_headers, resources_rva, resources.size(), l.end_of_file_data,
                     resources_raw, ".rsrc\0\0");
  add_section_header(image, l.new_section_headers + onefile_pe::layout::kSectionHeaderSize,
                     static_cast<uint32_t>(data_rva), data_size, l.end_of_file_data + resources_raw, data_raw,
                     data_section::kName);
  set16(image, l.section_count_at, static_cast<uint16_t>(l.section_count + 2));
  set32(image, l.initialized_data_at, static_cast<uint32_t>(l.initialized_data_size + resources_raw + data_raw));
  set32(image, l.image_size_at, static_cast<uint32_t>(image_size));
  set32(image, l.checksum_at, 0);  // written last
  set32(image, l.resource_directory_at, resources_rva);
  set32(image, l.resource_directory_at + 4, static_cast<uint32_t>(resources.size()));

  ImageWriter writer{out, {}};
  writer.write(image.data(), image.size());
  writer.write(resources.data(), resources.size());
  writer.zeros(resources_raw - resources.size());
  writer.write(head.data(), head.size());
  std::vector<char> buffer(1 << 20);
  uint64_t copied = 0;
  while (copied < payload_size) {
    const size_t n = payload.read(buffer.data(), buffer.size());
    if (n == 0) break;
    writer.write(buffer.data(), n);
    copied += n;
  }
  if (copied != payload_size || payload.read(buffer.data(), 1) != 0)
    throw PackError(inputs.payload_path, "cannot be read: it changed while being packed");
  writer.zeros(data_raw - data_size);

  std::string checksum;
  put32(checksum, writer.checksum.value());
  out.write_at(l.checksum_at, checksum.data(), checksum.size());
}

}  // namespace onefile_pack
