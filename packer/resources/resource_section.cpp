// The manifest, the version information and the resource section that holds
// them with the icon group, written as a PE resource tree.
#include "packer/le_bytes.h"
#include "packer/pe/pe_file.h"
#include "packer/resources/resources.h"
#include "packer/utf.h"

namespace onefile_resources {

using onefile_pack::pad_to;
using onefile_pack::put16;
using onefile_pack::put32;
using onefile_pack::set16;
using onefile_pack::set32;

namespace {

// English (United States): the language of every resource, and with the
// Unicode code page (1200) the key of the version's string table.
constexpr uint16_t kLanguage = 0x0409;
constexpr uint16_t kCodePage = 1200;

struct Entry {
  uint16_t type;
  uint16_t name;
  std::string data;
};

void put_utf16(std::string& b, const std::string& text) {
  std::u16string units;
  onefile_pack::utf8_to_utf16(text, units);  // checked by check_version_text
  for (const char16_t unit : units) put16(b, unit);
  put16(b, 0);
}

// One node of VS_VERSIONINFO: length, value length, type (1: text, the value
// length in UTF-16 units; 0: binary, in bytes), key, padding to 4, value,
// then each child at a multiple of 4.
std::string version_node(const std::string& key, const std::string& value, uint16_t value_length, bool text,
                         const std::vector<std::string>& children = {}) {
  std::string node;
  put16(node, 0);
  put16(node, value_length);
  put16(node, text ? 1 : 0);
  put_utf16(node, key);
  pad_to(node, 4);
  node += value;
  for (const std::string& child : children) {
    pad_to(node, 4);
    node += child;
  }
  set16(node, 0, static_cast<uint16_t>(node.size()));
  return node;
}

std::string version_string(const std::string& key, const std::string& text) {
  std::string value;
  put_utf16(value, text);
  return version_node(key, value, static_cast<uint16_t>(value.size() / 2), true);
}

std::string fixed_file_info(const NumericVersion& v) {
  std::string info;
  put32(info, 0xfeef04bd);  // signature
  put32(info, 0x00010000);  // structure version 1.0
  for (int twice = 0; twice < 2; ++twice) {  // file, then product version
    put32(info, uint32_t{v.part[0]} << 16 | v.part[1]);
    put32(info, uint32_t{v.part[2]} << 16 | v.part[3]);
  }
  put32(info, 0x3f);     // flags mask
  put32(info, 0);        // flags
  put32(info, 0x40004);  // VOS_NT_WINDOWS32
  put32(info, 1);        // VFT_APP
  put32(info, 0);        // subtype
  put32(info, 0);        // date
  put32(info, 0);
  return info;
}

// The tree: root (types) -> names -> one language each -> data entry. IDs
// ascend at every level, as the loader's binary search expects.
std::string resource_tree(const std::vector<Entry>& entries, uint32_t section_rva) {
  std::vector<uint16_t> types;
  for (const Entry& e : entries)
    if (types.empty() || types.back() != e.type) types.push_back(e.type);
  const auto directory = [](std::string& b, size_t count) {
    put32(b, 0);  // characteristics
    put32(b, 0);  // time stamp
    put32(b, 0);  // version
    put16(b, 0);  // named entries
    put16(b, static_cast<uint16_t>(count));
  };
  const uint32_t kSubdirectory = 0x80000000;
  const size_t names_at = 16 + 8 * types.size();
  const size_t languages_at = names_at + 16 * types.size() + 8 * entries.size();
  const size_t data_entries_at = languages_at + 24 * entries.size();
  size_t data_at = data_entries_at + 16 * entries.size();

  std::string tree;
  directory(tree, types.size());
  size_t name_dir = names_at;
  for (const uint16_t type : types) {
    put32(tree, type);
    put32(tree, kSubdirectory | static_cast<uint32_t>(name_dir));
    size_t count = 0;
    for (const Entry& e : entries) count += e.type == type;
    name_dir += 16 + 8 * count;
  }
  size_t index = 0;
  for (const uint16_t type : types) {
    size_t count = 0;
    for (const Entry& e : entries) count += e.type == type;
    directory(tree, count);
    for (const Entry& e : entries) {
      if (e.type != type) continue;
      put32(tree, e.name);
      put32(tree, kSubdirectory | static_cast<uint32_t>(languages_at + 24 * index++));
    }
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    directory(tree, 1);
    put32(tree, kLanguage);
    put32(tree, static_cast<uint32_t>(data_entries_at + 16 * i));
  }
  std::string data;
  for (const Entry& e : entries) {
    data_at = (data_at + 7) & ~size_t{7};
    put32(tree, section_rva + static_cast<uint32_t>(data_at));
    put32(tree, static_cast<uint32_t>(e.data.size()));
    put32(tree, 0);  // code page
    put32(tree, 0);
    data_at += e.data.size();
  }
  for (const Entry& e : entries) {
    pad_to(tree, 8);
    tree += e.data;
  }
  return tree;
}

}  // namespace

std::string make_manifest() {
  // The compatibility list runs from Windows Vista to Windows 10 (which also
  // stands for 11). longPathAware lets the unpacked tree go deeper than
  // MAX_PATH where the system allows it.
  return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <requestedExecutionLevel level="asInvoker" uiAccess="false"/>
      </requestedPrivileges>
    </security>
  </trustInfo>
  <compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">
    <application>
      <supportedOS Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}"/>
      <supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>
      <supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>
      <supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>
      <supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>
    </application>
  </compatibility>
  <application xmlns="urn:schemas-microsoft-com:asm.v3">
    <windowsSettings>
      <longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware>
    </windowsSettings>
  </application>
  <dependency>
    <dependentAssembly>
      <assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0"
          processorArchitecture="*" publicKeyToken="6595b64144ccf1df" language="*"/>
    </dependentAssembly>
  </dependency>
</assembly>
)";
}

