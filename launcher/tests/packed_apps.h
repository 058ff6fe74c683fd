// Running the packed test apps, which lie next to the test binary (see
// CMakeLists.txt; app.root is the tree app.exe packs), and looking at what
// they leave behind.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/support/process.h"

// Folder of the test binary and of the packed apps.
std::wstring here();

// The temp directory, fully qualified, without trailing backslash.
std::wstring temp_dir();

// Runs a packed app with `args`; `typed_argv0` replaces argument 0 of the
// command line (the program run is the app all the same).
onefile_test::ProcessResult run_app(const std::wstring& exe, const std::vector<std::wstring>& args,
                                    const std::vector<std::wstring>& env = {}, const wchar_t* cwd = nullptr,
                                    const std::wstring& typed_argv0 = L"");

// The "key=value" lines of an app's output.
std::map<std::string, std::string> lines(const std::string& out);

// Target directories a launcher with process ID `pid` left in `temp`
// (default: the temp directory), and their removal.
std::vector<std::wstring> leftovers(DWORD pid, const std::wstring& temp = temp_dir());
void remove_leftovers(DWORD pid, const std::wstring& temp = temp_dir());

// Relative path -> content of every file below `dir`.
void read_tree(const std::wstring& dir, const std::wstring& prefix, std::map<std::wstring, std::string>& files);

// The shell's and the window system's libraries among the "parent_module="
// lines of an app's output (launcher/tests/parent_modules.h), joined by
// blanks; "unknown" when the app could not read its parent's modules. A
// launcher loads none of them before its app starts.
std::string window_system_modules(const std::string& out);
