// Launchers packed by onefile-pack with PATH empty (no compiler or linker
// to be found), read back: the headers and the data section, icon group,
// version information and manifest, byte-identical twice; and the pack-time
// refusals of bad icons, texts and main libraries. Skipped when the cross
// tools for a test DLL lack.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include <gtest/gtest.h>

#include "contract/data_section.h"
#include "packer/le_bytes.h"
#include "packer/pe/pe_file.h"
#include "packer/resources/resources.h"
#include "packer/resources/tests/test_files.h"
#include "packer/sha256.h"
#include "packer/tests/test_util.h"

using namespace pack_test;

namespace {

std::string utf16z(const std::string& utf8) { return pack_test::utf16z({utf8}); }

class PackedExe : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef ONEFILE_TEST_MAIN_DLL
    GTEST_SKIP() << "no cross compiler for a test DLL";
#else
    dir_.write("root/app.dll", read_file(ONEFILE_TEST_MAIN_DLL));
    dir_.write("root/data/readme.txt", "hello");
    // A 300 px icon, transparent but for a red disc.
    onefile_resources::IconImage icon{300, std::vector<uint8_t>(300 * 300 * 4, 0)};
    for (int y = 0; y < 300; ++y)
      for (int x = 0; x < 300; ++x)
        if ((x - 150) * (x - 150) + (y - 150) * (y - 150) < 100 * 100) {
          uint8_t* p = &icon.rgba[(y * 300 + x) * 4];
          p[0] = 220, p[3] = 255;
        }
    dir_.write("icon.png", onefile_resources::encode_png(icon));
#endif
  }

  RunResult pack(const std::string& output, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--root", dir_ / "root", "--main", "app.dll", "--output", output,
                                      "--quiet",  "--level",    "3"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_pack(args, {"PATH="});
  }

  ScratchDir dir_;
};

using onefile_pack::get16;
using onefile_pack::get32;

// The headers agree with the sections: the data section comes last, after
// the resources the resource directory names; SizeOfImage ends at the data
// section, whose data starts on a page boundary of the file (so that a
// loader maps it instead of copying it); the checksum is the PE checksum of
// the file; the data section's fields hold the texts and a stored payload.
void expect_consistent_headers(const std::string& exe, const std::vector<std::string>& texts) {
  using namespace onefile_pe::layout;
  const onefile_pe::PeFile pe(std::vector<uint8_t>(exe.begin(), exe.end()));
  const std::vector<onefile_pe::Section>& sections = pe.sections();
  ASSERT_GE(sections.size(), 2u);
  const onefile_pe::Section& data = sections.back();
  const onefile_pe::Section& rsrc = sections[sections.size() - 2];
  ASSERT_EQ(data.name, ".onefile");
  ASSERT_EQ(rsrc.name, ".rsrc");
  const size_t optional = pe.optional_header_offset();
  const uint32_t alignment = pe.section_alignment();
  EXPECT_EQ(get32(exe, optional + kImageSize),
            (data.virtual_address + data.virtual_size + alignment - 1) / alignment * alignment);
  EXPECT_EQ(pe.directory(kResourceDirectory).rva, rsrc.virtual_address);
  EXPECT_EQ(data.characteristics, 0x40000040u);  // read-only initialized data
  EXPECT_EQ(data.raw_offset + data.raw_size, exe.size());
  EXPECT_EQ(data.raw_offset % 4096, 0u);
  EXPECT_EQ(rsrc.raw_offset + rsrc.raw_size, data.raw_offset);

  // The checksum: 16-bit little-endian words summed with their carries,
  // the checksum field itself left out, plus the file's length.
  const size_t checksum_at = optional + kChecksum;
  uint64_t sum = 0;
  for (size_t i = 0; i < exe.size(); i += 2)
    if (i != checksum_at && i != checksum_at + 2)
      sum += i + 1 < exe.size() ? get16(exe, i) : static_cast<uint8_t>(exe[i]);
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  EXPECT_EQ(get32(exe, checksum_at), sum + exe.size());

  std::map<uint32_t, std::string> fields = data_fields(exe);
  ASSERT_EQ(fields.size(), 8u);
  EXPECT_EQ(fields[data_section::kPayload].substr(0, 3), "VOY");
  EXPECT_EQ(parse_payload(fields[data_section::kPayload]).entries.at(0).first, u16("app.dll"));
  EXPECT_EQ(fields[data_section::kCompany], utf16z(texts[0]));
  EXPECT_EQ(fields[data_section::kProduct], utf16z(texts[1]));
  for (uint32_t id : {data_section::kVersion, data_section::kFileVersion, data_section::kProductVersion})
    EXPECT_EQ(fields[id], utf16z(texts[2])) << id;
  EXPECT_EQ(fields[data_section::kTargetTemplate], utf16z("{TEMP}\\onefile_{PID}_{TIME_US}_{RANDOM}"));
  EXPECT_EQ(fields[data_section::kCacheKey], utf16z(""));  // no cache key without --cache
}

}  // namespace

