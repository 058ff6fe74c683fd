// A Windows program as the app's main: packed launchers around the report
// program (report_program.cpp) run as the user would run them, and what the
// program received is read from its report.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <vector>

#include "contract/data_section.h"
#include "launcher/tests/packed_apps.h"
#include "packer/pe/pe_file.h"
#include "tests/support/process.h"

using onefile_test::narrow;
using onefile_test::widen;

namespace {

struct Report {
  onefile_test::ProcessResult result;
  std::map<std::string, std::string> values;
};

// Runs `exe` (beside the test binary, or a full path) with a command line
// written exactly as given: argument 0, then `tail` as it is.
Report run_raw(const std::wstring& exe, const std::wstring& tail, const std::vector<std::wstring>& env = {},
               const wchar_t* cwd = nullptr) {
  const std::wstring path = exe.find(L'\\') == std::wstring::npos ? here() + L"\\" + exe : exe;
  Report r;
  r.result = onefile_test::run_process(path.c_str(), L"\"" + path + L"\"" + tail, env, 60000, cwd);
  r.values = lines(r.result.out);
  return r;
}

std::string folder_of(const std::string& path) { return path.substr(0, path.rfind('\\')); }

using Environment = std::map<std::string, std::string>;

// The "env=NAME=value" lines of a report.
Environment environment_in(const std::string& report) {
  Environment seen;
  std::istringstream in(report);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("env=", 0) != 0) continue;
    const size_t eq = line.find('=', 5);
    seen[line.substr(4, eq - 4)] = line.substr(eq + 1);
  }
  return seen;
}

// This process's environment, as a program it starts inherits it.
Environment own_environment() {
  Environment own;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
    const std::string text = narrow(entry);
    const size_t eq = text.find('=', 1);
    if (text[0] != '=' && eq != std::string::npos) own[text.substr(0, eq)] = text.substr(eq + 1);
  }
  FreeEnvironmentStringsW(block);
  return own;
}

// What `seen` has that `expected` has not ("+NAME=value"), and the reverse
// ("-NAME=value"); empty when they are the same.
std::string difference(const Environment& seen, const Environment& expected) {
  std::string text;
  for (const auto& [name, value] : seen)
    if (!expected.count(name) || expected.at(name) != value) text += "+" + name + "=" + value + "\n";
  for (const auto& [name, value] : expected)
    if (!seen.count(name) || seen.at(name) != value) text += "-" + name + "=" + value + "\n";
  return text;
}

// The process `pid` still runs.
bool runs(DWORD pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) return false;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

}  // namespace

// The program's command line is its quoted path and the rest of the
// launcher's command line byte for byte, whatever the user's quotes,
// blanks, backslashes, wildcards and characters; its runtime splits it as
// if the user had typed it to the program.
TEST(ProgramMain, CommandLineReachesTheProgramByteForByte) {
  const std::wstring cwd = onefile_test::make_temp_dir(L"program_cwd");
  onefile_test::write_file(cwd + L"\\a.txt", "a");
  onefile_test::write_file(cwd + L"\\b.txt", "b");
  struct Case {
    const wchar_t* tail;
    std::vector<std::string> argv;  // argv[1] on, as the program's runtime splits the tail
  } const cases[] = {
      {L"", {}},
      {L" plain", {"plain"}},
      {L"   two  blanks\tand\ttabs  ", {"two", "blanks", "and", "tabs"}},
      {L" \"two words\" \"\" x", {"two words", "", "x"}},
      {L" \"say \\\"hi\\\"\" a\\\"b", {"say \"hi\"", "a\"b"}},
      {L" \"C:\\dir\\\\\" trail\\ \"x y\\\\\"", {"C:\\dir\\", "trail\\", "x y\\"}},
      {L" \u00e9t\u00e9 \u4e2d\u6587 \U0001F600", {"\xc3\xa9t\xc3\xa9", "\xe4\xb8\xad\xe6\x96\x87", "\xf0\x9f\x98\x80"}},
      // The unquoted wildcard is the program runtime's to expand. (Wine's
      // runtime expands the quoted one too, so only the raw line is compared.)
      {L" *.txt \"*.txt\"", {"a.txt", "b.txt"}},
  };
  for (const wchar_t* exe : {L"program_console_app.exe", L"program_windowed_app.exe"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(narrow(exe) + ":" + narrow(c.tail));
      const Report r = run_raw(exe, c.tail, {}, cwd.c_str());
      ASSERT_EQ(r.result.exit_code, 0u) << r.result.err;
      const std::string self = r.values.at("self");
      EXPECT_EQ(r.values.at("cmdline"), "\"" + self + "\"" + narrow(c.tail));
      EXPECT_NE(self.find(exe == std::wstring(L"program_console_app.exe") ? "\\bin\\report.exe"
                                                                            : "\\bin\\report_windowed.exe"),
                std::string::npos);
      for (size_t i = 0; i < c.argv.size(); ++i) EXPECT_EQ(r.values.at("argv" + std::to_string(i + 1)), c.argv[i]);
      EXPECT_EQ(r.values.at("cwd"), narrow(cwd));
      EXPECT_EQ(r.values.at("directory"), narrow(here()));
      EXPECT_EQ(r.values.at("original_argv0"), narrow(here() + L"\\" + exe));
      EXPECT_TRUE(leftovers(r.result.pid).empty());
    }
  }
  onefile_test::remove_tree(cwd);
}

