// Writes the resource section into a completed template launcher and reads
// the resources back from it with the PE reader.
#include <gtest/gtest.h>
#include <stb_image.h>

#include "packer/launcher_image.h"
#include "packer/output_file.h"
#include "packer/pe/pe_file.h"
#include "packer/resources/resources.h"
#include "packer/resources/tests/test_files.h"
#include "packer/templates.h"

namespace onefile_resources {
namespace {

using onefile_pe::PeFile;
using onefile_pe::Resource;

// A launcher with the resources of `texts` and `icon` (and a payload of
// three bytes), written to `dir`/app.exe; returns its path.
std::filesystem::path build_exe(const ResourceTexts& texts, const std::optional<std::filesystem::path>& icon,
                                const TempDir& dir) {
  write_file(dir / "payload", "VOY");
  const std::optional<IconImage> image = icon ? std::optional(load_icon_source(*icon)) : std::nullopt;
  onefile_pack::LauncherInputs inputs;
  inputs.template_image = onefile_pack::launcher_template("windowed");
  inputs.payload_path = (dir / "payload").string();
  inputs.resources = [&](uint32_t rva) { return make_resource_section(texts, image, rva); };
  onefile_pack::OutputFile out((dir / "app.exe").string(), 0755);
  onefile_pack::write_launcher(inputs, out);
  out.commit();
  return dir / "app.exe";
}

uint16_t u16(std::string_view b, size_t at) { return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8); }

// The icon group: GRPICONDIR (reserved, type 1, count) and 14-byte entries
// (width, height, colours, reserved, planes, bits, byte count, icon id).
struct GroupEntry {
  int size, bits;
  uint16_t id;
};
std::vector<GroupEntry> read_group(std::string_view group) {
  std::vector<GroupEntry> entries;
  if (group.size() < 6 || u16(group, 2) != 1) return entries;
  for (size_t i = 0, count = u16(group, 4); i < count && 6 + i * 14 + 14 <= group.size(); ++i) {
    std::string_view e = group.substr(6 + i * 14, 14);
    int size = uint8_t(e[0]) == 0 ? 256 : uint8_t(e[0]);
    entries.push_back({size, u16(e, 6), u16(e, 12)});
  }
  return entries;
}

TEST(ResourceSection, ProgramCarriesIconVersionAndManifest) {
  TempDir dir;
  // A 300-pixel source with a transparent top-left corner.
  IconImage source{300, std::vector<uint8_t>(300 * 300 * 4)};
  for (int y = 0; y < 300; ++y) {
    for (int x = 0; x < 300; ++x) {
      uint8_t* p = &source.rgba[(y * 300 + x) * 4];
      if (x >= 60 || y >= 60) p[0] = 220, p[1] = 30, p[2] = 90, p[3] = 255;
    }
  }
  write_file(dir / "icon.png", encode_png(source));
  const ResourceTexts texts{"Grüße & \"Söhne\" \\ GmbH", "Ünïcode App 𝄞", "2.5.17.3", "app.exe"};
  PeFile pe = PeFile::load(build_exe(texts, dir / "icon.png", dir));
  std::vector<Resource> resources = pe.resources();
  for (const Resource& r : resources) EXPECT_EQ(r.language, 0x0409);

  const Resource* group = onefile_pe::find_resource(resources, onefile_pe::kResourceGroupIcon, 1);
  ASSERT_NE(group, nullptr);
  std::vector<GroupEntry> entries = read_group(group->data);
  ASSERT_EQ(entries.size(), 7u);
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(entries[i].size);
    EXPECT_EQ(entries[i].size, kIconSizes[i]);
    EXPECT_EQ(entries[i].bits, 32);
    const Resource* image = onefile_pe::find_resource(resources, onefile_pe::kResourceIcon, entries[i].id);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->data.substr(0, 8), "\x89PNG\r\n\x1a\n");
    int w = 0, h = 0, channels = 0;
    stbi_uc* rgba = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(image->data.data()),
                                          int(image->data.size()), &w, &h, &channels, 4);
    ASSERT_NE(rgba, nullptr);
    EXPECT_EQ(w, entries[i].size);
    EXPECT_EQ(h, entries[i].size);
    EXPECT_EQ(channels, 4);
    EXPECT_EQ(rgba[3], 0);  // the transparent corner
    const stbi_uc* last = rgba + (size_t(w) * h - 1) * 4;
    EXPECT_EQ((std::vector<int>{last[0], last[1], last[2], last[3]}), (std::vector<int>{220, 30, 90, 255}));
    stbi_image_free(rgba);
  }

  const Resource* version = onefile_pe::find_resource(resources, onefile_pe::kResourceVersion, 1);
  ASSERT_NE(version, nullptr);
  onefile_pe::VersionInfo info = onefile_pe::parse_version_info(version->data);
  EXPECT_EQ(std::vector<uint16_t>(info.file_version, info.file_version + 4), (std::vector<uint16_t>{2, 5, 17, 3}));
  EXPECT_EQ(std::vector<uint16_t>(info.product_version, info.product_version + 4),
            (std::vector<uint16_t>{2, 5, 17, 3}));
  EXPECT_EQ(info.file_type, 1u);  // an application
  EXPECT_EQ(info.translations, std::vector<uint32_t>{1200u << 16 | 0x0409});
  const std::map<std::string, std::string> expected = {
      {"CompanyName", texts.company},  {"FileDescription", texts.product}, {"FileVersion", texts.version},
      {"OriginalFilename", "app.exe"}, {"ProductName", texts.product},     {"ProductVersion", texts.version}};
  EXPECT_EQ(info.strings["040904B0"], expected);

  const Resource* manifest = onefile_pe::find_resource(resources, onefile_pe::kResourceManifest, 1);
  ASSERT_NE(manifest, nullptr);
  EXPECT_EQ(manifest->data, make_manifest());
  for (const char* part : {
           R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)",
           R"(<longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware>)",
           R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")", R"(publicKeyToken="6595b64144ccf1df")",
           "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Vista
           "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10
       }) {
    EXPECT_NE(manifest->data.find(part), std::string_view::npos) << part;
  }
}

TEST(ResourceSection, ReportsBadInput) {
  TempDir dir;
  auto error_of = [&](const ResourceTexts& texts, const std::optional<std::filesystem::path>& icon) -> std::string {
    try {
      make_resource_section(texts, icon ? std::optional(load_icon_source(*icon)) : std::nullopt, 0x1000);
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return "";
  };
  const ResourceTexts good{"Co", "App", "1.0", ""};
  EXPECT_EQ(error_of({"Co", "App", "1.0\t", ""}, std::nullopt),
            "--version: the text has a control character (U+0009), which the version resource cannot hold");
  EXPECT_EQ(error_of({"\xff", "App", "1.0", ""}, std::nullopt), "--company: the text is not valid UTF-8");
  write_file(dir / "icon.png", "not an image");
  EXPECT_EQ(error_of(good, dir / "icon.png"), (dir / "icon.png").string() + ": icon is not a PNG or ICO file");
}

}  // namespace
}  // namespace onefile_resources
