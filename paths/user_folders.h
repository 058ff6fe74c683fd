// The user's profile folder ({HOME}) and local application data folder
// ({CACHE_DIR}), found where the shell's folder lookup finds them but without
// the shell: loading shell32 brings user32, gdi32, ole32 and more into the
// process, which under Wine costs more than the rest of a cached start
// (bench/README.md). Only kernel32 and ntdll are asked, both loaded in every
// process.
//
//   profile          value ProfileImagePath of the user's SID in
//                    HKLM\Software\Microsoft\Windows NT\CurrentVersion\ProfileList
//   local app data   value "Local AppData" of HKCU\Software\Microsoft\Windows
//                    \CurrentVersion\Explorer\User Shell Folders (a folder
//                    redirected there is followed); without it
//                    %USERPROFILE%\AppData\Local
//
// A REG_EXPAND_SZ value is expanded with the environment, except a leading
// %USERPROFILE%, which is the profile folder above (as the shell takes it:
// not the variable, which anyone may have changed).
#pragma once

#include <cstddef>

enum class UserFolder { profile, local_app_data };

// Writes the folder's path into `folder` (`capacity` units, terminator
// included). False when it cannot be found, does not fit, or is no existing
// directory: a missing folder is never created.
bool find_user_folder(UserFolder which, wchar_t* folder, size_t capacity);

// The text of the user's SID ("S-1-5-21-…") from this process's token, into
// `text` (`capacity` units); false when it cannot be read.
bool user_sid_text(wchar_t* text, size_t capacity);
