// The user's folders found without the shell: the same as the shell's own
// lookup, a folder redirected in the registry, and missing folders.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

#include "paths/path_template.h"
#include "paths/user_folders.h"
#include "tests/support/process.h"

using onefile_test::narrow;

namespace {

constexpr wchar_t kUserShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr wchar_t kProfileList[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";

// What the shell gives, without a trailing backslash; empty when it fails.
std::wstring shell_folder(int csidl) {
  wchar_t folder[MAX_PATH];
  if (SHGetFolderPathW(nullptr, csidl, nullptr, 0, folder) != S_OK) return L"";
  std::wstring text = folder;
  while (text.size() > 3 && text.back() == L'\\') text.pop_back();
  return text;
}

// What the launcher finds; "(none)" when it finds nothing.
std::wstring ours(UserFolder which) {
  wchar_t folder[4096];
  if (!find_user_folder(which, folder, 4096)) return L"(none)";
  std::wstring text = folder;
  while (text.size() > 3 && text.back() == L'\\') text.pop_back();
  return text;
}

std::wstring expanded(const wchar_t* path_template) {
  wchar_t out[4096];
  return expand_path_template(out, path_template, 4096) ? out : L"(failed)";
}

// A registry value set for the length of a scope, then put back as it was
// (or deleted, if there was none).
class ValueOverride {
 public:
  ValueOverride(HKEY root, const std::wstring& key, const wchar_t* name, DWORD type, const std::wstring& value)
      : name_(name) {
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key_) != ERROR_SUCCESS) {
      key_ = nullptr;
      return;
    }
    saved_size_ = sizeof saved_;
    had_ = RegQueryValueExW(key_, name, nullptr, &saved_type_, saved_, &saved_size_) == ERROR_SUCCESS;
    RegSetValueExW(key_, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  ~ValueOverride() {
    if (!key_) return;
    if (had_) RegSetValueExW(key_, name_, 0, saved_type_, saved_, saved_size_);
    else RegDeleteValueW(key_, name_);
    RegCloseKey(key_);
  }
  bool set() const { return key_ != nullptr; }

 private:
  HKEY key_ = nullptr;
  const wchar_t* name_;
  bool had_ = false;
  DWORD saved_type_ = 0;
  DWORD saved_size_ = 0;
  BYTE saved_[4096];
};

std::wstring profile_key() {
  wchar_t sid[256];
  return user_sid_text(sid, 256) ? kProfileList + std::wstring(sid) : L"";
}

}  // namespace

TEST(UserFolders, SameAsTheShellGives) {
  const std::wstring profile = shell_folder(CSIDL_PROFILE), local = shell_folder(CSIDL_LOCAL_APPDATA);
  ASSERT_FALSE(profile.empty());
  ASSERT_FALSE(local.empty());
  EXPECT_EQ(ours(UserFolder::profile), profile);
  EXPECT_EQ(ours(UserFolder::local_app_data), local);
  EXPECT_EQ(expanded(L"{HOME}"), profile);
  EXPECT_EQ(expanded(L"{CACHE_DIR}\\x"), local + L"\\x");

  // The profile folder is the user's, not the variable, which this process
  // (or whoever started it) may have changed; the shell ignores it too.
  const std::wstring elsewhere = onefile_test::make_temp_dir(L"elsewhere");
  SetEnvironmentVariableW(L"USERPROFILE", elsewhere.c_str());
  EXPECT_EQ(ours(UserFolder::profile), profile);
  EXPECT_EQ(ours(UserFolder::local_app_data), local);
  SetEnvironmentVariableW(L"USERPROFILE", profile.c_str());
  onefile_test::remove_tree(elsewhere);
}

TEST(UserFolders, SidTextNamesTheUsersProfile) {
  wchar_t sid[256];
  ASSERT_TRUE(user_sid_text(sid, 256));
  EXPECT_EQ(std::wstring(sid).rfind(L"S-1-", 0), 0u) << narrow(sid);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, profile_key().c_str(), 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_FALSE(user_sid_text(sid, 5));  // does not fit
}

// The user's registry settings, which every program of the prefix reads:
// CTest runs this alone (paths_user_folders_follow_the_registry), and each
// setting is put back before the mode returns.
ONEFILE_TEST_MODE(redirected_folders) {
  int failures = 0;
  const auto check = [&](const char* what, const std::wstring& got, const std::wstring& expected) {
    if (got == expected) return;
    fprintf(stderr, "%s: got '%s', expected '%s'\n", what, narrow(got).c_str(), narrow(expected).c_str());
    ++failures;
  };
  const std::wstring profile = shell_folder(CSIDL_PROFILE);
  const std::wstring temp = onefile_test::make_temp_dir(L"redirected");
  const std::wstring under_profile = profile + L"\\Redirected Local Test";
  CreateDirectoryW(under_profile.c_str(), nullptr);
  SetEnvironmentVariableW(L"ONEFILE_REDIRECT_TEST", temp.c_str());
  {
    // A folder moved below the profile, as the settings write it.
    ValueOverride local(HKEY_CURRENT_USER, kUserShellFolders, L"Local AppData", REG_EXPAND_SZ,
                        L"%USERPROFILE%\\Redirected Local Test");
    if (!local.set()) return 90;
    check("below the profile", ours(UserFolder::local_app_data), under_profile);
    check("below the profile, the shell", shell_folder(CSIDL_LOCAL_APPDATA), under_profile);
    check("below the profile, {CACHE_DIR}", expanded(L"{CACHE_DIR}"), under_profile);
  }
  {
    // Any other variable comes from the environment.
    ValueOverride local(HKEY_CURRENT_USER, kUserShellFolders, L"Local AppData", REG_EXPAND_SZ,
                        L"%ONEFILE_REDIRECT_TEST%");
    check("a variable", ours(UserFolder::local_app_data), temp);
    check("a variable, the shell", shell_folder(CSIDL_LOCAL_APPDATA), temp);
  }
  {
    // A plain string is taken as it is, with a backslash at its end.
    ValueOverride local(HKEY_CURRENT_USER, kUserShellFolders, L"Local AppData", REG_SZ, temp + L"\\");
    check("a plain string", ours(UserFolder::local_app_data), temp);
    check("a plain string, the shell", shell_folder(CSIDL_LOCAL_APPDATA), temp);
    check("a plain string, {CACHE_DIR}", expanded(L"{CACHE_DIR}"), temp);
  }
  {
    // A folder that does not exist is no folder, and is not created.
    ValueOverride local(HKEY_CURRENT_USER, kUserShellFolders, L"Local AppData", REG_EXPAND_SZ,
                        L"%USERPROFILE%\\no such folder");
    check("missing", ours(UserFolder::local_app_data), L"(none)");
    check("missing, the shell", shell_folder(CSIDL_LOCAL_APPDATA), L"");
    check("missing, {CACHE_DIR}", expanded(L"{CACHE_DIR}"), L"(failed)");
    check("missing, not created", onefile_test::path_exists(profile + L"\\no such folder") ? L"made" : L"", L"");
  }
  {
    // The profile is the one the system keeps for the user's SID. (Wine's
    // shell builds it from the profiles folder and the user's name instead,
    // which gives the same folder until someone moves a profile, so it is
    // not asked here.) A value of the default shape follows it.
    ValueOverride moved(HKEY_LOCAL_MACHINE, profile_key(), L"ProfileImagePath", REG_EXPAND_SZ,
                        L"%ONEFILE_REDIRECT_TEST%");
    if (!moved.set()) return 91;
    check("moved profile", ours(UserFolder::profile), temp);
    check("moved profile, {HOME}", expanded(L"{HOME}"), temp);
    CreateDirectoryW((temp + L"\\AppData").c_str(), nullptr);
    CreateDirectoryW((temp + L"\\AppData\\Local").c_str(), nullptr);
    ValueOverride local(HKEY_CURRENT_USER, kUserShellFolders, L"Local AppData", REG_EXPAND_SZ,
                        L"%USERPROFILE%\\AppData\\Local");
    check("moved profile, local", ours(UserFolder::local_app_data), temp + L"\\AppData\\Local");
  }
  {
    ValueOverride gone(HKEY_LOCAL_MACHINE, profile_key(), L"ProfileImagePath", REG_SZ, L"C:\\no such profile");
    check("missing profile", ours(UserFolder::profile), L"(none)");
    check("missing profile, local", ours(UserFolder::local_app_data), L"(none)");
    check("missing profile, {HOME}", expanded(L"{HOME}"), L"(failed)");
  }
  check("put back", ours(UserFolder::local_app_data), shell_folder(CSIDL_LOCAL_APPDATA));
  RemoveDirectoryW(under_profile.c_str());
  onefile_test::remove_tree(temp);
  if (failures) return 1;
  printf("ok\n");
  return 0;
}
