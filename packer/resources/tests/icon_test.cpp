#include <gtest/gtest.h>
#include <stb_image.h>
#include <stb_image_write.h>

#include <map>

#include "packer/resources/resources.h"
#include "packer/resources/tests/test_files.h"

namespace onefile_resources {
namespace {

struct Rgba {
  uint8_t r, g, b, a;
};

Rgba pixel(const IconImage& image, int x, int y) {
  const uint8_t* p = &image.rgba[(size_t(y) * image.size + x) * 4];
  return {p[0], p[1], p[2], p[3]};
}

// Opaque `colour`, with the top-left quarter square fully transparent (and
// black, as many editors leave it).
IconImage corner_image(int size, Rgba colour) {
  IconImage image{size, std::vector<uint8_t>(size_t(size) * size * 4)};
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      bool clear = x < size / 4 && y < size / 4;
      Rgba c = clear ? Rgba{0, 0, 0, 0} : colour;
      std::copy(&c.r, &c.r + 4, &image.rgba[(size_t(y) * size + x) * 4]);
    }
  }
  return image;
}

void expect_corner_image(const IconImage& image, int size, Rgba colour) {
  ASSERT_EQ(image.size, size);
  Rgba corner = pixel(image, 0, 0), inside = pixel(image, size - 1, size - 1);
  EXPECT_EQ(corner.a, 0);
  EXPECT_EQ(pixel(image, size - 1, 0).a, 255);  // not mirrored
  EXPECT_EQ(pixel(image, 0, size - 1).a, 255);  // not upside down
  EXPECT_EQ((std::vector<int>{inside.r, inside.g, inside.b, inside.a}),
            (std::vector<int>{colour.r, colour.g, colour.b, 255}));
}

std::string png_of_size(int width, int height) {
  std::string png;
  std::vector<uint8_t> pixels(size_t(width) * height * 4, 200);
  stbi_write_png_to_func([](void* c, void* d, int n) { static_cast<std::string*>(c)->append((char*)d, n); }, &png,
                         width, height, 4, pixels.data(), width * 4);
  return png;
}

void put16(std::string& b, uint32_t v) {
  b += char(v & 0xff);
  b += char(v >> 8 & 0xff);
}
void put32(std::string& b, uint32_t v) {
  put16(b, v & 0xffff);
  put16(b, v >> 16);
}

// `image` as an .ico bitmap of `bits` per pixel (32, 24 or 8): header, the
// palette, colour rows bottom-up, then the AND mask (set = transparent).
std::string make_dib(const IconImage& image, int bits) {
  const int n = image.size;
  std::map<uint32_t, int> palette;
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      Rgba c = pixel(image, x, y);
      palette.emplace(c.b | c.g << 8 | c.r << 16, 0);
    }
  }
  int index = 0;
  for (auto& entry : palette) entry.second = index++;

  std::string b;
  put32(b, 40);
  put32(b, n);
  put32(b, n * 2);
  put16(b, 1);
  put16(b, bits);
  for (int i = 0; i < 6; ++i) put32(b, 0);  // compression, sizes, colour counts
  if (bits == 8) {
    for (int i = 0; i < 256; ++i) {
      auto it = std::find_if(palette.begin(), palette.end(), [i](auto& e) { return e.second == i; });
      put32(b, it == palette.end() ? 0 : it->first);
    }
  }
  for (int y = n - 1; y >= 0; --y) {
    std::string row;
    for (int x = 0; x < n; ++x) {
      Rgba c = pixel(image, x, y);
      if (bits == 8) {
        row += char(palette[c.b | c.g << 8 | c.r << 16]);
        continue;
      }
      row += {char(c.b), char(c.g), char(c.r)};
      if (bits == 32) row += char(c.a);
    }
    row.resize((row.size() + 3) / 4 * 4, '\0');
    b += row;
  }
  for (int y = n - 1; y >= 0; --y) {
    std::string row((n + 31) / 32 * 4, '\0');
    for (int x = 0; x < n; ++x) {
      if (pixel(image, x, y).a == 0) row[x / 8] = char(row[x / 8] | 0x80 >> x % 8);
    }
    b += row;
  }
  return b;
}

