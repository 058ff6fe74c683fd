// Icon sources (PNG or .ico), the default icon, resampling to the seven sizes
// of the icon group.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "packer/le_bytes.h"
#include "packer/pack_error.h"
#include "packer/resources/resources.h"

#define STBI_NO_STDIO
#include <stb_image.h>
#include <stb_image_resize.h>
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace onefile_resources {

using onefile_pack::get16;
using onefile_pack::get32;
using onefile_pack::put16;
using onefile_pack::put32;

using onefile_pack::PackError;
namespace {

const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

class IconError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

uint32_t get32_big(const std::string& b, size_t at) {
  return uint32_t{static_cast<uint8_t>(b[at])} << 24 | uint32_t{static_cast<uint8_t>(b[at + 1])} << 16 |
         uint32_t{static_cast<uint8_t>(b[at + 2])} << 8 | static_cast<uint8_t>(b[at + 3]);
}
bool is_png(const std::string& bytes) {
  return bytes.size() >= 8 && std::memcmp(bytes.data(), kPngSignature, 8) == 0;
}

// Width and height of an image that may be too large to decode.
void check_dimensions(int64_t width, int64_t height, int max_size = kMaxIconSourceSize) {
  if (width <= 0 || height <= 0) throw IconError("has no pixels");
  if (width > max_size || height > max_size) {
    throw IconError("is larger than " + std::to_string(max_size) + "x" + std::to_string(max_size) + " pixels (" +
                    std::to_string(width) + "x" + std::to_string(height) + ")");
  }
}

using Decoded = RgbaImage;

Decoded decode_png_pixels(const std::string& bytes) {
  const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
  int width = 0, height = 0, channels = 0;
  stbi_uc* pixels = stbi_load_from_memory(data, static_cast<int>(bytes.size()), &width, &height, &channels, 4);
  if (!pixels) throw IconError(std::string("is not a readable PNG (") + stbi_failure_reason() + ")");
  Decoded d{width, height, std::vector<uint8_t>(pixels, pixels + size_t{4} * width * height)};
  stbi_image_free(pixels);
  return d;
}

// `png` with the data of its first PLTE chunk filled up to 256 entries of
// `fill`, and the number of entries it had; empty when it has no such chunk
// of whole entries (the decoder refuses it then). The chunk's CRC is left
// as it was: the decoder does not check CRCs.
std::string with_full_palette(const std::string& png, char fill, size_t& entries) {
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = get32_big(png, at);
    if (length > png.size() - at - 12) break;
    if (png.compare(at + 4, 4, "PLTE") == 0) {
      if (length == 0 || length % 3 != 0 || length > 768) break;
      entries = length / 3;
      std::string full = png.substr(0, at);
      full += {'\0', '\0', '\x03', '\0'};  // 768, big-endian
      full += png.substr(at + 4, 4 + length);
      full.append(768 - length, fill);
      full += png.substr(at + 8 + length);
      return full;
    }
    at += 12 + size_t{length};
  }
  return {};
}

Decoded decode_png(const std::string& bytes, int max_size = kMaxIconSourceSize) {
  if (bytes.size() > INT32_MAX) throw IconError("is too large");
  // The size comes first, in the IHDR chunk, so a huge image is refused
  // before anything is decoded.
  if (bytes.size() < 26 || bytes.compare(12, 4, "IHDR") != 0) throw IconError("is not a readable PNG (no header)");
  check_dimensions(get32_big(bytes, 16), get32_big(bytes, 20), max_size);
  Decoded d = decode_png_pixels(bytes);
  // A palette image (colour type 3) whose pixels use indexes beyond its
  // palette would take those colours from entries the decoder leaves
  // undefined: the icon, and so the packed executable, would change from
  // pack to pack. With the palette filled up to 256 entries in black and
  // then in white, such a pixel decodes differently.
  size_t entries = 0;
  const std::string dark = bytes[25] == 3 ? with_full_palette(bytes, '\0', entries) : std::string();
  if (!dark.empty() &&
      decode_png_pixels(dark).rgba != decode_png_pixels(with_full_palette(bytes, '\xff', entries)).rgba)
    throw IconError("has pixels whose colour index lies beyond its palette (" + std::to_string(entries) +
                    " entries)");
  return d;
}

// A device-independent bitmap as an .ico stores it: BITMAPINFOHEADER, the
// palette for 1, 4 and 8 bits per pixel, the colour rows and a 1-bit AND mask
// (set bits are transparent), both bottom-up, rows padded to 4 bytes. The
// header's height counts both bitmaps.
Decoded decode_dib(const std::string& b) {
  auto fail = [](const std::string& why) { return IconError("is not a readable ICO (" + why + ")"); };
  if (b.size() < 40) throw fail("truncated bitmap header");
  uint32_t header_size = get32(b, 0);
  int64_t width = static_cast<int32_t>(get32(b, 4));
  int64_t height = static_cast<int32_t>(get32(b, 8)) / 2;
  uint16_t bits = get16(b, 14);
  uint32_t compression = get32(b, 16);
  uint32_t colors_used = get32(b, 32);
  if (header_size < 40 || header_size > b.size()) throw fail("bad bitmap header size");
  if (compression != 0) throw fail("compressed bitmaps are not supported");
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) {
    throw fail(std::to_string(bits) + " bits per pixel is not supported");
  }
  check_dimensions(width, height);

  size_t palette_at = header_size;
  size_t palette_size = bits <= 8 ? (colors_used ? colors_used : 1u << bits) : 0;
  if (palette_size > 256) throw fail("bad palette size");
  size_t pixels_at = palette_at + palette_size * 4;
  size_t stride = (static_cast<size_t>(width) * bits + 31) / 32 * 4;
  size_t mask_at = pixels_at + stride * height;
  size_t mask_stride = (static_cast<size_t>(width) + 31) / 32 * 4;
  if (mask_at > b.size()) throw fail("truncated bitmap");
  // Some writers leave out the mask of 32-bit images, which carry alpha anyway.
  bool has_mask = mask_at + mask_stride * height <= b.size();
  if (!has_mask && bits != 32) throw fail("truncated bitmap mask");

  Decoded d{static_cast<int>(width), static_cast<int>(height), {}};
  d.rgba.resize(size_t{4} * width * height);
  bool any_alpha = false;
  for (int64_t y = 0; y < height; ++y) {
    size_t row = pixels_at + stride * (height - 1 - y);
    for (int64_t x = 0; x < width; ++x) {
      uint8_t* out = &d.rgba[(y * width + x) * 4];
      const char* in;
      if (bits >= 24) {
        in = &b[row + x * (bits / 8)];
      } else {
        size_t bit = static_cast<size_t>(x) * bits;
        unsigned index = static_cast<uint8_t>(b[row + bit / 8]) >> (8 - bits - bit % 8) & ((1u << bits) - 1);
        if (index >= palette_size) throw fail("colour index outside the palette");
        in = &b[palette_at + index * 4];
      }
      out[0] = static_cast<uint8_t>(in[2]);
      out[1] = static_cast<uint8_t>(in[1]);
      out[2] = static_cast<uint8_t>(in[0]);
      out[3] = bits == 32 ? static_cast<uint8_t>(in[3]) : 255;
      any_alpha = any_alpha || out[3] != 0;
    }
  }
  // Without an alpha channel (or with one left all zero by old writers), the
  // mask says which pixels are transparent.
  if (bits != 32 || !any_alpha) {
    for (int64_t y = 0; y < height; ++y) {
      size_t row = mask_at + mask_stride * (height - 1 - y);
      for (int64_t x = 0; x < width; ++x) {
        bool transparent = has_mask && (static_cast<uint8_t>(b[row + x / 8]) >> (7 - x % 8) & 1);
        d.rgba[(y * width + x) * 4 + 3] = transparent ? 0 : 255;
      }
    }
  }
  return d;
}

