// Running a build tool (windres, the cross linker) and keeping what it says.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace onefile_resources {

struct ProgramResult {
  int exit_code = 0;   // -1 when a signal ended the program
  std::string output;  // standard output and standard error, interleaved
};

// Runs argv[0] (looked up on PATH when it has no slash) with `argv` in
// `directory`, standard input from /dev/null. Throws std::runtime_error when
// the program cannot be started.
ProgramResult run_program(const std::vector<std::string>& argv, const std::filesystem::path& directory);

}  // namespace onefile_resources
