#include "packer/options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "contract/cache_keep.h"
#include "contract/data_section.h"
#include "contract/format.h"
#include "contract/placeholders.h"
#include "packer/launcher_image.h"
#include "packer/resources/resources.h"
#include "packer/target_template.h"
#include "packer/templates.h"

namespace onefile_pack {

const char kPackerVersion[] = ONEFILE_VERSION;
const char kDefaultVersionText[] = "1.0.0.0";

namespace {

// Paths are handled with '/' separators; Windows takes both.
std::string path(std::string value) {
#ifdef _WIN32
  std::replace(value.begin(), value.end(), '\\', '/');
#endif
  return value;
}

int parse_level(const std::string& value) {
  char* end = nullptr;
  errno = 0;
  const long level = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno != 0 || level < kMinLevel || level > kMaxLevel)
    throw UsageError{"--level: expected a whole number from " + std::to_string(kMinLevel) + " to " +
                     std::to_string(kMaxLevel) + ", got '" + value + "'"};
  return static_cast<int>(level);
}

// The start and the end of --help; the options come between.
// clang-format off
const char kUsageHead[] =
    "Usage: onefile-pack --root DIR --main NAME --output APP.exe [options]\n"
    "       onefile-pack --root DIR --main NAME --payload-only --output FILE [options]\n"
    "       onefile-pack --stored-payload FILE --output APP.exe [options]\n"
    "       onefile-pack --list APP.exe | --verify APP.exe\n"
    "       onefile-pack --extract APP.exe --to DIR\n"
    "\n"
    "Packs every file below DIR into one 64-bit Windows executable. When started,\n"
    "the executable unpacks the files into a fresh folder under the temporary\n"
    "folder, runs the main program (or the main DLL's run_code export), and\n"
    "deletes the folder when the application ends; with --cache it unpacks once\n"
    "into a per-user folder and reuses it on later starts.\n"
    "\n"
    "Input:\n";
// --version alone is no option of the table: with a value it is the app's
// version text.
const char kUsageTail[] =
    "  --version              Alone: print the packer's version (@PACKER_VERSION@).\n"
    "\n"
    "Exit status: 0 on success, 1 when packing (or looking into an app) fails,\n"
    "2 for a wrong command line (an unknown or repeated option, a missing\n"
    "value). A failure is reported as one line on standard error that names the\n"
    "file or option and the reason.\n";
// clang-format on

// Where the text beside an option starts in --help.
constexpr size_t kHelpColumn = 25;

}  // namespace

