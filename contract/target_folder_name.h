// The one shape of the folders a launcher makes with its process ID in the
// name: the default target folder of each run, a cache's staging folder and
// a folder moved aside before it is deleted:
//
//   onefile_<process ID>_<6 digits>_<11 URL-safe characters>
//
// (the ID in decimal; then the microsecond of the start, as {TIME_US}
// writes it, time_us_text; then a random text, as {RANDOM} writes it,
// random_text). The sweeps look for names of it (kSweepPattern) and read the
// owner back from a name of exactly this shape. Pure text functions: the
// packer uses them too. The launcher's source of fresh values for them is
// paths/fresh_name.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cwchar>

namespace target_folder_name {

#define ONEFILE_TARGET_FOLDER_PREFIX "onefile_"
#define ONEFILE_TARGET_FOLDER_NAME ONEFILE_TARGET_FOLDER_PREFIX "{PID}_{TIME_US}_{RANDOM}"

// The default target folder's template, for the packer and the launcher.
inline constexpr char kDefaultTemplate[] = "{TEMP}\\" ONEFILE_TARGET_FOLDER_NAME;
inline constexpr wchar_t kDefaultTemplateWide[] = L"{TEMP}\\" ONEFILE_TARGET_FOLDER_NAME;

inline constexpr char kPrefix[] = ONEFILE_TARGET_FOLDER_PREFIX;
inline constexpr size_t kPrefixLength = sizeof kPrefix - 1;
// What a folder listing is asked for to find the names of this shape.
inline constexpr wchar_t kSweepPattern[] = L"" ONEFILE_TARGET_FOLDER_PREFIX "*";
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
  swprintf(out, kCapacity, L"" ONEFILE_TARGET_FOLDER_PREFIX "%lu_%ls_%ls", static_cast<unsigned long>(pid), time_us,
           random);
}

// The random text for `seed` (not 0): eight bytes from a 32-bit xorshift,
// one after each step, in URL-safe base64 without padding (3+3+2 bytes give
// 4+4+3 characters), with a terminator, into `out` (kRandomUnits + 1 units).
inline void random_text(uint32_t seed, wchar_t* out) {
  static const wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  uint8_t bytes[8];
  uint32_t x = seed;
  for (uint8_t& byte : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<uint8_t>(x);
  }
  size_t n = 0;
  for (int i = 0; i < 6; i += 3) {
    const uint32_t group = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    out[n++] = kAlphabet[(group >> 18) & 63];
    out[n++] = kAlphabet[(group >> 12) & 63];
    out[n++] = kAlphabet[(group >> 6) & 63];
    out[n++] = kAlphabet[group & 63];
  }
  const uint32_t tail = (uint32_t{bytes[6]} << 8) | bytes[7];
  out[n++] = kAlphabet[(tail >> 10) & 63];
  out[n++] = kAlphabet[(tail >> 4) & 63];
  out[n++] = kAlphabet[(tail << 2) & 63];
  out[n] = L'\0';
}

// The microsecond within the second of `system_time` (100 ns units since
// 1601), always six digits ("%06ld"), with a terminator, into `out`
// (kTimeDigits + 1 units).
inline void time_us_text(int64_t system_time, wchar_t* out) {
  swprintf(out, kTimeDigits + 1, L"%06ld", static_cast<long>((system_time / 10) % 1000000));
}

}  // namespace target_folder_name
