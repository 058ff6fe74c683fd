#include "packer/output_file.h"

#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "packer/pack_error.h"

namespace onefile_pack {

namespace {

// Paths to remove if a signal ends the packer, kept in fixed storage so that
// the handler only reads memory and calls unlink and rmdir (both safe in a
// signal handler). Files go first, then folders.
constexpr int kMaxCleanupPaths = 16;
struct CleanupSlot {
  char path[4096];
  bool is_dir;
  std::atomic<bool> used;
};
CleanupSlot g_cleanup[kMaxCleanupPaths];

void on_signal(int signal) {
  for (const bool dirs : {false, true})
    for (CleanupSlot& slot : g_cleanup)
      if (slot.used.load() && slot.is_dir == dirs) dirs ? rmdir(slot.path) : unlink(slot.path);
  std::signal(signal, SIG_DFL);
  raise(signal);
}

void install_handlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
  }
}

int register_cleanup(const std::string& path, bool is_dir) {
  install_handlers();
  if (path.size() >= sizeof g_cleanup[0].path) return -1;
  for (int i = 0; i < kMaxCleanupPaths; ++i) {
    if (g_cleanup[i].used.load()) continue;
    std::memcpy(g_cleanup[i].path, path.c_str(), path.size() + 1);
    g_cleanup[i].is_dir = is_dir;
    g_cleanup[i].used.store(true);
    return i;
  }
  return -1;
}

void unregister_cleanup(int slot) {
  if (slot >= 0) g_cleanup[slot].used.store(false);
}

int find_slot(const std::string& path) {
  for (int i = 0; i < kMaxCleanupPaths; ++i)
    if (g_cleanup[i].used.load() && path == g_cleanup[i].path) return i;
  return -1;
}

mode_t current_umask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

}  // namespace

void check_output_path(const std::string& output, const std::vector<std::string>& inputs) {
  struct stat target;
  if (output.empty()) throw PackError("--output", "empty file name");
  if (lstat(output.c_str(), &target) != 0) return;
  if (S_ISDIR(target.st_mode)) throw PackError(output, "cannot be written: it is a folder");
  if (!S_ISREG(target.st_mode))
    throw PackError(output, "exists and is not a regular file (a link, a device or a pipe); it is not replaced");
  for (const std::string& input : inputs) {
    struct stat info;
    if (!input.empty() && stat(input.c_str(), &info) == 0 && info.st_dev == target.st_dev &&
        info.st_ino == target.st_ino)
      throw PackError(output, "is also an input (" + input + "); it is not replaced");
  }
}

void write_all(int fd, const void* data, size_t size, const std::string& path) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw PackError(path, "cannot be written: " + errno_text(errno));
    }
    bytes += n;
    size -= static_cast<size_t>(n);
  }
}

OutputFile::OutputFile(const std::string& final_path, mode_t mode) : final_path_(final_path), mode_(mode) {
  if (final_path.empty()) throw PackError("--output", "empty file name");
  struct stat info;
  if (stat(final_path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
    throw PackError(final_path, "cannot be written: it is a folder");
  const size_t slash = final_path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : final_path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? final_path : final_path.substr(slash + 1);
  std::string pattern = dir + "." + base + ".tmp-XXXXXX";
  fd_ = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) throw PackError(final_path, "cannot be written: " + errno_text(errno));
  temp_path_ = pattern;
  register_cleanup(temp_path_, false);
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) close(fd_);
  if (!committed_) {
    unlink(temp_path_.c_str());
    unregister_cleanup(find_slot(temp_path_));
  }
}

void OutputFile::write(const void* data, size_t size) {
  write_all(fd_, data, size, final_path_);
  written_ += size;
}

void OutputFile::write_at(uint64_t offset, const void* data, size_t size) {
  if (pwrite(fd_, data, size, static_cast<off_t>(offset)) != static_cast<ssize_t>(size))
    throw PackError(final_path_, "cannot be written: " + errno_text(errno));
}

void OutputFile::close_fd() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) throw PackError(final_path_, "cannot be written: " + errno_text(errno));
}

void OutputFile::commit() {
  close_fd();
  if (chmod(temp_path_.c_str(), mode_ & ~current_umask()) != 0 ||
      rename(temp_path_.c_str(), final_path_.c_str()) != 0)
    throw PackError(final_path_, "cannot be written: " + errno_text(errno));
  committed_ = true;
  unregister_cleanup(find_slot(temp_path_));
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/onefile-pack-XXXXXX";
  if (!mkdtemp(pattern.data())) throw PackError(pattern, "cannot create a temporary folder: " + errno_text(errno));
  path_ = pattern;
  register_cleanup(path_, true);
}

std::string TempDir::file(const std::string& name) {
  std::string path = path_ + "/" + name;
  register_cleanup(path, false);
  return path;
}

TempDir::~TempDir() {
  for (int i = kMaxCleanupPaths; i-- > 0;) {
    if (!g_cleanup[i].used.load()) continue;
    const std::string path = g_cleanup[i].path;
    if (path.size() > path_.size() && path.compare(0, path_.size() + 1, path_ + "/") == 0) {
      unlink(path.c_str());
      unregister_cleanup(i);
    }
  }
  // Work folders of other steps (the resource compiler's) go as well.
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
  unregister_cleanup(find_slot(path_));
}

}  // namespace onefile_pack
