// Unpacking real payloads into fresh directories under the temp directory.
// Fatal ends and the bounded known-directory list run in a fresh copy of this
// binary, since their state is process-wide.
#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "payload/reader.h"
#include "payload/tests/payload_streams.h"
#include "payload/unpack.h"
#include "system/system_functions.h"
#include "tests/support/process.h"

using namespace payload_test;
using onefile_test::path_exists;
using onefile_test::read_file;
using onefile_test::run_mode;

namespace {

// Nothing here stops unpacking, except where a test sets it.
volatile LONG g_stop = 0;

// What each pass of the entry loop gave: its outcome and the entry it read.
struct Pass {
  EntryOutcome outcome;
  std::wstring name, path;
  unsigned long long size;
};

std::vector<Pass> unpack_all(const std::string& stream, const std::wstring& target, bool trailing = true) {
  std::string stored = stored_payload(compress_frame(stream, 20), trailing);
  EXPECT_LT(target.size(), kPathCapacity);
  payload_open(reinterpret_cast<const unsigned char*>(stored.data()), stored.size());
  std::vector<Pass> passes;
  Entry entry;
  do {
    const EntryOutcome outcome = unpack_next_entry(target.c_str(), g_stop, entry);
    passes.push_back({outcome, entry.name, outcome == EntryOutcome::end_of_list ? L"" : entry.path, entry.size});
  } while (passes.back().outcome == EntryOutcome::file_written);
  payload_close();
  return passes;
}

// A name of `units` code units in components of at most 200 (a file system
// limits components, not whole paths).
std::wstring long_name(size_t units) {
  std::wstring name;
  for (size_t i = 0; i < units; ++i) name += (i % 201 == 200) ? L'\\' : static_cast<wchar_t>(L'a' + i / 201);
  return name;
}

bool is_directory(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

class Unpack : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = onefile_test::make_temp_dir(L"unpack");
    target_ = base_ + L"\\target";  // not there yet: the first walk makes it
  }
  void TearDown() override { onefile_test::remove_tree(base_); }
  std::wstring base_, target_;
};

}  // namespace

ONEFILE_TEST_MODE(unpack) {
  // args: target, then the scenario (and for "name" the second record's name).
  std::string stream = entry_record(L"main.dll", "MZ");
  if (args.at(1) == L"name") stream += entry_record(args.at(2), "x");
  if (args.at(1) == L"long_name") stream += entry_record(long_name(1024), "x");
  if (args.at(1) == L"file_for_directory") stream += entry_record(L"x", "file") + entry_record(L"x\\y.txt", "y");
  stream += end_marker();
  std::string stored = stored_payload(compress_frame(stream, 20), true);
  payload_open(reinterpret_cast<const unsigned char*>(stored.data()), stored.size());
  Entry entry;
  while (unpack_next_entry(args.at(0).c_str(), g_stop, entry) == EntryOutcome::file_written) {
  }
  std::printf("unpacked\n");
  return 0;
}

// Writes that stop short or closes that fail, put into the table of system
// functions.
BOOL WINAPI short_write(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  return WriteFile(file, data, size / 2, written, overlapped);
}
BOOL WINAPI failed_close(HANDLE handle) {
  CloseHandle(handle);
  SetLastError(ERROR_WRITE_FAULT);
  return FALSE;
}

ONEFILE_TEST_MODE(system_call_fails) {
  // args: target, "write" or "close".
  if (args.at(1) == L"write") sys::replace(sys::WriteFile, short_write);
  if (args.at(1) == L"close") sys::replace(sys::CloseHandle, failed_close);
  std::string stored = stored_payload(compress_frame(entry_record(L"main.dll", "MZ data") + end_marker(), 20), true);
  payload_open(reinterpret_cast<const unsigned char*>(stored.data()), stored.size());
  Entry entry;
  unpack_next_entry(args.at(0).c_str(), g_stop, entry);
  std::printf("unpacked\n");
  return 0;
}