// Fixed arguments come first, expanded and quoted one by one; {APP_DIR} is
// the program's own folder.
TEST(ProgramMain, FixedArgumentsComeBeforeTheUsersOwn) {
  const Report r = run_raw(L"program_args_app.exe", L" user \"x y\"");
  ASSERT_EQ(r.result.exit_code, 0u) << r.result.err;
  const std::string self = r.values.at("self");
  // Quoted where the path needs it, as any argument (the wildcard always).
  const std::string data = narrow(onefile_test::quote_argument(widen(folder_of(self) + "\\data")));
  EXPECT_EQ(r.values.at("cmdline"),
            "\"" + self + "\" " + data + " \"two words\" \"*.x\" program_args_app user \"x y\"");
  EXPECT_EQ(r.values.at("argv1"), folder_of(self) + "\\data");
  EXPECT_EQ(r.values.at("argv2"), "two words");
  EXPECT_EQ(r.values.at("argv5"), "user");
  EXPECT_EQ(r.values.at("argv6"), "x y");
}

// The program's exit code is the launcher's, all 32 bits (read here through
// GetExitCodeProcess: a Unix exit status keeps 8), and the folder goes.
TEST(ProgramMain, ExitCodePassesThroughWithAll32Bits) {
  struct Case {
    const wchar_t* request;
    DWORD code;
  } const cases[] = {{L"exit:0", 0},
                     {L"exit:1", 1},
                     {L"exit:0x80000001", 0x80000001},
                     {L"exit:259", 259},
                     {L"crash", 0xC0000005}};
  for (const wchar_t* exe : {L"program_console_app.exe", L"program_windowed_app.exe"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(narrow(exe) + ":" + narrow(c.request));
      const Report r = run_raw(exe, L"", {std::wstring(L"REPORT_PROGRAM=") + c.request});
      EXPECT_EQ(r.result.exit_code, c.code);
      EXPECT_TRUE(leftovers(r.result.pid).empty());
    }
  }
}

// A windowed launcher runs a console program without a console window: the
// program gets a console of its own, whose host process (conhost.exe) the
// system starts as the program's child, in the launcher's job, and which
// ends right after the program. It is no helper of the app's: the folder
// goes, as for the console kind and for a windowed program. A process the
// program leaves running is one: the folder stays for it.
TEST(ProgramMain, WindowedLauncherOfAConsoleProgramDeletesTheFolderUnlessAHelperRuns) {
  for (const wchar_t* exe : {L"program_console_windowed_app.exe", L"program_windowed_app.exe"}) {
    for (const wchar_t* request : {L"exit:0", L"exit:0x80000001", L"crash"}) {
      SCOPED_TRACE(narrow(exe) + ":" + narrow(request));
      const Report r = run_raw(exe, L" x", {std::wstring(L"REPORT_PROGRAM=") + request});
      EXPECT_EQ(r.result.exit_code, std::wstring(request) == L"crash" ? 0xC0000005u : wcstoul(request + 5, nullptr, 0));
      EXPECT_TRUE(leftovers(r.result.pid).empty());
    }
  }

  const std::wstring scratch = onefile_test::make_temp_dir(L"program_helper");
  const std::wstring pid_file = scratch + L"\\helper";
  const Report r = run_raw(L"program_console_windowed_app.exe", L"", {L"REPORT_PROGRAM=helper:" + pid_file});
  EXPECT_EQ(r.result.exit_code, 0u);
  for (int i = 0; i < 100 && !onefile_test::path_exists(pid_file); ++i) Sleep(100);
  const DWORD helper = strtoul(onefile_test::read_file(pid_file).c_str(), nullptr, 10);
  ASSERT_NE(helper, 0u);
  EXPECT_TRUE(runs(helper));
  const auto left = leftovers(r.result.pid);
  EXPECT_EQ(left.size(), 1u);
  if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, helper)) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
  }
  Sleep(500);  // its console host ends with it
  remove_leftovers(r.result.pid);
  onefile_test::remove_tree(scratch);
}

