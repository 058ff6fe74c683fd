// The cache record's encoder and decoder, and the keep rule of a cache root,
// on the host: a record the launcher wrote reads back, no damaged or lying
// record passes, a record of the older layout lends no file, and the sweep
// keeps the keys it should.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "contract/cache_keep.h"
#include "contract/cache_record.h"

namespace {

constexpr wchar_t kKey[] = L"0123456789abcdef0123456789abcdef";

// Offsets in a record of kKey: after magic, version, digest size and the key.
constexpr size_t kDigestSizeAt = 12;
constexpr size_t kKeyLengthAt = 16;
constexpr size_t kCountAt = 20 + 64;
constexpr size_t kFirstNameAt = kCountAt + 4;

struct Digest {
  unsigned char bytes[cache_record::kDigestSize];
  explicit Digest(unsigned char fill) { memset(bytes, fill, sizeof bytes); }
};

std::vector<unsigned char> two_files(bool digests = true) {
  cache_record::Encoder record(kKey);
  const Digest a(0xa1), b(0xb2);
  record.add(L"main.dll", 8, 123456, digests ? a.bytes : nullptr);
  record.add(L"data\\nested\\x.txt", 17, 0x1'0000'0001ull, digests ? b.bytes : nullptr);
  return record.bytes();
}

// The same files in the layout of launchers before digests: magic, key,
// count, then each file's length, name and size.
std::vector<unsigned char> layout_one() {
  std::vector<unsigned char> bytes(cache_record::kMagic, cache_record::kMagic + 8);
  const auto put = [&](uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
  };
  put(32, 4);
  for (const wchar_t* k = kKey; *k; ++k) put(static_cast<uint16_t>(*k), 2);
  put(1, 4);
  put(8, 2);
  for (const wchar_t* n = L"main.dll"; *n; ++n) put(static_cast<uint16_t>(*n), 2);
  put(123456, 8);
  return bytes;
}

}  // namespace

TEST(CacheRecord, ReadsBackWhatItWroteWithOrWithoutDigests) {
  const auto bytes = two_files();
  // Magic, version, digest size, key, count, then each file: length, name, size, digest.
  ASSERT_EQ(bytes.size(), 8u + 4 + 4 + 4 + 64 + 4 + (2 + 16 + 8 + 32) + (2 + 34 + 8 + 32));
  EXPECT_EQ(bytes[8], cache_record::kLayoutVersion);
  EXPECT_EQ(bytes[kDigestSizeAt], 32);
  EXPECT_EQ(bytes[kCountAt], 2);
  std::vector<cache_record::ListedFile> files;
  bool digests = false;
  ASSERT_TRUE(cache_record::decode(bytes.data(), bytes.size(), kKey, files, &digests));
  EXPECT_TRUE(digests);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].name, L"main.dll");
  EXPECT_EQ(files[0].file, 0u);
  EXPECT_EQ(files[0].size, 123456u);
  EXPECT_EQ(memcmp(files[0].digest, Digest(0xa1).bytes, 32), 0);
  EXPECT_EQ(files[1].name, L"data\\nested\\x.txt");
  EXPECT_EQ(files[1].file, 12u);  // "x.txt" after the last backslash
  EXPECT_EQ(files[1].size, 0x1'0000'0001ull);
  EXPECT_EQ(memcmp(files[1].digest, Digest(0xb2).bytes, 32), 0);

  // One file without a digest: the record carries none at all.
  cache_record::Encoder partial(kKey);
  partial.add(L"main.dll", 8, 1, Digest(1).bytes);
  partial.add(L"b", 1, 2, nullptr);
  for (const auto& without : {two_files(false), partial.bytes()}) {
    ASSERT_TRUE(cache_record::decode(without.data(), without.size(), kKey, files, &digests));
    EXPECT_FALSE(digests);
    EXPECT_EQ(without[kDigestSizeAt], 0);
    EXPECT_EQ(files[0].digest[0], 0);
  }
  // Dropped afterwards: digests that turned out not to be the payload's.
  cache_record::Encoder dropped(kKey);
  dropped.add(L"main.dll", 8, 1, Digest(1).bytes);
  dropped.drop_digests();
  const auto bytes_dropped = dropped.bytes();
  ASSERT_TRUE(cache_record::decode(bytes_dropped.data(), bytes_dropped.size(), kKey, files, &digests));
  EXPECT_FALSE(digests);
}