const std::vector<OptionRow>& option_table() {
  // One row an option, its help as --help shows it.
  // clang-format off
  static const std::vector<OptionRow> table = {
    {"--root", nullptr, "DIR", false, kUsePacking,
     [](Options& o, std::string v) { o.root = path(std::move(v)); },
     nullptr,
     "The folder to pack. Every regular file below it is\n"
     "packed under its path relative to DIR; folders that\n"
     "hold no file are not kept. Refused, with the file\n"
     "named: symbolic links (replace a link by the file or\n"
     "folder it points to), devices, pipes and sockets,\n"
     "unreadable files, names Windows cannot hold as they\n"
     "are (a colon, a backslash, < > \" | ? *, control\n"
     "characters, a trailing dot or blank, device names\n"
     "such as CON or NUL.txt, invalid UTF-8, more than\n"
     "@MAX_NAME@ UTF-16 code units for the path below DIR), names\n"
     "that differ only in case (in any script, as Windows\n"
     "compares them), and a name of the short-alias form\n"
     "(at most 8.3 characters with a ~ and digits or\n"
     "letters, such as ABCDEF~1.TXT) beside a longer name\n"
     "it could stand for, which Windows would overwrite.\n"},
    {"--follow-links", nullptr, nullptr, false, kUsePacking,
     [](Options& o, std::string) { o.follow_links = true; },
     nullptr,
     "Pack each symbolic link as what it points to: a\n"
     "file's bytes, a folder's files below the link's own\n"
     "name. A loop, a link that leads nowhere or to\n"
     "anything but a regular file or folder is refused.\n"},
    {"--exclude", nullptr, "PATTERN", true, kUsePacking,
     [](Options& o, std::string v) { o.excludes.emplace_back(false, std::move(v)); },
     nullptr,
     "Leave out what PATTERN matches (repeatable): a\n"
     "path below DIR with '/' between folders, in the\n"
     "style of ignore files:\n"
     "  *.md      any file or folder so named, anywhere\n"
     "  docs/     folders only (a trailing '/')\n"
     "  /build    at the top of DIR only (a leading '/',\n"
     "            or one inside, as in docs/*.md, anchors)\n"
     "  logs/**   everything below the folder logs\n"
     "  a/**/b    b in a, or in any folder below a\n"
     "  ?         any one character\n"
     "  [ab] [!0-9]  one of a set; one outside it\n"
     "  !keep.md  take back what an earlier pattern left out\n"
     "'*' and '?' never match a '/'; case counts. The last\n"
     "pattern that matches decides. A folder left out is\n"
     "not entered, so '!' cannot take back a path below\n"
     "it. What is left out is never refused (links, odd\n"
     "names); leaving out the main file is. The summary\n"
     "says how many files and bytes were left out.\n"},
    {"--exclude-from", nullptr, "FILE", true, kUsePacking,
     [](Options& o, std::string v) { o.excludes.emplace_back(true, path(std::move(v))); },
     nullptr,
     "The patterns in FILE, one a line, in their order\n"
     "among the --exclude ones; blank lines and lines\n"
     "starting with '#' are skipped, and trailing blanks.\n"
     "'\\' keeps a leading '!' or '#', a '[' or ']', or a\n"
     "trailing blank as it is.\n"},
    {"--main", nullptr, "NAME", false, kUsePacking,
     [](Options& o, std::string v) { o.main = path(std::move(v)); },
     nullptr,
     "The application's main file, relative to DIR (or any\n"
     "path to it inside DIR); stored first. Either:\n"
     "a Windows program (an image without the DLL flag,\n"
     "whatever its name; for 64-bit or 32-bit x86), which\n"
     "may lie in a subfolder (bin/app.exe). The launcher\n"
     "starts it from the unpacked folder with the user's\n"
     "command line as it was typed, after the --arg\n"
     "arguments; or\n"
     "a 64-bit Windows DLL exporting run_code (checked\n"
     "before packing; see --no-checks), lying directly in\n"
     "DIR, its name ending in .dll.\n"},
    {"--arg", nullptr, "TEXT", true, kUseLauncher,
     [](Options& o, std::string v) { o.arguments.push_back(std::move(v)); },
     nullptr,
     "A fixed argument for a program main, put before the\n"
     "user's arguments, quoted as one argument; repeat\n"
     "for more. It may hold the placeholders of --target\n"
     "and {APP_DIR}, the folder that holds the unpacked\n"
     "program (bin for --main bin/app.exe); e.g.\n"
     "--arg \"{APP_DIR}\\app\\main.js\". The program is\n"
     "then a runtime running the packed app: the output\n"
     "takes none of its texts or its icon (the defaults\n"
     "below apply), only its kind.\n"},
    {"--stored-payload", nullptr, "FILE", false, kUseStoredPayload,
     [](Options& o, std::string v) { o.stored_payload = path(std::move(v)); },
     nullptr,
     "Use FILE, byte for byte, as the stored payload\n"
     "instead of packing a folder (for payloads written\n"
     "with --payload-only or elsewhere). It must start\n"
     "with \"VOY\". Not combined with --root, --main,\n"
     "--payload-only, --level or --long.\n"},
    {"--no-checks", nullptr, nullptr, false, kUseWriting,
     [](Options& o, std::string) { o.check = false; },
     "\n",
     "Write the launcher even when the main file is a\n"
     "program for another machine or subsystem, or no\n"
     "64-bit DLL exporting run_code, or the stored\n"
     "payload does not start with \"VOY\" (the launcher then\n"
     "fails at run time); for tests of such failures.\n"},
    {"--output", "-o", "FILE", false, kUseWriting,
     [](Options& o, std::string v) { o.output = path(std::move(v)); },
     "\n"
     "Output:\n",
     "The file to write. It is written under a temporary\n"
     "name beside FILE and renamed into place when complete,\n"
     "so a failed or interrupted run (Ctrl+C, SIGTERM)\n"
     "leaves nothing; a packer killed outright (SIGKILL)\n"
     "may leave that temporary file (.NAME.tmp-XXXXXX)\n"
     "and its scratch folder (onefile-pack-XXXXXX in the\n"
     "temporary folder).\n"
     "FILE may not lie inside DIR (nor, with\n"
     "--follow-links, in a folder packed through a link),\n"
     "be one of the inputs, or exist as anything but a\n"
     "regular file (a link, a device such as /dev/stdout,\n"
     "a pipe, a folder).\n"},
    {"--console", nullptr, nullptr, false, kUseLaunchers,
     [](Options& o, std::string) { o.console = true; },
     nullptr,
     "Make a console program instead of a windowed one\n"
     "(the default for a console program main).\n"
     "Pick it for command-line tools: started from a\n"
     "console, the app shares it (its output appears\n"
     "there, it reads the keyboard, it sees Ctrl+C itself),\n"
     "cmd.exe waits for it and %ERRORLEVEL% holds its exit\n"
     "code; started from Explorer it opens a console\n"
     "window. Without it (the default) the launcher is a\n"
     "windowed program, for apps with their own windows:\n"
     "it never opens a console window, and started from a\n"
     "console it gets none (no output there, and cmd.exe\n"
     "does not wait for it).\n"},
    {"--windowed", nullptr, nullptr, false, kUseLaunchers,
     [](Options& o, std::string) { o.windowed = true; },
     nullptr,
     "Make a windowed program: the default for a DLL main\n"
     "and a windowed program main; for a console program\n"
     "main it runs the program without a console window.\n"},
    {"--payload-only", nullptr, nullptr, false, kUsePayloadOnly,
     [](Options& o, std::string) { o.payload_only = true; },
     nullptr,
     "Write only the stored payload (\"VOY\", one Zstandard\n"
     "frame with a 2^@WINDOW_LOG@-byte window, padding and\n"
     "length); no launcher.\n"},
    {"--target", nullptr, "TEMPLATE", false, kUseLaunchers,
     [](Options& o, std::string v) { o.target = std::move(v); },
     "\n"
     "Target folder:\n",
     "Where the files go at run time, a path with\n"
     "placeholders, matched ignoring case:\n"
     "@PLACEHOLDERS@\n"
     "({CACHE_DIR} is the user's local application data).\n"
     "Default: @DEFAULT_TARGET@\n"
     "At most @MAX_TEMPLATE@ UTF-16 units. Refused here: an\n"
     "unknown placeholder, an unclosed brace, an empty\n"
     "folder name, one that Windows would not keep as\n"
     "written (as for the files below DIR: a trailing dot\n"
     "or blank, such as \"...\", a colon, a device name;\n"
     "\".\" and \"..\" aside), a placeholder giving a full path\n"
     "anywhere but at the start, and without --cache a\n"
     "last folder name without one of\n"
     "@PER_RUN@,\n"
     "or one of them above it.\n"},
    {"--cache", nullptr, nullptr, false, kUseLaunchers,
     [](Options& o, std::string) { o.cache = true; },
     nullptr,
     "Extract once, reuse on later starts: the files go\n"
     "into <root>\\<key>, where <key> names the payload's\n"
     "content (32 hex digits of a SHA-256), and stay\n"
     "there after the app ends. TEMPLATE then names the\n"
     "root: {CACHE_DIR} or {HOME}, a folder of the app's\n"
     "own below it, no '.' or '..', and none of the\n"
     "placeholders that change from run to run,\n"
     "@PER_RUN@.\n"
     "Default root (without {COMPANY}\\ when the company\n"
     "is empty):\n"
     "@DEFAULT_CACHE@\n"
     "A root keeps the folders of several keys (builds\n"
     "kept side by side, apps sharing a root): another\n"
     "key's folder that the launcher made goes when it\n"
     "has not been started for @UNUSED_DAYS@ days, or when more\n"
     "than @KEYS_KEPT@ keys are there and it is the least\n"
     "recently used; never while it runs.\n"
     "A later start checks that every file is there with\n"
     "its size (not its contents) and rewrites only the\n"
     "files that are not; files the app wrote into its\n"
     "folder stay. A new build's first start links the\n"
     "files that did not change from the folder of the\n"
     "build used last, and writes only the others. The\n"
     "root may not hold a file named \".onefile-complete\"\n"
     "in DIR's top folder.\n"},
    {"--level", nullptr, "N", false, kUsePacking,
     [](Options& o, std::string v) { o.compression.level = parse_level(v), o.level_given = true; },
     "\n"
     "Compression:\n",
     "Zstandard level from @MIN_LEVEL@ (fastest) to @MAX_LEVEL@ (smallest).\n"
     "Default @DEFAULT_LEVEL@, chosen by measurement (the\n"
     "project's bench/README.md): it packs markedly\n"
     "smaller than 3 to 9, and unpacking is as fast at\n"
     "any level. Use 3 to 9 for quick test builds.\n"},
    {"--long", nullptr, nullptr, false, kUsePacking,
     [](Options& o, std::string) { o.compression.long_matching = true; },
     nullptr,
     "Long-distance matching over the whole window,\n"
     "for levels 1 to 15 (levels 16 and up use it\n"
     "anyway with this window): smaller payloads when\n"
     "large files repeat, slower.\n"},
    {"--company", nullptr, "TEXT", false, kUseLaunchers,
     [](Options& o, std::string v) { o.company = std::move(v); },
     "  The same tree and options give the same bytes whatever the number of\n"
     "  cores (with the same libzstd release).\n"
     "\n"
     "Build-time texts (what the launcher's {COMPANY}, {PRODUCT}, {VERSION},\n"
     "{FILE_VERSION} and {PRODUCT_VERSION} placeholders give):\n",
     "Default: empty.\n"},
    {"--product", nullptr, "TEXT", false, kUseLaunchers,
     [](Options& o, std::string v) { o.product = std::move(v); },
     nullptr,
     "Default: the output's file name without \".exe\".\n"},
    {"--version", nullptr, "TEXT", false, kUseLaunchers,
     [](Options& o, std::string v) { o.version = std::move(v); },
     nullptr,
     "The version, file version and product version text.\n"
     "Default: @DEFAULT_VERSION@.\n"},
    {"--splash", nullptr, "PNG", false, kUseLaunchers,
     [](Options& o, std::string v) { o.splash = path(std::move(v)); },
     "  A program main's version resource gives the defaults when it has them:\n"
     "  CompanyName, ProductName and its fixed file version; not with --arg,\n"
     "  where the program is the runtime of the packed app.\n"
     "  Each text holds at most @MAX_TEXT@ UTF-16 units (a character beyond U+FFFF\n"
     "  counts as two) and no control characters.\n"
     "\n"
     "Start-up window (windowed launchers):\n"
     "  A windowed launcher that is still unpacking after 0.5 s shows a small\n"
     "  window with the app's icon, its product name, \"Preparing ...\" and a\n"
     "  progress bar; it closes once the app shows a window of its own, or ends,\n"
     "  or 10 s after unpacking ended. An error that stops the launcher is shown\n"
     "  in a message box when there is no standard error to print it on (not in a\n"
     "  service, not with VORLAN_ONEFILE_NO_DIALOGS set to a non-empty value).\n",
     "Show this image, centred, from the start of every\n"
     "run (cached starts too) until that moment, with\n"
     "the progress bar across its bottom while unpacking\n"
     "runs. At most @MAX_SPLASH@x@MAX_SPLASH@ pixels; transparent parts\n"
     "are drawn white. The image is stored uncompressed\n"
     "(4 bytes a pixel). Refused for a console launcher\n"
     "(--console, or a console program main without\n"
     "--windowed), which shows no such window.\n"},
    {"--splash-text", nullptr, "TEXT", false, kUseLaunchers,
     [](Options& o, std::string v) { o.splash_text = std::move(v); },
     nullptr,
     "The text shown instead of \"Preparing ...\", at most\n"
     "@MAX_TEXT@ UTF-16 units, no control characters;\n"
     "refused for a console launcher as --splash is.\n"},
    {"--icon", nullptr, "FILE", false, kUseLaunchers,
     [](Options& o, std::string v) { o.icon = path(std::move(v)); },
     "\n"
     "Executable resources:\n",
     "The app's icon: a square PNG (256x256 or larger is\n"
     "best) or an .ico, at most @MAX_ICON@ pixels wide; it\n"
     "is resampled to @ICON_SIZES@\n"
     "pixels, kept as 32-bit PNG images.\n"
     "Default: a program main's first icon group, as it\n"
     "is (not with --arg); else the project's own icon.\n"},
    {"--list", nullptr, "APP.exe", false, kUseList,
     [](Options& o, std::string v) { o.list = path(std::move(v)); },
     "  The version information carries the texts above (CompanyName,\n"
     "  ProductName, FileVersion, ProductVersion; the numeric version when the\n"
     "  version text reads like 1.2.3.4). The manifest asks for the invoker's\n"
     "  execution level, declares long-path awareness, uses the common controls\n"
     "  6.0 and lists Windows Vista to Windows 10 as supported.\n"
     "\n"
     "Launcher:\n"
     "  The packer carries the template launcher, a finished 64-bit Windows\n"
     "  executable, and completes a copy of it: the stored payload and the texts\n"
     "  go into a read-only data section of their own, the icon, version\n"
     "  information and manifest into a resource section. No compiler or linker\n"
     "  is needed. The templates carried: @TEMPLATES@\n"
     "  (--console picks the console one). The stored payload may take up to\n"
     "  @MAX_PAYLOAD@ bytes (2 GiB minus 16 MiB): a Windows image stays below\n"
     "  2 GiB.\n"
     "\n"
     "Looking into a packed app (any .exe written by onefile-pack, or a stored\n"
     "payload written with --payload-only); each reads the whole payload:\n",
     "Print the packed files, one a line with its size,\n"
     "the main first; then the launcher's kind, the main\n"
     "(and its fixed arguments), the texts, the target\n"
     "template, the cache, the splash, and the payload's\n"
     "stored and unpacked sizes.\n"},
    {"--verify", nullptr, "APP.exe", false, kUseVerify,
     [](Options& o, std::string v) { o.verify = path(std::move(v)); },
     nullptr,
     "Check the payload's content checksum and structure,\n"
     "the data section, and the executable's checksum (an\n"
     "app signed after packing keeps it; the signature\n"
     "itself is not checked). One line and exit 0 when\n"
     "intact; otherwise exit 1 and the first problem.\n"},
    // --to is shown with --extract, the one command it goes with.
    {"--extract", nullptr, "APP.exe --to DIR", false, kUseExtract,
     [](Options& o, std::string v) { o.extract = path(std::move(v)); },
     nullptr,
     "Write the packed files into DIR, byte for byte, to\n"
     "see what the launcher unpacks. DIR is made, or must\n"
     "be empty. Names the launcher refuses are refused;\n"
     "after a failure or an interruption nothing written\n"
     "stays.\n"},
    {"--to", nullptr, "DIR", false, kUseExtract,
     [](Options& o, std::string v) { o.to = path(std::move(v)); },
     nullptr,
     nullptr},
    {"--quiet", "-q", nullptr, false, kUseAll,
     [](Options& o, std::string) { o.quiet = true; },
     "\n"
     "Other:\n",
     "No progress and no summary on standard error (and\n"
     "no line from --verify).\n"},
    {"--help", "-h", nullptr, false, kUseAll,
     [](Options& o, std::string) { o.help = true; },
     nullptr,
     "Show this text.\n"},
  };
  // clang-format on
  return table;
}

