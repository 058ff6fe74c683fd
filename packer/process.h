// Running another program (the cross compiler) without a shell.
#pragma once

#include <string>
#include <vector>

namespace onefile_pack {

struct ProgramResult {
  int exit_code = -1;  // the exit status, or 128 + the signal that ended it
  std::string out;     // standard output
  std::string err;     // standard error
};

// Starts `argv[0]` (a path) with the arguments `argv` and the packer's own
// environment, feeds it no input, collects both output streams and waits
// for it. Throws PackError naming the program when it cannot be started.
ProgramResult run_program(const std::vector<std::string>& argv);

// The first executable file called `name` in the folders of $PATH, or an
// empty string.
std::string find_in_path(const std::string& name);

// The packer's own executable file.
std::string own_executable_path();

}  // namespace onefile_pack
