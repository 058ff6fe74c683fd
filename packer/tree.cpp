#include "packer/tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <memory>

#include "packer/names.h"
#include "packer/pack_error.h"

namespace onefile_pack {

namespace {

const char kLinkRefused[] =
    "symbolic links are not packed; replace the link by the file or folder it points to";

std::string join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string parent_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string real_path(const std::string& path) {
  std::unique_ptr<char, decltype(&free)> resolved(realpath(path.c_str(), nullptr), &free);
  if (!resolved) throw PackError(path, errno_text(errno));
  return resolved.get();
}

bool lies_within(const std::string& path, const std::string& dir) {
  if (dir == "/") return true;
  return path == dir || (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 && path[dir.size()] == '/');
}

bool ends_with_dll(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return tail == ".dll";
}

class Walker {
 public:
  explicit Walker(Tree& tree) : tree_(tree) {}

  void walk(const std::string& dir_path, const std::string& relative_dir) {
    struct Closer {
      void operator()(DIR* dir) const { closedir(dir); }
    };
    std::unique_ptr<DIR, Closer> dir(opendir(dir_path.c_str()));
    if (!dir) throw PackError(dir_path, "folder cannot be read: " + errno_text(errno));
    std::vector<std::string> names;
    for (;;) {
      errno = 0;
      const dirent* entry = readdir(dir.get());
      if (!entry) {
        if (errno != 0) throw PackError(dir_path, "folder cannot be read: " + errno_text(errno));
        break;
      }
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    dir.reset();
    // Sorted here so that errors, too, come in a stable order.
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) visit(join(dir_path, name), join(relative_dir, name));
  }

 private:
  void visit(const std::string& path, const std::string& relative) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) throw PackError(path, errno_text(errno));
    if (S_ISLNK(info.st_mode)) throw PackError(path, kLinkRefused);
    if (S_ISDIR(info.st_mode)) {
      // Checked here as well, so a bad folder name is reported as such.
      const std::string problem = component_problem(relative.substr(relative.find_last_of('/') + 1));
      if (!problem.empty()) throw PackError(path, problem);
      walk(path, relative);
      return;
    }
    if (!S_ISREG(info.st_mode))
      throw PackError(path, "not a regular file, folder or link (a device, pipe or socket cannot be packed)");
    TreeFile file;
    file.path = path;
    file.relative = relative;
    file.name = payload_name(relative, path);
    file.size = static_cast<uint64_t>(info.st_size);
    // Fail now rather than after compressing everything before this file.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) throw PackError(path, "file cannot be read: " + errno_text(errno));
    close(fd);
    tree_.total_size += file.size;
    tree_.files.push_back(std::move(file));
  }

  Tree& tree_;
};

// Two names that differ only in case would land on one file on Windows, and
// a file whose name is also a folder of another name cannot be created.
void check_case_conflicts(const Tree& tree) {
  std::map<std::u16string, const TreeFile*> files;
  std::map<std::u16string, const TreeFile*> folders;  // folded folder name -> a file below it
  for (const TreeFile& file : tree.files) {
    const std::u16string folded = fold_case(file.name);
    const auto [it, inserted] = files.emplace(folded, &file);
    if (!inserted)
      throw PackError(file.path, "name differs only in case from '" + it->second->relative +
                                     "'; Windows would keep only one of them");
    for (size_t slash = folded.find(u'\\'); slash != std::u16string::npos; slash = folded.find(u'\\', slash + 1))
      folders.emplace(folded.substr(0, slash), &file);
  }
  for (const TreeFile& file : tree.files) {
    const auto it = folders.find(fold_case(file.name));
    if (it != folders.end())
      throw PackError(file.path, "file has the name of a folder on Windows (which ignores case), the folder of '" +
                                     it->second->relative + "'");
  }
}

// A name of the short-alias form beside a longer name it could stand for
// would, once unpacked, open that sibling through its alias and overwrite it.
void check_short_aliases(const Tree& tree) {
  std::map<std::u16string, std::map<std::u16string, const TreeFile*>> children;  // folder -> component -> a file
  for (const TreeFile& file : tree.files) {
    for (size_t start = 0;;) {
      const size_t slash = file.name.find(u'\\', start);
      const std::u16string folder = start == 0 ? u"" : file.name.substr(0, start - 1);
      children[folder].emplace(file.name.substr(start, slash == std::u16string::npos ? slash : slash - start), &file);
      if (slash == std::u16string::npos) break;
      start = slash + 1;
    }
  }
  for (const auto& [folder, names] : children)
    for (const auto& [alias, alias_file] : names) {
      if (!has_short_alias_form(alias)) continue;
      for (const auto& [name, file] : names)
        if (may_be_short_alias_of(alias, name))
          throw PackError(alias_file->path, "name has the form of a short (8.3) alias and could stand for '" +
                                                file->relative + "' beside it; Windows would open that file");
    }
}

}  // namespace

void check_root(const std::string& root) {
  struct stat info;
  if (root.empty()) throw PackError("--root", "empty folder name");
  if (stat(root.c_str(), &info) != 0) {
    if (errno == ENOENT) throw PackError(root, "root folder not found");
    throw PackError(root, "root folder cannot be read: " + errno_text(errno));
  }
  if (!S_ISDIR(info.st_mode)) throw PackError(root, "root is not a folder");
}

std::string resolve_main_name(const std::string& root, const std::string& main) {
  if (main.empty()) throw PackError("--main", "empty file name");
  const std::string path = main[0] == '/' ? main : join(root, main);
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) throw PackError(path, "main library not found");
    throw PackError(path, "main library cannot be read: " + errno_text(errno));
  }
  if (S_ISLNK(info.st_mode)) throw PackError(path, std::string("main library is a link; ") + kLinkRefused);
  if (!S_ISREG(info.st_mode)) throw PackError(path, "main library is not a regular file");
  const std::string real_root = real_path(root);
  const std::string real_dir = real_path(parent_of(path));
  if (real_dir != real_root) {
    if (lies_within(real_dir, real_root))
      throw PackError(path, "main library lies in a subfolder; it must lie directly in the root folder, "
                            "where the launcher loads it and finds the libraries beside it");
    throw PackError(path, "main library lies outside the root folder " + root);
  }
  const std::string name = path.substr(path.find_last_of('/') + 1);
  if (!ends_with_dll(name)) throw PackError(path, "main library's name must end in .dll");
  return name;
}

Tree collect_tree(const std::string& root, const std::string& main_name) {
  Tree tree;
  tree.root = root;
  Walker(tree).walk(root, "");
  std::sort(tree.files.begin(), tree.files.end(),
            [](const TreeFile& a, const TreeFile& b) { return a.relative < b.relative; });
  const auto main = std::find_if(tree.files.begin(), tree.files.end(),
                                 [&](const TreeFile& file) { return file.relative == main_name; });
  if (main == tree.files.end()) throw PackError(join(root, main_name), "main library not found in the tree");
  std::rotate(tree.files.begin(), main, main + 1);
  check_case_conflicts(tree);
  check_short_aliases(tree);
  return tree;
}

void check_output_outside_root(const std::string& root, const std::string& output) {
  const std::string parent = parent_of(output);
  struct stat info;
  if (stat(parent.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
    throw PackError(output, "cannot be written: its folder does not exist");
  if (lies_within(real_path(parent), real_path(root)))
    throw PackError(output, "output lies inside the packed root folder " + root + "; it would pack itself");
}

}  // namespace onefile_pack
