// Path template expansion: placeholders, capacity rules, stored values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "contract/target_folder_name.h"
#include "paths/build_texts.h"
#include "paths/path_template.h"
#include "tests/support/process.h"

using onefile_test::narrow;
using onefile_test::quote_argument;
using onefile_test::run_mode;
using onefile_test::run_process;

namespace {
constexpr DWORD kAbortExit = 3;
constexpr wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

struct Expansion {
  bool ok;
  std::wstring text;
};

// Expands into a buffer of exactly `capacity` units followed by a guard.
Expansion expand(const wchar_t* path_template, size_t capacity = 4096) {
  std::vector<wchar_t> buf(capacity + 1, L'#');
  const bool ok = expand_path_template(buf.data(), path_template, capacity);
  EXPECT_EQ(buf[capacity], L'#') << "wrote past the capacity";
  return {ok, buf.data()};
}

std::wstring env(const wchar_t* name) {
  std::vector<wchar_t> buf(32768);
  GetEnvironmentVariableW(name, buf.data(), 32768);
  return buf.data();
}

void clear_stored_values() {
  for (const wchar_t* name : {L"VORLAN_ONEFILE_PARENT", L"VORLAN_ONEFILE_START", L"VORLAN_ONEFILE_TIME_US",
                              L"VORLAN_ONEFILE_RANDOM"})
    SetEnvironmentVariableW(name, nullptr);
}

bool is_random_text(const std::wstring& text) {
  return text.size() == 11 && text.find_first_not_of(kAlphabet) == std::wstring::npos &&
         std::wstring(L"AEIMQUYcgkosw048").find(text[10]) != std::wstring::npos;  // 4 bits then 00
}

bool is_six_digits(const std::wstring& text) {
  return text.size() == 6 && text.find_first_not_of(L"0123456789") == std::wstring::npos;
}

std::wstring temp_path() {
  wchar_t buf[MAX_PATH + 1];
  return std::wstring(buf, GetTempPathW(MAX_PATH + 1, buf));
}

// Runs this binary with `argv0` as its argument 0, expanding `path_template`.
std::string expand_with_argv0(const std::wstring& argv0, const wchar_t* path_template) {
  const std::wstring exe = onefile_test::own_exe_path();
  auto r = run_process(exe.c_str(), quote_argument(argv0) + L" --mode expand " + quote_argument(path_template));
  return r.exit_code == 0 ? r.out : "exit " + std::to_string(r.exit_code);
}
}  // namespace

// args: template [capacity]. Prints "true|text" or "false|text".
ONEFILE_TEST_MODE(expand) {
  const size_t capacity = args.size() > 1 ? std::stoul(args[1]) : 4096;
  std::vector<wchar_t> buf(capacity);
  const bool ok = expand_path_template(buf.data(), args.at(0).c_str(), capacity);
  fputs(((ok ? "true|" : "false|") + narrow(buf.data())).c_str(), stdout);
  return 0;
}

ONEFILE_TEST_MODE(own_pid_short_by_one) {
  wchar_t buf[16];
  expand_path_template(buf, L"{PID}", std::to_wstring(GetCurrentProcessId()).size());
  return 0;
}

TEST(StoredValues, ComputedWhenAbsentAndStoredBeforeUse) {
  clear_stored_values();
  for (int i = 0; i < 20; ++i) {
    SetEnvironmentVariableW(L"VORLAN_ONEFILE_RANDOM", nullptr);
    SetEnvironmentVariableW(L"VORLAN_ONEFILE_TIME_US", nullptr);
    auto e = expand(L"{RANDOM}|{TIME_US}");
    ASSERT_TRUE(e.ok);
    const std::wstring random = e.text.substr(0, e.text.find(L'|'));
    const std::wstring time_us = e.text.substr(e.text.find(L'|') + 1);
    EXPECT_TRUE(is_random_text(random)) << narrow(random);
    EXPECT_TRUE(is_six_digits(time_us)) << narrow(time_us);
    EXPECT_EQ(env(L"VORLAN_ONEFILE_RANDOM"), random);
    EXPECT_EQ(env(L"VORLAN_ONEFILE_TIME_US"), time_us);
  }
  // A present value is used unchanged, whatever it holds.
  SetEnvironmentVariableW(L"VORLAN_ONEFILE_RANDOM", L"not random");
  EXPECT_EQ(expand(L"{random}").text, L"not random");
}

