// The option table against what names the options elsewhere: the README's
// option table and the keywords of onefile_add_executable; and the refusals
// of options that do not go with a command, which name every option they
// refuse and no other.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "packer/options.h"
#include "packer/tests/test_util.h"

namespace {

using onefile_pack::option_table;
using onefile_pack::OptionRow;

// The lines of the README's table of options.
std::string readme_option_table() {
  std::istringstream readme(pack_test::read_file(ONEFILE_SOURCE_DIR "/README.md"));
  std::string line, table;
  bool inside = false;
  while (std::getline(readme, line)) {
    if (line == "| Option | Meaning |") inside = true;
    else if (inside && line.rfind("|", 0) != 0) break;
    if (inside) table += line + "\n";
  }
  return table;
}

// The keywords onefile_add_executable takes: its flags, one-value and
// many-value keywords.
std::set<std::string> cmake_keywords() {
  const std::string cmake = pack_test::read_file(ONEFILE_SOURCE_DIR "/cmake/OnefilePack.cmake");
  std::set<std::string> keywords;
  const auto add_words = [&](const std::string& words) {
    std::istringstream in(words);
    for (std::string word; in >> word;) keywords.insert(word);
  };
  std::smatch m;
  for (const char* list : {"flags", "values"}) {
    EXPECT_TRUE(std::regex_search(cmake, m, std::regex(std::string("set\\(") + list + " ([A-Z_ ]+)\\)"))) << list;
    add_words(m[1]);
  }
  EXPECT_TRUE(std::regex_search(cmake, m, std::regex("cmake_parse_arguments\\([^)]*\"([A-Z_;]+)\"\\)")));
  std::string many = m[1];
  std::replace(many.begin(), many.end(), ';', ' ');
  add_words(many);
  return keywords;
}

// Options that are deliberately no keyword of onefile_add_executable: it
// always packs a launcher, quietly, from ROOT as it is, and never looks
// into a packed app.
const std::set<std::string> kNotCMakeKeywords = {
    "--exclude-from",  // EXCLUDE takes the patterns themselves
    "--long",          // not asked for yet: LEVEL is the one compression keyword
    "--payload-only", "--list", "--verify", "--extract", "--to", "--quiet", "--help",
};

// The keyword of an option: its name in capitals, '-' as '_', but for these.
const std::map<std::string, std::string> kKeywordNames = {{"--arg", "ARGS"}, {"--no-checks", "UNCHECKED"}};

std::string keyword_of(const std::string& option) {
  if (kKeywordNames.count(option)) return kKeywordNames.at(option);
  std::string keyword;
  for (const char c : option.substr(2)) keyword += c == '-' ? '_' : static_cast<char>(std::toupper(c));
  return keyword;
}

TEST(Options, ReadmeAndCMakeNameEveryOption) {
  const std::string readme = readme_option_table();
  ASSERT_FALSE(readme.empty()) << "no \"| Option | Meaning |\" table in README.md";
  const std::set<std::string> keywords = cmake_keywords();
  std::set<std::string> keywords_of_options;
  for (const OptionRow& option : option_table()) {
    const std::string name = option.name;
    // In code, alone or as in `--extract APP.exe --to DIR`.
    EXPECT_TRUE(std::regex_search(readme, std::regex("`([^`|]* )?" + name + "[ `]")))
        << name << " is not in the README's option table";
    if (kNotCMakeKeywords.count(name)) continue;
    keywords_of_options.insert(keyword_of(name));
    EXPECT_TRUE(keywords.count(keyword_of(name))) << name << ": onefile_add_executable has no " << keyword_of(name);
  }
  // The other way round: no keyword for an option that is gone.
  for (const std::string& keyword : keywords) EXPECT_TRUE(keywords_of_options.count(keyword)) << keyword;
}

// A command line of `command` with `option` added, with a value if it takes one.
std::vector<std::string> with_option(std::vector<std::string> command, const OptionRow& option) {
  command.insert(command.begin(), "onefile-pack");
  command.push_back(option.name);
  if (option.value) command.push_back(option.name == std::string("--level") ? "3" : "x");
  return command;
}

// The options a group refusal names: "--a, --b and --c".
std::set<std::string> named_in(const std::string& list) {
  std::set<std::string> names;
  const std::regex option("--[a-z-]+");
  for (std::sregex_iterator it(list.begin(), list.end(), option), end; it != end; ++it) names.insert(it->str());
  return names;
}

// Each option added to a command that has a group refusal is refused
// exactly when the refusal names it, and always with the same message.
TEST(Options, GroupRefusalsNameEveryOptionTheyRefuseAndNoOther) {
  const struct {
    std::vector<std::string> command;
    std::string refusal, ending;  // the message around the list of options
  } commands[] = {
      {{"--stored-payload", "p", "--output", "o.exe"}, "--stored-payload: uses a payload as it is; ", " do not apply"},
      {{"--root", "r", "--main", "m", "--payload-only", "--output", "o.bin"},
       "--payload-only: ",
       " only apply to a launcher"},
  };
  for (const auto& c : commands) {
    std::string message;
    std::set<std::string> refused;
    for (const OptionRow& option : option_table()) {
      // Options that make another command, or that the command has already.
      if (option.uses & (onefile_pack::kUseList | onefile_pack::kUseVerify | onefile_pack::kUseExtract)) continue;
      if (option.name == std::string("--stored-payload") || option.name == std::string("--help") ||
          std::find(c.command.begin(), c.command.end(), option.name) != c.command.end())
        continue;
      try {
        onefile_pack::parse_options(with_option(c.command, option));
      } catch (const onefile_pack::UsageError& e) {
        if (message.empty()) message = e.text;
        EXPECT_EQ(e.text, message) << option.name;
        refused.insert(option.name);
      }
    }
    ASSERT_EQ(message.rfind(c.refusal, 0), 0u) << message;
    ASSERT_EQ(message.substr(message.size() - c.ending.size()), c.ending) << message;
    EXPECT_EQ(named_in(message.substr(c.refusal.size())), refused) << message;
  }
}

}  // namespace
