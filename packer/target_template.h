// The target folder's template given with --target: checked when packing, so
// that a launcher never meets a template it cannot expand.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "contract/placeholders.h"
#include "packer/launcher_image.h"

namespace onefile_pack {

inline constexpr size_t kMaxTemplateUnits = 1023;

// The launcher's template when --target is absent: the fresh folder of each
// run, or with --cache the cache root
//   {CACHE_DIR}\Vorlan Onefile\{COMPANY}\{PRODUCT}
// (without the company's level when the company text is empty).
std::string default_target_template(bool cache, const BuildTexts& texts);

// Throws PackError naming --target unless the launcher can expand `text`:
// valid UTF-8 of at most kMaxTemplateUnits UTF-16 units without control characters,
// every brace closed, every placeholder a known one. With `cache`, a
// placeholder that changes from run to run ({PID}, {TIME}, {TIME_US},
// {RANDOM}) is refused as well. When the template uses {COMPANY},
// {PRODUCT} or a version, that text must be usable as a folder name.
//
// Then where the folders lie: no folder name may be empty (two separators,
// one at the end, an empty text). A cache root starts with {CACHE_DIR} or
// {HOME} and has a folder of the app's own below it, without '.' or '..'.
// The fresh folder of each run has {PID}, {RANDOM}, {TIME} or {TIME_US} in
// its last folder name and in no other. A placeholder that gives a full path
// stands only at the start (check_full_path_placeholders). Each refusal is one
// line naming the template.
void check_target_template(const std::string& text, bool cache, const BuildTexts& texts);

// The checks every template shares, for the option named `option`: valid
// UTF-8 of at most 1023 UTF-16 units without control characters, every
// brace closed, every placeholder known; `visit` sees each placeholder and
// may refuse it.
void check_placeholders(const std::string& text, const std::string& option,
                        const std::function<void(path_placeholders::Placeholder, const std::string& name)>& visit);

}  // namespace onefile_pack
