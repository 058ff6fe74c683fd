// The modes of tests/support/process.h for host test binaries (the
// sanitizer build): a test runs a registered mode in a forked copy of
// itself, with its output captured, to see a fatal end from outside.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace onefile_test {

struct ProcessResult {
  unsigned exit_code = 0;  // the exit status, or 128 + the signal that ended it
  std::string out;         // what the mode wrote to standard output
  std::string err;         // the same for standard error
  bool timed_out = false;  // never: CTest's time limit covers a hang
};

// Runs the mode registered under `mode` in a child process and waits for it.
// A sanitizer's report in the child fails the calling test.
ProcessResult run_mode(const std::wstring& mode, const std::vector<std::wstring>& args = {});

// Wide to narrow for test messages (ASCII texts).
std::string narrow(const std::wstring& w);

using ModeFn = std::function<int(const std::vector<std::wstring>& args)>;
bool register_mode(const wchar_t* name, ModeFn fn);

}  // namespace onefile_test

// ONEFILE_TEST_MODE(name) { ... use args ...; return code; }
#define ONEFILE_TEST_MODE(name)                                                      \
  static int onefile_mode_##name(const std::vector<std::wstring>& args);             \
  static const bool onefile_mode_registered_##name =                                 \
      ::onefile_test::register_mode(L## #name, onefile_mode_##name);                 \
  static int onefile_mode_##name([[maybe_unused]] const std::vector<std::wstring>& args)
