// UTF-8 and UTF-16: the one converter of the packer, its resources and its
// PE reader.
#pragma once

#include <string>
#include <string_view>

namespace onefile_pack {

// Strict UTF-8 to UTF-16: no overlong forms, no surrogate code points, nothing
// above U+10FFFF, no truncated sequences. False when `text` is malformed
// (`out` then holds an unspecified prefix).
bool utf8_to_utf16(std::string_view text, std::u16string& out);

// True when `text` is well-formed UTF-8 in the sense of utf8_to_utf16.
bool is_valid_utf8(std::string_view text);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string utf16_to_utf8(std::u16string_view text);

}  // namespace onefile_pack