ONEFILE_TEST_MODE(create_target) {
  std::printf("%s\n", create_target_directory(args.at(0).c_str()) ? "created" : "not created");
  return 0;
}

ONEFILE_TEST_MODE(interrupted_race) {
  // The console handler's deletion starts between two records: the next
  // record's open fails in a folder that is gone, which is no failure then.
  std::string stored =
      stored_payload(compress_frame(entry_record(L"main.dll", "MZ") + entry_record(L"b.txt", "b") + end_marker(), 20),
                     true);
  payload_open(reinterpret_cast<const unsigned char*>(stored.data()), stored.size());
  Entry entry;
  if (unpack_next_entry(args.at(0).c_str(), g_stop, entry) != EntryOutcome::file_written) return 10;
  g_stop = 1;
  onefile_test::remove_tree(args.at(0));
  const EntryOutcome outcome = unpack_next_entry(args.at(0).c_str(), g_stop, entry);
  std::printf("%s\n", outcome == EntryOutcome::interrupted ? "interrupted" : "written");
  return 0;
}

ONEFILE_TEST_MODE(child_path_bound) {
  // args: the length of target, backslash and name together.
  size_t total = std::stoul(args.at(0));
  std::wstring name = L"main.dll";
  std::wstring target = L"C:\\" + std::wstring(total - 1 - name.size() - 3, L'p');
  std::string stored = stored_payload(compress_frame(entry_record(name, "MZ") + end_marker(), 20), true);
  payload_open(reinterpret_cast<const unsigned char*>(stored.data()), stored.size());
  static wchar_t main_library_path[kPathCapacity];
  const bool found = read_first_entry_path(target.c_str(), main_library_path);
  std::printf("%d %zu\n", static_cast<int>(found), wcslen(main_library_path));
  return 0;
}

ONEFILE_TEST_MODE(known_directory_limit) {
  // args: an existing directory. The list holds home and 1023 more.
  auto dir = [&](int i) { return args.at(0) + L"\\d" + std::to_wstring(i); };
  for (int i = 0; i < 1024; ++i)
    if (!ensure_directory(dir(i).c_str())) return 10;
  RemoveDirectoryW(dir(1022).c_str());
  RemoveDirectoryW(dir(1023).c_str());
  if (!ensure_directory(dir(1022).c_str()) || !ensure_directory(dir(1023).c_str())) return 11;
  std::printf("last remembered %s, first forgotten %s\n", path_exists(dir(1022)) ? "made again" : "trusted",
              path_exists(dir(1023)) ? "made again" : "trusted");
  return 0;
}

TEST_F(Unpack, WritesEveryFileWithExactContentWithOrWithoutTrailingBytes) {
  const std::vector<std::pair<std::wstring, std::string>> files = {
      {L"main.dll", sample_bytes(3 * kWriteChunk + 5, 1)},  // first: the main library
      {L"empty.txt", ""},
      {L"exact.bin", sample_bytes(kWriteChunk, 2)},
      {L"a\\b\\c\\deep.bin", sample_bytes(kWriteChunk + 1, 3)},
      {L"a\\b\\sibling.txt", "sibling"},
      {L"a\\top.txt", "top"},
  };
  std::string stream;
  for (const auto& [name, content] : files) stream += entry_record(name, content);
  stream += end_marker();

  for (bool trailing : {true, false}) {
    SCOPED_TRACE(trailing ? "with trailing bytes" : "without trailing bytes");
    std::wstring target = target_ + (trailing ? L"1" : L"2");
    auto passes = unpack_all(stream, target, trailing);
    ASSERT_EQ(passes.size(), files.size() + 1);
    // The end marker: no name, nothing written.
    EXPECT_EQ(passes.back().outcome, EntryOutcome::end_of_list);
    EXPECT_EQ(passes.back().name, L"");
    for (size_t i = 0; i < files.size(); ++i) {
      const auto& [name, content] = files[i];
      SCOPED_TRACE(onefile_test::narrow(name));
      // Each pass gives back the entry it wrote.
      EXPECT_EQ(passes[i].outcome, EntryOutcome::file_written);
      EXPECT_EQ(passes[i].name, name);
      EXPECT_EQ(passes[i].size, content.size());
      std::wstring path = target + L"\\" + name;
      EXPECT_EQ(passes[i].path, path);
      ASSERT_TRUE(path_exists(path));
      EXPECT_TRUE(read_file(path) == content);
    }
    EXPECT_TRUE(is_directory(target + L"\\a\\b\\c"));
  }
}