TEST(StoredValues, TimeAndTimeUsReadTheClockSeparately) {
  clear_stored_values();
  // A stored start time whose microsecond part is 234567: TIME_US must not be
  // derived from it.
  SetEnvironmentVariableW(L"VORLAN_ONEFILE_START", L"133000000012345670");
  auto e = expand(L"{TIME}|{TIME_US}");
  ASSERT_TRUE(e.ok);
  EXPECT_EQ(e.text.substr(0, 19), L"133000000012345670|");
  EXPECT_NE(e.text.substr(19), L"234567");
  EXPECT_EQ(env(L"VORLAN_ONEFILE_TIME_US"), e.text.substr(19));

  clear_stored_values();
  SetEnvironmentVariableW(L"VORLAN_ONEFILE_TIME_US", L"000042");
  FILETIME before, after;
  GetSystemTimeAsFileTime(&before);
  e = expand(L"{TIME_US}|{TIME}");
  GetSystemTimeAsFileTime(&after);
  ASSERT_EQ(e.text.substr(0, 7), L"000042|");
  const long long time = std::stoll(e.text.substr(7));
  EXPECT_EQ(std::to_wstring(time), e.text.substr(7));  // no leading zeros
  EXPECT_GE(time, static_cast<long long>((uint64_t{before.dwHighDateTime} << 32) | before.dwLowDateTime));
  EXPECT_LE(time, static_cast<long long>((uint64_t{after.dwHighDateTime} << 32) | after.dwLowDateTime));
  EXPECT_EQ(env(L"VORLAN_ONEFILE_START"), e.text.substr(7));
}

TEST(TargetTemplate, SecondExpansionGivesSameTextFromStoredValues) {
  clear_stored_values();
  auto first = expand(target_folder_name::kDefaultTemplateWide);
  auto second = expand(target_folder_name::kDefaultTemplateWide);
  ASSERT_TRUE(first.ok);
  ASSERT_TRUE(second.ok);
  EXPECT_EQ(first.text, second.text);
  std::wstring temp = temp_path();
  while (!temp.empty() && temp.back() == L'\\') temp.pop_back();
  const std::wstring time_us = env(L"VORLAN_ONEFILE_TIME_US"), random = env(L"VORLAN_ONEFILE_RANDOM");
  EXPECT_TRUE(is_six_digits(time_us));
  EXPECT_TRUE(is_random_text(random));
  EXPECT_EQ(first.text,
            temp + L"\\onefile_" + std::to_wstring(GetCurrentProcessId()) + L"_" + time_us + L"_" + random);
}

TEST(Pid, ParentVariableOrCurrentProcess) {
  clear_stored_values();
  const std::wstring own = std::to_wstring(GetCurrentProcessId());
  EXPECT_EQ(expand(L"{PID}").text, own);
  SetEnvironmentVariableW(L"VORLAN_ONEFILE_PARENT", L"");  // empty counts as absent
  EXPECT_EQ(expand(L"{pid}").text, own);
  SetEnvironmentVariableW(L"VORLAN_ONEFILE_PARENT", L"00123");
  EXPECT_EQ(expand(L"{Pid}").text, L"00123");
  EXPECT_EQ(env(L"VORLAN_ONEFILE_PARENT"), L"00123");  // read only
  clear_stored_values();
  // The formatted ID must fit like any value: exactly, then one unit short.
  EXPECT_EQ(expand(L"{PID}", own.size() + 1).text, own);
  EXPECT_EQ(run_mode(L"own_pid_short_by_one").exit_code, kAbortExit);

  EXPECT_EQ(run_mode(L"expand", {L"{PID}"}, {L"VORLAN_ONEFILE_PARENT=00123"}).out, "true|00123");
  EXPECT_EQ(run_mode(L"expand", {L"{PID}"}, {L"VORLAN_ONEFILE_PARENT=12a"}).exit_code, kAbortExit);
  EXPECT_EQ(run_mode(L"expand", {L"{PID}"}, {L"VORLAN_ONEFILE_PARENT=-12"}).exit_code, kAbortExit);
}

TEST(Program, BaseAndDirectoryOfTheModulePathWhateverArgumentZeroSays) {
  // Parent and child must expand the same folder: argument 0 as typed (a
  // bare name, a relative path) never counts, the full module path does.
  const std::wstring exe = onefile_test::own_exe_path();
  const std::wstring base = exe.substr(0, exe.size() - 4), dir = exe.substr(0, exe.rfind(L'\\'));
  const std::string expected = "true|" + narrow(exe + L"|" + base + L"|" + dir + L"|x\\" + dir);
  for (const wchar_t* typed : {L"app.exe", L"..\\x\\app.EXE", L"C:\\dir\\other.exe", L""})
    EXPECT_EQ(expand_with_argv0(typed, L"{PROGRAM}|{PROGRAM_BASE}|{PROGRAM_DIR}|x\\{program_dir}"), expected)
        << narrow(typed);
}

