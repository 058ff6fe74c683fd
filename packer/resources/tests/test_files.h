// Small helpers for the resource tests: a temporary directory and files.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>

namespace onefile_resources {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "onefile_resources_XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

inline void write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A square palette PNG (colour type 3) of `size` pixels, `depth` bits per
// pixel, whose pixel (x, y) has the palette index `index(x, y)`, with
// `palette` holding RGB triples. The image data is stored uncompressed (in
// stored deflate blocks), the CRCs and the Adler-32 are right.
inline std::string palette_png(int size, int depth, const std::string& palette,
                               const std::function<unsigned(int, int)>& index) {
  auto be32 = [](uint32_t v) { return std::string{char(v >> 24), char(v >> 16 & 0xff), char(v >> 8 & 0xff), char(v & 0xff)}; };
  auto chunk = [&](const char* type, const std::string& data) {
    std::string body = type + data;
    uint32_t crc = 0xffffffffu;
    for (unsigned char byte : body) {
      crc ^= byte;
      for (int bit = 0; bit < 8; ++bit) crc = crc >> 1 ^ (0xedb88320u & (0u - (crc & 1)));
    }
    return be32(uint32_t(data.size())) + body + be32(~crc);
  };
  std::string rows;
  for (int y = 0; y < size; ++y) {
    std::string row((size_t(size) * depth + 7) / 8, '\0');
    for (int x = 0; x < size; ++x) {
      const size_t bit = size_t(x) * depth;
      row[bit / 8] = char(row[bit / 8] | index(x, y) << (8 - depth - bit % 8));
    }
    rows += '\0' + row;  // filter type 0
  }
  std::string zlib = "\x78\x01";
  for (size_t at = 0; at < rows.size(); at += 65535) {
    const size_t n = std::min<size_t>(65535, rows.size() - at);
    zlib += {char(at + n == rows.size()), char(n & 0xff), char(n >> 8), char(~n & 0xff), char(~n >> 8 & 0xff)};
    zlib += rows.substr(at, n);
  }
  uint32_t a = 1, b = 0;
  for (unsigned char byte : rows) a = (a + byte) % 65521, b = (b + a) % 65521;
  zlib += be32(b << 16 | a);
  const std::string header = be32(size) + be32(size) + char(depth) + '\x03' + std::string(3, '\0');
  return "\x89PNG\r\n\x1a\n" + chunk("IHDR", header) + chunk("PLTE", palette) + chunk("IDAT", zlib) + chunk("IEND", "");
}

}  // namespace onefile_resources