TEST_F(Unpack, SecondRecordWithTheSameNameReplacesTheFirst) {
  unpack_all(entry_record(L"x.dll", "the first, longer content") + entry_record(L"x.dll", "second") + end_marker(),
             target_);
  EXPECT_EQ(read_file(target_ + L"\\x.dll"), "second");
}

TEST_F(Unpack, NameOf1023UnitsIsUnpacked) {
  std::wstring name = long_name(1023);
  auto passes = unpack_all(entry_record(L"main.dll", "MZ") + entry_record(name, "long") + end_marker(), target_);
  ASSERT_EQ(passes.size(), 3u);
  EXPECT_EQ(passes[1].name, name);
  EXPECT_EQ(read_file(target_ + L"\\" + name), "long");
}

TEST_F(Unpack, DeepNameCreatesEveryMissingDirectory) {
  // 511 missing levels below a missing target: the walk climbs all the way.
  std::wstring name;
  for (int i = 0; i < 511; ++i) name += L"d\\";
  name += L"f";
  ASSERT_EQ(name.size(), 1023u);
  unpack_all(entry_record(name, "deep") + end_marker(), target_);
  EXPECT_EQ(read_file(target_ + L"\\" + name), "deep");
}

TEST_F(Unpack, NameOf1024UnitsIsDecodeError) {
  auto r = run_mode(L"unpack", {target_, L"long_name"});
  EXPECT_EQ(r.exit_code, 2u);
  EXPECT_EQ(r.out, "Error, couldn't decode attached data.\n");
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(path_exists(target_ + L"\\main.dll"));
  EXPECT_FALSE(path_exists(target_ + L"\\" + long_name(200)));
}

TEST_F(Unpack, NamesThatWouldLeaveTheTargetOrNameADeviceAreDecodeErrors) {
  for (const wchar_t* name : {L"..\\escaped.txt", L"sub\\..\\..\\escaped.txt", L".. \\escaped.txt", L"...\\x",
                              L".\\x", L"a\\\\b", L"\\x", L"x\\", L"b.\\x", L"a/../../escaped.txt", L"C:escaped.txt",
                              L"x:stream", L"sub\\NUL.txt", L"COM1", L"con", L"Aux .x\\y", L"prn.a.b", L"lpt9",
                              L"COM\u00b9", L"lpt\u00b3.log", L"CONIN$", L"conout$.txt", L"NUL .\\x"}) {
    SCOPED_TRACE(onefile_test::narrow(name));
    auto r = run_mode(L"unpack", {target_, L"name", name});
    EXPECT_EQ(r.exit_code, 2u);
    EXPECT_EQ(r.out, "Error, couldn't decode attached data.\n");
    EXPECT_FALSE(path_exists(base_ + L"\\escaped.txt"));
  }
  // Dots elsewhere in a component are ordinary, and so are names that only
  // start like a device.
  auto r = run_mode(L"unpack", {target_, L"name", L"..a\\b..c\\.d"});
  EXPECT_EQ(r.out, "unpacked\n");
  EXPECT_EQ(read_file(target_ + L"\\..a\\b..c\\.d"), "x");
  r = run_mode(L"unpack", {target_, L"name", L"console\\COM10\\lpt0.txt"});
  EXPECT_EQ(r.out, "unpacked\n");
}

TEST_F(Unpack, ShortWriteAndFailedCloseAreWriteFailures) {
  for (const auto& [call, code] : {std::pair{L"write", "112"}, std::pair{L"close", "29"}}) {
    auto r = run_mode(L"system_call_fails", {target_, call});
    EXPECT_EQ(r.exit_code, 2u);
    EXPECT_EQ(r.err.rfind(std::string("Error, couldn't unpack file to target path. ([Error ") + code + "] ", 0), 0u)
        << r.err;
  }
}

