// The one little-endian codec of every on-disk layout: each width reads back
// what it wrote, least significant byte first, and touches no byte beyond it.
#include <gtest/gtest.h>

#include <array>

#include "contract/little_endian.h"

TEST(LittleEndian, EachWidthWritesLowBytesFirstAndNothingMore) {
  const struct {
    size_t width;
    uint64_t value;
    std::array<unsigned char, 9> bytes;  // the written bytes, then the untouched guard
  } cases[] = {
      {1, 0xab, {0xab, 0xee}},
      {2, 0xfeff, {0xff, 0xfe, 0xee}},
      {4, 0x12345678, {0x78, 0x56, 0x34, 0x12, 0xee}},
      {8, 0x0102030405060708ull, {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0xee}},
      {8, ~uint64_t{0}, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xee}},
  };
  for (const auto& c : cases) {
    std::array<unsigned char, 9> buffer;
    buffer.fill(0xee);
    little_endian::write(buffer.data(), c.value, c.width);
    for (size_t i = 0; i <= c.width; ++i) EXPECT_EQ(buffer[i], c.bytes[i]) << "width " << c.width << " byte " << i;
    EXPECT_EQ(little_endian::read(buffer.data(), c.width), c.value) << "width " << c.width;
  }
}

TEST(LittleEndian, WritingKeepsOnlyTheLowBytesOfAWiderValue) {
  unsigned char buffer[4] = {};
  little_endian::write(buffer, 0xaabbccdd11223344ull, 4);
  EXPECT_EQ(little_endian::read(buffer, 4), 0x11223344u);
  little_endian::write(buffer, 0x1ffff, 2);
  EXPECT_EQ(little_endian::read(buffer, 2), 0xffffu);
  EXPECT_EQ(buffer[2], 0x22);  // untouched
}
