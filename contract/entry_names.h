// The rule for an entry's name that both halves apply when they turn a
// payload into files: the launcher before it unpacks a record, the packer
// before --extract writes one and when --verify checks a payload. A pure
// function over UTF-16 units, so that both compile the same rule.
#pragma once

#include <cstddef>

#include "contract/device_names.h"

namespace payload_names {

// True when the name of `length` units stays below the folder it is joined
// to: no empty component, none that ends in a dot or a blank (Windows drops
// those, so "..", ".. " and "..." would all climb or fold into another
// component), no forward slash (Windows reads it as a separator), no colon
// (drives, streams) and no device name (its bytes would go to the device).
// Components are separated by backslashes. The packer never writes such
// names; a damaged or crafted payload must not write outside the folder.
template <typename Unit>
constexpr bool is_plain_relative_name(const Unit* name, size_t length) {
  size_t start = 0;
  for (;;) {
    size_t end = start;
    while (end < length && name[end] != Unit('\\')) {
      if (name[end] == Unit('/') || name[end] == Unit(':')) return false;
      ++end;
    }
    if (end == start || name[end - 1] == Unit('.') || name[end - 1] == Unit(' ')) return false;
    if (is_device_name(name + start, end - start)) return false;
    if (end == length) return true;
    start = end + 1;
  }
}

}  // namespace payload_names
