#include "paths/path_template.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <iterator>

#include "contract/placeholders.h"
#include "paths/build_texts.h"
#include "paths/env.h"
#include "paths/fresh_name.h"
#include "paths/own_path.h"
#include "paths/temp_directory.h"
#include "paths/user_folders.h"
#include "paths/wide_path.h"
#include "system/system_time.h"

namespace {

// Placeholder names hold at most 1023 characters and a terminator; the
// longest known name has 15.
constexpr size_t kNameCapacity = 1024;

using namespace path_placeholders;

// The part of the output still to be written: `position` points at its
// terminator, `remaining` counts the free units including that terminator.
struct Cursor {
  wchar_t* start;
  wchar_t* position;
  size_t remaining;
  const wchar_t* app_directory;  // {APP_DIR}; null: unknown
};

// Moves the cursor over `length` units that were just written at its position.
void advance(Cursor& cursor, size_t length) {
  cursor.position += length;
  cursor.remaining -= length;
}

// Appends a value: it is never truncated, so a value that does not fit aborts.
void append_value(Cursor& cursor, const wchar_t* value) {
  bounded_copy(cursor.position, cursor.remaining, value);
  advance(cursor, wcslen(value));
}

// Folder values end without a backslash, so that "{TEMP}\name" has exactly one.
void strip_trailing_backslashes(Cursor& cursor) {
  while (cursor.position > cursor.start && cursor.position[-1] == L'\\') {
    --cursor.position;
    *cursor.position = L'\0';
    ++cursor.remaining;
  }
}

// {HOME} and {CACHE_DIR}: a folder that cannot be found or does not exist
// fails the expansion.
bool append_folder(Cursor& cursor, UserFolder which) {
  wchar_t folder[kPathCapacity];
  if (!find_user_folder(which, folder, kPathCapacity)) return false;
  append_value(cursor, folder);
  return true;
}

// The program name, written at the cursor by a nested expansion of
// "{PROGRAM}" so that PROGRAM_BASE and PROGRAM_DIR edit only that text.
// `length` receives its length; false when the nested expansion fails.
bool append_program(Cursor& cursor, size_t& length) {
  if (!expand_path_template(cursor.position, L"{PROGRAM}", cursor.remaining)) return false;
  length = wcslen(cursor.position);
  return true;
}

void append_pid(Cursor& cursor) {
  wchar_t* parent = env_get("VORLAN_ONEFILE_PARENT");
  if (parent != nullptr) {
    // The parent's ID is used as it stands, leading zeros included; it was
    // written by a parent role, so anything but digits is an impossible state.
    for (const wchar_t* p = parent; *p != L'\0'; ++p)
      if (!iswctype(*p, _DIGIT)) abort();
    append_value(cursor, parent);
    free(parent);
    return;
  }
  char text[16];
  snprintf(text, sizeof(text), "%ld", static_cast<long>(GetCurrentProcessId()));
  widen_bytes(text, cursor.position, cursor.remaining);
  advance(cursor, wcslen(cursor.position));
}

// RANDOM, TIME_US and TIME: the stored value when present, else a new one,
// stored before it is appended so that later expansions (here and in the
// child, which inherits the environment) give the same text.
void append_stored(Cursor& cursor, const char* variable, Placeholder placeholder) {
  wchar_t* stored = env_get(variable);
  if (stored != nullptr) {
    append_value(cursor, stored);
    free(stored);
    return;
  }
  // {TIME}: the system time as a signed count, in decimal.
  wchar_t text[24];
  if (placeholder == kRandom) new_random_text(text);
  else if (placeholder == kTimeUs) target_folder_name::time_us_text(static_cast<int64_t>(system_time()), text);
  else swprintf(text, std::size(text), L"%lld", static_cast<long long>(system_time()));
  env_set(variable, text);
  append_value(cursor, text);
}

bool expand_placeholder(Cursor& cursor, const wchar_t* name) {
  const Placeholder placeholder = find(name, wcslen(name));
  size_t length = 0;
  switch (placeholder) {
    case kTemp:
      // Written straight at the position; one that cannot be read or does
      // not fit fails the expansion.
      if (!temp_directory(cursor.position, cursor.remaining)) return false;
      advance(cursor, wcslen(cursor.position));
      return true;
    case kProgram:
      // The full path the launcher was loaded from, never argument 0 as
      // typed: parent and child must expand the same folder, and the child
      // is started by that path.
      append_value(cursor, get_own_executable_path(false));
      return true;
    case kProgramBase:
      if (!append_program(cursor, length)) return false;
      if (length > 3 && _wcsicmp(cursor.position + length - 4, L".exe") == 0) {
        length -= 4;
        cursor.position[length] = L'\0';
      }
      advance(cursor, length);
      return true;
    case kProgramDir: {
      // Only the program name counts: a backslash written before it does not.
      if (!append_program(cursor, length)) return false;
      wchar_t* last = wcsrchr(cursor.position, L'\\');
      if (last != nullptr) {
        *last = L'\0';
        length = static_cast<size_t>(last - cursor.position);
      }
      advance(cursor, length);
      return true;
    }
    case kPid:
      append_pid(cursor);
      return true;
    case kHome:
    case kCacheDir:
      if (!append_folder(cursor, placeholder == kHome ? UserFolder::profile : UserFolder::local_app_data)) return false;
      strip_trailing_backslashes(cursor);
      return true;
    case kCompany:
      append_value(cursor, onefile_company);
      return true;
    case kProduct:
      append_value(cursor, onefile_product);
      return true;
    case kVersion:
      append_value(cursor, onefile_version);
      return true;
    case kFileVersion:
      append_value(cursor, onefile_file_version);
      return true;
    case kProductVersion:
      append_value(cursor, onefile_product_version);
      return true;
    case kRandom:
      append_stored(cursor, "VORLAN_ONEFILE_RANDOM", placeholder);
      return true;
    case kTimeUs:
      append_stored(cursor, "VORLAN_ONEFILE_TIME_US", placeholder);
      return true;
    case kTime:
      append_stored(cursor, "VORLAN_ONEFILE_START", placeholder);
      return true;
    case kAppDir:
      if (!cursor.app_directory) return false;
      append_value(cursor, cursor.app_directory);
      return true;
    case kUnknown:
      break;
  }
  return false;
}

}  // namespace

