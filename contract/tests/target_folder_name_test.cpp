// The target folder's name shape, on the host: the sweeps delete only what
// the parser accepts, and every name the launcher makes must be accepted.
#include <gtest/gtest.h>

#include <string>

#include "contract/target_folder_name.h"

TEST(TargetFolderName, OnlyTheExactShapeNamesAnOwner) {
  const struct {
    const wchar_t* name;
    uint32_t owner;
  } cases[] = {
      {L"onefile_1234_012345_abcDEF-_09x", 1234},
      {L"onefile_4294967295_999999_AAAAAAAAAAA", 4294967295u},
      {L"onefile_4294967296_999999_AAAAAAAAAAA", 0},   // not a process ID
      {L"onefile_4294967297_999999_AAAAAAAAAAA", 0},   // not process 1, as 32 bits would read it
      {L"onefile_0_012345_abcdefghijk", 0},
      {L"onefile__012345_abcdefghijk", 0},
      {L"onefile_12_01234_abcdefghijk", 0},            // five digits
      {L"onefile_12_0123456_abcdefghijk", 0},          // seven digits
      {L"onefile_12_012345_abcdefghij", 0},            // ten characters
      {L"onefile_12_012345_abcdefghijkl", 0},          // twelve
      {L"onefile_12_012345_abcdefghij+", 0},           // not URL-safe
      {L"onefile_12_012345_abcdefghijk.sweeping", 0},
      {L"Onefile_12_012345_abcdefghijk", 0},
      {L"xonefile_12_012345_abcdefghijk", 0},
      {L"onefile_12x_012345_abcdefghijk", 0},
      {L"onefile_", 0},
      {L"0123456789abcdef0123456789abcdef", 0},        // a key folder
  };
  for (const auto& c : cases) EXPECT_EQ(target_folder_name::owner(c.name), c.owner) << std::string(c.name, c.name + wcslen(c.name));
}

TEST(TargetFolderName, MadeNamesParseBackAndTheTemplateHasTheShape) {
  wchar_t name[target_folder_name::kCapacity];
  for (uint32_t pid : {1u, 4242u, 4294967295u}) {
    target_folder_name::format(name, pid, L"000042", L"Ab-_0123456");
    EXPECT_EQ(target_folder_name::owner(name), pid);
  }
  EXPECT_EQ(std::wstring(name), L"onefile_4294967295_000042_Ab-_0123456");
  EXPECT_EQ(std::string(target_folder_name::kDefaultTemplate), "{TEMP}\\onefile_{PID}_{TIME_US}_{RANDOM}");
  EXPECT_EQ(std::wstring(target_folder_name::kDefaultTemplateWide), L"{TEMP}\\onefile_{PID}_{TIME_US}_{RANDOM}");
}

namespace {
// The random text's shape: 11 URL-safe characters, the last carrying 4 bits
// and two zero bits.
bool is_random_text(const std::wstring& text) {
  return text.size() == target_folder_name::kRandomUnits &&
         text.find_first_not_of(L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_") ==
             std::wstring::npos &&
         std::wstring(L"AEIMQUYcgkosw048").find(text[10]) != std::wstring::npos;
}
}  // namespace

TEST(TargetFolderName, RandomTextOfKnownSeedsAndItsShape) {
  wchar_t text[target_folder_name::kRandomUnits + 1];
  target_folder_name::random_text(1, text);
  EXPECT_EQ(std::wstring(text), L"IQHFT9HQGrI");
  target_folder_name::random_text(2, text);
  EXPECT_EQ(std::wstring(text), L"QgKCBhojWbY");
  for (uint32_t seed : {3u, 0x80000000u, 0xFFFFFFFFu, 0x12345678u}) {
    target_folder_name::random_text(seed, text);
    EXPECT_TRUE(is_random_text(text)) << seed;
  }
}

TEST(TargetFolderName, TimeTextIsTheMicrosecondInSixDigits) {
  wchar_t text[target_folder_name::kTimeDigits + 1];
  target_folder_name::time_us_text(420, text);  // 42 microseconds
  EXPECT_EQ(std::wstring(text), L"000042");
  target_folder_name::time_us_text(0, text);
  EXPECT_EQ(std::wstring(text), L"000000");
  target_folder_name::time_us_text(133000000009999999LL, text);  // the last microsecond of a second
  EXPECT_EQ(std::wstring(text), L"999999");
  target_folder_name::time_us_text(133000000010000009LL, text);  // 100 ns units below a microsecond drop
  EXPECT_EQ(std::wstring(text), L"000000");
}

TEST(TargetFolderName, TheSweepPatternIsThePrefix) {
  EXPECT_EQ(std::wstring(target_folder_name::kSweepPattern), L"onefile_*");
  // Every name of the shape starts with what the pattern asks for.
  wchar_t name[target_folder_name::kCapacity];
  target_folder_name::format(name, 7, L"000001", L"AAAAAAAAAAA");
  EXPECT_EQ(std::wstring(name).rfind(L"onefile_", 0), 0u);
}
