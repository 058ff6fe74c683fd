// The executable resources of a packed app: an icon group, version
// information and an application manifest, written as the resource section
// that the packer adds to the launcher.
//
// Every error is a onefile_pack::PackError naming the option or file and
// the reason. Everything written is reproducible: the
// same inputs give the same bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace onefile_resources {

// The build-time texts as the version resource shows them (UTF-8).
struct ResourceTexts {
  std::string company;
  std::string product;            // also the FileDescription
  std::string version;            // FileVersion and ProductVersion
  std::string original_filename;  // OriginalFilename; left out when empty
};

// Checks that `text` can be a string of the version resource: valid UTF-8,
// no control characters, at most kMaxVersionTextLength UTF-16 units (a
// character beyond U+FFFF counts as two). The
// message names `option` (such as "--company") and `holder`, what cannot
// hold a text that breaks the rules (the same rules serve the splash text).
inline constexpr size_t kMaxVersionTextLength = 255;
void check_version_text(const std::string& option, const std::string& text,
                        const char* holder = "the version resource");

// The numeric form of a version text "a", "a.b", "a.b.c" or "a.b.c.d" (each
// part 0..65535, missing parts 0); all zeros for any other text.
struct NumericVersion {
  uint16_t part[4] = {};
};
NumericVersion parse_numeric_version(const std::string& text);

// A square image, rows from the top, 4 bytes per pixel in the order R, G, B,
// A, alpha not premultiplied.
struct IconImage {
  int size = 0;
  std::vector<uint8_t> rgba;
};

// An image of any shape, rows from the top, 4 bytes per pixel R, G, B, A,
// alpha not premultiplied.
struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;
};

// Reads a PNG of at most `max_size` pixels each way; a PackError naming the
// file and `what` (such as "splash image") when it is no PNG, cannot be
// decoded or is larger.
RgbaImage load_png(const std::filesystem::path& path, const std::string& what, int max_size);

// The splash image as the launcher's data section keeps it
// (contract/data_section.h): a top-down 32-bit bitmap, blended over white.
std::string make_splash_bitmap(const RgbaImage& image);

// The sizes of the icon group, in the order the .ico lists them.
inline constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

// Larger sources are refused rather than decoded into gigabytes.
inline constexpr int kMaxIconSourceSize = 8192;

// Reads a PNG (any square size of at least 16 pixels) or an .ico (its
// largest image, stored as PNG or as a 1, 4, 8, 24 or 32 bits per pixel
// bitmap). The file type comes from its contents, not its name.
IconImage load_icon_source(const std::filesystem::path& path);

// The icon used when the app gives none: 256 pixels, drawn in code.
IconImage default_icon_source();

// `source` resampled to each of kIconSizes (alpha-weighted, in sRGB).
std::vector<IconImage> make_icon_images(const IconImage& source);

// The image as PNG (8-bit RGBA, deterministic encoding).
std::string encode_png(const IconImage& image);

// The application manifest (UTF-8 XML).
std::string make_manifest();

// The version resource (VS_VERSIONINFO): numeric versions from
// parse_numeric_version, the string table 040904B0 with CompanyName,
// FileDescription (the product), FileVersion, OriginalFilename (when given),
// ProductName and ProductVersion, and the translation English/Unicode.
std::string make_version_info(const ResourceTexts& texts);

// An icon group as the resource section holds it: for each image its
// GRPICONDIR entry without the trailing icon ID (12 bytes: width, height,
// colour count, reserved, planes, bits per pixel, size in bytes) and its
// RT_ICON data, in the group's order.
struct IconGroup {
  std::vector<std::string> entries;
  std::vector<std::string> images;
};

// The group of kIconSizes made from `source`, each image a PNG.
IconGroup make_icon_group(const IconImage& source);

// Checks the texts and returns the resource section for an image that maps
// it at `section_rva`: icon group 1 (its images numbered from 1), version
// information 1 and manifest 1, all in English (United States).
std::string make_resource_section(const ResourceTexts& texts, const IconGroup& icon, uint32_t section_rva);

// The same with the group made from `icon` as load_icon_source gives it
// (none: the default icon).
std::string make_resource_section(const ResourceTexts& texts, const std::optional<IconImage>& icon,
                                  uint32_t section_rva);

}  // namespace onefile_resources
