#include "packer/target_template.h"

#include <vector>

#include "contract/placeholders.h"
#include "contract/target_folder_name.h"
#include "packer/full_path_placeholders.h"
#include "packer/names.h"
#include "packer/pack_error.h"

namespace onefile_pack {

namespace {

using namespace path_placeholders;

// Where a template's path starts.
enum class Start {
  relative,   // in the current folder
  absolute,   // a drive, a root or a network share
  user_base,  // {CACHE_DIR} or {HOME}: the user's own folders
  other_base, // {TEMP}, {PROGRAM}, {PROGRAM_DIR}
};

// One folder name of the template below its start: its text with the fixed
// texts put in (other placeholders stand as "#"), the text as written, and
// whether it names a new folder on every run.
struct Component {
  std::string text;
  std::string written;
  bool per_run = false;
};

struct Shape {
  Start start = Start::relative;
  std::vector<Component> components;
};

bool is_separator(char c) { return c == '\\' || c == '/'; }

// The text a fixed placeholder expands to, or null for one known only at run time.
const std::string* fixed_value(Placeholder p, const BuildTexts& texts) {
  switch (p) {
    case kCompany:
      return &texts.company;
    case kProduct:
      return &texts.product;
    case kVersion:
    case kFileVersion:
    case kProductVersion:
      return &texts.version;
    default:
      return nullptr;
  }
}

// The shape of a template whose braces and placeholders are known to be valid.
Shape shape_of(const std::string& text, const BuildTexts& texts) {
  Shape shape;
  size_t at = 0;
  if (text[0] == '{') {
    const size_t close = text.find('}');
    const Placeholder p = find(text.data() + 1, close - 1);
    if (p == kCacheDir || p == kHome) shape.start = Start::user_base;
    else if (p == kTemp || p == kProgram || p == kProgramDir) shape.start = Start::other_base;
    if (shape.start != Start::relative) {
      at = close + 1;
      // "{TEMP}\name": the separator belongs to the start.
      if (at < text.size() && is_separator(text[at])) ++at;
    }
  } else if (text.size() >= 2 && text[1] == ':') {
    shape.start = Start::absolute;
    at = 2;
  } else if (is_separator(text[0])) {
    shape.start = Start::absolute;
  }
  if (shape.start == Start::absolute)
    while (at < text.size() && is_separator(text[at])) ++at;
  if (at == text.size()) return shape;
  shape.components.emplace_back();
  while (at < text.size()) {
    const char c = text[at];
    if (is_separator(c)) {
      shape.components.emplace_back();
      ++at;
    } else if (c == '{') {
      const size_t close = text.find('}', at);
      const Placeholder p = find(text.data() + at + 1, close - at - 1);
      const std::string* value = fixed_value(p, texts);
      shape.components.back().text += value ? *value : "#";
      shape.components.back().written += text.substr(at, close + 1 - at);
      shape.components.back().per_run |= varies_per_run(p);
      at = close + 1;
    } else {
      shape.components.back().text += c;
      shape.components.back().written += c;
      ++at;
    }
  }
  return shape;
}

bool has_empty_component(const Shape& s) {
  for (const Component& c : s.components)
    if (c.text.empty()) return true;
  return false;
}

bool has_dot_component(const Shape& s) {
  for (const Component& c : s.components)
    if (c.text == "." || c.text == "..") return true;
  return false;
}

bool per_run_above_last(const Shape& s) {
  for (size_t i = 0; i + 1 < s.components.size(); ++i)
    if (s.components[i].per_run) return true;
  return false;
}

// The refusals that depend on where the template's folders lie, each with
// its one line. Checked in this order; `cache` and `fresh` say whether the
// rule holds for a cache root and for the fresh folder of each run.
struct Rule {
  bool cache, fresh;
  bool (*refuses)(const Shape&);
  const char* why;
};

constexpr Rule kRules[] = {
    {true, true, has_empty_component,
     "a folder name in it is empty (two separators in a row, one at the end, or an empty {COMPANY}, {PRODUCT} or "
     "{VERSION})"},
    {true, false, has_dot_component, "'.' and '..' have no place in a cache root"},
    {true, false, [](const Shape& s) { return s.start == Start::relative; },
     "a cache root must be a full path, not one relative to the current folder"},
    {true, false, [](const Shape& s) { return s.start == Start::absolute || s.start == Start::other_base; },
     "a cache root must lie in the user's own folders ({CACHE_DIR} or {HOME}); elsewhere another user of the "
     "machine could prepare a folder the app then runs"},
    {true, false, [](const Shape& s) { return s.components.empty(); },
     "a cache root needs a folder of the app's own below {CACHE_DIR} or {HOME}"},
    {false, true, [](const Shape& s) { return s.components.empty() || !s.components.back().per_run; },
     "the last folder name needs {PID}, {RANDOM}, {TIME} or {TIME_US}: a fixed folder left by one killed run "
     "would stop every later start"},
    {false, true, per_run_above_last,
     "{PID}, {RANDOM}, {TIME} and {TIME_US} belong in the last folder name only: a new folder above it would stay "
     "behind after every run"},
};

// Every folder name must be one Windows keeps as written, by the rules of
// the packed files' names: a name that ends in a dot or a blank (such as
// "..."), holds a colon or is a device name would be trimmed, read as a
// stream or refused at run time, and so land elsewhere than the template
// says. "." and ".." are steps up or in place that the path resolves; a
// cache root refuses them by a rule of its own.
void check_folder_names(const std::string& text, const Shape& shape) {
  for (const Component& c : shape.components) {
    if (c.text == "." || c.text == "..") continue;
    const std::string problem = component_problem(c.text);
    if (!problem.empty())
      throw PackError("--target", "'" + text + "': the folder name '" + c.written + "' cannot be used: the " + problem);
  }
}

}  // namespace

std::string default_target_template(bool cache, const BuildTexts& texts) {
  if (!cache) return target_folder_name::kDefaultTemplate;
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
  const auto refuse = [](const std::string& reason) { return PackError("--target", reason); };
  if (text.empty()) throw refuse("the template is empty");
  check_placeholders(text, "--target", [&](Placeholder placeholder, const std::string& name) {
    if (placeholder == kAppDir)
      throw refuse("{APP_DIR} is the folder of the unpacked program, which lies in the one this template names; it "
                   "is for --arg only");
    if (cache && varies_per_run(placeholder))
      throw refuse("{" + name + "} changes on every run, so a cache would never be found again (--cache)");
    const std::string* value = fixed_value(placeholder, texts);
    if (value && !value->empty()) {
      const std::string problem = component_problem(*value);
      const char* option = placeholder == kCompany ? "--company" : placeholder == kProduct ? "--product" : "--version";
      if (!problem.empty()) throw PackError(option, "the text goes into a folder name, but the " + problem);
    }
  });

  const Shape shape = shape_of(text, texts);
  for (const Rule& rule : kRules)
    if ((cache ? rule.cache : rule.fresh) && rule.refuses(shape)) throw refuse("'" + text + "': " + rule.why);
  check_folder_names(text, shape);
  check_full_path_placeholders(text);
}

}  // namespace onefile_pack