namespace {

const OptionRow* find_option(const std::string& arg) {
  for (const OptionRow& option : option_table())
    if (arg == option.name || (option.short_name && arg == option.short_name)) return &option;
  return nullptr;
}

// `items` as "a, b, c".
std::string joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

// `items` as "a, b and c".
std::string listed(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) text += (i ? i + 1 == items.size() ? " and " : ", " : "") + items[i];
  return text;
}

// The options of some command that do not apply to `use`, in table order:
// what a group's refusal names.
std::string options_without(unsigned command, unsigned use) {
  std::vector<std::string> names;
  for (const OptionRow& option : option_table())
    if ((option.uses & command) != 0 && (option.uses & use) == 0) names.push_back(option.name);
  return listed(names);
}

// `n` with a comma between groups of three digits.
std::string grouped(uint64_t n) {
  std::string digits = std::to_string(n);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

// `text` broken at blanks into lines that continue at the help column, as
// the option texts do; the first line is where the text is put.
std::string wrapped(const std::string& text) {
  const std::string indent(kHelpColumn, ' ');
  std::string out, line;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    if (!line.empty() && indent.size() + line.size() + 1 + word.size() > 78) {
      out += (out.empty() ? "" : indent) + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    at = end + 1;
  }
  return out + (out.empty() ? "" : indent) + line;
}

}  // namespace

