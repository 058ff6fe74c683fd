#include "packer/full_path_placeholders.h"

#include "contract/placeholders.h"
#include "packer/pack_error.h"

namespace onefile_pack {

void check_full_path_placeholders(const std::string& text) {
  // Braces are ASCII and the template's braces are balanced.
  for (size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open + 1)) {
    const size_t close = text.find('}', open);
    if (open == 0 || close == std::string::npos) continue;
    const std::string name = text.substr(open + 1, close - open - 1);
    if (path_placeholders::gives_full_path(path_placeholders::find(name.data(), name.size())))
      throw PackError("--target", "{" + name + "} is a full path and may only start the template: '" + text + "'");
  }
}

}  // namespace onefile_pack
