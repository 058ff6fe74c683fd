#include "packer/exclude.h"

#include <string_view>

#include "packer/file_system.h"
#include "packer/pack_error.h"
#include "packer/utf.h"

namespace onefile_pack {

namespace {

using Token = ExcludeRules::Token;
using Component = ExcludeRules::Component;
using Pattern = ExcludeRules::Pattern;

// The characters of `text`. A byte that is not part of valid UTF-8 (a name
// the walk would refuse, unless it is left out) stands for itself, above
// every real character, so it matches only a '*' or '?'.
std::u32string characters(std::string_view text) {
  std::u32string out;
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    std::u16string units;
    if (length > 0 && i + length <= text.size() && utf8_to_utf16(text.substr(i, length), units)) {
      char32_t c = units[0];
      if (units.size() == 2) c = 0x10000 + ((c - 0xD800) << 10) + (units[1] - 0xDC00);
      out.push_back(c);
      i += length;
    } else {
      out.push_back(0x110000 + lead);
      ++i;
    }
  }
  return out;
}

// Matches one name against one component's tokens. A '*' that fails is
// retried one character further, from the last '*' only: that is enough
// when nothing else matches more than one character.
bool match_name(const std::vector<Token>& tokens, const std::u32string& name) {
  size_t t = 0, n = 0, star_t = std::string::npos, star_n = 0;
  const auto one = [](const Token& token, char32_t c) {
    switch (token.kind) {
      case Token::literal:
        return token.c == c;
      case Token::any_one:
        return true;
      case Token::set: {
        bool in = false;
        for (const auto& [low, high] : token.ranges) in = in || (c >= low && c <= high);
        return in != token.negated;
      }
      default:
        return false;
    }
  };
  while (n < name.size()) {
    if (t < tokens.size() && tokens[t].kind == Token::any_run) {
      star_t = t++;
      star_n = n;
    } else if (t < tokens.size() && one(tokens[t], name[n])) {
      ++t;
      ++n;
    } else if (star_t != std::string::npos) {
      t = star_t + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (t < tokens.size() && tokens[t].kind == Token::any_run) ++t;
  return t == tokens.size();
}

// Matches components [p...] of a pattern against names [s...] of a path. A
// "**" takes any number of folders, at least one when it ends the pattern
// ("logs/**" is what lies below logs, not logs itself).
bool match_components(const std::vector<Component>& pattern, size_t p, const std::vector<std::u32string>& path,
                      size_t s) {
  if (p == pattern.size()) return s == path.size();
  if (pattern[p].any_folders) {
    const size_t least = p + 1 == pattern.size() ? 1 : 0;
    for (size_t skip = least; s + skip <= path.size(); ++skip)
      if (match_components(pattern, p + 1, path, s + skip)) return true;
    return false;
  }
  return s < path.size() && match_name(pattern[p].tokens, path[s]) && match_components(pattern, p + 1, path, s + 1);
}

std::vector<std::u32string> split(const std::string& relative) {
  std::vector<std::u32string> names;
  size_t start = 0;
  for (size_t slash; (slash = relative.find('/', start)) != std::string::npos; start = slash + 1)
    names.push_back(characters(std::string_view(relative).substr(start, slash - start)));
  names.push_back(characters(std::string_view(relative).substr(start)));
  return names;
}

// The characters a backslash may escape: those that mean something at the
// start, in a set, or at the end. Any other escape is refused, so that
// "docs\api", written with a Windows separator, does not quietly mean
// "docsapi" (file names cannot hold a backslash, '*' or '?' anyway).
bool escapable(char32_t c) { return c == '[' || c == ']' || c == '!' || c == '#' || c == ' '; }

class Compiler {
 public:
  Compiler(const std::string& text, const std::string& source) : text_(text), source_(source) {}

  Pattern compile() {
    if (!is_valid_utf8(text_)) fail("not valid UTF-8");
    std::u32string chars = characters(text_);
    if (chars.empty()) fail("an empty pattern");
    // Trailing blanks go, unless escaped.
    size_t end = chars.size();
    while (end > 0 && chars[end - 1] == ' ' && !(end >= 2 && chars[end - 2] == '\\')) --end;
    chars.resize(end);
    Pattern pattern;
    pattern.text = text_;
    pattern.source = source_;
    size_t at = 0;
    if (at < chars.size() && chars[at] == '!') pattern.negated = true, ++at;
    if (at < chars.size() && chars[at] == '/') pattern.anchored = true, ++at;
    if (!chars.empty() && chars.back() == '/' && chars.size() > at) {
      pattern.folders_only = true;
      chars.pop_back();
    }
    if (at >= chars.size()) fail("an empty pattern");
    std::vector<std::u32string> parts;
    std::u32string part;
    for (size_t i = at; i < chars.size(); ++i) {
      if (chars[i] == '/') {
        parts.push_back(part);
        part.clear();
      } else {
        part.push_back(chars[i]);
        if (chars[i] == '\\' && i + 1 < chars.size()) part.push_back(chars[++i]);
      }
    }
    parts.push_back(part);
    // A '/' inside anchors the pattern; so does a "**", which says itself
    // how deep the path may lie.
    if (parts.size() > 1 || parts[0] == U"**") pattern.anchored = true;
    for (const std::u32string& name : parts) {
      if (name.empty()) fail("an empty folder name ('//', or '/' at an end)");
      if (name == U"." || name == U"..")
        fail("'.' and '..' are not part of a path below the root");
      Component component;
      if (name == U"**")
        component.any_folders = true;
      else
        component.tokens = tokens(name);
      pattern.components.push_back(std::move(component));
    }
    return pattern;
  }

 private:
  [[noreturn]] void fail(const std::string& reason) const { throw PackError(source_, "'" + text_ + "': " + reason); }

  std::vector<Token> tokens(const std::u32string& name) const {
    std::vector<Token> out;
    for (size_t i = 0; i < name.size(); ++i) {
      Token token;
      const char32_t c = name[i];
      if (c == '*') {
        token.kind = Token::any_run;
        // "**" within a name is a '*'.
        if (!out.empty() && out.back().kind == Token::any_run) continue;
      } else if (c == '?') {
        token.kind = Token::any_one;
      } else if (c == '\\') {
        if (i + 1 >= name.size() || !escapable(name[i + 1]))
          fail("a backslash only escapes [ ] ! # or a blank; separate folders with '/'");
        token.c = name[++i];
      } else if (c == '[') {
        i = set(name, i + 1, token);
      } else {
        token.c = c;
      }
      out.push_back(std::move(token));
    }
    return out;
  }

  // Reads a set starting after its '['; returns the index of its ']'.
  size_t set(const std::u32string& name, size_t i, Token& token) const {
    token.kind = Token::set;
    if (i < name.size() && (name[i] == '!' || name[i] == '^')) token.negated = true, ++i;
    const size_t first = i;
    for (; i < name.size(); ++i) {
      char32_t low = name[i];
      if (low == ']' && i > first) return i;
      if (low == '\\') {
        if (i + 1 >= name.size() || !escapable(name[i + 1]))
          fail("a backslash only escapes [ ] ! # or a blank; separate folders with '/'");
        low = name[++i];
      }
      char32_t high = low;
      if (i + 2 < name.size() && name[i + 1] == '-' && name[i + 2] != ']') {
        high = name[i + 2];
        i += 2;
        if (high == '\\') {
          if (i + 1 >= name.size() || !escapable(name[i + 1]))
            fail("a backslash only escapes [ ] ! # or a blank; separate folders with '/'");
          high = name[++i];
        }
        if (high < low) fail("a range that runs backwards in '[...]'");
      }
      token.ranges.emplace_back(low, high);
    }
    fail("a '[' without its ']'");
  }

  const std::string& text_;
  const std::string& source_;
};

}  // namespace

void ExcludeRules::add(const std::string& pattern, const std::string& source) {
  // A file's '#' lines never get here; one given on the command line would
  // be ignored there, so it is refused rather than taken as a comment.
  if (!pattern.empty() && pattern[0] == '#')
    throw PackError(source, "'" + pattern + "': starts with '#', which begins a comment in a file; write \\# for "
                            "a name that starts with '#'");
  patterns_.push_back(Compiler(pattern, source).compile());
}

void ExcludeRules::add_file(const std::string& path) {
  const FileInfo info = file_info(path, true);
  if (info.kind == FileKind::missing) throw PackError(path, "pattern file cannot be read: " + error_text(info.error));
  if (info.kind != FileKind::file) throw PackError(path, "pattern file is not a regular file");
  std::string text;
  {
    InputFile file(path, "pattern file");
    char buffer[1 << 16];
    for (size_t n; (n = file.read(buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  }
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);  // a byte order mark
  size_t start = 0;
  for (int line = 1; start < text.size(); ++line) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string pattern = text.substr(start, end - start);
    start = end + 1;
    if (!pattern.empty() && pattern.back() == '\r') pattern.pop_back();
    if (pattern.find_first_not_of(' ') == std::string::npos || pattern[0] == '#') continue;
    patterns_.push_back(Compiler(pattern, path + ":" + std::to_string(line)).compile());
  }
}

const ExcludeRules::Pattern* ExcludeRules::excluding(const std::string& relative, bool is_folder) const {
  if (patterns_.empty()) return nullptr;
  const std::vector<std::u32string> names = split(relative);
  for (size_t i = patterns_.size(); i-- > 0;) {
    const Pattern& pattern = patterns_[i];
    if (pattern.folders_only && !is_folder) continue;
    const bool matches = pattern.anchored
                             ? match_components(pattern.components, 0, names, 0)
                             : match_name(pattern.components[0].tokens, names.back());
    if (matches) return pattern.negated ? nullptr : &pattern;
  }
  return nullptr;
}

const ExcludeRules::Pattern* ExcludeRules::excluding_path(const std::string& relative) const {
  for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1))
    if (const Pattern* pattern = excluding(relative.substr(0, slash), true)) return pattern;
  return excluding(relative, false);
}

std::string ExcludeRules::describe(const Pattern& pattern) {
  return pattern.source + " '" + pattern.text + "'";
}

}  // namespace onefile_pack