TEST(CacheRecord, RefusesShortLongLyingAndEmptyRecordsAndTheOlderLayout) {
  const auto good = two_files();
  const struct {
    const char* what;
    std::vector<unsigned char> (*damage)(std::vector<unsigned char>);
  } cases[] = {
      {"no bytes", [](std::vector<unsigned char>) { return std::vector<unsigned char>(); }},
      {"cut in the magic", [](std::vector<unsigned char> b) { return b.resize(5), b; }},
      {"cut in the key", [](std::vector<unsigned char> b) { return b.resize(40), b; }},
      {"cut in the last digest", [](std::vector<unsigned char> b) { return b.pop_back(), b; }},
      {"one byte too many", [](std::vector<unsigned char> b) { return b.push_back(0), b; }},
      {"another product's magic", [](std::vector<unsigned char> b) { return b[0] = 'X', b; }},
      {"another layout version", [](std::vector<unsigned char> b) { return b[8] = 3, b; }},
      {"a digest size of 16", [](std::vector<unsigned char> b) { return b[kDigestSizeAt] = 16, b; }},
      {"a digest size of 0 over digests", [](std::vector<unsigned char> b) { return b[kDigestSizeAt] = 0, b; }},
      {"another key", [](std::vector<unsigned char> b) { return b[kKeyLengthAt + 4] = 'f', b; }},
      {"a shorter key length", [](std::vector<unsigned char> b) { return b[kKeyLengthAt] = 31, b; }},
      {"a key length past the end", [](std::vector<unsigned char> b) { return b[kKeyLengthAt + 3] = 0x7f, b; }},
      {"a count of three", [](std::vector<unsigned char> b) { return b[kCountAt] = 3, b; }},
      {"a count of one", [](std::vector<unsigned char> b) { return b[kCountAt] = 1, b; }},
      {"a count of 2^32 - 1", [](std::vector<unsigned char> b) {
         for (int i = 0; i < 4; ++i) b[kCountAt + i] = 0xff;
         return b;
       }},
      {"a name length past the end", [](std::vector<unsigned char> b) { return b[kFirstNameAt + 1] = 0xff, b; }},
      {"an empty name", [](std::vector<unsigned char> b) {
         // The first entry's length becomes 0; its 8 name units stand where a size is read.
         b[kFirstNameAt] = 0;
         return b;
       }},
      // The mark a staging folder gets first: no file, not even the main library.
      {"a record without files", [](std::vector<unsigned char>) { return cache_record::Encoder(kKey).bytes(); }},
      // A launcher before digests: the key's length stands where the version does.
      {"the older layout", [](std::vector<unsigned char>) { return layout_one(); }},
  };
  std::vector<cache_record::ListedFile> files;
  ASSERT_TRUE(cache_record::decode(good.data(), good.size(), kKey, files));
  for (const auto& c : cases) {
    const auto bytes = c.damage(good);
    EXPECT_FALSE(cache_record::decode(bytes.data(), bytes.size(), kKey, files)) << c.what;
  }
}

TEST(CacheRecord, TheMarkIsTheMagicAloneAndTheKeyNamesTheLayout) {
  const auto mark = cache_record::Encoder(kKey).bytes();
  EXPECT_TRUE(cache_record::has_magic(mark.data(), mark.size()));
  EXPECT_TRUE(cache_record::has_magic(mark.data(), 8));
  EXPECT_FALSE(cache_record::has_magic(mark.data(), 7));
  const unsigned char other[8] = {'V', 'O', 'Y', 'D', 'O', 'N', 'E', '!'};
  EXPECT_FALSE(cache_record::has_magic(other, 8));
  // Launchers of the older layout recognise the folders by the magic alone.
  const auto old = layout_one();
  EXPECT_TRUE(cache_record::has_magic(old.data(), old.size()));
  EXPECT_EQ(memcmp(cache_record::kKeyPrefix, cache_record::kMagic, 8), 0);
  EXPECT_EQ(cache_record::kKeyPrefix[8], cache_record::kLayoutVersion);
}

TEST(CacheKeep, KeepsTheMostRecentKeysAndThoseUsedWithinTheDays) {
  using namespace cache_keep;
  const uint64_t now = 1000 * kTicksPerDay;
  EXPECT_EQ(kKeysKept, 3u);
  EXPECT_EQ(kUnusedDays, 30u);
  // Least recently used first, ties in their listing's order.
  EXPECT_EQ(sweep_order({5, 1, 9, 1}), (std::vector<size_t>{1, 3, 0, 2}));
  // Two other keys beside the sweeping run's: three in all, all stay.
  EXPECT_FALSE(should_remove(now - kTicksPerDay, now, 2));
  // A fourth key: the least recently used goes, the next ones then stay.
  EXPECT_TRUE(should_remove(now - 2 * kTicksPerDay, now, 3));
  EXPECT_FALSE(should_remove(now - kTicksPerDay, now, 2));
  // Not started for 30 days: goes however few keys there are; at exactly
  // 30 days it stays.
  EXPECT_TRUE(should_remove(now - kUnusedTicks - 1, now, 1));
  EXPECT_FALSE(should_remove(now - kUnusedTicks, now, 1));
  // A clock set back: the key's use lies in the future, it is recent.
  EXPECT_FALSE(should_remove(now + kUnusedTicks * 2, now, 1));
}