// An .ico file holding the given images (PNG or bitmap data), in order.
std::string make_ico_file(const std::vector<std::pair<int, std::string>>& entries) {
  std::string ico;
  put16(ico, 0);
  put16(ico, 1);
  put16(ico, uint32_t(entries.size()));
  size_t offset = 6 + 16 * entries.size();
  for (const auto& [size, data] : entries) {
    ico += {char(size & 0xff), char(size & 0xff), 0, 0};
    put16(ico, 1);
    put16(ico, 32);
    put32(ico, uint32_t(data.size()));
    put32(ico, uint32_t(offset));
    offset += data.size();
  }
  for (const auto& entry : entries) ico += entry.second;
  return ico;
}

std::string load_error(const std::filesystem::path& path) {
  try {
    load_icon_source(path);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

TEST(LoadIconSource, ReadsPngAndEveryKindOfIcoImage) {
  TempDir dir;
  const Rgba orange{250, 120, 10, 255};
  write_file(dir / "icon.png", encode_png(corner_image(300, orange)));
  expect_corner_image(load_icon_source(dir / "icon.png"), 300, orange);

  // The name does not matter, the contents do.
  write_file(dir / "png.ico", encode_png(corner_image(40, orange)));
  expect_corner_image(load_icon_source(dir / "png.ico"), 40, orange);

  for (int bits : {32, 24, 8}) {
    SCOPED_TRACE(bits);
    write_file(dir / "bitmap.ico", make_ico_file({{40, make_dib(corner_image(40, orange), bits)}}));
    expect_corner_image(load_icon_source(dir / "bitmap.ico"), 40, orange);
  }

  // The largest image wins, whatever its kind and place.
  const Rgba blue{20, 40, 230, 255};
  write_file(dir / "several.ico", make_ico_file({{16, make_dib(corner_image(16, orange), 32)},
                                                 {0, encode_png(corner_image(300, blue))},
                                                 {48, make_dib(corner_image(48, orange), 8)}}));
  expect_corner_image(load_icon_source(dir / "several.ico"), 300, blue);

  // Old 32-bit bitmaps leave alpha at zero; the mask gives transparency.
  IconImage no_alpha = corner_image(32, orange);
  std::string dib = make_dib(no_alpha, 32);
  for (size_t i = 40 + 3; i < 40 + 32 * 32 * 4; i += 4) dib[i] = 0;
  write_file(dir / "no_alpha.ico", make_ico_file({{32, dib}}));
  expect_corner_image(load_icon_source(dir / "no_alpha.ico"), 32, orange);
}

TEST(LoadIconSource, NamesTheFileAndTheReason) {
  TempDir dir;
  auto error_for = [&](const std::string& name, const std::string& bytes) {
    write_file(dir / name, bytes);
    return load_error(dir / name);
  };
  auto quoted = [&](const std::string& name) { return (dir / name).string() + ": icon"; };

  EXPECT_EQ(error_for("text.png", "just text"), quoted("text.png") + " is not a PNG or ICO file");
  EXPECT_EQ(error_for("wide.png", png_of_size(300, 200)), quoted("wide.png") + " is not square (300x200 pixels)");
  EXPECT_EQ(error_for("tiny.png", png_of_size(8, 8)),
            quoted("tiny.png") + " is smaller than 16x16 pixels (8x8 pixels)");
  EXPECT_EQ(error_for("huge.png", png_of_size(9000, 1)),
            quoted("huge.png") + " is larger than 8192x8192 pixels (9000x1)");
  EXPECT_EQ(error_for("cut.png", png_of_size(64, 64).substr(0, 60))
                .rfind(quoted("cut.png") + " is not a readable PNG (", 0),
            0u);
  EXPECT_EQ(error_for("empty.ico", make_ico_file({})), quoted("empty.ico") + " is not a readable ICO (no images)");
  std::string outside = make_ico_file({{32, make_dib(corner_image(32, {1, 2, 3, 255}), 32)}});
  EXPECT_EQ(error_for("outside.ico", outside.substr(0, 100)),
            quoted("outside.ico") + " is not a readable ICO (image 1 lies outside the file)");
  EXPECT_EQ(error_for("wide.ico", make_ico_file({{0, png_of_size(64, 32)}})),
            quoted("wide.ico") + " is not square (64x32 pixels)");
  EXPECT_EQ(error_for("tiny.ico", make_ico_file({{8, make_dib(corner_image(8, {1, 2, 3, 255}), 24)}})),
            quoted("tiny.ico") + " is smaller than 16x16 pixels (8x8 pixels)");
  EXPECT_EQ(load_error(dir / "missing.png"), quoted("missing.png") + " cannot be read: No such file or directory");
  // A line break in the name cannot break the message's line.
  EXPECT_EQ(load_error(dir / "new\nline.png"),
            (dir / "new").string() + "\\x0Aline.png: icon cannot be read: No such file or directory");
}

TEST(LoadIconSource, PalettePngMayUseOnlyItsPaletteEntries) {
  // Beyond its palette an index would take a colour the decoder leaves
  // undefined, and the packed icon would change from pack to pack. The
  // largest index is the last pixel's.
  TempDir dir;
  const std::string three("\xff\0\0\0\xff\0\0\0\xff", 9), full(768, '\x40');
  struct Case {
    int depth;
    const std::string& palette;
    unsigned highest;
    bool refused;
  } const cases[] = {{8, three, 2, false}, {8, three, 255, true}, {2, three, 3, true}, {8, full, 255, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.depth) + " bits, index " + std::to_string(c.highest));
    write_file(dir / "palette.png", palette_png(32, c.depth, c.palette, [&](int x, int y) {
                 return x == 31 && y == 31 ? c.highest : unsigned(x + y) % 2;
               }));
    const std::string refusal = (dir / "palette.png").string() +
                                ": icon has pixels whose colour index lies beyond its palette (3 entries)";
    EXPECT_EQ(load_error(dir / "palette.png"), c.refused ? refusal : "");
  }
}

TEST(LoadIconSource, SurvivesTruncatedIcoFiles) {
  TempDir dir;
  std::string ico = make_ico_file(
      {{40, make_dib(corner_image(40, {1, 2, 3, 255}), 8)}, {0, encode_png(corner_image(64, {1, 2, 3, 255}))}});
  for (size_t length = 0; length < ico.size(); length += 7) {
    write_file(dir / "cut.ico", ico.substr(0, length));
    std::string error = load_error(dir / "cut.ico");
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_FALSE(error.empty());
  }
}

TEST(MakeIconImages, ResamplesToEverySizeAndKeepsAlpha) {
  const Rgba red{255, 0, 0, 255};
  std::vector<IconImage> images = make_icon_images(corner_image(300, red));
  ASSERT_EQ(images.size(), 7u);
  for (size_t i = 0; i < images.size(); ++i) {
    const IconImage& image = images[i];
    SCOPED_TRACE(image.size);
    EXPECT_EQ(image.size, kIconSizes[i]);
    ASSERT_EQ(image.rgba.size(), size_t(image.size) * image.size * 4);
    EXPECT_EQ(pixel(image, 0, 0).a, 0);
    EXPECT_EQ(pixel(image, image.size - 1, image.size - 1).a, 255);
    // Alpha-weighted filtering: the black of the transparent pixels must
    // not darken the edge of the opaque part.
    for (int y = 0; y < image.size; ++y) {
      for (int x = 0; x < image.size; ++x) {
        Rgba p = pixel(image, x, y);
        if (p.a > 0) {
          ASSERT_GE(p.r, 250) << x << "," << y << " alpha " << int(p.a);
        }
      }
    }
  }
}

TEST(DefaultIcon, IsARoundedSquareDrawnTheSameEveryTime) {
  IconImage icon = default_icon_source();
  ASSERT_EQ(icon.size, 256);
  EXPECT_EQ(icon.rgba, default_icon_source().rgba);
  EXPECT_EQ(pixel(icon, 0, 0).a, 0);
  EXPECT_EQ(pixel(icon, 12, 12).a, 0);  // outside the rounded corner
  EXPECT_EQ(pixel(icon, 128, 20).a, 255);
  EXPECT_EQ(pixel(icon, 128, 90).r, 255);  // the white page
}

}  // namespace
}  // namespace onefile_resources
