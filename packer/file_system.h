// The packer's access to files, the same on Linux and on Windows: paths are
// UTF-8 with '/' separators (Windows also takes '\'), errors are the
// system's text. Linux uses the POSIX calls (file_system_posix.cpp); Windows
// the wide-character calls (file_system_windows.cpp), so that any name the
// file system holds arrives as UTF-8. The build compiles the one for its
// system, with file_system.cpp for what both share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace onefile_pack {

enum class FileKind { missing, file, folder, link, other };

struct FileInfo {
  FileKind kind = FileKind::missing;
  uint64_t size = 0;
  int error = 0;  // errno-style code when kind is missing
};

// What `path` is; a symbolic link (on Windows: any reparse point) is
// reported as a link unless `follow_links`.
FileInfo file_info(const std::string& path, bool follow_links);

// The system's text for an error code of file_info or the calls below.
std::string error_text(int error);

// The upper-case form of one UTF-16 unit, as file names on Windows compare
// ignoring case; surrogates and units without a single-unit upper case stay.
char16_t upper_case_unit(char16_t unit);

// True when both paths name the same existing file.
bool same_file(const std::string& a, const std::string& b);

// The names in a folder, without "." and ".."; throws PackError naming it.
std::vector<std::string> list_folder(const std::string& path);

// The absolute path with links resolved and '/' separators; throws
// PackError naming `path`.
std::string real_path(const std::string& path);

// A file opened for reading without following a final link.
class InputFile {
 public:
  // Throws PackError "<path>: <what> cannot be read: <reason>".
  InputFile(const std::string& path, const char* what = "file");
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  uint64_t size() const;
  bool is_regular() const;
  // Up to `size` bytes; 0 at the end. Throws PackError on a read error.
  size_t read(void* data, size_t size);
  // Moves the read position to `offset` from the start; throws PackError.
  void seek(uint64_t offset);

 private:
  std::string path_;
  intptr_t handle_;
};

// A file created new for writing (never replacing one), written in order
// and patched in place.
class NewFile {
 public:
  NewFile() = default;
  ~NewFile();
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  // Creates "<folder of final_path>/.<name>.tmp-XXXXXX"; false with
  // `error` set when it cannot.
  bool create_beside(const std::string& final_path, std::string& path, int& error);
  // Creates `path` itself, failing when anything exists there (a link too).
  bool create(const std::string& path, int& error);
  bool write(const void* data, size_t size, int& error);
  bool write_at(uint64_t offset, const void* data, size_t size, int& error);
  bool close(int& error);

 private:
  intptr_t handle_ = -1;
};

// Renames `from` over `to`, replacing a file there; applies `mode` (minus
// the umask) first where files have modes.
bool replace_file(const std::string& from, const std::string& to, unsigned mode, int& error);
// Removal for clean-up: safe to call from an interrupt handler.
void remove_file(const char* path);
void remove_folder(const char* path);
void remove_tree(const std::string& path);

// Creates the folder `path` (not the ones above it); false with `error` set
// when it cannot, also when something exists there.
bool make_folder(const std::string& path, int& error);

// A fresh private folder in the temporary folder, "onefile-pack-XXXXXX";
// throws PackError.
std::string make_temp_folder();

// Calls `handler` when the packer is interrupted (SIGINT, SIGTERM, SIGHUP;
// on Windows Ctrl+C, Ctrl+Break, closing the console), then ends as the
// interruption would.
void on_interrupt(void (*handler)());

// For work that stops at a safe point and cleans up itself: from now on an
// interruption (as for on_interrupt) only sets the flag that interrupted()
// reports; end_interrupted() then ends the process as the interruption would.
void defer_interrupts();
bool interrupted();
[[noreturn]] void end_interrupted();

bool stderr_is_terminal();

// The command line as UTF-8 (on Windows taken from the wide command line).
std::vector<std::string> utf8_arguments(int argc, char** argv);

}  // namespace onefile_pack
