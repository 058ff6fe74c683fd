// What --exclude and --exclude-from leave out of the packed tree: patterns
// in the style of ignore files, matched against a path below the root with
// '/' between folders.
//
//   pattern        leaves out
//   *.md           any file or folder named so, at any depth
//   docs/          any folder named docs (a trailing '/': folders only)
//   /build         build at the top of the root only (a leading '/' anchors)
//   docs/*.md      .md files directly in docs at the top (a '/' inside anchors too)
//   **/test        test at any depth; the same as test
//   logs/**        everything below the top folder logs, not logs itself
//   a/**/b         b in a, or in any folder below a
//   ?  [abc] [a-z] [!0-9]   one character; one of a set; one outside a set
//   !keep.md       takes back what an earlier pattern left out
//   \!x \#x \[x    a leading '!' or '#', or a '[' ... as itself; "\ " keeps a
//                  trailing blank
//
// '*' and '?' never match a '/'; matching is case-sensitive and by
// character, not byte. The last pattern that matches a path decides. A
// folder that is left out is not entered, so nothing below it can be taken
// back with '!' (take back the folder, then leave out what is not wanted in
// it). In a file, blank lines and lines starting with '#' are skipped, as
// are trailing blanks.
#pragma once

#include <string>
#include <vector>

namespace onefile_pack {

class ExcludeRules {
 public:
  // One character of a name pattern: a literal, '?', '*' or a set.
  struct Token {
    enum Kind { literal, any_one, any_run, set } kind = literal;
    char32_t c = 0;
    bool negated = false;                                // a set with '!' or '^'
    std::vector<std::pair<char32_t, char32_t>> ranges;  // a set's ranges, ends included
  };
  // One folder or file name of a pattern; `any_folders` for a "**" of its own.
  struct Component {
    bool any_folders = false;
    std::vector<Token> tokens;
  };
  struct Pattern {
    std::string text;    // as given
    std::string source;  // "--exclude" or "FILE:LINE"
    bool negated = false, folders_only = false, anchored = false;
    std::vector<Component> components;
  };

  // A pattern as given; `source` names it in messages ("--exclude" or
  // "FILE:LINE"). Throws PackError naming the source on a malformed one.
  void add(const std::string& pattern, const std::string& source);
  // Every pattern of a file, one a line. Throws PackError naming the file.
  void add_file(const std::string& path);

  bool empty() const { return patterns_.empty(); }

  // The pattern that decides that `relative` (below the root, '/' between
  // folders) is left out, or null when it is packed. `is_folder` tells a
  // folder (also a link to one) from a file. Only the path itself is
  // matched, not the folders above it: the walk does not enter a folder
  // that is left out.
  const Pattern* excluding(const std::string& relative, bool is_folder) const;

  // As excluding(), but for a path whose folders have not been checked:
  // the first of them (or the path itself) that is left out decides.
  const Pattern* excluding_path(const std::string& relative) const;

  // "--exclude 'docs/'" or "rules.txt:3 'docs/'", for messages.
  static std::string describe(const Pattern& pattern);

 private:
  std::vector<Pattern> patterns_;
};

}  // namespace onefile_pack
