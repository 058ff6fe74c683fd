#include "packer/utf.h"

#include <cstdint>

namespace onefile_pack {

namespace {

// Decodes one code point at `text[i]`, advancing `i`; -1 when malformed.
int32_t decode_one(std::string_view text, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  size_t length;
  int32_t code;
  int32_t min;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, code = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code = lead & 0x07, min = 0x10000;
  } else {
    return -1;
  }
  if (text.size() - i < length) return -1;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return -1;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return -1;
  i += length;
  return code;
}

void append_utf8(std::string& out, uint32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xc0 | code_point >> 6);
    out += static_cast<char>(0x80 | (code_point & 0x3f));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xe0 | code_point >> 12);
    out += static_cast<char>(0x80 | (code_point >> 6 & 0x3f));
    out += static_cast<char>(0x80 | (code_point & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | code_point >> 18);
    out += static_cast<char>(0x80 | (code_point >> 12 & 0x3f));
    out += static_cast<char>(0x80 | (code_point >> 6 & 0x3f));
    out += static_cast<char>(0x80 | (code_point & 0x3f));
  }
}

}  // namespace

bool utf8_to_utf16(std::string_view text, std::u16string& out) {
  out.clear();
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const int32_t code = decode_one(text, i);
    if (code < 0) return false;
    if (code < 0x10000) {
      out.push_back(static_cast<char16_t>(code));
    } else {
      out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    }
  }
  return true;
}

bool is_valid_utf8(std::string_view text) {
  for (size_t i = 0; i < text.size();)
    if (decode_one(text, i) < 0) return false;
  return true;
}

std::string utf16_to_utf8(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t unit = text[i];
    if (unit >= 0xd800 && unit < 0xdc00 && i + 1 < text.size() && text[i + 1] >= 0xdc00 && text[i + 1] < 0xe000) {
      append_utf8(out, 0x10000 + ((unit - 0xd800) << 10) + (text[i + 1] - 0xdc00));
      ++i;
    } else if (unit >= 0xd800 && unit < 0xe000) {
      append_utf8(out, 0xfffd);
    } else {
      append_utf8(out, unit);
    }
  }
  return out;
}

}  // namespace onefile_pack