bool expand_path_template(wchar_t* output, const wchar_t* path_template, size_t capacity,
                          const wchar_t* app_directory) {
  Cursor cursor{output, output, capacity, app_directory};
  *output = L'\0';
  wchar_t name[kNameCapacity];
  size_t name_length = 0;
  bool open = false;
  for (const wchar_t* p = path_template; *p != L'\0'; ++p) {
    const wchar_t c = *p;
    if (c == L'{') {
      // Only the name after the last "{" counts.
      open = true;
      name_length = 0;
    } else if (c == L'}' && open) {
      name[name_length] = L'\0';
      if (!expand_placeholder(cursor, name)) return false;
      open = false;
    } else if (open) {
      if (name_length + 1 >= kNameCapacity) abort();
      name[name_length++] = c;
    } else {
      // A literal that does not fit fails the expansion instead of aborting.
      if (cursor.remaining < 2) return false;
      cursor.position[0] = c;
      cursor.position[1] = L'\0';
      advance(cursor, 1);
    }
  }
  // A placeholder still open here is dropped.
  *cursor.position = L'\0';
  // Separators at the end of a folder's path would stay in its full path and
  // be doubled by every join below it; a root keeps its own. A program's
  // fixed argument (with {APP_DIR}) is no folder path and stays as written.
  for (size_t n = app_directory ? 0 : wcslen(output); n > 1 && (output[n - 1] == L'\\' || output[n - 1] == L'/') &&
                                  !(n == 3 && output[1] == L':');)
    output[--n] = L'\0';
  return true;
}
