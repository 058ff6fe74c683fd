// The placeholder names of path templates, shared by the launcher (which
// expands them) and the packer (which checks a template before it goes into
// a launcher). Pure functions over any character type.
#pragma once

#include <cstddef>

namespace path_placeholders {

// The known names, matched in this order, ignoring case, whole names only.
enum Placeholder {
  kTemp,
  kProgram,
  kProgramBase,
  kProgramDir,
  kPid,
  kHome,
  kCacheDir,
  kCompany,
  kProduct,
  kVersion,
  kFileVersion,
  kProductVersion,
  kRandom,
  kTimeUs,
  kTime,
  kAppDir,  // fixed arguments of a program main only: the folder that holds it
  kUnknown,
};

inline constexpr const char* kNames[] = {
    "TEMP",    "PROGRAM", "PROGRAM_BASE", "PROGRAM_DIR",     "PID",    "HOME",    "CACHE_DIR", "COMPANY",
    "PRODUCT", "VERSION", "FILE_VERSION", "PRODUCT_VERSION", "RANDOM", "TIME_US", "TIME",    "APP_DIR",
};

// The placeholder named by the `length` units at `name`, ignoring ASCII case.
template <typename Unit>
constexpr Placeholder find(const Unit* name, size_t length) {
  for (int i = kTemp; i < kUnknown; ++i) {
    const char* known = kNames[i];
    size_t n = 0;
    while (n < length && known[n] != '\0') {
      Unit c = name[n];
      if (c >= Unit('a') && c <= Unit('z')) c = static_cast<Unit>(c - Unit('a') + Unit('A'));
      if (c != static_cast<Unit>(known[n])) break;
      ++n;
    }
    if (n == length && known[n] == '\0') return static_cast<Placeholder>(i);
  }
  return kUnknown;
}

// Placeholders whose value changes from run to run: a template holding one
// names a new folder every time.
constexpr bool varies_per_run(Placeholder p) { return p == kPid || p == kRandom || p == kTimeUs || p == kTime; }

// Placeholders whose value is a whole path (a drive or a root first): only
// the start of a template may hold one.
constexpr bool gives_full_path(Placeholder p) {
  return p == kTemp || p == kHome || p == kCacheDir || p == kProgram || p == kProgramBase || p == kProgramDir;
}

}  // namespace path_placeholders
