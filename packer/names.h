// Payload names: the relative path of a file below the packed root, with
// backslashes between components, in UTF-16 code units as Windows receives
// them. The packer walks a Unix tree whose names are UTF-8 and refuses any
// name the launcher could not unpack exactly as it is on disk here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "packer/utf.h"

namespace onefile_pack {

// Why one path component (a Unix file or folder name) cannot be part of a
// payload name, or an empty string when it can. Besides the format's own
// rules (no empty component, no "." or "..", no colon, no separator) this
// refuses what Windows would create under another name or not at all:
// control characters, the characters < > " | ? *, a trailing dot or blank,
// and the reserved device names (CON, NUL, COM1, ... also with an extension).
std::string component_problem(std::string_view component);

// The payload name of `relative_path` (components separated by '/'). Throws
// PackError naming `display` when a component breaks the rules or the name
// is longer than the launcher's name buffer allows.
std::u16string payload_name(const std::string& relative_path, const std::string& display);

// The payload name with every UTF-16 unit mapped to upper case, one unit at a
// time as the case table of a Windows file system maps it (surrogates stay as
// they are), for finding names that Windows would take for one.
std::u16string fold_case(const std::u16string& name);

// True when the path component `name` has the form of a short (8.3) alias:
// at most 8 units before its one dot, at most 3 after, a '~' followed by
// digits or letters.
bool has_short_alias_form(std::u16string_view name);

// True when `alias`, of the short-alias form, could be the alias Windows gives
// the longer sibling `long_name`: it starts with the same character and its
// extension begins that of the long name. Unpacked beside it, the alias would
// open the sibling.
bool may_be_short_alias_of(std::u16string_view alias, std::u16string_view long_name);

}  // namespace onefile_pack
