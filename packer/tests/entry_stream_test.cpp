#include "packer/entry_stream.h"
#include "packer/pack_error.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "contract/little_endian.h"
#include "packer/payload_writer.h"

using namespace onefile_pack;

TEST(EntryStream, OneFileExampleIsTwentyFiveBytes) {
  StringSink sink;
  write_record_header(sink, u"x.dll", 3);
  sink.write("\xC0\xC1\xC2", 3);
  write_end_marker(sink);
  const std::string expected(
      "\x78\x00\x2E\x00\x64\x00\x6C\x00\x6C\x00\x00\x00"
      "\x03\x00\x00\x00\x00\x00\x00\x00"
      "\xC0\xC1\xC2"
      "\x00\x00",
      25);
  EXPECT_EQ(sink.bytes, expected);
}

TEST(EntryStream, NameAndSizeEncoding) {
  StringSink sink;
  // A unit above 0xFF and a size using all eight bytes.
  write_record_header(sink, u"\u00e9\\\u20ac", 0x0102030405060708ull);
  EXPECT_EQ(sink.bytes, std::string("\xE9\x00\x5C\x00\xAC\x20\x00\x00"
                                    "\x08\x07\x06\x05\x04\x03\x02\x01",
                                    16));
}

TEST(EntryStream, NameLengthBounds) {
  StringSink sink;
  write_record_header(sink, std::u16string(1023, u'a'), 0);
  EXPECT_EQ(sink.bytes.size(), 2u * 1024 + 8);
  EXPECT_THROW(write_record_header(sink, std::u16string(1024, u'a'), 0), onefile_pack::PackError);
  EXPECT_THROW(write_record_header(sink, u"", 0), onefile_pack::PackError);
  EXPECT_THROW(write_record_header(sink, std::u16string(u"a\0b", 3), 0), onefile_pack::PackError);
}

TEST(PayloadTrailer, PadsToEightAndCountsEverythingBefore) {
  // The format's own example: 10 bytes so far get six zero bytes and 16.
  EXPECT_EQ(payload_trailer(10), std::vector<unsigned char>({0, 0, 0, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0}));
  for (uint64_t length = 3; length < 40; ++length) {
    const auto trailer = payload_trailer(length);
    const uint64_t padding = trailer.size() - 8;
    EXPECT_LT(padding, 8u);
    EXPECT_EQ((length + padding) % 8, 0u) << length;
    const uint64_t count = little_endian::read(trailer.data() + padding, 8);
    EXPECT_EQ(count, length + padding);
    for (uint64_t i = 0; i < padding; ++i) EXPECT_EQ(trailer[i], 0);
  }
}