TEST_F(Unpack, TargetDirectoryMustBeNew) {
  auto r = run_mode(L"create_target", {target_});
  EXPECT_EQ(r.out, "created\n");
  onefile_test::write_file(target_ + L"\\planted.dll", "x");
  r = run_mode(L"create_target", {target_});
  EXPECT_EQ(r.exit_code, 2u);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("Error, couldn't unpack file to target path. ([Error 183] ", 0), 0u) << r.err;
  EXPECT_EQ(read_file(target_ + L"\\planted.dll"), "x");
}

TEST_F(Unpack, InterruptedUnpackingNeitherFailsNorExitsWhenTheFolderIsGone) {
  auto r = run_mode(L"interrupted_race", {target_});
  EXPECT_EQ(r.exit_code, 0u);
  EXPECT_EQ(r.out, "interrupted\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(Unpack, FileWhereADirectoryIsNeededCannotBeOpened) {
  auto r = run_mode(L"unpack", {target_, L"file_for_directory"});
  EXPECT_EQ(r.exit_code, 2u);
  EXPECT_EQ(r.err, "Error, failed to open '" + onefile_test::narrow(target_) + "\\x\\y.txt' for writing.\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(read_file(target_ + L"\\x"), "file");
}

TEST(UnpackBounds, EntryPathMustFit4096UnitsWithItsTerminator) {
  auto r = run_mode(L"child_path_bound", {L"4095"});
  EXPECT_EQ(r.exit_code, 0u);
  EXPECT_EQ(r.out, "1 4095\n");

  r = run_mode(L"child_path_bound", {L"4096"});
  EXPECT_EQ(r.exit_code, 3u);  // the runtime's abort
  EXPECT_EQ(r.out, "");
}

TEST_F(Unpack, FirstEntryPathStopsAtTheFirstNameWithoutReadingOrCreatingAnything) {
  // The stream ends right after the first name: reading its size would fail.
  std::string stored = stored_payload(compress_frame(name_field(L"app.dll"), 20), true);
  payload_open(reinterpret_cast<const unsigned char*>(stored.data()), stored.size());
  wchar_t main_library_path[kPathCapacity] = L"";
  EXPECT_TRUE(read_first_entry_path(target_.c_str(), main_library_path));
  payload_close();
  EXPECT_EQ(std::wstring(main_library_path), target_ + L"\\app.dll");
  EXPECT_FALSE(path_exists(target_));
  // An empty list has no first entry.
  stored = stored_payload(compress_frame(end_marker(), 20), true);
  payload_open(reinterpret_cast<const unsigned char*>(stored.data()), stored.size());
  EXPECT_FALSE(read_first_entry_path(target_.c_str(), main_library_path));
  payload_close();
}

TEST_F(Unpack, EnsureDirectoryTakesDrivesAndExistingPathsAsPresent) {
  EXPECT_TRUE(ensure_directory(L"Q:"));  // never handed to CreateDirectoryW
  std::wstring file = base_ + L"\\plain";
  onefile_test::write_file(file, "x");
  EXPECT_TRUE(ensure_directory(file.c_str()));

  std::wstring child = base_ + L"\\missing\\child";
  EXPECT_FALSE(ensure_directory(child.c_str()));
  // A failure is not remembered: once the parent is there, it is created.
  CreateDirectoryW((base_ + L"\\missing").c_str(), nullptr);
  EXPECT_TRUE(ensure_directory(child.c_str()));
  EXPECT_TRUE(is_directory(child));
}

TEST_F(Unpack, KnownDirectoryListHoldsHomeAnd1023More) {
  auto r = run_mode(L"known_directory_limit", {base_});
  EXPECT_EQ(r.exit_code, 0u) << r.err;
  EXPECT_EQ(r.out, "last remembered trusted, first forgotten made again\n");
}
