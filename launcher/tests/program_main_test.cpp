// A Windows program as the app's main: packed launchers around the report
// program (report_program.cpp) run as the user would run them, and what the
// program received is read from its report.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>

#include "launcher/tests/packed_apps.h"
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

// A cached app unpacks on its first start only: the second start finds the
// folder complete and writes nothing, neither a file nor a folder.
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
  EXPECT_EQ(snapshot(), before);
  EXPECT_NE(first.values.at("self").find(narrow(root) + "\\"), std::string::npos);
  onefile_test::remove_tree(root);
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
  const auto u32 = [&](size_t at) {
    uint32_t v;
    memcpy(&v, exe.data() + at, 4);
    return v;
  };
  const size_t nt = u32(0x3c);
  const size_t sections = nt + 24 + (static_cast<uint8_t>(exe[nt + 20]) | static_cast<uint8_t>(exe[nt + 21]) << 8);
  const size_t count = static_cast<uint8_t>(exe[nt + 6]) | static_cast<uint8_t>(exe[nt + 7]) << 8;
  const size_t data = u32(sections + 40 * (count - 1) + 20);  // the data section, last
  ASSERT_EQ(exe.compare(sections + 40 * (count - 1), 8, ".onefile"), 0);
  size_t payload = 0, payload_size = 0;
  for (uint32_t i = 0; i < u32(data + 12); ++i)
    if (u32(data + 16 + 16 * i) == 1) payload = data + u32(data + 20 + 16 * i), payload_size = u32(data + 24 + 16 * i);
  ASSERT_NE(payload, 0u);
  // A byte in the middle of the frame: the damage shows at the latest when
  // the checksum at the frame's end is compared, after every file is written.
  exe[payload + payload_size / 2] ^= 0x5a;
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