TEST_F(PackedExe, CarriesIconVersionAndManifestAndIsReproducible) {
  const std::vector<std::string> texts = {"--icon", dir_ / "icon.png", "--company", "Vorlan \xC3\x84G",
                                          "--product", "Test App", "--version", "2.5.0.17"};
  dir_.mkdir("again");
  ASSERT_EQ(pack(dir_ / "App.exe", texts).exit_code, 0);
  ASSERT_EQ(pack(dir_ / "again/App.exe", texts).exit_code, 0);
  EXPECT_TRUE(read_file(dir_ / "App.exe") == read_file(dir_ / "again/App.exe"));

  const onefile_pe::PeFile exe = onefile_pe::PeFile::load(dir_ / "App.exe");
  EXPECT_EQ(exe.timestamp(), 0u);
  expect_consistent_headers(read_file(dir_ / "App.exe"), {"Vorlan \xC3\x84G", "Test App", "2.5.0.17"});
  EXPECT_EQ(exe.subsystem(), 2);  // GUI
  const auto resources = exe.resources();

  // The images themselves are checked where the resource object is built.
  const onefile_pe::Resource* group = onefile_pe::find_resource(resources, onefile_pe::kResourceGroupIcon, 1);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(get16(std::string(group->data), 4), 7);

  const onefile_pe::Resource* version = onefile_pe::find_resource(resources, onefile_pe::kResourceVersion, 1);
  ASSERT_NE(version, nullptr);
  const onefile_pe::VersionInfo info = onefile_pe::parse_version_info(version->data);
  ASSERT_EQ(info.strings.size(), 1u);
  const auto& strings = info.strings.begin()->second;
  EXPECT_EQ(strings.at("CompanyName"), "Vorlan \xC3\x84G");
  EXPECT_EQ(strings.at("ProductName"), "Test App");
  EXPECT_EQ(strings.at("FileVersion"), "2.5.0.17");
  EXPECT_EQ(strings.at("ProductVersion"), "2.5.0.17");
  const uint16_t numeric[4] = {2, 5, 0, 17};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(info.file_version[i], numeric[i]);

  const onefile_pe::Resource* manifest = onefile_pe::find_resource(resources, onefile_pe::kResourceManifest, 1);
  ASSERT_NE(manifest, nullptr);
  EXPECT_EQ(manifest->data, onefile_resources::make_manifest());
}

TEST_F(PackedExe, PaletteIconPacksTheSameEveryTimeOrIsRefused) {
  // Three colours; the refused icon's last pixel takes a fourth, undefined one.
  const std::string palette("\xff\0\0\0\xff\0\0\0\xff", 9);
  for (const char* folder : {"one", "two", "three"}) dir_.mkdir(folder);
  for (const unsigned last : {2u, 3u}) {
    dir_.write("palette.png", onefile_resources::palette_png(
                                  64, 8, palette, [&](int x, int y) { return x == 63 && y == 63 ? last : x % 3u; }));
    std::vector<RunResult> runs;
    for (const char* folder : {"one", "two", "three"})
      runs.push_back(pack(dir_ / folder + "/App.exe", {"--icon", dir_ / "palette.png"}));
    if (last == 2) {
      for (const RunResult& r : runs) EXPECT_EQ(r.exit_code, 0) << r.err;
      EXPECT_TRUE(read_file(dir_ / "one/App.exe") == read_file(dir_ / "two/App.exe"));
      EXPECT_TRUE(read_file(dir_ / "one/App.exe") == read_file(dir_ / "three/App.exe"));
      for (const char* folder : {"one", "two", "three"}) std::remove((dir_ / folder + "/App.exe").c_str());
      continue;
    }
    for (const RunResult& r : runs) {
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_EQ(r.err, "onefile-pack: " + (dir_ / "palette.png") +
                           ": icon has pixels whose colour index lies beyond its palette (3 entries)\n");
    }
    EXPECT_NE(access((dir_ / "one/App.exe").c_str(), F_OK), 0);
  }
}