// A command line that the program takes when started directly, typed with a
// one-letter argument 0, but that passes the system's limit (32,767 units
// with the terminating 0) once the launcher puts the unpacked program's full
// path in its place: the launcher says so on standard error (a windowed one
// too, its standard error being usable) and ends with the runtime's abort,
// leaving nothing.
TEST(ProgramMain, CommandLineTooLongOncePackedSaysSo) {
  const std::wstring tail = L" " + std::wstring(32766 - 2, L'x');
  const std::wstring program = here() + L"\\program_tree\\bin\\report.exe";
  const auto direct = onefile_test::run_process(program.c_str(), L"a" + tail);
  ASSERT_EQ(direct.exit_code, 0u) << direct.err;
  EXPECT_EQ(lines(direct.out).at("argc"), "2");

  const std::string message = "Error, a path or text was longer than the launcher can handle.\n";
  for (const wchar_t* exe : {L"program_console_app.exe", L"program_console_windowed_app.exe"}) {
    SCOPED_TRACE(narrow(exe));
    const auto r = onefile_test::run_process((here() + L"\\" + exe).c_str(), L"a" + tail);
    EXPECT_EQ(r.exit_code, 3u);
    EXPECT_EQ(r.out, "");
    // (On Windows the runtime's own abort text may come first.)
    ASSERT_GE(r.err.size(), message.size());
    EXPECT_EQ(r.err.substr(r.err.size() - message.size()), message) << r.err;
    EXPECT_TRUE(leftovers(r.pid).empty());
  }
}

// The parent's hand-over to a child role (VORLAN_ONEFILE_PARENT and the
// values of {TIME}, {TIME_US}, {RANDOM} and a cached run's folder) means
// nothing to a program: the program, and a packed program it starts, see
// the environment the user gave, with what the user set of the launcher's
// own (VORLAN_ONEFILE_NO_DIALOGS), plus VORLAN_ONEFILE_DIRECTORY and
// VORLAN_ORIGINAL_ARGV0.
TEST(ProgramMain, ProgramAndWhatItStartsSeeTheUsersEnvironmentAndTwoVariables) {
  for (const wchar_t* exe : {L"program_console_app.exe", L"program_env_cache_app.exe"}) {
    SCOPED_TRACE(narrow(exe));
    const Report r = run_raw(exe, L"", {L"REPORT_PROGRAM=again", L"VORLAN_ONEFILE_NO_DIALOGS=1"});
    ASSERT_EQ(r.result.exit_code, 0u) << r.result.err;
    ASSERT_EQ(r.values.at("again"), "0");
    Environment expected = own_environment();
    expected["VORLAN_ONEFILE_NO_DIALOGS"] = "1";
    expected["VORLAN_ONEFILE_DIRECTORY"] = narrow(here());
    expected["VORLAN_ORIGINAL_ARGV0"] = narrow(here() + L"\\" + exe);
    // The nested run's report comes first. The program removed its request
    // (REPORT_PROGRAM) before it started the packed program again and
    // reported.
    const size_t outer = r.result.out.find("cmdline=", 1);
    ASSERT_NE(outer, std::string::npos) << r.result.out;
    EXPECT_EQ(difference(environment_in(r.result.out.substr(0, outer)), expected), "");
    EXPECT_EQ(difference(environment_in(r.result.out.substr(outer)), expected), "");
  }
  onefile_test::remove_tree(onefile_test::default_cache_root(L"Onefile Program Environment Test"));
}

