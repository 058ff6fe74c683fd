// The tree to pack: every regular file below the root, found by a walk that
// refuses what the launcher could not reproduce on Windows. Only names and
// sizes are held; contents are read while compressing.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "packer/exclude.h"

namespace onefile_pack {

struct TreeFile {
  std::string path;      // on disk: the root, '/', the relative path
  std::string relative;  // relative to the root, '/' separators, UTF-8
  std::u16string name;   // the payload name
  uint64_t size = 0;     // as the walk saw it (for progress only)
};

struct Tree {
  std::string root;
  // The main file first, then all other files sorted by the bytes of
  // their relative paths, so the same tree always gives the same stream.
  std::vector<TreeFile> files;
  uint64_t total_size = 0;
  // What the exclusion patterns left out: files (a link not followed counts
  // as one) and their bytes, also those below a folder left out.
  size_t left_out_files = 0;
  uint64_t left_out_size = 0;
  // With follow_links: every folder the walk entered, as its real path and
  // the path it was entered by (through a link, it lies outside the root).
  std::vector<std::pair<std::string, std::string>> folders;
};

// Throws PackError unless `root` names an existing folder (links followed).
void check_root(const std::string& root);

// The main file given with --main: a name relative to the root, or any path
// that leads to a regular file below the root (a link only with
// `follow_links`).
struct MainFile {
  std::string path;      // as given, for messages
  std::string relative;  // below the root, '/' separators
};
MainFile resolve_main(const std::string& root, const std::string& main, bool follow_links);

// The rules for a main library: it lies directly in the root (the launcher
// loads it from the top of its target folder, so a library in a subfolder
// would not find the others beside it) and its name ends in ".dll". A
// program main may lie anywhere below the root under any name.
void check_library_place(const MainFile& main);

// Walks `root` and returns its files, `main_name` first. Refuses symbolic
// links (they have no counterpart in the payload, and following them could
// leave the tree), or with `follow_links` packs each as what it points to (a
// file's bytes, a folder's files below the link's name) and refuses loops,
// dangling links and links to anything else; refuses devices, pipes and sockets, unreadable files and folders,
// names that break the payload's rules, and names that only differ in case
// (Windows would keep one file of them). Folders without files are not
// represented. A path that `rules` leave out is skipped before any of these
// checks, and a folder left out is not entered; a main file that they would
// leave out is refused, naming the pattern.
Tree collect_tree(const std::string& root, const std::string& main_name, bool follow_links = false,
                  const ExcludeRules* rules = nullptr);

// Refuses an output path whose folder lies in or below `root`: the packer
// would pack its own output, or a later run would.
void check_output_outside_root(const std::string& root, const std::string& output);

// With --follow-links, the same for the folders and files the walk reached
// through links: refuses an output whose folder, compared by real path, is
// one the tree packs, or that a packed file link points to.
void check_output_outside_tree(const Tree& tree, const std::string& output);

}  // namespace onefile_pack
