// The one shape of the folders a launcher makes with its process ID in the
// name: the default target folder of each run, a cache's staging folder and
// a folder moved aside before it is deleted:
//
//   onefile_<process ID>_<6 digits>_<11 URL-safe characters>
//
// (the ID in decimal; then the microsecond of the start, as {TIME_US}
// writes it; then a random text, as {RANDOM} writes it). The sweeps read the
// owner back from a name of exactly this shape. Pure text functions over any
// character type: the packer uses them too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cwchar>

namespace target_folder_name {

#define ONEFILE_TARGET_FOLDER_NAME "onefile_{PID}_{TIME_US}_{RANDOM}"

// The default target folder's template, for the packer and the launcher.
inline constexpr char kDefaultTemplate[] = "{TEMP}\\" ONEFILE_TARGET_FOLDER_NAME;
inline constexpr wchar_t kDefaultTemplateWide[] = L"{TEMP}\\" ONEFILE_TARGET_FOLDER_NAME;

inline constexpr char kPrefix[] = "onefile_";
inline constexpr size_t kPrefixLength = sizeof kPrefix - 1;
inline constexpr size_t kTimeDigits = 6;
inline constexpr size_t kRandomUnits = 11;
// A name and its terminator: the prefix, 10 digits, 6, 11 and two underscores.
inline constexpr size_t kCapacity = kPrefixLength + 10 + 1 + kTimeDigits + 1 + kRandomUnits + 1;

template <typename Unit>
constexpr bool is_digit(Unit c) {
  return c >= Unit('0') && c <= Unit('9');
}

template <typename Unit>
constexpr bool is_url_safe(Unit c) {
  return is_digit(c) || (c >= Unit('A') && c <= Unit('Z')) || (c >= Unit('a') && c <= Unit('z')) || c == Unit('-') ||
         c == Unit('_');
}

// The process ID in a name of exactly this shape, or 0 for any other name.
template <typename Unit>
constexpr uint32_t owner(const Unit* name) {
  for (size_t i = 0; i < kPrefixLength; ++i)
    if (name[i] != static_cast<Unit>(kPrefix[i])) return 0;
  const Unit* p = name + kPrefixLength;
  uint64_t pid = 0;
  const Unit* digits = p;
  while (is_digit(*p) && p - digits < 10) pid = pid * 10 + static_cast<uint64_t>(*p++ - Unit('0'));
  if (p == digits || *p++ != Unit('_') || pid == 0 || pid > 0xFFFFFFFFull) return 0;
  for (size_t i = 0; i < kTimeDigits; ++i)
    if (!is_digit(*p++)) return 0;
  if (*p++ != Unit('_')) return 0;
  for (size_t i = 0; i < kRandomUnits; ++i)
    if (!is_url_safe(*p++)) return 0;
  return *p == Unit('\0') ? static_cast<uint32_t>(pid) : 0;
}

// Writes the name for `pid`, the six digits `time_us` and the 11 characters
// `random` into `out` (kCapacity units).
inline void format(wchar_t* out, uint32_t pid, const wchar_t* time_us, const wchar_t* random) {
  swprintf(out, kCapacity, L"onefile_%lu_%ls_%ls", static_cast<unsigned long>(pid), time_us, random);
}

}  // namespace target_folder_name
