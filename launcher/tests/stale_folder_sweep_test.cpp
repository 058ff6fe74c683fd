// The names the sweep of stale target directories may touch.
#include <gtest/gtest.h>

#include "launcher/launcher.h"
#include "tests/support/process.h"

TEST(TargetDirectoryName, OnlyTheExactShapeNamesAnOwner) {
  const struct {
    const wchar_t* name;
    DWORD owner;
  } cases[] = {
      {L"onefile_1234_012345_abcDEF-_09x", 1234},
      {L"onefile_4294967295_999999_AAAAAAAAAAA", 4294967295u},
      {L"onefile_4294967296_999999_AAAAAAAAAAA", 0},   // not a process ID
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
  };
  for (const auto& c : cases) EXPECT_EQ(target_directory_owner(c.name), c.owner) << onefile_test::narrow(c.name);
}
