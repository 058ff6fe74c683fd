// The packer's command line: one table of its options (options.cpp) drives
// the parsing, the checks of what does not go together, and --help.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "packer/payload_writer.h"

namespace onefile_pack {

// The version of the whole project, from the top-level project() of CMake.
extern const char kPackerVersion[];
// The version text when --version is not given.
extern const char kDefaultVersionText[];

// A command line the packer cannot take; exit status 2.
struct UsageError {
  std::string text;
};

// What the command line asks for.
struct Options {
  std::string root, main, output, stored_payload, icon, splash;
  bool payload_only = false, quiet = false, help = false, check = true, console = false, windowed = false;
  bool follow_links = false, show_version = false;
  std::vector<std::string> arguments;  // --arg, in order
  // --exclude (false) and --exclude-from (true), in order.
  std::vector<std::pair<bool, std::string>> excludes;
  // The commands that look into a packed app instead of packing.
  std::string list, verify, extract, to;
  CompressionSettings compression;
  std::optional<std::string> company, product, version, target, splash_text;
  bool cache = false;
  bool level_given = false;
};

// What the packer does with a command line; each option belongs to some.
enum Use : unsigned {
  kUseLauncher = 1 << 0,       // pack a folder into a launcher
  kUsePayloadOnly = 1 << 1,    // pack a folder into a stored payload alone
  kUseStoredPayload = 1 << 2,  // complete a launcher with a stored payload as it is
  kUseList = 1 << 3,           // look into a packed app
  kUseVerify = 1 << 4,
  kUseExtract = 1 << 5,
  kUsePacking = kUseLauncher | kUsePayloadOnly,      // takes a folder
  kUseLaunchers = kUseLauncher | kUseStoredPayload,  // writes a launcher
  kUseWriting = kUsePacking | kUseStoredPayload,
  kUseAll = kUseWriting | kUseList | kUseVerify | kUseExtract,
};

struct OptionRow {
  const char* name;        // "--root"
  const char* short_name;  // "-o"; null when there is none
  // What --help shows after the name ("DIR"); null for an option that takes
  // no value.
  const char* value;
  bool repeatable;  // else given at most once
  unsigned uses;    // Use bits
  void (*store)(Options&, std::string value);
  // What --help shows before the option: a section's heading and notes.
  const char* before;
  // The text --help shows beside the option, ending in a line break, with
  // @NAME@ filled in from the constant that enforces it; null for an option
  // shown with another.
  const char* help;
};

// Every option, in the order --help shows them.
const std::vector<OptionRow>& option_table();

// The options of `argv` (argv[0] is the program). Throws UsageError for an
// unknown, repeated or misplaced option, a missing value, or a missing
// option that the command needs.
Options parse_options(const std::vector<std::string>& argv);

// The --help text.
std::string usage_text();

}  // namespace onefile_pack