TEST(Names, WholeNamesIgnoringCaseOnly) {
  EXPECT_EQ(expand(L"{product}").text, onefile_product);
  EXPECT_EQ(expand(L"{PrOdUcT}").text, onefile_product);
  for (const wchar_t* bad : {L"a{}b", L"a{PROD}b", L"a{PRODUCTS}b", L"a{ PRODUCT}b", L"a{PROGRAM_BAS}b"}) {
    auto e = expand(bad);
    EXPECT_FALSE(e.ok) << narrow(bad);
    EXPECT_EQ(e.text, L"a") << narrow(bad);
  }
  // Only the name after the last "{" counts; an open placeholder at the end
  // is dropped.
  EXPECT_EQ(expand(L"x{junk{PRODUCT}y").text, std::wstring(L"x") + onefile_product + L"y");
  auto open = expand(L"abc{TEMP");
  EXPECT_TRUE(open.ok);
  EXPECT_EQ(open.text, L"abc");
  EXPECT_TRUE(expand(L"abc{").ok);
}

TEST(Capacity, LiteralOverflowFailsValueOverflowAborts) {
  EXPECT_EQ(expand(L"abc", 4).text, L"abc");
  auto e = expand(L"abc", 3);
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.text, L"ab");
  EXPECT_FALSE(expand(L"a", 1).ok);
  EXPECT_TRUE(expand(L"", 1).ok);

  const size_t n = wcslen(onefile_product);
  EXPECT_EQ(expand(L"x{PRODUCT}", n + 3).text, std::wstring(L"x") + onefile_product);
  EXPECT_EQ(expand(L"x{PRODUCT}", n + 2).text, std::wstring(L"x") + onefile_product);
  EXPECT_EQ(run_mode(L"expand", {L"x{PRODUCT}", std::to_wstring(n + 1)}).exit_code, kAbortExit);
  // The nested "{PROGRAM}" needs room for the whole path even when part of
  // it is cut off afterwards.
  const std::wstring exe = onefile_test::own_exe_path();
  const std::wstring room = std::to_wstring(exe.size() + 1), short_by_one = std::to_wstring(exe.size());
  EXPECT_EQ(run_mode(L"expand", {L"{PROGRAM_DIR}", short_by_one}).exit_code, kAbortExit);
  EXPECT_EQ(run_mode(L"expand", {L"{PROGRAM_DIR}", room}).out, "true|" + narrow(exe.substr(0, exe.rfind(L'\\'))));
}

TEST(Folders, TrailingBackslashesAreRemoved) {
  const std::wstring temp = temp_path();
  ASSERT_EQ(temp.back(), L'\\');
  EXPECT_EQ(expand(L"{TEMP}").text + L"\\", temp);
  EXPECT_EQ(expand(L"{TEMP}\\x").text, temp + L"x");
  // A temporary path that does not fit, or that the system cannot give (a
  // TEMP of 259 units or more), fails the expansion: an empty value would
  // put the folder in the root of the current drive.
  EXPECT_EQ(expand(L"{TEMP}", temp.size() + 1).text + L"\\", temp);
  auto e = expand(L"\\\\{TEMP}x", temp.size() + 1);
  EXPECT_FALSE(e.ok);
  EXPECT_EQ(e.text, L"\\\\");
  const std::wstring long_temp = L"C:\\" + std::wstring(300, L't');
  auto r = run_mode(L"expand", {L"{TEMP}\\x"}, {L"TMP=" + long_temp, L"TEMP=" + long_temp});
  EXPECT_EQ(r.out, "false|");

  // The system may fold the doubled backslashes of TMP itself; either way
  // none is left.
  r = run_mode(L"expand", {L"{TEMP}|"}, {L"TMP=C:\\windows\\\\\\", L"TEMP=C:\\windows\\\\\\"});
  EXPECT_EQ(r.out, "true|C:\\windows|");

  // Separators at the end of the whole result go too (a join would double
  // them), but for a root's.
  const struct {
    const wchar_t* path_template;
    std::wstring text;
  } ends[] = {
      {L"{TEMP}\\x\\", temp + L"x"},
      {L"{TEMP}\\x/\\/", temp + L"x"},
      {L"C:\\", L"C:\\"},
      {L"C:\\\\", L"C:\\"},
      {L"\\", L"\\"},
  };
  for (const auto& end : ends) EXPECT_EQ(expand(end.path_template).text, end.text) << narrow(end.path_template);

  for (const wchar_t* folder : {L"{HOME}", L"{cache_dir}"}) {
    auto f = expand(folder);
    EXPECT_TRUE(f.ok);
    EXPECT_FALSE(f.text.empty());
    EXPECT_NE(f.text.back(), L'\\');
  }
}
