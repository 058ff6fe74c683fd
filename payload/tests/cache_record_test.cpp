// The cache record's encoder and decoder, on the host: a record the launcher
// wrote reads back, and no damaged or lying record passes.
#include <gtest/gtest.h>

#include <vector>

#include "payload/cache_record.h"

namespace {

constexpr wchar_t kKey[] = L"0123456789abcdef0123456789abcdef";

std::vector<unsigned char> two_files() {
  cache_record::Encoder record(kKey);
  record.add(L"main.dll", 8, 123456);
  record.add(L"data\\nested\\x.txt", 17, 0x1'0000'0001ull);
  return record.bytes();
}

}  // namespace

TEST(CacheRecord, ReadsBackWhatItWrote) {
  const auto bytes = two_files();
  // Magic, key, count, then each file: length, name, size.
  ASSERT_EQ(bytes.size(), 8u + 4 + 64 + 4 + (2 + 16 + 8) + (2 + 34 + 8));
  EXPECT_EQ(bytes[8 + 4 + 64], 2);
  std::vector<cache_record::ListedFile> files;
  ASSERT_TRUE(cache_record::decode(bytes.data(), bytes.size(), kKey, files));
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].name, L"main.dll");
  EXPECT_EQ(files[0].file, 0u);
  EXPECT_EQ(files[0].size, 123456u);
  EXPECT_EQ(files[1].name, L"data\\nested\\x.txt");
  EXPECT_EQ(files[1].file, 12u);  // "x.txt" after the last backslash
  EXPECT_EQ(files[1].size, 0x1'0000'0001ull);
}

TEST(CacheRecord, RefusesShortLongLyingAndEmptyRecords) {
  const auto good = two_files();
  const size_t count_at = 8 + 4 + 64;
  const size_t first_name_at = count_at + 4;
  const struct {
    const char* what;
    std::vector<unsigned char> (*damage)(std::vector<unsigned char>);
  } cases[] = {
      {"no bytes", [](std::vector<unsigned char>) { return std::vector<unsigned char>(); }},
      {"cut in the magic", [](std::vector<unsigned char> b) { return b.resize(5), b; }},
      {"cut in the key", [](std::vector<unsigned char> b) { return b.resize(40), b; }},
      {"cut in the last size", [](std::vector<unsigned char> b) { return b.pop_back(), b; }},
      {"one byte too many", [](std::vector<unsigned char> b) { return b.push_back(0), b; }},
      {"another product's magic", [](std::vector<unsigned char> b) { return b[0] = 'X', b; }},
      {"another key", [](std::vector<unsigned char> b) { return b[12] = 'f', b; }},
      {"a shorter key length", [](std::vector<unsigned char> b) { return b[8] = 31, b; }},
      {"a key length past the end", [](std::vector<unsigned char> b) { return b[11] = 0x7f, b; }},
      {"a count of three", [](std::vector<unsigned char> b) { return b[count_at] = 3, b; }},
      {"a count of one", [](std::vector<unsigned char> b) { return b[count_at] = 1, b; }},
      {"a count of 2^32 - 1", [](std::vector<unsigned char> b) {
         for (int i = 0; i < 4; ++i) b[count_at + i] = 0xff;
         return b;
       }},
      {"a name length past the end", [](std::vector<unsigned char> b) { return b[first_name_at + 1] = 0xff, b; }},
      {"an empty name", [](std::vector<unsigned char> b) {
         // The first entry's length becomes 0; its 8 name units stand where a size is read.
         b[first_name_at] = 0;
         return b;
       }},
      // The mark a staging folder gets first: no file, not even the main library.
      {"a record without files", [](std::vector<unsigned char>) { return cache_record::Encoder(kKey).bytes(); }},
  };
  std::vector<cache_record::ListedFile> files;
  ASSERT_TRUE(cache_record::decode(good.data(), good.size(), kKey, files));
  for (const auto& c : cases) {
    const auto bytes = c.damage(good);
    EXPECT_FALSE(cache_record::decode(bytes.data(), bytes.size(), kKey, files)) << c.what;
  }
}

TEST(CacheRecord, TheMarkIsTheMagicAlone) {
  const auto mark = cache_record::Encoder(kKey).bytes();
  EXPECT_TRUE(cache_record::has_magic(mark.data(), mark.size()));
  EXPECT_TRUE(cache_record::has_magic(mark.data(), 8));
  EXPECT_FALSE(cache_record::has_magic(mark.data(), 7));
  const unsigned char other[8] = {'V', 'O', 'Y', 'D', 'O', 'N', 'E', '!'};
  EXPECT_FALSE(cache_record::has_magic(other, 8));
}