// A cached app unpacks on its first start only: the second start finds the
// folder complete and writes nothing, neither a file nor a folder, but the
// time of its record (the key's last use).
TEST(ProgramMain, CachedSecondRunWritesNothing) {
  const std::wstring root = onefile_test::default_cache_root(L"Onefile Program Cache Test");
  onefile_test::remove_tree(root);
  const std::wstring exe = here() + L"\\program_cache_app.exe";
  const auto snapshot = [&] {
    std::map<std::wstring, std::string> files;
    std::function<void(const std::wstring&)> walk = [&](const std::wstring& folder) {
      WIN32_FIND_DATAW found;
      HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &found);
      if (h == INVALID_HANDLE_VALUE) return;
      do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        char stamp[64];
        snprintf(stamp, sizeof stamp, "%08lx%08lx %lu", found.ftLastWriteTime.dwHighDateTime,
                 found.ftLastWriteTime.dwLowDateTime, found.nFileSizeLow);
        files[folder + L"\\" + name] = stamp;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) walk(folder + L"\\" + name);
      } while (FindNextFileW(h, &found));
      FindClose(h);
    };
    walk(root);
    return files;
  };
  const Report first = run_raw(exe, L" one");
  ASSERT_EQ(first.result.exit_code, 0u) << first.result.err;
  const auto before = snapshot();
  Sleep(1100);  // a write now would show in the time stamps
  const Report second = run_raw(exe, L" two");
  ASSERT_EQ(second.result.exit_code, 0u) << second.result.err;
  EXPECT_EQ(second.values.at("self"), first.values.at("self"));
  EXPECT_EQ(second.values.at("cmdline"), "\"" + second.values.at("self") + "\" two");
  auto after = snapshot();
  const auto record = std::find_if(after.begin(), after.end(), [](const auto& file) {
    return file.first.size() > 18 && file.first.substr(file.first.size() - 18) == L"\\.onefile-complete";
  });
  ASSERT_NE(record, after.end());
  EXPECT_GT(record->second, before.at(record->first));
  after[record->first] = before.at(record->first);
  EXPECT_EQ(after, before);
  EXPECT_NE(first.values.at("self").find(narrow(root) + "\\"), std::string::npos);
  onefile_test::remove_tree(root);
}

// What a packed executable shows of itself: its version resource's product
// and company names, and its first icon's bytes.
struct Identity {
  std::string product, company, icon;
};

Identity identity_of(const std::wstring& exe) {
  Identity identity;
  DWORD ignored = 0;
  std::vector<char> info(GetFileVersionInfoSizeW(exe.c_str(), &ignored));
  if (!info.empty() && GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(info.size()), info.data())) {
    for (const wchar_t* name : {L"ProductName", L"CompanyName"}) {
      wchar_t* text = nullptr;
      UINT length = 0;
      const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
      if (VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&text), &length) && text)
        (name[0] == L'P' ? identity.product : identity.company) = narrow(std::wstring(text, wcsnlen(text, length)));
    }
  }
  if (HMODULE image = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {
    if (HRSRC icon = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(3)))
      identity.icon.assign(static_cast<const char*>(LockResource(LoadResource(image, icon))), SizeofResource(image, icon));
    FreeLibrary(image);
  }
  return identity;
}

// The identity (volume and file index) and last-write time of a file.
std::string file_stamp(const std::string& path) {
  HANDLE h = CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "";
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  if (!ok) return "";
  return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) + ":" +
         std::to_string(info.nFileIndexLow) + "@" + std::to_string(info.ftLastWriteTime.dwHighDateTime) + ":" +
         std::to_string(info.ftLastWriteTime.dwLowDateTime);
}

// Two apps on one runtime program (with an icon and version texts of its
// own), each its fixed argument, both cached with the default root: each
// output is its app, named after the output and with the project's icon,
// so each has a cache root of its own; started in turn, neither unpacks
// again after its first start.
TEST(ProgramMain, AppsOnOneRuntimeAreTheirOwnAndKeepTheirCacheFolders) {
  const Identity runtime = identity_of(here() + L"\\report_runtime.exe");
  ASSERT_EQ(runtime.product, "Report Runtime");
  ASSERT_FALSE(runtime.icon.empty());
  std::map<std::wstring, std::string> programs, stamps;
  for (const wchar_t* app : {L"runtime_a_app", L"runtime_b_app"}) {
    onefile_test::remove_tree(onefile_test::default_cache_root(app));
    const Identity packed = identity_of(here() + L"\\" + app + L".exe");
    EXPECT_EQ(packed.product, narrow(app));
    EXPECT_EQ(packed.company, "");
    EXPECT_FALSE(packed.icon.empty());
    EXPECT_NE(packed.icon, runtime.icon);
  }
  for (int round = 0; round < 2; ++round) {
    for (const wchar_t* app : {L"runtime_a_app", L"runtime_b_app"}) {
      SCOPED_TRACE(narrow(app) + " round " + std::to_string(round));
      const Report r = run_raw(std::wstring(app) + L".exe", L" x");
      ASSERT_EQ(r.result.exit_code, 0u) << r.result.err;
      const std::string self = r.values.at("self");
      EXPECT_EQ(self.rfind(narrow(onefile_test::default_cache_root(app)) + "\\", 0), 0u) << self;
      EXPECT_EQ(r.values.at("argv1"), folder_of(self) + "\\" + narrow(app).substr(8, 1) + ".js");
      if (round == 0) {
        programs[app] = self;
        stamps[app] = file_stamp(self);
        continue;
      }
      // The same program file, never written again.
      EXPECT_EQ(self, programs[app]);
      EXPECT_EQ(file_stamp(self), stamps[app]);
    }
  }
  for (const wchar_t* app : {L"runtime_a_app", L"runtime_b_app"})
    onefile_test::remove_tree(onefile_test::default_cache_root(app));
}

