// A Windows program as the app's main (instead of a DLL exporting run_code):
// telling the two apart from the image, what the output takes from the
// program (its kind, icon and version texts), and the fixed arguments given
// with --arg.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "packer/resources/resources.h"

namespace onefile_pack {

// What the packer takes from a program main. Empty texts and an empty icon
// group mean the program has none.
struct ProgramMain {
  uint16_t machine = 0;
  bool console = false;  // the console subsystem; else windowed
  onefile_resources::IconGroup icon;  // its first icon group, every image of it
  std::string company;   // CompanyName of its version resource
  std::string product;   // ProductName
  std::string version;   // the fixed file version, "a.b.c.d"
};

// Reads the file at `path`, read once: a program is a PE image without the
// DLL flag, whatever its name; a DLL or a file that is no PE image at all
// gives nothing, and is left to the main library's rules. With `check`,
// refuses (PackError naming the file) a program for another machine than x64
// or x86, and one for another subsystem than the windowed or the console one.
// Icon and version resources that cannot be read, or texts a version
// resource cannot carry, are left out.
std::optional<ProgramMain> read_program_main(const std::string& path, bool check);

// The icon group `group_data` (an RT_GROUP_ICON resource) with its images,
// taken from `resources`; images it names that are missing are left out.
onefile_resources::IconGroup copy_icon_group(const std::string& group_data,
                                             const std::vector<std::pair<uint16_t, std::string>>& icons);

// Refuses (PackError naming --arg) a fixed argument the launcher could not
// expand: invalid UTF-8, control characters, an unclosed brace or an unknown
// placeholder. They take the placeholders of --target and {APP_DIR}.
void check_fixed_argument(const std::string& argument);

}  // namespace onefile_pack
