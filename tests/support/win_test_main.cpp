// Entry point of every Windows test binary: "--mode NAME args..." runs a
// registered mode (used by tests that need a fresh process), anything else
// runs GoogleTest.
#include <gtest/gtest.h>

#include <map>

#include "tests/support/process.h"

namespace onefile_test {
namespace {
std::map<std::wstring, ModeFn>& modes() {
  static std::map<std::wstring, ModeFn> table;
  return table;
}
}  // namespace

bool register_mode(const wchar_t* name, ModeFn fn) {
  modes()[name] = std::move(fn);
  return true;
}
}  // namespace onefile_test

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && wcscmp(argv[1], L"--mode") == 0) {
    auto it = onefile_test::modes().find(argv[2]);
    if (it == onefile_test::modes().end()) {
      fwprintf(stderr, L"unknown test mode %ls\n", argv[2]);
      return 99;
    }
    return it->second(std::vector<std::wstring>(argv + 3, argv + argc));
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