TEST_F(PackedExe, DefaultsGiveTheProjectIconAndOutputNameAsProduct) {
  ASSERT_EQ(pack(dir_ / "Tool.exe").exit_code, 0);
  const onefile_pe::PeFile exe = onefile_pe::PeFile::load(dir_ / "Tool.exe");
  const auto resources = exe.resources();
  const onefile_pe::Resource* group = onefile_pe::find_resource(resources, onefile_pe::kResourceGroupIcon, 1);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(get16(std::string(group->data), 4), 7);
  const auto info =
      onefile_pe::parse_version_info(onefile_pe::find_resource(resources, onefile_pe::kResourceVersion, 1)->data);
  EXPECT_EQ(info.strings.begin()->second.at("ProductName"), "Tool");
  EXPECT_EQ(info.strings.begin()->second.at("FileVersion"), "1.0.0.0");
}

TEST_F(PackedExe, BadIconTextOrMainLibraryIsRefusedWithOneLine) {
  dir_.write("not-an-image.png", "plain text");
  struct Case {
    std::vector<std::string> extra;
    std::string says;
  } cases[] = {
      {{"--icon", dir_ / "not-an-image.png"}, "not-an-image.png"},
      {{"--icon", dir_ / "missing.png"}, "missing.png"},
      {{"--version", "1.0\t"}, "--version"},
  };
  for (const Case& c : cases) {
    const RunResult r = pack(dir_ / "Bad.exe", c.extra);
    EXPECT_EQ(r.exit_code, 1) << c.says;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_NE(access((dir_ / "Bad.exe").c_str(), F_OK), 0);
  }
  // A main library that is no DLL, or lacks run_code.
  dir_.write("root/app.dll", "MZ not really");
  RunResult r = pack(dir_ / "Bad.exe");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("is not a 64-bit Windows DLL"), std::string::npos) << r.err;
#ifdef ONEFILE_TEST_OTHER_DLL
  dir_.write("root/app.dll", read_file(ONEFILE_TEST_OTHER_DLL));
  r = pack(dir_ / "Bad.exe");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("has no export named run_code"), std::string::npos) << r.err;
  dir_.write("root/app.dll", read_file(ONEFILE_TEST_DATA_DLL));
  r = pack(dir_ / "Bad.exe");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("exports run_code as data, not as a function"), std::string::npos) << r.err;
#endif
  EXPECT_NE(access((dir_ / "Bad.exe").c_str(), F_OK), 0);
}

TEST_F(PackedExe, SplashImageBecomesABitmapOverWhiteAndItsTextAField) {
  // Red, transparent green, half-transparent black, blue.
  const onefile_resources::IconImage image{2, {255, 0, 0, 255, 0, 255, 0, 0, 0, 0, 0, 128, 0, 0, 255, 255}};
  dir_.write("splash.png", onefile_resources::encode_png(image));
  ASSERT_EQ(pack(dir_ / "Splash.exe", {"--splash", dir_ / "splash.png", "--splash-text", "Starting \xE2\x80\xA6"})
                .exit_code,
            0);
  auto fields = data_fields(read_file(dir_ / "Splash.exe"));
  EXPECT_EQ(fields.size(), 10u);
  EXPECT_EQ(fields[data_section::kSplashText], utf16z("Starting \xE2\x80\xA6"));
  const std::string& bitmap = fields[data_section::kSplashImage];
  ASSERT_EQ(bitmap.size(), 40u + 2 * 2 * 4);
  EXPECT_EQ(get32(bitmap, 0), 40u);
  EXPECT_EQ(get32(bitmap, 4), 2u);
  EXPECT_EQ(static_cast<int32_t>(get32(bitmap, 8)), -2);  // rows from the top
  EXPECT_EQ(get16(bitmap, 12), 1);
  EXPECT_EQ(get16(bitmap, 14), 32);
  EXPECT_EQ(get32(bitmap, 16), 0u);  // BI_RGB
  // Blue, green, red, 0 per pixel; 255 * 127 / 255 rounds to 127 (0x7F).
  EXPECT_EQ(bitmap.substr(40), std::string("\x00\x00\xFF\x00\xFF\xFF\xFF\x00\x7F\x7F\x7F\x00\xFF\x00\x00\x00", 16));

  // Without the options neither field is written.
  ASSERT_EQ(pack(dir_ / "Plain.exe").exit_code, 0);
  fields = data_fields(read_file(dir_ / "Plain.exe"));
  EXPECT_EQ(fields.count(data_section::kSplashImage) + fields.count(data_section::kSplashText), 0u);
}