// Before the program starts, the launcher loads nothing of the shell or the
// window system (they cost more than the rest of a cached start under Wine):
// the program lists its launcher's modules first thing. Both kinds, cached
// (first start and cache hit) and not, with the default target, a
// {CACHE_DIR} root and a {HOME} one. (The hidden log-off window loads user32
// once the program has run for a second; the list is taken long before.)
TEST(ProgramMain, LauncherLoadsNeitherShellNorWindowSystemBeforeTheProgram) {
  const std::wstring cache_root = onefile_test::default_cache_root(L"Onefile Modules Test");
  wchar_t profile[MAX_PATH];
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, profile), S_OK);
  const std::wstring home_folder = std::wstring(profile) + L"\\Onefile Modules Test";
  onefile_test::remove_tree(cache_root);
  onefile_test::remove_tree(home_folder);
  struct Run {
    const wchar_t* exe;
    const char* what;
  } const runs[] = {
      {L"program_console_app.exe", "console, default target"},
      {L"program_windowed_app.exe", "windowed, default target"},
      {L"program_modules_cache_app.exe", "console, {CACHE_DIR} cache, first start"},
      {L"program_modules_cache_app.exe", "console, {CACHE_DIR} cache, cache hit"},
      {L"program_modules_home_app.exe", "windowed, {HOME} cache, first start"},
      {L"program_modules_home_app.exe", "windowed, {HOME} cache, cache hit"},
  };
  for (const Run& run : runs) {
    SCOPED_TRACE(run.what);
    const Report r = run_raw(run.exe, L"", {L"REPORT_PROGRAM=parent-modules"});
    ASSERT_EQ(r.result.exit_code, 0u) << r.result.err;
    EXPECT_EQ(window_system_modules(r.result.out), "") << r.result.out;
  }
  onefile_test::remove_tree(cache_root);
  onefile_test::remove_tree(home_folder);
}

// A program this project did not build, packed as it comes, runs as it would
// by itself: it archives a file, lists and extracts the archive, and its
// exit code for a missing archive (2, a fatal error) is the launcher's.
TEST(ThirdPartyProgram, PackedSevenZipArchivesListsAndExtracts) {
  if (!onefile_test::path_exists(here() + L"\\sevenzip_app.exe")) GTEST_SKIP() << "7za.exe was not fetched";
  const std::wstring dir = onefile_test::make_temp_dir(L"sevenzip");
  onefile_test::write_file(dir + L"\\hello.txt", "hello from a packed program\n");
  const auto run = [&](const std::wstring& tail) { return run_raw(L"sevenzip_app.exe", tail, {}, dir.c_str()); };

  Report r = run(L" a archive.7z hello.txt");
  EXPECT_EQ(r.result.exit_code, 0u) << r.result.out;
  EXPECT_NE(r.result.out.find("Everything is Ok"), std::string::npos) << r.result.out;
  r = run(L" l archive.7z");
  EXPECT_EQ(r.result.exit_code, 0u) << r.result.out;
  EXPECT_NE(r.result.out.find("hello.txt"), std::string::npos) << r.result.out;
  EXPECT_NE(r.result.out.find("1 files"), std::string::npos) << r.result.out;
  r = run(L" x archive.7z \"-oout dir\"");
  EXPECT_EQ(r.result.exit_code, 0u) << r.result.out;
  EXPECT_EQ(onefile_test::read_file(dir + L"\\out dir\\hello.txt"), "hello from a packed program\n");
  r = run(L" t missing.7z");
  EXPECT_EQ(r.result.exit_code, 2u) << r.result.out;
  EXPECT_TRUE(leftovers(r.result.pid).empty());
  onefile_test::remove_tree(dir);
}

