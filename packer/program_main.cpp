#include "packer/program_main.h"

#include <filesystem>

#include "packer/le_bytes.h"
#include "packer/pack_error.h"
#include "packer/pe/pe_file.h"
#include "packer/target_template.h"

namespace onefile_pack {

namespace {

constexpr size_t kGroupHeaderSize = 6;
constexpr size_t kGroupEntrySize = 14;  // 12 bytes, then the icon's ID

// A text of the version resource that the output's version resource can
// carry too; else empty.
std::string usable_text(const std::string& text) {
  try {
    onefile_resources::check_version_text("version text", text);
    return text;
  } catch (const std::exception&) {
    return {};
  }
}

void read_version(const onefile_pe::Resource& resource, ProgramMain& program) {
  onefile_pe::VersionInfo info;
  try {
    info = onefile_pe::parse_version_info(resource.data);
  } catch (const onefile_pe::PeError&) {
    return;
  }
  // The first string table that names them, whatever its language.
  for (const auto& [table, strings] : info.strings) {
    const auto company = strings.find("CompanyName"), product = strings.find("ProductName");
    if (program.company.empty() && company != strings.end()) program.company = usable_text(company->second);
    if (program.product.empty() && product != strings.end()) program.product = usable_text(product->second);
  }
  const uint16_t* v = info.file_version;
  if (v[0] || v[1] || v[2] || v[3])
    program.version = std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
                      std::to_string(v[3]);
}

}  // namespace

onefile_resources::IconGroup copy_icon_group(const std::string& group_data,
                                             const std::vector<std::pair<uint16_t, std::string>>& icons) {
  onefile_resources::IconGroup group;
  if (group_data.size() < kGroupHeaderSize || get16(group_data, 2) != 1) return group;
  const size_t count = get16(group_data, 4);
  for (size_t i = 0; i < count; ++i) {
    const size_t at = kGroupHeaderSize + i * kGroupEntrySize;
    if (at + kGroupEntrySize > group_data.size()) break;
    const uint16_t id = get16(group_data, at + 12);
    for (const auto& [icon_id, image] : icons) {
      if (icon_id != id) continue;
      // The entry's size must be the image's own, whatever the program wrote.
      std::string entry = group_data.substr(at, 8);
      put32(entry, static_cast<uint32_t>(image.size()));
      group.entries.push_back(std::move(entry));
      group.images.push_back(image);
      break;
    }
  }
  return group;
}

std::optional<ProgramMain> read_program_main(const std::string& path, bool check) {
  std::optional<onefile_pe::PeFile> image;
  try {
    image.emplace(onefile_pe::PeFile::load(std::filesystem::u8path(path)));
  } catch (const onefile_pe::PeError&) {
    return std::nullopt;
  }
  const onefile_pe::PeFile& pe = *image;
  if (pe.is_dll()) return std::nullopt;
  ProgramMain program;
  program.machine = pe.machine();
  program.console = pe.subsystem() == onefile_pe::kSubsystemWindowsConsole;
  if (check) {
    if (pe.machine() != onefile_pe::kMachineAmd64 && pe.machine() != onefile_pe::kMachineI386)
      throw PackError(path, "main program is built for " + onefile_pe::machine_text(pe.machine()) +
                                "; the launcher runs programs for 64-bit or 32-bit x86 Windows");
    if (pe.subsystem() != onefile_pe::kSubsystemWindowsGui && pe.subsystem() != onefile_pe::kSubsystemWindowsConsole)
      throw PackError(path, "main program is for subsystem " + std::to_string(pe.subsystem()) +
                                ", neither a windowed nor a console program");
  }

  std::vector<onefile_pe::Resource> resources;
  try {
    resources = pe.resources();
  } catch (const onefile_pe::PeError&) {
    return program;
  }
  std::vector<std::pair<uint16_t, std::string>> icons;
  for (const onefile_pe::Resource& r : resources)
    if (r.type == onefile_pe::kResourceIcon && !r.name.is_name) icons.emplace_back(r.name.id, std::string(r.data));
  for (const onefile_pe::Resource& r : resources) {
    if (r.type == onefile_pe::kResourceGroupIcon && program.icon.images.empty())
      program.icon = copy_icon_group(std::string(r.data), icons);
    if (r.type == onefile_pe::kResourceVersion && program.version.empty() && program.company.empty() &&
        program.product.empty())
      read_version(r, program);
  }
  return program;
}

void check_fixed_argument(const std::string& argument) {
  check_placeholders(argument, "--arg", [&](path_placeholders::Placeholder, const std::string&) {});
}

}  // namespace onefile_pack
