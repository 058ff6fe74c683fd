#include "packer/packed_app.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "contract/data_section.h"
#include "contract/format.h"
#include "contract/little_endian.h"
#include "packer/file_system.h"
#include "packer/launcher_image.h"
#include "packer/pack_error.h"
#include "packer/pe/pe_file.h"
#include "packer/utf.h"

namespace onefile_pack {

namespace {

// Enough for the headers of any launcher this packer writes.
constexpr size_t kHeadBytes = 64 << 10;
// The largest field besides the payload: a splash of 1024 x 1024 pixels
// takes 4 MiB; texts far less.
constexpr uint64_t kMaxSmallField = 16 << 20;

[[noreturn]] void not_an_app(const std::string& path, const std::string& why) {
  throw PackError(path, "not an app packed by onefile-pack (" + why + ")");
}

[[noreturn]] void damaged(const std::string& path, const std::string& why) {
  throw PackError(path, "damaged: " + why);
}

bool is_text_field(uint32_t id) {
#define ONEFILE_TEXT_FIELD(Name, ...) \
  if (id == data_section::Name) return true;
#include "contract/packed_fields.inc"
  return false;
}

bool is_text_list_field(uint32_t id) {
#define ONEFILE_TEXT_LIST_FIELD(Name, ...) \
  if (id == data_section::Name) return true;
#include "contract/packed_fields.inc"
  return false;
}

// The fields --list and --verify read: all but the payload, which is read
// from the file when decoded, and the file digests, which they do not use
// (32 bytes a file, they may exceed what is held in memory here).
bool is_known_field(uint32_t id) {
  if (id == data_section::kFileDigests) return false;
#define ONEFILE_BYTES_FIELD(Name, ...) \
  if (id == data_section::Name) return true;
#include "contract/packed_fields.inc"
  return is_text_field(id) || is_text_list_field(id);
}

void read_at(InputFile& file, uint64_t offset, void* data, size_t size, const std::string& path) {
  file.seek(offset);
  size_t got = 0;
  while (got < size) {
    const size_t n = file.read(static_cast<char*>(data) + got, size - got);
    if (n == 0) damaged(path, "the file is cut short");
    got += n;
  }
}

// Why the field `id` with these bytes is not as the packer writes it, or
// an empty string.
std::string field_problem(uint32_t id, const std::string& bytes) {
  const auto unit = [&](size_t i) { return little_endian::read(reinterpret_cast<const unsigned char*>(&bytes[2 * i]), 2); };
  if (is_text_field(id) || is_text_list_field(id)) {
    if (bytes.size() < 2 || bytes.size() % 2 != 0 || unit(bytes.size() / 2 - 1) != 0)
      return "is not a text ending with a 0x0000 unit";
    if (is_text_field(id))
      for (size_t i = 0; i + 1 < bytes.size() / 2; ++i)
        if (unit(i) == 0) return "holds a 0x0000 unit inside its text";
  }
  if (id == data_section::kSplashImage) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() < 40) return "is shorter than a bitmap header";
    const int64_t width = static_cast<int32_t>(little_endian::read(b + 4, 4));
    const int64_t height = -static_cast<int64_t>(static_cast<int32_t>(little_endian::read(b + 8, 4)));
    if (little_endian::read(b, 4) != 40 || little_endian::read(b + 14, 2) != 32 || width < 1 ||
        width > data_section::kMaxSplashSize || height < 1 || height > data_section::kMaxSplashSize ||
        bytes.size() != 40 + static_cast<uint64_t>(width * height * 4))
      return "is not a top-down 32-bit bitmap of its size";
  }
  return {};
}

}  // namespace

std::string PackedApp::text(uint32_t id) const {
  const auto it = fields.find(id);
  if (it == fields.end()) return {};
  std::u16string units;
  for (size_t i = 0; i + 1 < it->second.size() / 2; ++i)
    units.push_back(static_cast<char16_t>(
        little_endian::read(reinterpret_cast<const unsigned char*>(&it->second[2 * i]), 2)));
  return utf16_to_utf8(units);
}

std::vector<std::string> PackedApp::arguments() const {
  std::vector<std::string> out;
  const auto it = fields.find(data_section::kArguments);
  if (it == fields.end()) return out;
  std::u16string units;
  for (size_t i = 0; i < it->second.size() / 2; ++i) {
    const auto unit =
        static_cast<char16_t>(little_endian::read(reinterpret_cast<const unsigned char*>(&it->second[2 * i]), 2));
    if (unit != 0) {
      units.push_back(unit);
      continue;
    }
    out.push_back(utf16_to_utf8(units));
    units.clear();
  }
  return out;
}

