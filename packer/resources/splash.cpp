// The splash image as the launcher shows it: a bitmap it can draw as it
// lies in the data section, with no image decoder at run time.
#include "packer/le_bytes.h"
#include "packer/resources/resources.h"

namespace onefile_resources {

std::string make_splash_bitmap(const RgbaImage& image) {
  std::string bitmap;
  onefile_pack::put32(bitmap, 40);  // biSize: BITMAPINFOHEADER
  onefile_pack::put32(bitmap, static_cast<uint32_t>(image.width));
  onefile_pack::put32(bitmap, static_cast<uint32_t>(-image.height));  // rows from the top
  onefile_pack::put16(bitmap, 1);   // planes
  onefile_pack::put16(bitmap, 32);  // bits per pixel
  for (int i = 0; i < 6; ++i) onefile_pack::put32(bitmap, 0);  // BI_RGB, no sizes or palette
  bitmap.reserve(bitmap.size() + image.rgba.size());
  for (size_t i = 0; i < image.rgba.size(); i += 4) {
    // Over white: c * a + 255 * (1 - a), rounded.
    const unsigned alpha = image.rgba[i + 3];
    const auto blend = [&](uint8_t c) { return static_cast<char>((c * alpha + 255 * (255 - alpha) + 127) / 255); };
    bitmap += blend(image.rgba[i + 2]);
    bitmap += blend(image.rgba[i + 1]);
    bitmap += blend(image.rgba[i]);
    bitmap += '\0';
  }
  return bitmap;
}

}  // namespace onefile_resources
