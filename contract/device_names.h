// The names Windows opens as devices in a path without the "\\?\" prefix:
// CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9 (also with the superscript
// digits 1, 2 and 3), CONIN$ and CONOUT$, in any case, with any extension.
// Pure functions over UTF-16 units, shared by the packer (which refuses such
// names) and the launcher (which refuses to unpack them), so that both halves
// follow one rule.
#pragma once

#include <cstddef>

namespace payload_names {

// True when the path component of `length` units at `component` is a device
// name. Windows drops everything from the first dot and then the trailing
// blanks before it compares, so "nul.txt", "NUL .txt", "Con..." and "lpt1 "
// are all devices.
template <typename Unit>
constexpr bool is_device_name(const Unit* component, size_t length) {
  size_t base = 0;
  while (base < length && component[base] != Unit('.')) ++base;
  while (base > 0 && component[base - 1] == Unit(' ')) --base;
  const auto upper = [&](size_t i) -> char16_t {
    const char16_t c = static_cast<char16_t>(component[i]);
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
  };
  const auto starts_with = [&](const char16_t* name) {
    size_t i = 0;
    for (; name[i] != 0; ++i)
      if (i >= base || upper(i) != name[i]) return false;
    return true;
  };
  const auto is = [&](const char16_t* name) {
    size_t n = 0;
    while (name[n] != 0) ++n;
    return n == base && starts_with(name);
  };
  if (is(u"CON") || is(u"PRN") || is(u"AUX") || is(u"NUL") || is(u"CONIN$") || is(u"CONOUT$")) return true;
  if (base != 4 || !(starts_with(u"COM") || starts_with(u"LPT"))) return false;
  const char16_t digit = upper(3);
  return (digit >= u'1' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' || digit == u'\u00B3';
}

}  // namespace payload_names
