// Files the packer writes: nothing appears under the final name until the
// whole file is complete, and nothing of a failed or interrupted run stays
// behind. Temporary paths are also removed when the packer is interrupted
// (SIGINT, SIGTERM, SIGHUP; on Windows Ctrl+C and closing the console).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "packer/file_system.h"

namespace onefile_pack {

// Refuses an output path that exists and is not a regular file (a device, a
// pipe, a symbolic link, a folder), or that is one of `inputs` (paths that
// may be empty): replacing such a file would destroy it.
void check_output_path(const std::string& output, const std::vector<std::string>& inputs);

// A file created under a temporary name beside `final_path` (same folder, so
// the rename is atomic) and renamed into place by commit(). Destroyed
// without commit(), it removes the temporary file.
class OutputFile {
 public:
  // Throws PackError naming `final_path` when its folder cannot take the
  // file or the path is a folder. `mode` is applied (minus the umask) on commit.
  OutputFile(const std::string& final_path, unsigned mode);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const std::string& temp_path() const { return temp_path_; }
  const std::string& final_path() const { return final_path_; }

  // Writes at the end of the file, counting the bytes written.
  void write(const void* data, size_t size);
  uint64_t bytes_written() const { return written_; }
  // Overwrites bytes already written, at `offset` from the start.
  void write_at(uint64_t offset, const void* data, size_t size);

  void commit();

 private:
  std::string final_path_;
  std::string temp_path_;
  NewFile file_;
  unsigned mode_;
  uint64_t written_ = 0;
  bool committed_ = false;
};

// A fresh private folder in the temporary folder, removed with all it holds
// when destroyed; on an interruption, the files registered through file() go.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // A path inside the folder, registered for removal.
  std::string file(const std::string& name);

 private:
  std::string path_;
};

}  // namespace onefile_pack
