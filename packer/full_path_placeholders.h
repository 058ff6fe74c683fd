// Placeholders that give a whole path ({TEMP}, {HOME}, {CACHE_DIR},
// {PROGRAM}, {PROGRAM_BASE}, {PROGRAM_DIR}) may only start a template:
// anywhere else they would put a drive letter inside a path.
#pragma once

#include <string>

namespace onefile_pack {

// Throws PackError naming --target when such a placeholder stands anywhere
// but at the very start of `text`, a template that check_target_template
// accepts.
void check_full_path_placeholders(const std::string& text);

}  // namespace onefile_pack