std::string make_version_info(const ResourceTexts& texts) {
  std::vector<std::string> strings = {version_string("CompanyName", texts.company),
                                      version_string("FileDescription", texts.product),
                                      version_string("FileVersion", texts.version)};
  if (!texts.original_filename.empty()) strings.push_back(version_string("OriginalFilename", texts.original_filename));
  strings.push_back(version_string("ProductName", texts.product));
  strings.push_back(version_string("ProductVersion", texts.version));
  const std::string table = version_node("040904B0", "", 0, true, strings);
  std::string translation;
  put16(translation, kLanguage);
  put16(translation, kCodePage);
  return version_node("VS_VERSION_INFO", fixed_file_info(parse_numeric_version(texts.version)), 52, false,
                      {version_node("StringFileInfo", "", 0, true, {table}),
                       version_node("VarFileInfo", "", 0, true, {version_node("Translation", translation, 4, false)})});
}

IconGroup make_icon_group(const IconImage& source) {
  IconGroup group;
  for (const IconImage& image : make_icon_images(source)) {
    std::string png = encode_png(image);
    std::string entry;
    entry += static_cast<char>(image.size & 0xff);  // 256 is written as 0
    entry += static_cast<char>(image.size & 0xff);
    entry += '\0';  // colour count: not paletted
    entry += '\0';
    put16(entry, 1);   // planes
    put16(entry, 32);  // bits per pixel
    put32(entry, static_cast<uint32_t>(png.size()));
    group.entries.push_back(std::move(entry));
    group.images.push_back(std::move(png));
  }
  return group;
}

std::string make_resource_section(const ResourceTexts& texts, const IconGroup& icon, uint32_t section_rva) {
  check_version_text("--company", texts.company);
  check_version_text("--product", texts.product);
  check_version_text("--version", texts.version);
  check_version_text("output file name", texts.original_filename);

  // RT_ICON 1..n hold the images; the group (GRPICONDIR) lists them.
  std::vector<Entry> entries;
  std::string group;
  put16(group, 0);
  put16(group, 1);  // icons
  put16(group, static_cast<uint16_t>(icon.images.size()));
  for (size_t i = 0; i < icon.images.size(); ++i) {
    group += icon.entries[i];
    put16(group, static_cast<uint16_t>(i + 1));
    entries.push_back({onefile_pe::kResourceIcon, static_cast<uint16_t>(i + 1), icon.images[i]});
  }
  entries.push_back({onefile_pe::kResourceGroupIcon, 1, std::move(group)});
  entries.push_back({onefile_pe::kResourceVersion, 1, make_version_info(texts)});
  entries.push_back({onefile_pe::kResourceManifest, 1, make_manifest()});  // the process's own manifest
  return resource_tree(entries, section_rva);
}

std::string make_resource_section(const ResourceTexts& texts, const std::optional<IconImage>& icon,
                                  uint32_t section_rva) {
  return make_resource_section(texts, make_icon_group(icon ? *icon : default_icon_source()), section_rva);
}

}  // namespace onefile_resources
