// Which key folders a cache root keeps: the folders of several keys (apps
// on one root, builds a user keeps side by side) stay, each until it has not
// been started for kUnusedDays or more than kKeysKept keys are there and it
// is the least recently used. A folder a run holds counts as used now, and
// the key of the run that sweeps is never removed. The launcher applies the
// rule; onefile-pack --help prints the figures from here.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <vector>

namespace cache_keep {

inline constexpr unsigned kKeysKept = 3;
inline constexpr unsigned kUnusedDays = 30;

// Times are Windows file times: 100 ns units since 1601.
inline constexpr uint64_t kTicksPerDay = 24ull * 60 * 60 * 10000000;
inline constexpr uint64_t kUnusedTicks = kUnusedDays * kTicksPerDay;

// The order in which the sweep considers the other keys of a root, given
// their last use: least recently used first.
inline std::vector<size_t> sweep_order(const std::vector<uint64_t>& last_used) {
  std::vector<size_t> order(last_used.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return last_used[a] < last_used[b]; });
  return order;
}

// Whether another key, last used at `last_used`, goes at `now` while
// `others` other keys remain (itself included) beside the sweeping run's.
// A time in the future (a clock set back) is recent.
inline bool should_remove(uint64_t last_used, uint64_t now, size_t others) {
  return (now > last_used && now - last_used > kUnusedTicks) || others + 1 > kKeysKept;
}

}  // namespace cache_keep