std::string usage_text() {
  std::string text = kUsageHead;
  for (const OptionRow& option : option_table()) {
    if (option.before) text += option.before;
    if (!option.help) continue;
    std::string label = std::string("  ") + (option.short_name ? std::string(option.short_name) + ", " : "") +
                        option.name + (option.value ? std::string(" ") + option.value : "");
    // A label that leaves no two blanks before the column has a line of its own.
    label += label.size() + 2 <= kHelpColumn ? std::string(kHelpColumn - label.size(), ' ')
                                             : "\n" + std::string(kHelpColumn, ' ');
    for (const char* line = option.help; *line;) {
      const char* end = std::strchr(line, '\n');
      text += (line == option.help ? label : std::string(kHelpColumn, ' ')) + std::string(line, end + 1);
      line = end + 1;
    }
  }
  text += kUsageTail;

  std::vector<std::string> placeholders, per_run, icon_sizes;
  for (int p = path_placeholders::kTemp; p < path_placeholders::kUnknown; ++p) {
    if (p == path_placeholders::kAppDir) continue;  // fixed arguments only
    const std::string name = std::string("{") + path_placeholders::kNames[p] + "}";
    placeholders.push_back(name);
    if (path_placeholders::varies_per_run(static_cast<path_placeholders::Placeholder>(p))) per_run.push_back(name);
  }
  for (const int size : onefile_resources::kIconSizes) icon_sizes.push_back(std::to_string(size));
  std::string per_run_text, templates;
  for (size_t i = 0; i < per_run.size(); ++i)
    per_run_text += (i ? i + 1 == per_run.size() ? " or " : ", " : "") + per_run[i];
  for (const std::string& kind : launcher_template_kinds())
    templates += (templates.empty() ? "" : ", ") + kind + (kind == "windowed" ? " (the default)" : "");
  BuildTexts with_company;
  with_company.company = "-";
  const std::pair<const char*, std::string> values[] = {
      {"MAX_NAME", std::to_string(payload_format::kMaxNameUnits)},
      {"WINDOW_LOG", std::to_string(payload_format::kWindowLog)},
      {"PLACEHOLDERS", wrapped(joined(placeholders))},
      {"DEFAULT_TARGET", default_target_template(false, BuildTexts{})},
      {"MAX_TEMPLATE", std::to_string(kMaxTemplateUnits)},
      {"PER_RUN", per_run_text},
      {"DEFAULT_CACHE", default_target_template(true, with_company)},
      {"MIN_LEVEL", std::to_string(kMinLevel)},
      {"MAX_LEVEL", std::to_string(kMaxLevel)},
      {"DEFAULT_LEVEL", std::to_string(kDefaultLevel)},
      {"DEFAULT_VERSION", kDefaultVersionText},
      {"MAX_TEXT", std::to_string(onefile_resources::kMaxVersionTextLength)},
      {"MAX_ICON", std::to_string(onefile_resources::kMaxIconSourceSize)},
      {"MAX_SPLASH", std::to_string(data_section::kMaxSplashSize)},
      {"ICON_SIZES", joined(icon_sizes)},
      {"TEMPLATES", templates},
      {"MAX_PAYLOAD", grouped(kMaxPayloadSize)},
      {"PACKER_VERSION", kPackerVersion},
      {"UNUSED_DAYS", std::to_string(cache_keep::kUnusedDays)},
      {"KEYS_KEPT", std::to_string(cache_keep::kKeysKept)},
  };
  for (const auto& [name, value] : values) {
    const std::string token = std::string("@") + name + "@";
    for (size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + value.size()))
      text.replace(at, token.size(), value);
  }
  return text;
}

