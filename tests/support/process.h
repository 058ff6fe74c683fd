// Helpers for Windows tests that run programs and look at what they did.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace onefile_test {

struct ProcessResult {
  DWORD exit_code = 0;
  std::string out;  // what the process wrote to standard output, CR LF read as LF
  std::string err;  // the same for standard error
  bool timed_out = false;
  DWORD pid = 0;             // the process ID it had
  DWORD elapsed_ms = 0;      // from start to end
};

// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
std::wstring quote_argument(const std::wstring& arg);

// Runs `command_line` (argument 0 included) with `application` as the program
// (null: taken from the command line), standard output and error captured.
// `environment` entries "NAME=value" are set for the child (an entry "NAME="
// removes the variable); the rest is inherited. A process still running after
// `timeout_ms` is terminated and reported as timed out.
ProcessResult run_process(const wchar_t* application, const std::wstring& command_line,
                          const std::vector<std::wstring>& environment = {},
                          DWORD timeout_ms = 60000, const wchar_t* current_directory = nullptr);

// Runs this test binary again in the mode registered under `mode`, with the
// given extra arguments.
ProcessResult run_mode(const std::wstring& mode, const std::vector<std::wstring>& args = {},
                       const std::vector<std::wstring>& environment = {});

// Path of the running test binary.
std::wstring own_exe_path();

// A fresh, empty directory under the temp directory; removed with its
// contents by remove_tree.
std::wstring make_temp_dir(const wchar_t* tag);
void remove_tree(const std::wstring& dir);
void write_file(const std::wstring& path, const std::string& bytes);
std::string read_file(const std::wstring& path);
bool path_exists(const std::wstring& path);

// Makes `path` (a file or a folder) look created and written two minutes
// ago, beyond the sweeps' minimum age.
void age(const std::wstring& path);

// The user's local application data folder ({CACHE_DIR} of a template).
std::wstring local_app_data();

// The cache root a cached app packed with the default root and this product
// name uses: <local application data>\Vorlan Onefile\<product>.
std::wstring default_cache_root(const std::wstring& product);

// Narrow <-> wide for test messages (UTF-8).
std::string narrow(const std::wstring& w);
std::wstring widen(const std::string& s);

// Registers a mode: `binary --mode NAME args...` runs `fn` and exits with its
// result instead of running the tests.
using ModeFn = std::function<int(const std::vector<std::wstring>& args)>;
bool register_mode(const wchar_t* name, ModeFn fn);

}  // namespace onefile_test

// ONEFILE_TEST_MODE(name) { ... use args ...; return code; }
#define ONEFILE_TEST_MODE(name)                                                      \
  static int onefile_mode_##name(const std::vector<std::wstring>& args);             \
  static const bool onefile_mode_registered_##name =                                 \
      ::onefile_test::register_mode(L## #name, onefile_mode_##name);                 \
  static int onefile_mode_##name([[maybe_unused]] const std::vector<std::wstring>& args)
