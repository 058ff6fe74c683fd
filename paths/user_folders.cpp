#include "paths/user_folders.h"

#include <windows.h>
#include <winternl.h>

#include <cwchar>

#include "paths/wide_path.h"
#include "system/system_functions.h"

namespace {

// A value names a folder; the key of a profile is the list's key and a SID.
constexpr size_t kValueCapacity = kPathCapacity;
constexpr size_t kProfileKeyCapacity = 512;

constexpr wchar_t kProfileList[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
constexpr wchar_t kUserShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr wchar_t kUserProfileVariable[] = L"%USERPROFILE%";
constexpr wchar_t kLocalAppDataDefault[] = L"%USERPROFILE%\\AppData\\Local";

// The string value `name` of `root`\`key` as stored, into `value`
// (kValueCapacity units); `expand` tells whether it is REG_EXPAND_SZ.
bool read_string(HKEY root, const wchar_t* key, const wchar_t* name, wchar_t* value, bool& expand) {
  if (!sys::RegGetValueW) return false;
  DWORD type = 0;
  DWORD bytes = kValueCapacity * sizeof(wchar_t);
  if (sys::RegGetValueW(root, key, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type, value, &bytes) !=
      ERROR_SUCCESS)
    return false;
  expand = type == REG_EXPAND_SZ;
  return true;
}

// Appends `text` to `out`, its environment variables expanded when `expand`;
// false (and `out` as before) when the result does not fit.
bool append_value(const wchar_t* text, bool expand, wchar_t* out, size_t capacity) {
  const size_t used = wcslen(out);
  const size_t free_units = capacity - used;
  const size_t needed = expand ? ExpandEnvironmentStringsW(text, out + used, static_cast<DWORD>(free_units))
                               : wcslen(text) + 1;
  if (needed == 0 || needed > free_units) {
    out[used] = L'\0';
    return false;
  }
  if (!expand) wmemcpy(out + used, text, needed);
  return true;
}

bool profile_folder(wchar_t* folder, size_t capacity) {
  wchar_t key[kProfileKeyCapacity];
  bounded_copy(key, kProfileKeyCapacity, kProfileList);
  const size_t length = wcslen(key);
  if (!user_sid_text(key + length, kProfileKeyCapacity - length)) return false;
  wchar_t value[kValueCapacity];
  bool expand = false;
  folder[0] = L'\0';
  return read_string(HKEY_LOCAL_MACHINE, key, L"ProfileImagePath", value, expand) &&
         append_value(value, expand, folder, capacity);
}

bool local_app_data_folder(wchar_t* folder, size_t capacity) {
  wchar_t value[kValueCapacity];
  bool expand = true;
  if (!read_string(HKEY_CURRENT_USER, kUserShellFolders, L"Local AppData", value, expand))
    bounded_copy(value, kValueCapacity, kLocalAppDataDefault);
  folder[0] = L'\0';
  const wchar_t* rest = value;
  const size_t prefix = wcslen(kUserProfileVariable);
  if (expand && _wcsnicmp(value, kUserProfileVariable, prefix) == 0) {
    if (!profile_folder(folder, capacity)) return false;
    rest += prefix;
  }
  return append_value(rest, expand, folder, capacity);
}

}  // namespace

bool user_sid_text(wchar_t* text, size_t capacity) {
  if (!sys::found(sys::Library::ntdll)) return false;
  HANDLE token = nullptr;
  if (sys::NtOpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) < 0) return false;
  // TOKEN_USER and the SID behind it; a SID has at most 15 sub-authorities.
  alignas(8) unsigned char user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  ULONG length = 0;
  const bool queried = sys::NtQueryInformationToken(token, TokenUser, user, sizeof user, &length) >= 0;
  sys::NtClose(token);
  if (!queried) return false;
  // The longest SID text has 184 characters.
  wchar_t units[256];
  UNICODE_STRING sid = {0, sizeof units - sizeof(wchar_t), units};
  if (sys::RtlConvertSidToUnicodeString(&sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid, FALSE) < 0) return false;
  const size_t count = sid.Length / sizeof(wchar_t);
  if (count >= capacity) return false;
  wmemcpy(text, units, count);
  text[count] = L'\0';
  return true;
}

bool find_user_folder(UserFolder which, wchar_t* folder, size_t capacity) {
  const bool found = which == UserFolder::profile ? profile_folder(folder, capacity)
                                                  : local_app_data_folder(folder, capacity);
  return found && folder[0] != L'\0' && is_directory(folder);
}
