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