// A program that starts the packed .exe again gets a run of its own: a
// second parent with a folder of its own, never a child role.
TEST(ProgramMain, StartingThePackedExeAgainGivesARunOfItsOwn) {
  const Report r = run_raw(L"program_console_app.exe", L" outer", {L"REPORT_PROGRAM=again"});
  ASSERT_EQ(r.result.exit_code, 0u) << r.result.err;
  EXPECT_EQ(r.values.at("again"), "0");
  // Both reports went to the same output; the nested run's came first.
  const size_t nested = r.result.out.find("cmdline=");
  const size_t outer = r.result.out.find("cmdline=", nested + 1);
  ASSERT_NE(outer, std::string::npos) << r.result.out;
  const auto self_of = [&](size_t from) {
    const size_t at = r.result.out.find("self=", from) + 5;
    return r.result.out.substr(at, r.result.out.find('\n', at) - at);
  };
  EXPECT_NE(r.result.out.find(" nested\n", nested), std::string::npos);
  EXPECT_NE(folder_of(self_of(nested)), folder_of(self_of(outer)));
  EXPECT_TRUE(leftovers(r.result.pid).empty());
}

// A fixed argument that cannot be expanded at run time (here {TEMP}, with
// a temporary folder longer than a path may be) ends the run with the
// template error; the program does not run.
TEST(ProgramMain, FixedArgumentThatCannotBeExpandedIsTheTemplateError) {
  const std::wstring dir = onefile_test::make_temp_dir(L"temp_arg");
  const std::wstring exe = dir + L"\\app.exe";
  ASSERT_TRUE(CopyFileW((here() + L"\\program_temp_arg_app.exe").c_str(), exe.c_str(), FALSE));
  const std::wstring long_temp = L"C:\\" + std::wstring(5000, L'x');
  const Report r = run_raw(exe, L"", {L"TMP=" + long_temp, L"TEMP=" + long_temp});
  EXPECT_EQ(r.result.exit_code, 3u);  // the runtime's abort
  EXPECT_EQ(r.result.err, "Error, couldn't runtime expand spec '{TEMP}\\x'.\n");
  EXPECT_EQ(r.result.out.find("cmdline="), std::string::npos);
  onefile_test::remove_tree(dir);
}

// A damaged payload: the program never starts, even when every file could
// be written; the run ends with the message and its folder goes.
TEST(ProgramMain, DamagedPayloadStopsBeforeTheProgramStarts) {
  std::string exe = onefile_test::read_file(here() + L"\\program_console_app.exe");
  // The payload's place in the file: its field of the data section.
  const onefile_pe::PeFile pe(std::vector<uint8_t>(exe.begin(), exe.end()));
  const onefile_pe::Section& last = pe.sections().back();
  ASSERT_EQ(last.name, ".onefile");
  const auto* file = reinterpret_cast<const unsigned char*>(exe.data());
  const data_section::Span payload = data_section::find_field(
      data_section::checked({file + last.raw_offset, last.virtual_size}), data_section::kPayload);
  ASSERT_NE(payload.data, nullptr);
  // A byte in the middle of the frame: the damage shows at the latest when
  // the checksum at the frame's end is compared, after every file is written.
  exe[payload.data - file + payload.size / 2] ^= 0x5a;
  const std::wstring dir = onefile_test::make_temp_dir(L"damaged_program");
  onefile_test::write_file(dir + L"\\damaged.exe", exe);

  const Report r = run_raw(dir + L"\\damaged.exe", L" x");
  EXPECT_EQ(r.result.exit_code, 2u);
  EXPECT_EQ(r.result.out, "Error, couldn't decode attached data.\n");
  EXPECT_TRUE(leftovers(r.result.pid).empty());
  onefile_test::remove_tree(dir);
}

// program_kill_test.sh: waits up to 10 s for the process whose ID is in
// file args[0] to end; 0 when it did.
ONEFILE_TEST_MODE(process_ends) {
  const std::string text = onefile_test::read_file(args.at(0));
  const DWORD pid = strtoul(text.c_str(), nullptr, 10);
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) return 0;  // gone already
  const DWORD waited = WaitForSingleObject(process, 10000);
  CloseHandle(process);
  printf(waited == WAIT_OBJECT_0 ? "ended\n" : "still runs\n");
  return waited == WAIT_OBJECT_0 ? 0 : 1;
}
