// Fresh names for the folders made beside a cache's key folders.
#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>

#include "contract/target_folder_name.h"
#include "paths/fresh_name.h"
#include "paths/wide_path.h"

TEST(FreshName, FolderNamesHaveTheShapeAndThisProcessAndNeverRepeat) {
  std::set<std::wstring> names;
  for (int i = 0; i < 200; ++i) {
    wchar_t path[kPathCapacity];
    make_fresh_folder(path, L"C:\\cache root");
    const std::wstring text = path;
    ASSERT_EQ(text.rfind(L"C:\\cache root\\", 0), 0u);
    const std::wstring name = text.substr(wcslen(L"C:\\cache root\\"));
    // The sweeps read the owner back: this process.
    EXPECT_EQ(target_folder_name::owner(name.c_str()), GetCurrentProcessId());
    names.insert(name);
  }
  // Made in a quick row, within one microsecond and one tick of the
  // counter, they still differ.
  EXPECT_EQ(names.size(), 200u);
}
