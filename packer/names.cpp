#include "packer/names.h"

#include <cstdint>

#include "packer/pack_error.h"
#include "payload/format.h"

namespace onefile_pack {

namespace {

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
