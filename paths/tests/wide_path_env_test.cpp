// Bounded path operations and environment access. Aborts run in a fresh copy
// of this binary; the runtime's abort exits with 3.
#include <gtest/gtest.h>

#include <string>

#include "paths/env.h"
#include "paths/wide_path.h"
#include "tests/support/process.h"

using onefile_test::run_mode;

namespace {
constexpr DWORD kAbortExit = 3;

// Names of `length` characters, distinct per length.
std::string name_of_length(size_t length) {
  std::string name = "ONEFILE_T_" + std::to_string(length) + "_";
  name.resize(length, 'N');
  return name;
}
}  // namespace

// args: operation, capacity. Prints the resulting text (or length).
ONEFILE_TEST_MODE(bounded) {
  const size_t capacity = std::stoul(args.at(1));
  wchar_t text[16] = L"ab";
  if (args[0] == L"length") {
    const wchar_t abc[4] = {L'a', L'b', L'c', L'\0'};
    fputs(std::to_string(bounded_length(abc, capacity)).c_str(), stdout);
    return 0;
  }
  if (args[0] == L"copy") bounded_copy(text, capacity, L"abc");
  if (args[0] == L"append") bounded_append(text, capacity, L"cd");
  if (args[0] == L"append_unterminated") {
    wmemset(text, L'x', 16);
    bounded_append(text, capacity, L"");
  }
  fputs(onefile_test::narrow(text).c_str(), stdout);
  return 0;
}

// args: operation, name length.
ONEFILE_TEST_MODE(env_name) {
  const std::string name = name_of_length(std::stoul(args.at(1)));
  if (args[0] == L"get") free(env_get(name.c_str()));
  else env_set(name.c_str(), L"v");
  return 0;
}

// Prints the length, first and last character of ONEFILE_T_LONG, or "null".
ONEFILE_TEST_MODE(env_value) {
  wchar_t* value = env_get("ONEFILE_T_LONG");
  if (value == nullptr) {
    fputs("null", stdout);
    return 0;
  }
  const size_t length = wcslen(value);
  printf("%u %c %c", static_cast<unsigned>(length), static_cast<char>(value[0]), static_cast<char>(value[length - 1]));
  return 0;
}

TEST(BoundedPath, TextAndTerminatorMustFit) {
  wchar_t buf[8];
  wmemset(buf, L'#', 8);
  bounded_copy(buf, 4, L"abc");  // exactly the size
  EXPECT_STREQ(buf, L"abc");
  bounded_append(buf, 6, L"de");  // one unit to spare
  EXPECT_STREQ(buf, L"abcde");
  EXPECT_EQ(buf[6], L'#');
  bounded_append(buf, 6, L"");
  EXPECT_STREQ(buf, L"abcde");
  EXPECT_EQ(bounded_length(buf, 6), 5u);

  EXPECT_EQ(run_mode(L"bounded", {L"copy", L"3"}).exit_code, kAbortExit);
  EXPECT_EQ(run_mode(L"bounded", {L"append", L"4"}).exit_code, kAbortExit);
  EXPECT_EQ(run_mode(L"bounded", {L"append", L"5"}).out, "abcd");
  EXPECT_EQ(run_mode(L"bounded", {L"length", L"4"}).out, "3");
  EXPECT_EQ(run_mode(L"bounded", {L"length", L"3"}).exit_code, kAbortExit);
  EXPECT_EQ(run_mode(L"bounded", {L"append_unterminated", L"16"}).exit_code, kAbortExit);
}

TEST(Env, EmptyAndAbsentReadAsNull) {
  SetEnvironmentVariableW(L"ONEFILE_T_EMPTY", L"");
  EXPECT_EQ(env_get("ONEFILE_T_EMPTY"), nullptr);
  EXPECT_EQ(env_get_w(L"ONEFILE_T_EMPTY"), nullptr);
  EXPECT_EQ(env_get("ONEFILE_T_NEVER_SET"), nullptr);
}

TEST(Env, SetReadAndRemove) {
  EXPECT_NE(env_set("ONEFILE_T_VALUE", L"C:\\x y\\\u00e9"), 0);
  wchar_t* first = env_get("ONEFILE_T_VALUE");
  wchar_t* second = env_get_w(L"ONEFILE_T_VALUE");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(first, L"C:\\x y\\\u00e9");
  EXPECT_STREQ(second, first);
  EXPECT_NE(second, first);  // separate heap copies
  free(first);
  free(second);
  env_set("ONEFILE_T_VALUE", nullptr);
  EXPECT_EQ(env_get("ONEFILE_T_VALUE"), nullptr);
  EXPECT_EQ(GetEnvironmentVariableW(L"ONEFILE_T_VALUE", nullptr, 0), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
}

TEST(Env, LongestValueReadsBackWhole) {
  // SetEnvironmentVariableW takes at most 32766 units, so the longest values
  // come from the environment block a process starts with.
  std::wstring value(32767, L'v');
  value[0] = L'a';
  value[32766] = L'z';
  EXPECT_EQ(run_mode(L"env_value", {}, {L"ONEFILE_T_LONG=" + value}).out, "32767 a z");
  EXPECT_EQ(run_mode(L"env_value", {}, {L"ONEFILE_T_LONG=" + value + L"v"}).out, "null");
  EXPECT_EQ(run_mode(L"env_value", {}, {L"ONEFILE_T_LONG=" + value.substr(1)}).out, "32766 v z");
}

TEST(Env, NameHasAtMost39Characters) {
  const std::string longest = name_of_length(39);
  ASSERT_NE(env_set(longest.c_str(), L"ok"), 0);
  wchar_t* read = env_get(longest.c_str());
  ASSERT_NE(read, nullptr);
  EXPECT_STREQ(read, L"ok");
  free(read);
  EXPECT_EQ(run_mode(L"env_name", {L"get", L"39"}).exit_code, 0u);
  EXPECT_EQ(run_mode(L"env_name", {L"get", L"40"}).exit_code, kAbortExit);
  EXPECT_EQ(run_mode(L"env_name", {L"set", L"40"}).exit_code, kAbortExit);
}

TEST(WidenBytes, EachByteBecomesOneUnit) {
  // Two UTF-8 bytes stay two units: a sequence is never decoded as one character.
  wchar_t out[8];
  widen_bytes("a\xc3\xa9", out, 4);
  EXPECT_EQ(std::wstring(out), std::wstring(L"a\u00c3\u00a9"));
  widen_bytes("", out, 1);
  EXPECT_STREQ(out, L"");
}
