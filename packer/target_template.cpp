#include "packer/target_template.h"

#include "packer/names.h"
#include "packer/pack_error.h"
#include "paths/placeholders.h"

namespace onefile_pack {

std::string default_target_template(bool cache, const BuildTexts& texts) {
  if (!cache) return "{TEMP}\\onefile_{PID}_{TIME_US}_{RANDOM}";
  return texts.company.empty() ? "{CACHE_DIR}\\Vorlan Onefile\\{PRODUCT}"
                               : "{CACHE_DIR}\\Vorlan Onefile\\{COMPANY}\\{PRODUCT}";
}

void check_placeholders(const std::string& text, const std::string& option,
                        const std::function<void(path_placeholders::Placeholder, const std::string& name)>& visit) {
  const auto refuse = [&](const std::string& reason) { return PackError(option, reason); };
  std::u16string units;
  if (!utf8_to_utf16(text, units)) throw refuse("the template is not valid UTF-8");
  if (units.size() > kMaxTemplateUnits)
    throw refuse("the template is longer than " + std::to_string(kMaxTemplateUnits) + " UTF-16 units");
  for (const char16_t c : units)
    if (c < 0x20 || c == 0x7f) throw refuse("the template has a control character");
  // Braces are ASCII, so the UTF-8 text can be scanned byte by byte.
  size_t open = std::string::npos;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '{') {
      if (open != std::string::npos) throw refuse("a '{' inside a placeholder: '" + text + "'");
      open = i;
    } else if (text[i] == '}') {
      if (open == std::string::npos) throw refuse("a '}' without its '{': '" + text + "'");
      const std::string name = text.substr(open + 1, i - open - 1);
      const auto placeholder = path_placeholders::find(name.data(), name.size());
      if (placeholder == path_placeholders::kUnknown) throw refuse("unknown placeholder {" + name + "}");
      visit(placeholder, name);
      open = std::string::npos;
    }
  }
  if (open != std::string::npos) throw refuse("the placeholder opened by '{' is never closed: '" + text + "'");
}

void check_target_template(const std::string& text, bool cache, const BuildTexts& texts) {
  if (text.empty()) throw PackError("--target", "the template is empty");
  check_placeholders(text, "--target", [&](path_placeholders::Placeholder placeholder, const std::string& name) {
    if (placeholder == path_placeholders::kAppDir)
      throw PackError("--target", "{APP_DIR} is the folder this template names; it is for --arg only");
    if (cache && path_placeholders::varies_per_run(placeholder))
      throw PackError("--target",
                      "{" + name + "} changes on every run, so a cache would never be found again (--cache)");
    const bool company = placeholder == path_placeholders::kCompany;
    const std::string* value = company ? &texts.company : placeholder == path_placeholders::kProduct ? &texts.product : nullptr;
    if (value && !value->empty()) {
      const std::string problem = component_problem(*value);
      if (!problem.empty())
        throw PackError(company ? "--company" : "--product", "the text goes into a folder name, but the " + problem);
    }
  });
}

}  // namespace onefile_pack
