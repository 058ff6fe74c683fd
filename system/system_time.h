// The system time as one number: 100 ns ticks since 1601 (UTC), the unit
// of FILETIME, of {TIME} and of the times the sweeps compare.
#pragma once

#include <windows.h>

#include <cstdint>

// `time` as ticks.
inline uint64_t ticks(const FILETIME& time) { return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime; }

// The system time now, as ticks.
inline uint64_t system_time() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return ticks(now);
}
