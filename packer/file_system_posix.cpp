// The packer's file access on Linux and other POSIX systems: names pass as
// the bytes they are; error codes are errno's.
#include "packer/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <memory>

#include "packer/pack_error.h"

namespace onefile_pack {

namespace {

void (*g_interrupt_handler)() = nullptr;
volatile sig_atomic_t g_deferred_signal = 0;

void on_deferred_signal(int signal) { g_deferred_signal = signal; }

void on_signal(int signal) {
  if (g_interrupt_handler) g_interrupt_handler();
  std::signal(signal, SIG_DFL);
  raise(signal);
}

mode_t current_umask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

}  // namespace

FileInfo file_info(const std::string& path, bool follow_links) {
  FileInfo info;
  struct stat s;
  if ((follow_links ? stat(path.c_str(), &s) : lstat(path.c_str(), &s)) != 0) {
    info.error = errno;
    return info;
  }
  info.kind = S_ISLNK(s.st_mode)   ? FileKind::link
              : S_ISDIR(s.st_mode) ? FileKind::folder
              : S_ISREG(s.st_mode) ? FileKind::file
                                   : FileKind::other;
  info.size = static_cast<uint64_t>(s.st_size);
  return info;
}

std::string error_text(int error) { return std::strerror(error); }

char16_t upper_case_unit(char16_t unit) {
  if (unit >= 0xD800 && unit <= 0xDFFF) return unit;
  // The C library's mapping in its built-in UTF-8 locale: the same whatever
  // locale the packer runs in.
  static const locale_t kLocale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (!kLocale) return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 32) : unit;
  const wint_t upper = towupper_l(unit, kLocale);
  return upper <= 0xFFFF ? static_cast<char16_t>(upper) : unit;
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::vector<std::string> list_folder(const std::string& path) {
  struct Closer {
    void operator()(DIR* dir) const { closedir(dir); }
  };
  std::unique_ptr<DIR, Closer> dir(opendir(path.c_str()));
  if (!dir) throw PackError(path, "folder cannot be read: " + error_text(errno));
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (!entry) {
      if (errno != 0) throw PackError(path, "folder cannot be read: " + error_text(errno));
      return names;
    }
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
}

std::string real_path(const std::string& path) {
  std::unique_ptr<char, decltype(&free)> resolved(realpath(path.c_str(), nullptr), &free);
  if (!resolved) throw PackError(path, error_text(errno));
  return resolved.get();
}

InputFile::InputFile(const std::string& path, const char* what) : path_(path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) throw PackError(path, std::string(what) + " cannot be read: " + error_text(errno));
  handle_ = fd;
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

InputFile::~InputFile() { ::close(static_cast<int>(handle_)); }

uint64_t InputFile::size() const {
  struct stat s;
  return fstat(static_cast<int>(handle_), &s) == 0 ? static_cast<uint64_t>(s.st_size) : 0;
}

bool InputFile::is_regular() const {
  struct stat s;
  return fstat(static_cast<int>(handle_), &s) == 0 && S_ISREG(s.st_mode);
}

size_t InputFile::read(void* data, size_t size) {
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(handle_), data, size);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) throw PackError(path_, "file cannot be read: " + error_text(errno));
  }
}

void InputFile::seek(uint64_t offset) {
  if (lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) < 0)
    throw PackError(path_, "file cannot be read: " + error_text(errno));
}

NewFile::~NewFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool NewFile::create_beside(const std::string& final_path, std::string& path, int& error) {
  const size_t slash = final_path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : final_path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? final_path : final_path.substr(slash + 1);
  path = dir + "." + base + ".tmp-XXXXXX";
  const int fd = mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return false;
  }
  handle_ = fd;
  return true;
}

bool NewFile::create(const std::string& path, int& error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = errno;
    return false;
  }
  handle_ = fd;
  return true;
}

bool NewFile::write(const void* data, size_t size, int& error) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(static_cast<int>(handle_), bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return false;
    }
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool NewFile::write_at(uint64_t offset, const void* data, size_t size, int& error) {
  if (pwrite(static_cast<int>(handle_), data, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size))
    return true;
  error = errno;
  return false;
}

bool NewFile::close(int& error) {
  if (handle_ < 0) return true;
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  if (::close(fd) == 0) return true;
  error = errno;
  return false;
}

bool replace_file(const std::string& from, const std::string& to, unsigned mode, int& error) {
  if (chmod(from.c_str(), mode & ~current_umask()) == 0 && rename(from.c_str(), to.c_str()) == 0) return true;
  error = errno;
  return false;
}

void remove_file(const char* path) { unlink(path); }
void remove_folder(const char* path) { rmdir(path); }

bool make_folder(const std::string& path, int& error) {
  if (mkdir(path.c_str(), 0777) == 0) return true;
  error = errno;
  return false;
}

std::string make_temp_folder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/onefile-pack-XXXXXX";
  if (!mkdtemp(pattern.data())) throw PackError(pattern, "cannot create a temporary folder: " + error_text(errno));
  return pattern;
}

void on_interrupt(void (*handler)()) {
  g_interrupt_handler = handler;
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
  }
}

void defer_interrupts() {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_deferred_signal;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
  }
}

bool interrupted() { return g_deferred_signal != 0; }

void end_interrupted() {
  const int signal = g_deferred_signal ? g_deferred_signal : SIGINT;
  std::signal(signal, SIG_DFL);
  raise(signal);
  _exit(128 + signal);
}

bool stderr_is_terminal() { return isatty(STDERR_FILENO) != 0; }

std::vector<std::string> utf8_arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

}  // namespace onefile_pack
