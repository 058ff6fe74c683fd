#include "packer/tree.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <memory>

#include "packer/file_system.h"
#include "packer/names.h"
#include "packer/pack_error.h"

namespace onefile_pack {

namespace {

const char kLinkRefused[] =
    "symbolic links are not packed; pack what they point to with --follow-links, or replace the link by the "
    "file or folder it points to";

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

// "/x" on Linux; also "C:/x" and "//server/x" on Windows.
bool is_absolute(const std::string& path) {
  return !path.empty() && (path[0] == '/' || (path.size() > 2 && path[1] == ':' && path[2] == '/'));
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
  Walker(Tree& tree, bool follow_links, const ExcludeRules* rules)
      : tree_(tree), follow_links_(follow_links), rules_(rules && !rules->empty() ? rules : nullptr) {}

  void walk(const std::string& dir_path, const std::string& relative_dir) {
    // The folders being walked, as real paths: a link to one of them is a loop.
    if (follow_links_) {
      walking_.push_back(real_path(dir_path));
      tree_.folders.emplace_back(walking_.back(), dir_path);
    }
    std::vector<std::string> names = list_folder(dir_path);
    // Sorted here so that errors, too, come in a stable order.
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) visit(join(dir_path, name), join(relative_dir, name));
    if (follow_links_) walking_.pop_back();
  }

 private:
  void visit(const std::string& path, const std::string& relative) {
    FileInfo info = file_info(path, false);
    std::string read_path = path;
    if (info.kind == FileKind::missing) throw PackError(path, error_text(info.error));
    if (rules_) {
      // Decided before any check, so that what is left out cannot be refused.
      const bool is_folder = info.kind == FileKind::folder ||
                             (info.kind == FileKind::link && file_info(path, true).kind == FileKind::folder);
      if (rules_->excluding(relative, is_folder)) {
        leave_out(path, info);
        return;
      }
    }
    if (info.kind == FileKind::link) {
      if (!follow_links_) throw PackError(path, kLinkRefused);
      info = followed_link(path);
      if (info.kind == FileKind::file) read_path = real_path(path);
    }
    if (info.kind == FileKind::folder) {
      // Checked here as well, so a bad folder name is reported as such.
      const std::string problem = component_problem(relative.substr(relative.find_last_of('/') + 1));
      if (!problem.empty()) throw PackError(path, problem);
      walk(path, relative);
      return;
    }
    if (info.kind != FileKind::file)
      throw PackError(path, "not a regular file, folder or link (a device, pipe or socket cannot be packed)");
    TreeFile file;
    file.path = read_path;
    file.relative = relative;
    file.name = payload_name(relative, path);
    file.size = info.size;
    // Fail now rather than after compressing everything before this file.
    InputFile{read_path};
    tree_.total_size += file.size;
    tree_.files.push_back(std::move(file));
  }

  // What the link at `path` leads to: a regular file or a folder that does
  // not hold the link; anything else is refused.
  FileInfo followed_link(const std::string& path) const {
    const FileInfo info = file_info(path, true);
    if (info.kind == FileKind::missing) {
      if (info.error == ELOOP) throw PackError(path, "link is part of a loop of links (--follow-links)");
      throw PackError(path, "link leads nowhere: " + error_text(info.error) + " (--follow-links)");
    }
    if (info.kind == FileKind::folder &&
        std::find(walking_.begin(), walking_.end(), real_path(path)) != walking_.end())
      throw PackError(path, "link leads to a folder it lies in, a loop (--follow-links)");
    if (info.kind != FileKind::file && info.kind != FileKind::folder)
      throw PackError(path, "link leads to something other than a regular file or folder (--follow-links)");
    return info;
  }

  // Counts what is left out at `path`; nothing there is refused, and what
  // cannot be read counts as far as it can.
  void leave_out(const std::string& path, FileInfo info) {
    if (info.kind == FileKind::link && follow_links_) info = file_info(path, true);
    if (info.kind == FileKind::folder) {
      // Links followed may lead in circles: a folder being walked or
      // counted is not counted again.
      std::string real;
      std::vector<std::string> names;
      try {
        if (follow_links_) real = real_path(path);
        names = list_folder(path);
      } catch (const PackError&) {
        return;
      }
      if (follow_links_) {
        if (std::find(walking_.begin(), walking_.end(), real) != walking_.end()) return;
        walking_.push_back(real);
      }
      for (const std::string& name : names) {
        const std::string below = join(path, name);
        leave_out(below, file_info(below, false));
      }
      if (follow_links_) walking_.pop_back();
      return;
    }
    if (info.kind == FileKind::missing) return;
    ++tree_.left_out_files;
    if (info.kind == FileKind::file) tree_.left_out_size += info.size;
  }

