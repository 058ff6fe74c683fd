// The version resource's texts: checking them and their numeric form.
#include <cstdio>
#include <stdexcept>

#include "packer/pack_error.h"
#include "packer/resources/resources.h"
#include "packer/utf.h"

namespace onefile_resources {
namespace {

bool is_control(uint32_t c) { return c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0x2028 || c == 0x2029; }

}  // namespace

void check_version_text(const std::string& option, const std::string& text, const char* holder) {
  std::u16string units;
  if (!onefile_pack::utf8_to_utf16(text, units)) throw onefile_pack::PackError(option, "the text is not valid UTF-8");
  for (size_t i = 0; i < units.size(); ++i) {
    const uint32_t c = units[i];
    if (is_control(c)) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
      throw onefile_pack::PackError(
          option, std::string("the text has a control character (") + code + "), which " + holder + " cannot hold");
    }
  }
  if (units.size() > kMaxVersionTextLength) {
    throw onefile_pack::PackError(option, "the text is longer than " + std::to_string(kMaxVersionTextLength) +
                             " UTF-16 units (a character beyond U+FFFF counts as two), which " + holder +
                             " cannot hold");
  }
}

NumericVersion parse_numeric_version(const std::string& text) {
  NumericVersion version;
  size_t part = 0;
  uint32_t value = 0;
  size_t digits = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      value = value * 10 + (text[i] - '0');
      if (++digits > 5 || value > 0xffff) return {};
      continue;
    }
    if ((i < text.size() && text[i] != '.') || digits == 0 || part == 4) return {};
    version.part[part++] = static_cast<uint16_t>(value);
    value = 0;
    digits = 0;
  }
  return version;
}

}  // namespace onefile_resources
