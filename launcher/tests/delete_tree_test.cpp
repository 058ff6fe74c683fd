// Deleting the target directory when the app has built a tree far deeper than
// any payload.
#include <gtest/gtest.h>

#include <malloc.h>

#include <cstdio>

#include "launcher/delete_tree.h"
#include "tests/support/process.h"

ONEFILE_TEST_MODE(delete_deep_tree) {
  // args: the directory to fill and delete, the number of levels.
  std::wstring path = L"\\\\?\\" + args.at(0);
  CreateDirectoryW(path.c_str(), nullptr);
  for (int i = std::stoi(args.at(1)); i > 0; --i) {
    path += L"\\d";
    if (!CreateDirectoryW(path.c_str(), nullptr)) return 10;
  }
  // The walk must not take stack for each level, so it runs with only 64 KiB
  // of stack left, where a walk recursing once per level overflows. (Under
  // Wine the host's path limit stops a chain at about 2,000 levels, short of
  // the depth at which such a walk overflowed the main thread's whole stack.)
  MEMORY_BASIC_INFORMATION stack;
  VirtualQuery(&stack, &stack, sizeof(stack));
  const size_t left = static_cast<size_t>(reinterpret_cast<char*>(&stack) - static_cast<char*>(stack.AllocationBase));
  volatile char* filler = static_cast<char*>(alloca(left - 64 * 1024));
  filler[0] = 0;
  delete_tree_with_retries(args.at(0).c_str());
  std::printf("%s\n", GetFileAttributesW(args.at(0).c_str()) == INVALID_FILE_ATTRIBUTES ? "deleted" : "left");
  return 0;
}

TEST(DeleteTree, TreeDeeperThanTheStackAllowsIsDeleted) {
  std::wstring dir = onefile_test::make_temp_dir(L"deep") + L"\\target";
  auto r = onefile_test::run_mode(L"delete_deep_tree", {dir, L"300"});
  EXPECT_EQ(r.exit_code, 0u);
  EXPECT_EQ(r.out, "deleted\n");
  onefile_test::remove_tree(dir.substr(0, dir.rfind(L'\\')));
}
