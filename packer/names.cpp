#include "packer/names.h"

#include <cstdint>

#include "contract/device_names.h"
#include "contract/format.h"
#include "packer/file_system.h"
#include "packer/pack_error.h"

namespace onefile_pack {

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
  std::u16string units;
  utf8_to_utf16(component, units);
  if (payload_names::is_device_name(units.data(), units.size()))
    return "file name is a reserved device name on Windows";
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
  for (char16_t& c : folded) c = upper_case_unit(c);
  return folded;
}

bool has_short_alias_form(std::u16string_view name) {
  const size_t dot = name.find(u'.');
  const std::u16string_view base = name.substr(0, dot);
  const std::u16string_view extension = dot == std::u16string_view::npos ? u"" : name.substr(dot + 1);
  if (base.size() > 8 || extension.size() > 3 || extension.find(u'.') != std::u16string_view::npos) return false;
  const size_t tilde = base.find(u'~');
  if (tilde == 0 || tilde == std::u16string_view::npos || tilde + 1 == base.size()) return false;
  for (const char16_t c : base.substr(tilde + 1))
    if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'))) return false;
  return true;
}

bool may_be_short_alias_of(std::u16string_view alias, std::u16string_view long_name) {
  if (!has_short_alias_form(alias) || long_name.size() <= alias.size()) return false;
  const size_t dot = alias.find(u'.');
  const std::u16string_view extension = dot == std::u16string_view::npos ? u"" : alias.substr(dot + 1);

  const std::u16string upper_alias = fold_case(std::u16string(alias));
  const std::u16string upper_long = fold_case(std::u16string(long_name));
  if (upper_alias[0] != upper_long[0]) return false;
  const size_t long_dot = upper_long.rfind(u'.');
  const std::u16string_view long_extension =
      long_dot == std::u16string::npos ? u"" : std::u16string_view(upper_long).substr(long_dot + 1);
  return std::u16string_view(upper_alias).substr(dot == std::u16string_view::npos ? alias.size() : dot + 1) ==
         long_extension.substr(0, extension.size());
}

}  // namespace onefile_pack
