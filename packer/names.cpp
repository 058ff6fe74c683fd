#include "packer/names.h"

#include <cstdint>

#include "packer/pack_error.h"
#include "payload/format.h"

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

bool is_reserved_device_name(std::string_view component) {
  // Windows maps these to devices whatever the extension: "nul.txt" is NUL.
  std::string base(component.substr(0, component.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* name : kNames)
    if (base == name) return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
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

std::string component_problem(std::string_view component) {
  if (component.empty()) return "empty path component";
  if (component == "." || component == "..") return "path component '" + std::string(component) + "'";
  if (!is_valid_utf8(component)) return "file name is not valid UTF-8";
  for (const char c : component) {
    const auto u = static_cast<unsigned char>(c);
    if (c == ':') return "file name contains a colon, which Windows reads as a drive or stream";
    if (c == '\\') return "file name contains a backslash, which Windows reads as a folder separator";
    if (c == '/') return "file name contains a slash";
    if (u < 0x20 || u == 0x7F) return "file name contains a control character";
    if (c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
      return std::string("file name contains '") + c + "', which Windows does not allow in file names";
  }
  if (component.back() == '.' || component.back() == ' ')
    return "file name ends in a dot or a blank, which Windows drops";
  if (is_reserved_device_name(component)) return "file name is a reserved device name on Windows";
  return {};
}

std::u16string payload_name(const std::string& relative_path, const std::string& display) {
  std::u16string name;
  std::u16string part;
  size_t start = 0;
  for (;;) {
    const size_t end = relative_path.find('/', start);
    const std::string_view component =
        std::string_view(relative_path).substr(start, end == std::string::npos ? std::string::npos : end - start);
    const std::string problem = component_problem(component);
    if (!problem.empty()) throw PackError(display, problem);
    utf8_to_utf16(component, part);
    if (!name.empty()) name.push_back(u'\\');
    name += part;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (name.size() > payload_format::kMaxNameUnits)
    throw PackError(display, "name is " + std::to_string(name.size()) + " UTF-16 code units long, more than " +
                                 std::to_string(payload_format::kMaxNameUnits));
  return name;
}

std::u16string fold_case(const std::u16string& name) {
  std::u16string folded = name;
  for (char16_t& c : folded)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return folded;
}

}  // namespace onefile_pack