// A cached app's launcher carries the SHA-256 of each file's content, in
// payload order (the main library first), for an update's first start to
// find the files that did not change; a launcher without --cache does not.
TEST_F(PackedExe, CachedLauncherCarriesEachFilesDigestInPayloadOrder) {
  dir_.write("root/data/empty.txt", "");
  ASSERT_EQ(pack(dir_ / "Cached.exe", {"--cache"}).exit_code, 0);
  auto fields = data_fields(read_file(dir_ / "Cached.exe"));
  const Payload payload = parse_payload(fields[data_section::kPayload]);
  const std::string& digests = fields[data_section::kFileDigests];
  ASSERT_EQ(payload.entries.size(), 3u);
  ASSERT_EQ(digests.size(), 3u * 32);
  for (size_t i = 0; i < payload.entries.size(); ++i) {
    onefile_pack::Sha256 hash;
    hash.add(payload.entries[i].second.data(), payload.entries[i].second.size());
    const auto digest = hash.finish();
    EXPECT_EQ(digests.substr(32 * i, 32), std::string(digest.begin(), digest.end())) << i;
  }
  // The empty file's (second: the rest follow sorted) is the SHA-256 of nothing.
  ASSERT_EQ(payload.entries[1].first, u16("data\\empty.txt"));
  EXPECT_EQ(static_cast<uint8_t>(digests[32]), 0xe3);
  EXPECT_EQ(static_cast<uint8_t>(digests[33]), 0xb0);

  ASSERT_EQ(pack(dir_ / "Plain.exe").exit_code, 0);
  EXPECT_EQ(data_fields(read_file(dir_ / "Plain.exe")).count(data_section::kFileDigests), 0u);
}

TEST_F(PackedExe, SplashThatIsNoPngOrTooLargeIsRefusedWithOneLine) {
  const auto png = [](int width, int height) {
    // encode_png writes square images: a tall one is cut from a larger square.
    const int side = std::max(width, height);
    std::string bytes = onefile_resources::encode_png({side, std::vector<uint8_t>(size_t{4} * side * side, 255)});
    // IHDR's width and height, big-endian at 16 and 20.
    for (int i = 0; i < 4; ++i) {
      bytes[16 + i] = static_cast<char>(width >> (24 - 8 * i));
      bytes[20 + i] = static_cast<char>(height >> (24 - 8 * i));
    }
    return bytes;
  };
  dir_.write("wide.png", png(1025, 10));
  dir_.write("text.png", "plain text");
  dir_.write("icon.ico", std::string("\0\0\1\0\1\0", 6));
  struct Case {
    std::vector<std::string> extra;
    std::string says;
    int exit_code;
  } cases[] = {
      {{"--splash", dir_ / "wide.png"}, "splash image is larger than 1024x1024 pixels (1025x10)", 1},
      {{"--splash", dir_ / "text.png"}, "text.png: splash image is not a PNG file", 1},
      {{"--splash", dir_ / "icon.ico"}, "splash image is not a PNG file", 1},
      {{"--splash", dir_ / "missing.png"}, "splash image cannot be read", 1},
      // The splash text's limits are a line of the start-up window's.
      {{"--splash-text", "two\nlines"},
       "--splash-text: the text has a control character (U+000A), which a line of the start-up window cannot hold",
       1},
      {{"--splash-text", std::string(256, 'x')},
       "--splash-text: the text is longer than 255 UTF-16 units (a character beyond U+FFFF counts as two), which a "
       "line of the start-up window cannot hold",
       1},
      {{"--payload-only", "--splash", dir_ / "wide.png"}, "--payload-only", 2},
      // A console launcher shows no start-up window: the image would only
      // add its bytes.
      {{"--console", "--splash", dir_ / "square.png"}, "--splash: a console launcher shows no start-up window", 2},
      {{"--console", "--splash-text", "Starting"}, "--splash-text: a console launcher shows no start-up window", 2},
  };
  dir_.write("square.png", png(1024, 1024));
  for (const Case& c : cases) {
    const RunResult r = pack(dir_ / "Bad.exe", c.extra);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.says;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_NE(access((dir_ / "Bad.exe").c_str(), F_OK), 0);
  }
  // The largest size passes.
  EXPECT_EQ(pack(dir_ / "Square.exe", {"--splash", dir_ / "square.png"}).exit_code, 0);
}