// The largest image of an .ico: ICONDIR (reserved 0, type 1, count), then
// 16-byte entries giving each image's size and place in the file.
Decoded decode_ico(const std::string& b) {
  auto fail = [](const std::string& why) { return IconError("is not a readable ICO (" + why + ")"); };
  uint16_t count = get16(b, 4);
  if (count == 0) throw fail("no images");
  if (6 + size_t{count} * 16 > b.size()) throw fail("truncated directory");

  std::string best;
  int64_t best_area = -1;
  int best_bits = -1;
  for (uint16_t i = 0; i < count; ++i) {
    size_t entry = 6 + size_t{i} * 16;
    uint32_t size = get32(b, entry + 8);
    uint32_t offset = get32(b, entry + 12);
    if (size == 0 || offset > b.size() || size > b.size() - offset)
      throw fail("image " + std::to_string(i + 1) + " lies outside the file");
    std::string image = b.substr(offset, size);
    // The directory's sizes stop at 256 (written as 0); the image's own
    // header tells the truth.
    int64_t width, height;
    int bits;
    if (is_png(image)) {
      if (image.size() < 24) throw fail("truncated PNG image");
      width = get32_big(image, 16);
      height = get32_big(image, 20);
      bits = 32;
    } else {
      if (image.size() < 16) throw fail("truncated bitmap header");
      width = static_cast<int32_t>(get32(image, 4));
      height = static_cast<int32_t>(get32(image, 8)) / 2;
      bits = get16(image, 14);
    }
    // Clamped so that absurd sizes cannot overflow; they fail when decoded.
    width = std::min<int64_t>(width, kMaxIconSourceSize + 1);
    height = std::min<int64_t>(height, kMaxIconSourceSize + 1);
    int64_t area = width * height;
    if (area > best_area || (area == best_area && bits > best_bits)) {
      best = std::move(image);
      best_area = area;
      best_bits = bits;
    }
  }
  return is_png(best) ? decode_png(best) : decode_dib(best);
}

