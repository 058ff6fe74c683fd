// The executable resources of a packed app: an icon group, version
// information and an application manifest, compiled by the cross windres into
// one COFF object that is linked into the launcher.
//
// Every error is a std::runtime_error whose message is one line naming the
// option or file and the reason (the external windres failing adds its output
// on the following lines). Everything written is reproducible: the same
// inputs give the same bytes.
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
// no control characters, at most kMaxVersionTextLength UTF-16 units. The
// message names `option` (such as "--company").
inline constexpr size_t kMaxVersionTextLength = 255;
void check_version_text(const std::string& option, const std::string& text);

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

// An .ico file holding each image as a PNG entry, 32 bits per pixel.
std::string make_ico(const std::vector<IconImage>& images);

// The application manifest (UTF-8 XML).
std::string make_manifest();

// The resource script: icon group 1 from `ico_file`, the version resource,
// and manifest 1 from `manifest_file` (names relative to where windres runs).
// Texts are written as escapes, so the script is plain ASCII.
std::string make_resource_script(const ResourceTexts& texts, const std::string& ico_file,
                                 const std::string& manifest_file);

// Checks the texts, writes the icon made from `icon` (as load_icon_source
// gives it; none: the default icon), the manifest and the script into `work_dir` (created when missing) and
// compiles them with the program `windres` (such as
// "x86_64-w64-mingw32-windres") into a COFF object for x86-64; returns the
// object's path inside `work_dir`.
std::filesystem::path build_resource_object(const ResourceTexts& texts, const std::optional<IconImage>& icon,
                                            const std::filesystem::path& work_dir, const std::string& windres);

}  // namespace onefile_resources