  Tree& tree_;
  bool follow_links_;
  const ExcludeRules* rules_;
  std::vector<std::string> walking_;
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
  if (root.empty()) throw PackError("--root", "empty folder name");
  const FileInfo info = file_info(root, true);
  if (info.kind == FileKind::missing) {
    if (info.error == ENOENT || info.error == 2 || info.error == 3) throw PackError(root, "root folder not found");
    throw PackError(root, "root folder cannot be read: " + error_text(info.error));
  }
  if (info.kind != FileKind::folder) throw PackError(root, "root is not a folder");
}

MainFile resolve_main(const std::string& root, const std::string& main, bool follow_links) {
  if (main.empty()) throw PackError("--main", "empty file name");
  // A name relative to the root, or a path to the file (from the current
  // folder) that leads into the root.
  std::string path = is_absolute(main) ? main : join(root, main);
  FileInfo info = file_info(path, follow_links);
  if (!is_absolute(main) && info.kind == FileKind::missing && file_info(main, false).kind != FileKind::missing) {
    path = main;
    info = file_info(path, follow_links);
  }
  if (info.kind == FileKind::missing) {
    if (info.error == ENOENT || info.error == ENOTDIR || info.error == 2 || info.error == 3)
      throw PackError(path, "main file not found");
    throw PackError(path, "main file cannot be read: " + error_text(info.error));
  }
  if (info.kind == FileKind::link) throw PackError(path, std::string("main file is a link; ") + kLinkRefused);
  if (info.kind != FileKind::file) throw PackError(path, "main file is not a regular file");
  const std::string real_root = real_path(root);
  const std::string real_dir = real_path(parent_of(path));
  if (!lies_within(real_dir, real_root)) throw PackError(path, "main file lies outside the root folder " + root);
  const std::string name = path.substr(path.find_last_of('/') + 1);
  const std::string below = real_dir.size() > real_root.size() ? real_dir.substr(real_root.size() + (real_root != "/")) : "";
  return {path, join(below, name)};
}

void check_library_place(const MainFile& main) {
  if (main.relative.find('/') != std::string::npos)
    throw PackError(main.path, "main library lies in a subfolder; it must lie directly in the root folder, "
                               "where the launcher loads it and finds the libraries beside it");
  if (!ends_with_dll(main.relative))
    throw PackError(main.path, "main is neither a Windows program nor a library with a name ending in .dll");
}

Tree collect_tree(const std::string& root, const std::string& main_name, bool follow_links,
                  const ExcludeRules* rules) {
  if (rules)
    if (const ExcludeRules::Pattern* pattern = rules->excluding_path(main_name))
      throw PackError(ExcludeRules::describe(*pattern),
                      "leaves out the main file " + main_name + ", which the launcher starts");
  Tree tree;
  tree.root = root;
  Walker(tree, follow_links, rules).walk(root, "");
  std::sort(tree.files.begin(), tree.files.end(),
            [](const TreeFile& a, const TreeFile& b) { return a.relative < b.relative; });
  const auto main = std::find_if(tree.files.begin(), tree.files.end(),
                                 [&](const TreeFile& file) { return file.relative == main_name; });
  if (main == tree.files.end()) throw PackError(join(root, main_name), "main file not found in the tree");
  std::rotate(tree.files.begin(), main, main + 1);
  check_case_conflicts(tree);
  check_short_aliases(tree);
  return tree;
}

void check_output_outside_root(const std::string& root, const std::string& output) {
  const std::string parent = parent_of(output);
  if (file_info(parent, true).kind != FileKind::folder)
    throw PackError(output, "cannot be written: its folder does not exist");
  if (lies_within(real_path(parent), real_path(root)))
    throw PackError(output, "output lies inside the packed root folder " + root + "; it would pack itself");
}

void check_output_outside_tree(const Tree& tree, const std::string& output) {
  if (tree.folders.empty()) return;
  const std::string folder = real_path(parent_of(output));
  for (const auto& [real, path] : tree.folders)
    if (real == folder)
      throw PackError(output, "output lies in " + path + ", a folder packed through a link (--follow-links); it "
                              "would pack itself");
  if (file_info(output, true).kind != FileKind::file) return;
  // A followed file link is packed from its target's real path.
  const std::string real_output = real_path(output);
  for (const TreeFile& file : tree.files)
    if (file.path == real_output)
      throw PackError(output, "output is packed as " + file.relative + ", a link to it (--follow-links); it would "
                              "pack itself");
}

}  // namespace onefile_pack