// The default icon is drawn on a grid of 8 x 8 subpixel units per pixel with
// 4 x 4 samples per pixel, in integers only, so it is the same on every
// machine: a blue rounded square with a white page whose corner is folded.
struct Box {
  int64_t left, top, right, bottom;  // in pixels
  bool contains(int64_t u, int64_t v) const {
    return u >= left * 8 && u <= right * 8 && v >= top * 8 && v <= bottom * 8;
  }
};

bool in_rounded_box(const Box& box, int64_t radius, int64_t u, int64_t v) {
  if (!box.contains(u, v)) return false;
  int64_t r = radius * 8;
  int64_t cu = std::min(std::max(u, box.left * 8 + r), box.right * 8 - r);
  int64_t cv = std::min(std::max(v, box.top * 8 + r), box.bottom * 8 - r);
  return (u - cu) * (u - cu) + (v - cv) * (v - cv) <= r * r;
}

// The whole file; `what` names it in the message ("icon").
std::string read_image_file(const std::filesystem::path& path, const std::string& what) {
  const std::string name = path.u8string();
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) throw PackError(name, what + " is a folder, not an image file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PackError(name, what + " cannot be read: " + std::strerror(errno));
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw PackError(name, what + " cannot be read: read error");
  return bytes;
}

}  // namespace

RgbaImage load_png(const std::filesystem::path& path, const std::string& what, int max_size) {
  const std::string bytes = read_image_file(path, what);
  try {
    if (!is_png(bytes)) throw IconError("is not a PNG file");
    return decode_png(bytes, max_size);
  } catch (const IconError& e) {
    throw PackError(path.u8string(), what + " " + e.what());
  }
}