PackedApp open_packed_app(const std::string& path) {
  const FileInfo info = file_info(path, true);
  if (info.kind == FileKind::missing) throw PackError(path, "cannot be read: " + error_text(info.error));
  if (info.kind != FileKind::file) not_an_app(path, "not a regular file");
  InputFile file(path, "packed app");
  PackedApp app;
  app.path = path;
  app.file_size = file.size();

  std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(app.file_size, kHeadBytes)));
  read_at(file, 0, head.data(), head.size(), path);
  if (head.size() >= payload_format::kHeaderSize &&
      std::memcmp(head.data(), payload_format::kHeader, payload_format::kHeaderSize) == 0) {
    // A stored payload on its own.
    app.payload_only = true;
    app.payload_size = app.file_size;
    return app;
  }
  if (head.size() < 2 || head[0] != 'M' || head[1] != 'Z') not_an_app(path, "neither a Windows executable nor a stored payload");
  const onefile_pe::PeFile pe = [&] {
    try {
      return onefile_pe::PeFile(head);
    } catch (const onefile_pe::PeError& e) {
      not_an_app(path, std::string("not a readable Windows executable: ") + e.what());
    }
  }();
  const onefile_pe::Section* data = nullptr;
  for (const onefile_pe::Section& section : pe.sections()) {
    if (section.name == std::string(data_section::kName, sizeof data_section::kName)) data = &section;
    app.sections_end = std::max<uint64_t>(app.sections_end, uint64_t{section.raw_offset} + section.raw_size);
  }
  if (!data) not_an_app(path, "a Windows executable without a .onefile section");
  app.console = pe.subsystem() == onefile_pe::kSubsystemWindowsConsole;
  app.checksum_at = pe.optional_header_offset() + onefile_pe::layout::kChecksum;
  app.checksum = static_cast<uint32_t>(little_endian::read(head.data() + app.checksum_at, 4));
  const onefile_pe::DataDirectory signature = pe.directory(onefile_pe::layout::kCertificateDirectory);
  app.signature_offset = signature.rva;  // a file offset, for this table alone
  app.signature_size = signature.size;
  if (app.sections_end > app.file_size)
    damaged(path, "the file is cut short: it holds " + std::to_string(app.file_size) + " bytes, its sections end at " +
                      std::to_string(app.sections_end));

  // The data section: its header, the table of fields, then each field.
  const uint64_t base = data->raw_offset;
  const uint64_t size = std::min<uint64_t>(data->virtual_size, data->raw_size);
  unsigned char header[data_section::kHeaderSize];
  if (size < sizeof header) damaged(path, "its .onefile section is too small for its header");
  read_at(file, base, header, sizeof header, path);
  if (std::memcmp(header, data_section::kMagic, sizeof data_section::kMagic) != 0)
    not_an_app(path, "its .onefile section does not start with \"VOYDATA\"");
  const uint64_t version = little_endian::read(header + data_section::kVersionAt, 4);
  if (version != data_section::kLayoutVersion)
    throw PackError(path, "its data section has layout " + std::to_string(version) + ", which this onefile-pack (layout " +
                              std::to_string(data_section::kLayoutVersion) + ") does not know: a newer packer wrote it");
  const uint64_t count = little_endian::read(header + data_section::kCountAt, 4);
  if (count > (size - sizeof header) / data_section::kFieldEntrySize)
    damaged(path, "the data section's table of " + std::to_string(count) + " fields does not fit the section");
  std::vector<unsigned char> table(static_cast<size_t>(count * data_section::kFieldEntrySize));
  read_at(file, base + sizeof header, table.data(), table.size(), path);
  const uint64_t table_end = sizeof header + table.size();
  std::set<uint32_t> ids;
  bool payload = false;
  for (uint64_t i = 0; i < count; ++i) {
    const unsigned char* entry = table.data() + i * data_section::kFieldEntrySize;
    const auto id = static_cast<uint32_t>(little_endian::read(entry + data_section::kEntryIdAt, 4));
    const uint64_t offset = little_endian::read(entry + data_section::kEntryOffsetAt, 4);
    const uint64_t field_size = little_endian::read(entry + data_section::kEntrySizeAt, 8);
    const std::string label = "the data section's field " + std::to_string(id);
    if (!ids.insert(id).second) damaged(path, label + " appears twice");
    if (offset < table_end || offset % data_section::kFieldAlignment != 0 || offset > size ||
        field_size > size - offset)
      damaged(path, label + " does not lie inside the section");
    if (id == data_section::kPayload) {
      payload = true;
      app.payload_offset = base + offset;
      app.payload_size = field_size;
      continue;
    }
    if (!is_known_field(id)) continue;
    if (field_size > kMaxSmallField) damaged(path, label + " is " + std::to_string(field_size) + " bytes, too large");
    std::string bytes(static_cast<size_t>(field_size), '\0');
    read_at(file, base + offset, bytes.data(), bytes.size(), path);
    const std::string problem = field_problem(id, bytes);
    if (!problem.empty()) damaged(path, label + " " + problem);
    app.fields[id] = std::move(bytes);
  }
  if (!payload) damaged(path, "the data section has no payload");
  return app;
}

uint32_t file_pe_checksum(const PackedApp& app) {
  InputFile file(app.path, "packed app");
  PeChecksum sum;
  std::vector<unsigned char> buffer(1 << 20);
  uint64_t at = 0;
  for (size_t n; (n = file.read(buffer.data(), buffer.size())) > 0; at += n) {
    // The checksum field itself counts as zero.
    for (uint64_t i = app.checksum_at; i < app.checksum_at + 4; ++i)
      if (i >= at && i < at + n) buffer[static_cast<size_t>(i - at)] = 0;
    sum.add(buffer.data(), n);
  }
  return sum.value();
}

}  // namespace onefile_pack
