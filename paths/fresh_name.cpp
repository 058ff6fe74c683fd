#include "paths/fresh_name.h"

#include <windows.h>

#include <cstdint>

#include "paths/wide_path.h"
#include "system/system_time.h"

void new_random_text(wchar_t* out) {
  // The counter's value and the stack address of the variable holding it
  // differ between runs and between processes started at the same moment;
  // the count of texts made keeps two made in one tick of the counter apart.
  static LONG made = 0;
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  const uint64_t c = static_cast<uint64_t>(counter.QuadPart);
  const uint64_t a = reinterpret_cast<uintptr_t>(&counter);
  uint32_t seed = (static_cast<uint32_t>(c >> 32) ^ static_cast<uint32_t>(c)) ^
                  (static_cast<uint32_t>(a >> 32) ^ static_cast<uint32_t>(a)) ^ GetCurrentProcessId();
  seed += static_cast<uint32_t>(InterlockedIncrement(&made)) * 0x9e3779b9u;
  target_folder_name::random_text(seed ? seed : 1, out);
}

void make_fresh_folder(wchar_t* out, const wchar_t* root) {
  wchar_t random[target_folder_name::kRandomUnits + 1];
  new_random_text(random);
  wchar_t time_us[target_folder_name::kTimeDigits + 1];
  target_folder_name::time_us_text(static_cast<int64_t>(system_time()), time_us);
  wchar_t name[target_folder_name::kCapacity];
  target_folder_name::format(name, GetCurrentProcessId(), time_us, random);
  bounded_join(out, kPathCapacity, root, name);
}