IconImage load_icon_source(const std::filesystem::path& path) {
  const std::string name = path.u8string();
  const std::string bytes = read_image_file(path, "icon");

  Decoded d;
  try {
    if (is_png(bytes)) {
      d = decode_png(bytes);
    } else if (bytes.size() >= 6 && get16(bytes, 0) == 0 && get16(bytes, 2) == 1) {
      d = decode_ico(bytes);
    } else {
      throw IconError("is not a PNG or ICO file");
    }
  } catch (const IconError& e) {
    throw PackError(name, std::string("icon ") + e.what());
  }
  const std::string dimensions = std::to_string(d.width) + "x" + std::to_string(d.height) + " pixels";
  if (d.width != d.height) throw PackError(name, "icon is not square (" + dimensions + ")");
  if (d.width < 16) throw PackError(name, "icon is smaller than 16x16 pixels (" + dimensions + ")");
  return IconImage{d.width, std::move(d.rgba)};
}

IconImage default_icon_source() {
  constexpr int kSize = 256;
  const Box background{8, 8, 248, 248};
  const Box page{76, 48, 180, 208};
  constexpr int64_t kFold = 36;
  const Box lines[] = {{98, 112, 158, 122}, {98, 136, 158, 146}, {98, 160, 138, 170}};
  struct Colour {
    int64_t r, g, b;
  };
  const Colour top{0x3a, 0x7b, 0xe8}, bottom{0x1d, 0x3f, 0x9e};
  const Colour white{0xff, 0xff, 0xff}, fold{0xb9, 0xd0, 0xf7};

  IconImage image{kSize, std::vector<uint8_t>(size_t{kSize} * kSize * 4)};
  for (int y = 0; y < kSize; ++y) {
    const Colour shade{top.r + (bottom.r - top.r) * y / (kSize - 1), top.g + (bottom.g - top.g) * y / (kSize - 1),
                       top.b + (bottom.b - top.b) * y / (kSize - 1)};
    for (int x = 0; x < kSize; ++x) {
      int64_t sum[3] = {}, covered = 0;
      for (int sy = 0; sy < 4; ++sy) {
        for (int sx = 0; sx < 4; ++sx) {
          int64_t u = x * 8 + sx * 2 + 1, v = y * 8 + sy * 2 + 1;
          if (!in_rounded_box(background, 44, u, v)) continue;
          Colour c = shade;
          // The folded corner: the part of the page's top-right square above
          // its diagonal is cut away, the part below is the fold.
          int64_t du = u - (page.right - kFold) * 8, dv = v - page.top * 8;
          bool in_corner = du >= 0 && dv <= kFold * 8;
          if (page.contains(u, v) && !(in_corner && du > dv)) c = in_corner ? fold : white;
          for (const Box& line : lines) {
            if (line.contains(u, v)) c = shade;
          }
          sum[0] += c.r;
          sum[1] += c.g;
          sum[2] += c.b;
          ++covered;
        }
      }
      uint8_t* out = &image.rgba[(size_t{static_cast<size_t>(y)} * kSize + x) * 4];
      if (covered == 0) continue;
      // Edge pixels keep the full colour and take the coverage as alpha.
      for (int i = 0; i < 3; ++i) out[i] = static_cast<uint8_t>((sum[i] + covered / 2) / covered);
      out[3] = static_cast<uint8_t>((covered * 255 + 8) / 16);
    }
  }
  return image;
}

std::vector<IconImage> make_icon_images(const IconImage& source) {
  std::vector<IconImage> images;
  for (int size : kIconSizes) {
    IconImage image{size, std::vector<uint8_t>(size_t{4} * size * size)};
    if (size == source.size) {
      image.rgba = source.rgba;
    } else if (!stbir_resize_uint8_srgb_edgemode(source.rgba.data(), source.size, source.size, 0,
                                                 image.rgba.data(), size, size, 0, 4, 3, 0, STBIR_EDGE_CLAMP)) {
      throw PackError("--icon", "cannot resample the icon to " + std::to_string(size) + " pixels");
    }
    images.push_back(std::move(image));
  }
  return images;
}

std::string encode_png(const IconImage& image) {
  std::string png;
  auto append = [](void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), size);
  };
  if (!stbi_write_png_to_func(append, &png, image.size, image.size, 4, image.rgba.data(), image.size * 4)) {
    throw PackError("--icon", "cannot encode the icon as PNG");
  }
  return png;
}

}  // namespace onefile_resources
