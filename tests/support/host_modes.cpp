#include "tests/support/host_modes.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>

namespace onefile_test {
namespace {

std::map<std::wstring, ModeFn>& modes() {
  static std::map<std::wstring, ModeFn> table;
  return table;
}

std::string read_all(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
  std::fclose(file);
  return text;
}

}  // namespace

bool register_mode(const wchar_t* name, ModeFn fn) {
  modes()[name] = std::move(fn);
  return true;
}

std::string narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

ProcessResult run_mode(const std::wstring& mode, const std::vector<std::wstring>& args) {
  ProcessResult result;
  const auto it = modes().find(mode);
  if (it == modes().end()) {
    ADD_FAILURE() << "unknown test mode " << narrow(mode);
    return result;
  }
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  if (!out || !err) {
    ADD_FAILURE() << "no temporary file for the output";
    return result;
  }
  // Whatever this process buffered would otherwise be written twice.
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t child = fork();
  if (child == 0) {
    dup2(fileno(out), STDOUT_FILENO);
    dup2(fileno(err), STDERR_FILENO);
    const int code = it->second(args);
    std::fflush(stdout);
    std::fflush(stderr);
    // As the mode's binary would end; the test framework's exit-time work
    // is the parent's.
    _exit(code);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) ADD_FAILURE() << "cannot run test mode " << narrow(mode);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = read_all(out);
  result.err = read_all(err);
  if (result.err.find("Sanitizer") != std::string::npos || result.err.find("runtime error") != std::string::npos)
    ADD_FAILURE() << "test mode " << narrow(mode) << ":\n" << result.err;
  return result;
}

}  // namespace onefile_test
