// The exclusion patterns: each form against paths it must and must not
// match, the last pattern deciding, and the refusals of malformed patterns.
// The packer's own use of them (what the walk leaves out, the summary, a
// followed .bin folder) is in inspect_test.cpp, read back with --list.
#include "packer/exclude.h"

#include <gtest/gtest.h>

#include "packer/pack_error.h"
#include "packer/tests/test_util.h"

using onefile_pack::ExcludeRules;
using onefile_pack::PackError;

namespace {

struct Case {
  std::vector<std::string> patterns;
  std::string path;
  bool is_folder;
  bool left_out;
};

const Case kCases[] = {
    // A name alone matches at any depth, files and folders alike.
    {{"*.md"}, "README.md", false, true},
    {{"*.md"}, "docs/api/x.md", false, true},
    {{"*.md"}, "notes.md", true, true},
    {{"*.md"}, "README.mdx", false, false},
    {{"*.md"}, "a.md/x.txt", false, false},  // only the path's own name: the walk decides folders first
    // A trailing '/' takes folders only.
    {{"docs/"}, "docs", true, true},
    {{"docs/"}, "src/docs", true, true},
    {{"docs/"}, "docs", false, false},
    // A leading '/', or one inside, anchors at the root.
    {{"/build"}, "build", true, true},
    {{"/build"}, "src/build", true, false},
    {{"docs/*.md"}, "docs/a.md", false, true},
    {{"docs/*.md"}, "src/docs/a.md", false, false},
    {{"docs/*.md"}, "docs/api/a.md", false, false},  // '*' never matches a '/'
    // "**" across folders.
    {{"**/test"}, "test", true, true},
    {{"**/test"}, "a/b/test", true, true},
    {{"logs/**"}, "logs/x/y.txt", false, true},
    {{"logs/**"}, "logs", true, false},  // what lies below, not the folder
    {{"a/**/b"}, "a/b", true, true},
    {{"a/**/b"}, "a/x/y/b", false, true},
    {{"a/**/b"}, "x/a/b", false, false},
    {{"**"}, "any/thing", false, true},
    {{"lib**.so"}, "libfoo.so", false, true},  // "**" inside a name is a '*'
    // One character, sets, ranges, negated sets; by character, not byte.
    {{"?.txt"}, "a.txt", false, true},
    {{"?.txt"}, "ab.txt", false, false},
    {{"?.txt"}, "\xC3\xA4.txt", false, true},
    {{"[ab].txt"}, "b.txt", false, true},
    {{"[ab].txt"}, "c.txt", false, false},
    {{"v[0-9]"}, "v7", true, true},
    {{"v[!0-9]"}, "v7", true, false},
    {{"v[^0-9]"}, "vx", true, true},
    {{"[]x]"}, "]", false, true},  // a ']' first in a set is itself
    // Case counts.
    {{"*.MD"}, "a.md", false, false},
    // The last matching pattern decides; '!' takes back.
    {{"*.md", "!README.md"}, "README.md", false, false},
    {{"*.md", "!README.md"}, "docs/README.md", false, false},
    {{"!README.md", "*.md"}, "README.md", false, true},
    {{"logs/**", "!logs/keep.txt"}, "logs/keep.txt", false, false},
    // Escapes: a leading '!' or '#' as itself, a trailing blank kept.
    {{"\\!x"}, "!x", false, true},
    {{"\\#x"}, "#x", false, true},
    {{"x\\ "}, "x ", false, true},
    {{"x  "}, "x", false, true},  // trailing blanks go
    {{"\\[a]"}, "[a]", false, true},
};

}  // namespace

TEST(Exclude, EachPatternFormLeavesOutWhatItShould) {
  for (const Case& c : kCases) {
    std::string trace;
    for (const std::string& pattern : c.patterns) trace += "'" + pattern + "' ";
    SCOPED_TRACE(trace + "on '" + c.path + (c.is_folder ? "/'" : "'"));
    ExcludeRules rules;
    for (const std::string& pattern : c.patterns) rules.add(pattern, "--exclude");
    EXPECT_EQ(rules.excluding(c.path, c.is_folder) != nullptr, c.left_out);
  }
}

TEST(Exclude, PathChecksTheFoldersAboveFirstAndNamesThePattern) {
  ExcludeRules rules;
  rules.add("bin/", "--exclude");
  rules.add("!*.exe", "--exclude");
  const ExcludeRules::Pattern* pattern = rules.excluding_path("bin/app.exe");
  ASSERT_NE(pattern, nullptr);  // the folder is left out, so the file goes with it
  EXPECT_EQ(ExcludeRules::describe(*pattern), "--exclude 'bin/'");
  EXPECT_EQ(rules.excluding_path("app.exe"), nullptr);
}

TEST(Exclude, MalformedPatternsAreRefusedWithTheirSource) {
  const struct {
    const char* pattern;
    const char* reason;
  } cases[] = {
      {"", "an empty pattern"},
      {"!", "an empty pattern"},
      {"/", "an empty pattern"},
      {"a//b", "an empty folder name"},
      {"../x", "'.' and '..'"},
      {"[abc", "a '[' without its ']'"},
      {"[z-a]", "a range that runs backwards"},
      {"docs\\api", "a backslash only escapes"},
      {"x\\", "a backslash only escapes"},
      {"#notes", "starts with '#'"},
      {"bad\xFF", "not valid UTF-8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    ExcludeRules rules;
    try {
      rules.add(c.pattern, "--exclude");
      ADD_FAILURE() << "accepted";
    } catch (const PackError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("--exclude: '", 0), 0u) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
    }
  }
}

TEST(Exclude, FileTakesOneAPatternALineAndNamesTheLine) {
  pack_test::ScratchDir dir;
  // A byte order mark, Windows line ends, a comment, a blank line.
  const std::string path = dir.write("rules.txt", "\xEF\xBB\xBF# docs\r\n*.md\r\n\r\n   \n!keep.md\ntests/\n");
  ExcludeRules rules;
  rules.add_file(path);
  EXPECT_NE(rules.excluding("a.md", false), nullptr);
  EXPECT_EQ(rules.excluding("keep.md", false), nullptr);
  const ExcludeRules::Pattern* tests = rules.excluding("x/tests", true);
  ASSERT_NE(tests, nullptr);
  EXPECT_EQ(ExcludeRules::describe(*tests), path + ":6 'tests/'");

  const std::string bad = dir.write("bad.txt", "ok\n\n[oops\n");
  try {
    rules.add_file(bad);
    ADD_FAILURE() << "accepted";
  } catch (const PackError& e) {
    EXPECT_EQ(std::string(e.what()), bad + ":3: '[oops': a '[' without its ']'");
  }
}