Options parse_options(const std::vector<std::string>& argv) {
  Options options;
  // --version alone asks for the packer's own version; with a value it is
  // the app's version text.
  if (argv.size() == 2 && argv[1] == "--version") {
    options.show_version = true;
    return options;
  }
  // The options given, each once, in the order given.
  std::vector<const OptionRow*> given;
  for (size_t i = 1; i < argv.size(); ++i) {
    std::string arg = argv[i];
    std::optional<std::string> inline_value;
    if (arg.rfind("--", 0) == 0) {
      if (const size_t eq = arg.find('='); eq != std::string::npos) {
        inline_value = arg.substr(eq + 1);
        arg.resize(eq);
      }
    }
    const OptionRow* option = find_option(arg);
    if (!option) {
      if (arg.size() > 1 && arg[0] == '-') throw UsageError{arg + ": unknown option (see --help)"};
      throw UsageError{"'" + arg + "': unexpected argument (see --help)"};
    }
    // Each option once: a repeated one would silently override the first.
    const bool first = std::find(given.begin(), given.end(), option) == given.end();
    if (!first && !option->repeatable) throw UsageError{std::string(option->name) + ": given more than once"};
    if (first) given.push_back(option);
    std::string value;
    if (option->value) {
      if (inline_value) value = *inline_value;
      else if (i + 1 < argv.size()) value = argv[++i];
      else throw UsageError{arg + ": needs a value"};
    } else if (inline_value) {
      throw UsageError{arg + ": takes no value"};
    }
    option->store(options, std::move(value));
  }
  if (options.help) return options;

  // --list, --verify and --extract look into an app: one of them, with --to
  // for --extract and --quiet, and nothing of packing.
  if (!options.list.empty() || !options.verify.empty() || !options.extract.empty()) {
    const unsigned use = !options.list.empty() ? kUseList : !options.verify.empty() ? kUseVerify : kUseExtract;
    const char* command = use == kUseList ? "--list" : use == kUseVerify ? "--verify" : "--extract";
    for (const OptionRow* option : given)
      if ((option->uses & use) == 0)
        throw UsageError{std::string(option->name) + ": does not apply to " + command +
                         ", which looks into a packed app"};
    if (use == kUseExtract && options.to.empty()) throw UsageError{"--extract: needs --to DIR, a new or empty folder"};
    return options;
  }
  if (!options.to.empty()) throw UsageError{"--to: the folder for --extract, which is missing"};
  if (options.output.empty()) throw UsageError{"--output: missing (see --help)"};
  if (options.console && options.windowed) throw UsageError{"--windowed: the output is either --console or --windowed"};
  if (options.console && (!options.splash.empty() || options.splash_text))
    throw UsageError{std::string(options.splash.empty() ? "--splash-text" : "--splash") +
                     ": a console launcher shows no start-up window; leave it out, or make a --windowed launcher"};
  // The command decides which options apply; a group's refusal names all
  // that do not.
  const unsigned use = !options.stored_payload.empty() ? kUseStoredPayload
                       : options.payload_only          ? kUsePayloadOnly
                                                       : kUseLauncher;
  const bool misplaced =
      std::any_of(given.begin(), given.end(), [&](const OptionRow* option) { return (option->uses & use) == 0; });
  if (use == kUseStoredPayload) {
    if (misplaced)
      throw UsageError{"--stored-payload: uses a payload as it is; " + options_without(kUsePacking, use) +
                       " do not apply"};
    return options;
  }
  if (options.root.empty()) throw UsageError{"--root: missing (see --help)"};
  if (options.main.empty()) throw UsageError{"--main: missing (see --help)"};
  if (use == kUsePayloadOnly && misplaced)
    throw UsageError{"--payload-only: " + options_without(kUseLauncher, use) + " only apply to a launcher"};
  return options;
}

}  // namespace onefile_pack
