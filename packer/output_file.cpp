#include "packer/output_file.h"

#include <atomic>
#include <cstring>

#include "packer/pack_error.h"

namespace onefile_pack {

namespace {

// Paths to remove if the packer is interrupted, kept in fixed storage so
// that the handler only reads memory and calls the removal functions (on
// POSIX, unlink and rmdir, both safe in a signal handler). Files go first,
// then folders.
constexpr int kMaxCleanupPaths = 16;
struct CleanupSlot {
  char path[4096];
  bool is_dir;
  std::atomic<bool> used;
};
CleanupSlot g_cleanup[kMaxCleanupPaths];

void clean_up() {
  for (const bool dirs : {false, true})
    for (CleanupSlot& slot : g_cleanup)
      if (slot.used.load() && slot.is_dir == dirs) dirs ? remove_folder(slot.path) : remove_file(slot.path);
}

int register_cleanup(const std::string& path, bool is_dir) {
  static bool installed = false;
  if (!installed) on_interrupt(clean_up);
  installed = true;
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

}  // namespace

void check_output_path(const std::string& output, const std::vector<std::string>& inputs) {
  if (output.empty()) throw PackError("--output", "empty file name");
  const FileInfo target = file_info(output, false);
  if (target.kind == FileKind::missing) return;
  if (target.kind == FileKind::folder) throw PackError(output, "cannot be written: it is a folder");
  if (target.kind != FileKind::file)
    throw PackError(output, "exists and is not a regular file (a link, a device or a pipe); it is not replaced");
  for (const std::string& input : inputs)
    if (!input.empty() && same_file(input, output))
      throw PackError(output, "is also an input (" + input + "); it is not replaced");
}

OutputFile::OutputFile(const std::string& final_path, unsigned mode) : final_path_(final_path), mode_(mode) {
  if (final_path.empty()) throw PackError("--output", "empty file name");
  if (file_info(final_path, true).kind == FileKind::folder) throw PackError(final_path, "cannot be written: it is a folder");
  int error = 0;
  if (!file_.create_beside(final_path, temp_path_, error))
    throw PackError(final_path, "cannot be written: " + error_text(error));
  register_cleanup(temp_path_, false);
}

OutputFile::~OutputFile() {
  int ignored;
  file_.close(ignored);
  if (!committed_) {
    remove_file(temp_path_.c_str());
    unregister_cleanup(find_slot(temp_path_));
  }
}

void OutputFile::write(const void* data, size_t size) {
  int error = 0;
  if (!file_.write(data, size, error)) throw PackError(final_path_, "cannot be written: " + error_text(error));
  written_ += size;
}

void OutputFile::write_at(uint64_t offset, const void* data, size_t size) {
  int error = 0;
  if (!file_.write_at(offset, data, size, error)) throw PackError(final_path_, "cannot be written: " + error_text(error));
}

void OutputFile::commit() {
  int error = 0;
  if (!file_.close(error) || !replace_file(temp_path_, final_path_, mode_, error))
    throw PackError(final_path_, "cannot be written: " + error_text(error));
  committed_ = true;
  unregister_cleanup(find_slot(temp_path_));
}

TempDir::TempDir() : path_(make_temp_folder()) { register_cleanup(path_, true); }

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
      remove_file(path.c_str());
      unregister_cleanup(i);
    }
  }
  remove_tree(path_);
  unregister_cleanup(find_slot(path_));
}

}  // namespace onefile_pack
