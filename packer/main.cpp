// onefile-pack: packs a folder into the stored payload of a single-exe
// Windows launcher and completes a copy of the embedded template launcher
// with it.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "contract/cache_keep.h"
#include "contract/cache_record.h"
#include "contract/data_section.h"
#include "contract/format.h"
#include "contract/placeholders.h"
#include "packer/content_key.h"
#include "packer/exclude.h"
#include "packer/file_system.h"
#include "packer/inspect.h"
#include "packer/launcher_image.h"
#include "packer/names.h"
#include "packer/output_file.h"
#include "packer/pack_error.h"
#include "packer/payload_writer.h"
#include "packer/pe/pe_file.h"
#include "packer/program_main.h"
#include "packer/resources/resources.h"
#include "packer/size_text.h"
#include "packer/target_template.h"
#include "packer/templates.h"
#include "packer/tree.h"

using namespace onefile_pack;

namespace {

// The help text. Every default and limit is written as @NAME@ and filled in
// by usage_text() from the constant that enforces it.
const char kUsage[] = R"(Usage: onefile-pack --root DIR --main NAME --output APP.exe [options]
       onefile-pack --root DIR --main NAME --payload-only --output FILE [options]
       onefile-pack --stored-payload FILE --output APP.exe [options]
       onefile-pack --list APP.exe | --verify APP.exe
       onefile-pack --extract APP.exe --to DIR

Packs every file below DIR into one 64-bit Windows executable. When started,
the executable unpacks the files into a fresh folder under the temporary
folder, runs the main program (or the main DLL's run_code export), and
deletes the folder when the application ends; with --cache it unpacks once
into a per-user folder and reuses it on later starts.

Input:
  --root DIR             The folder to pack. Every regular file below it is
                         packed under its path relative to DIR; folders that
                         hold no file are not kept. Refused, with the file
                         named: symbolic links (replace a link by the file or
                         folder it points to), devices, pipes and sockets,
                         unreadable files, names Windows cannot hold as they
                         are (a colon, a backslash, < > " | ? *, control
                         characters, a trailing dot or blank, device names
                         such as CON or NUL.txt, invalid UTF-8, more than
                         @MAX_NAME@ UTF-16 code units for the path below DIR), names
                         that differ only in case (in any script, as Windows
                         compares them), and a name of the short-alias form
                         (at most 8.3 characters with a ~ and digits or
                         letters, such as ABCDEF~1.TXT) beside a longer name
                         it could stand for, which Windows would overwrite.
  --follow-links         Pack each symbolic link as what it points to: a
                         file's bytes, a folder's files below the link's own
                         name. A loop, a link that leads nowhere or to
                         anything but a regular file or folder is refused.
  --exclude PATTERN      Leave out what PATTERN matches (repeatable): a
                         path below DIR with '/' between folders, in the
                         style of ignore files:
                           *.md      any file or folder so named, anywhere
                           docs/     folders only (a trailing '/')
                           /build    at the top of DIR only (a leading '/',
                                     or one inside, as in docs/*.md, anchors)
                           logs/**   everything below the folder logs
                           a/**/b    b in a, or in any folder below a
                           ?         any one character
                           [ab] [!0-9]  one of a set; one outside it
                           !keep.md  take back what an earlier pattern left out
                         '*' and '?' never match a '/'; case counts. The last
                         pattern that matches decides. A folder left out is
                         not entered, so '!' cannot take back a path below
                         it. What is left out is never refused (links, odd
                         names); leaving out the main file is. The summary
                         says how many files and bytes were left out.
  --exclude-from FILE    The patterns in FILE, one a line, in their order
                         among the --exclude ones; blank lines and lines
                         starting with '#' are skipped, and trailing blanks.
                         '\' keeps a leading '!' or '#', a '[' or ']', or a
                         trailing blank as it is.
  --main NAME            The application's main file, relative to DIR (or any
                         path to it inside DIR); stored first. Either:
                         a Windows program (an image without the DLL flag,
                         whatever its name; for 64-bit or 32-bit x86), which
                         may lie in a subfolder (bin/app.exe). The launcher
                         starts it from the unpacked folder with the user's
                         command line as it was typed, after the --arg
                         arguments; or
                         a 64-bit Windows DLL exporting run_code (checked
                         before packing; see --no-checks), lying directly in
                         DIR, its name ending in .dll.
  --arg TEXT             A fixed argument for a program main, put before the
                         user's arguments, quoted as one argument; repeat
                         for more. It may hold the placeholders of --target
                         and {APP_DIR}, the folder that holds the unpacked
                         program (bin for --main bin/app.exe); e.g.
                         --arg "{APP_DIR}\app\main.js". The program is
                         then a runtime running the packed app: the output
                         takes none of its texts or its icon (the defaults
                         below apply), only its kind.
  --stored-payload FILE  Use FILE, byte for byte, as the stored payload
                         instead of packing a folder (for payloads written
                         with --payload-only or elsewhere). It must start
                         with "VOY". Not combined with --root, --main,
                         --payload-only, --level or --long.

  --no-checks            Write the launcher even when the main file is a
                         program for another machine or subsystem, or no
                         64-bit DLL exporting run_code, or the stored
                         payload does not start with "VOY" (the launcher then
                         fails at run time); for tests of such failures.

Output:
  -o, --output FILE      The file to write. It is written under a temporary
                         name beside FILE and renamed into place when complete,
                         so a failed or interrupted run (Ctrl+C, SIGTERM)
                         leaves nothing; a packer killed outright (SIGKILL)
                         may leave that temporary file (.NAME.tmp-XXXXXX)
                         and its scratch folder (onefile-pack-XXXXXX in the
                         temporary folder).
                         FILE may not lie inside DIR (nor, with
                         --follow-links, in a folder packed through a link),
                         be one of the inputs, or exist as anything but a
                         regular file (a link, a device such as /dev/stdout,
                         a pipe, a folder).
  --console              Make a console program instead of a windowed one
                         (the default for a console program main).
                         Pick it for command-line tools: started from a
                         console, the app shares it (its output appears
                         there, it reads the keyboard, it sees Ctrl+C itself),
                         cmd.exe waits for it and %ERRORLEVEL% holds its exit
                         code; started from Explorer it opens a console
                         window. Without it (the default) the launcher is a
                         windowed program, for apps with their own windows:
                         it never opens a console window, and started from a
                         console it gets none (no output there, and cmd.exe
                         does not wait for it).
  --windowed             Make a windowed program: the default for a DLL main
                         and a windowed program main; for a console program
                         main it runs the program without a console window.
  --payload-only         Write only the stored payload ("VOY", one Zstandard
                         frame with a 2^@WINDOW_LOG@-byte window, padding and
                         length); no launcher.

Target folder:
  --target TEMPLATE      Where the files go at run time, a path with
                         placeholders, matched ignoring case:
@PLACEHOLDERS@
                         ({CACHE_DIR} is the user's local application data).
                         Default: @DEFAULT_TARGET@
                         At most @MAX_TEMPLATE@ UTF-16 units. Refused here: an
                         unknown placeholder, an unclosed brace, an empty
                         folder name, one that Windows would not keep as
                         written (as for the files below DIR: a trailing dot
                         or blank, such as "...", a colon, a device name;
                         "." and ".." aside), a placeholder giving a full path
                         anywhere but at the start, and without --cache a
                         last folder name without one of
                         @PER_RUN@,
                         or one of them above it.
  --cache                Extract once, reuse on later starts: the files go
                         into <root>\<key>, where <key> names the payload's
                         content (32 hex digits of a SHA-256), and stay
                         there after the app ends. TEMPLATE then names the
                         root: {CACHE_DIR} or {HOME}, a folder of the app's
                         own below it, no '.' or '..', and none of the
                         placeholders that change from run to run,
                         @PER_RUN@.
                         Default root (without {COMPANY}\ when the company
                         is empty):
                         @DEFAULT_CACHE@
                         A root keeps the folders of several keys (builds
                         kept side by side, apps sharing a root): another
                         key's folder that the launcher made goes when it
                         has not been started for @UNUSED_DAYS@ days, or when more
                         than @KEYS_KEPT@ keys are there and it is the least
                         recently used; never while it runs.
                         A later start checks that every file is there with
                         its size (not its contents) and rewrites only the
                         files that are not; files the app wrote into its
                         folder stay. A new build's first start links the
                         files that did not change from the folder of the
                         build used last, and writes only the others. The
                         root may not hold a file named ".onefile-complete"
                         in DIR's top folder.

Compression:
  --level N              Zstandard level from @MIN_LEVEL@ (fastest) to @MAX_LEVEL@ (smallest).
                         Default @DEFAULT_LEVEL@, chosen by measurement (the
                         project's bench/README.md): it packs markedly
                         smaller than 3 to 9, and unpacking is as fast at
                         any level. Use 3 to 9 for quick test builds.
  --long                 Long-distance matching over the whole window,
                         for levels 1 to 15 (levels 16 and up use it
                         anyway with this window): smaller payloads when
                         large files repeat, slower.
  The same tree and options give the same bytes whatever the number of
  cores (with the same libzstd release).

Build-time texts (what the launcher's {COMPANY}, {PRODUCT}, {VERSION},
{FILE_VERSION} and {PRODUCT_VERSION} placeholders give):
  --company TEXT         Default: empty.
  --product TEXT         Default: the output's file name without ".exe".
  --version TEXT         The version, file version and product version text.
                         Default: @DEFAULT_VERSION@.
  A program main's version resource gives the defaults when it has them:
  CompanyName, ProductName and its fixed file version; not with --arg,
  where the program is the runtime of the packed app.
  Each text holds at most @MAX_TEXT@ UTF-16 units (a character beyond U+FFFF
  counts as two) and no control characters.

Start-up window (windowed launchers):
  A windowed launcher that is still unpacking after 0.5 s shows a small
  window with the app's icon, its product name, "Preparing ..." and a
  progress bar; it closes once the app shows a window of its own, or ends,
  or 10 s after unpacking ended. An error that stops the launcher is shown
  in a message box when there is no standard error to print it on (not in a
  service, not with VORLAN_ONEFILE_NO_DIALOGS set to a non-empty value).
  --splash PNG           Show this image, centred, from the start of every
                         run (cached starts too) until that moment, with
                         the progress bar across its bottom while unpacking
                         runs. At most @MAX_SPLASH@x@MAX_SPLASH@ pixels; transparent parts
                         are drawn white. The image is stored uncompressed
                         (4 bytes a pixel). Refused for a console launcher
                         (--console, or a console program main without
                         --windowed), which shows no such window.
  --splash-text TEXT     The text shown instead of "Preparing ...", at most
                         @MAX_TEXT@ UTF-16 units, no control characters;
                         refused for a console launcher as --splash is.

Executable resources:
  --icon FILE            The app's icon: a square PNG (256x256 or larger is
                         best) or an .ico, at most @MAX_ICON@ pixels wide; it
                         is resampled to @ICON_SIZES@
                         pixels, kept as 32-bit PNG images.
                         Default: a program main's first icon group, as it
                         is (not with --arg); else the project's own icon.
  The version information carries the texts above (CompanyName,
  ProductName, FileVersion, ProductVersion; the numeric version when the
  version text reads like 1.2.3.4). The manifest asks for the invoker's
  execution level, declares long-path awareness, uses the common controls
  6.0 and lists Windows Vista to Windows 10 as supported.

Launcher:
  The packer carries the template launcher, a finished 64-bit Windows
  executable, and completes a copy of it: the stored payload and the texts
  go into a read-only data section of their own, the icon, version
  information and manifest into a resource section. No compiler or linker
  is needed. The templates carried: @TEMPLATES@
  (--console picks the console one). The stored payload may take up to
  @MAX_PAYLOAD@ bytes (2 GiB minus 16 MiB): a Windows image stays below
  2 GiB.

Looking into a packed app (any .exe written by onefile-pack, or a stored
payload written with --payload-only); each reads the whole payload:
  --list APP.exe         Print the packed files, one a line with its size,
                         the main first; then the launcher's kind, the main
                         (and its fixed arguments), the texts, the target
                         template, the cache, the splash, and the payload's
                         stored and unpacked sizes.
  --verify APP.exe       Check the payload's content checksum and structure,
                         the data section, and the executable's checksum (an
                         app signed after packing keeps it; the signature
                         itself is not checked). One line and exit 0 when
                         intact; otherwise exit 1 and the first problem.
  --extract APP.exe --to DIR
                         Write the packed files into DIR, byte for byte, to
                         see what the launcher unpacks. DIR is made, or must
                         be empty. Names the launcher refuses are refused;
                         after a failure or an interruption nothing written
                         stays.

Other:
  -q, --quiet            No progress and no summary on standard error (and
                         no line from --verify).
  -h, --help             Show this text.
  --version              Alone: print the packer's version (@PACKER_VERSION@).

Exit status: 0 on success, 1 when packing (or looking into an app) fails,
2 for a wrong command line (an unknown or repeated option, a missing
value). A failure is reported as one line on standard error that names the
file or option and the reason.
)";

// The version of the whole project, from the top-level project() of CMake.
const char kPackerVersion[] = ONEFILE_VERSION;

// The version text when --version is not given.
const char kDefaultVersionText[] = "1.0.0.0";

// `n` with a comma between groups of three digits.
std::string grouped(uint64_t n) {
  std::string digits = std::to_string(n);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

// `items` as "a, b, c".
std::string joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

// `text` broken at blanks into lines that start at column 25, as the option
// texts do.
std::string indented(const std::string& text) {
  const std::string indent(25, ' ');
  std::string out, line;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    if (!line.empty() && indent.size() + line.size() + 1 + word.size() > 78) {
      out += indent + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    at = end + 1;
  }
  return out + indent + line;
}

std::string usage_text() {
  std::vector<std::string> placeholders, per_run, icon_sizes;
  for (int p = path_placeholders::kTemp; p < path_placeholders::kUnknown; ++p) {
    if (p == path_placeholders::kAppDir) continue;  // fixed arguments only
    const std::string name = std::string("{") + path_placeholders::kNames[p] + "}";
    placeholders.push_back(name);
    if (path_placeholders::varies_per_run(static_cast<path_placeholders::Placeholder>(p))) per_run.push_back(name);
  }
  for (const int size : onefile_resources::kIconSizes) icon_sizes.push_back(std::to_string(size));
  std::string per_run_text, templates;
  for (size_t i = 0; i < per_run.size(); ++i) per_run_text += (i ? i + 1 == per_run.size() ? " or " : ", " : "") + per_run[i];
  for (const std::string& kind : launcher_template_kinds())
    templates += (templates.empty() ? "" : ", ") + kind + (kind == "windowed" ? " (the default)" : "");
  BuildTexts with_company;
  with_company.company = "-";
  const std::pair<const char*, std::string> values[] = {
      {"MAX_NAME", std::to_string(payload_format::kMaxNameUnits)},
      {"WINDOW_LOG", std::to_string(payload_format::kWindowLog)},
      {"PLACEHOLDERS", indented(joined(placeholders))},
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
  std::string text = kUsage;
  for (const auto& [name, value] : values) {
    const std::string token = std::string("@") + name + "@";
    for (size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + value.size()))
      text.replace(at, token.size(), value);
  }
  return text;
}

struct UsageError {
  std::string text;
};

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

int parse_level(const std::string& value) {
  char* end = nullptr;
  errno = 0;
  const long level = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno != 0 || level < kMinLevel || level > kMaxLevel)
    throw UsageError{"--level: expected a whole number from " + std::to_string(kMinLevel) + " to " +
                     std::to_string(kMaxLevel) + ", got '" + value + "'"};
  return static_cast<int>(level);
}

// --list, --verify and --extract look into an app: one of them, with --to
// for --extract and --quiet, and nothing of packing.
void check_inspect_options(const Options& options, const std::set<std::string>& given) {
  const std::string command = !options.list.empty() ? "--list" : !options.verify.empty() ? "--verify" : "--extract";
  const std::set<std::string> allowed = {command, "--quiet", command == "--extract" ? "--to" : command};
  for (const std::string& option : given)
    if (!allowed.count(option))
      throw UsageError{option + ": does not apply to " + command + ", which looks into a packed app"};
  if (!options.excludes.empty() || !options.arguments.empty())
    throw UsageError{std::string(options.excludes.empty() ? "--arg" : "--exclude") + ": does not apply to " +
                     command + ", which looks into a packed app"};
  if (command == "--extract" && options.to.empty()) throw UsageError{"--extract: needs --to DIR, a new or empty folder"};
}

Options parse_options(const std::vector<std::string>& argv) {
  const int argc = static_cast<int>(argv.size());
  Options options;
  // --version alone asks for the packer's own version; with a value it is
  // the app's version text.
  if (argc == 2 && argv[1] == "--version") {
    options.show_version = true;
    return options;
  }
  std::set<std::string> seen;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::optional<std::string> inline_value;
    if (arg.rfind("--", 0) == 0) {
      if (const size_t eq = arg.find('='); eq != std::string::npos) {
        inline_value = arg.substr(eq + 1);
        arg.resize(eq);
      }
    }
    // Each option once: a repeated one would silently override the first.
    const std::string canonical = arg == "-o" ? "--output" : arg == "-q" ? "--quiet" : arg == "-h" ? "--help" : arg;
    const bool repeatable = canonical == "--arg" || canonical == "--exclude" || canonical == "--exclude-from";
    if (canonical.size() > 1 && canonical[0] == '-' && !repeatable && !seen.insert(canonical).second)
      throw UsageError{canonical + ": given more than once"};
    const auto value = [&]() -> std::string {
      if (inline_value) return *inline_value;
      if (i + 1 >= argc) throw UsageError{arg + ": needs a value"};
      return argv[++i];
    };
    const auto flag = [&] {
      if (inline_value) throw UsageError{arg + ": takes no value"};
    };
    if (arg == "--root") options.root = value();
    else if (arg == "--main") options.main = value();
    else if (arg == "--output" || arg == "-o") options.output = value();
    else if (arg == "--stored-payload") options.stored_payload = value();
    else if (arg == "--icon") options.icon = value();
    else if (arg == "--splash") options.splash = value();
    else if (arg == "--splash-text") options.splash_text = value();
    else if (arg == "--no-checks") flag(), options.check = false;
    else if (arg == "--company") options.company = value();
    else if (arg == "--product") options.product = value();
    else if (arg == "--version") options.version = value();
    else if (arg == "--target") options.target = value();
    else if (arg == "--cache") flag(), options.cache = true;
    else if (arg == "--level") options.compression.level = parse_level(value()), options.level_given = true;
    else if (arg == "--long") flag(), options.compression.long_matching = true;
    else if (arg == "--console") flag(), options.console = true;
    else if (arg == "--windowed") flag(), options.windowed = true;
    else if (arg == "--arg") options.arguments.push_back(value());
    else if (arg == "--follow-links") flag(), options.follow_links = true;
    else if (arg == "--exclude") options.excludes.emplace_back(false, value());
    else if (arg == "--exclude-from") options.excludes.emplace_back(true, value());
    else if (arg == "--list") options.list = value();
    else if (arg == "--verify") options.verify = value();
    else if (arg == "--extract") options.extract = value();
    else if (arg == "--to") options.to = value();
    else if (arg == "--payload-only") flag(), options.payload_only = true;
    else if (arg == "--quiet" || arg == "-q") flag(), options.quiet = true;
    else if (arg == "--help" || arg == "-h") flag(), options.help = true;
    else if (arg.size() > 1 && arg[0] == '-') throw UsageError{arg + ": unknown option (see --help)"};
    else throw UsageError{"'" + arg + "': unexpected argument (see --help)"};
  }
  if (options.help) return options;
  if (!options.list.empty() || !options.verify.empty() || !options.extract.empty()) {
    check_inspect_options(options, seen);
    return options;
  }
  if (!options.to.empty()) throw UsageError{"--to: the folder for --extract, which is missing"};
  if (options.output.empty()) throw UsageError{"--output: missing (see --help)"};
  if (options.console && options.windowed) throw UsageError{"--windowed: the output is either --console or --windowed"};
  if (options.console && (!options.splash.empty() || options.splash_text))
    throw UsageError{std::string(options.splash.empty() ? "--splash-text" : "--splash") +
                     ": a console launcher shows no start-up window; leave it out, or make a --windowed launcher"};
  if (!options.stored_payload.empty()) {
    if (!options.root.empty() || !options.main.empty() || options.payload_only || options.level_given ||
        options.compression.long_matching || !options.arguments.empty() || options.follow_links ||
        !options.excludes.empty())
      throw UsageError{"--stored-payload: uses a payload as it is; --root, --main, --arg, --follow-links, "
                       "--exclude, --payload-only, --level and --long do not apply"};
    return options;
  }
  if (options.root.empty()) throw UsageError{"--root: missing (see --help)"};
  if (options.main.empty()) throw UsageError{"--main: missing (see --help)"};
  if (options.payload_only &&
      (options.company || options.product || options.version || !options.icon.empty() || options.console ||
       options.windowed || options.target || options.cache || !options.arguments.empty() || !options.splash.empty() ||
       options.splash_text))
    throw UsageError{"--payload-only: --icon, --company, --product, --version, --console, --windowed, --arg, "
                     "--target, --cache, --splash and --splash-text only apply to a launcher"};
  return options;
}

// Progress on a terminal only: a line rewritten in place, at most ten
// times a second, cleared at the end.
class ProgressLine {
 public:
  explicit ProgressLine(bool enabled) : enabled_(enabled) {}
  ~ProgressLine() { clear(); }

  void update(const PackProgress& p) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - last_ < std::chrono::milliseconds(100) && p.files_done < p.files_total) return;
    last_ = now;
    shown_ = true;
    const double share = p.bytes_total ? 100.0 * p.bytes_done / p.bytes_total : 100.0;
    std::fprintf(stderr, "\rpacking: %zu/%zu files, %s of %s (%.0f %%), %s written\033[K", p.files_done,
                 p.files_total, size_text(p.bytes_done).c_str(), size_text(p.bytes_total).c_str(), share,
                 size_text(p.bytes_out).c_str());
    std::fflush(stderr);
  }

  void clear() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
  }

 private:
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_;
};

void print_summary(const Options& options, const PackProgress& p, uint64_t payload_bytes, const Tree& tree) {
  if (options.quiet) return;
  const double ratio = payload_bytes ? static_cast<double>(p.bytes_done) / payload_bytes : 0.0;
  // With patterns, also when they matched nothing: that is worth knowing.
  const std::string left_out = options.excludes.empty() ? ""
                               : "; " + std::to_string(tree.left_out_files) +
                                     (tree.left_out_files == 1 ? " file, " : " files, ") +
                                     size_text(tree.left_out_size) + " left out";
  std::fprintf(stderr, "onefile-pack: %s: %zu file%s, %s packed into a %s payload (ratio %.2f, level %d%s)%s\n",
               display_path(options.output).c_str(), p.files_done, p.files_done == 1 ? "" : "s",
               size_text(p.bytes_done).c_str(),
               size_text(payload_bytes).c_str(), ratio, options.compression.level,
               options.compression.long_matching ? ", long matching" : "", left_out.c_str());
}

PackProgress pack_payload(const Options& options, const Tree& tree, OutputFile& out,
                          std::vector<Sha256::Digest>* digests = nullptr) {
  ProgressLine line(!options.quiet && stderr_is_terminal());
  PackProgress done = write_stored_payload(
      tree, out, options.compression, [&](const PackProgress& p) { line.update(p); }, digests);
  line.clear();
  return done;
}

// The stored payload given with --stored-payload, checked before anything
// is written: a regular file within the size limit that starts with the
// stored payload's header.
void check_stored_payload(const Options& options) {
  const std::string& path = options.stored_payload;
  const FileInfo info = file_info(path, true);
  if (info.kind == FileKind::missing) throw PackError(path, "stored payload cannot be read: " + error_text(info.error));
  if (info.kind != FileKind::file) throw PackError(path, "stored payload is not a regular file");
  check_payload_size(path, info.size);
  if (!options.check) return;
  char header[payload_format::kHeaderSize] = {};
  InputFile file(path, "stored payload");
  const size_t n = file.read(header, sizeof header);
  if (n != sizeof header || std::memcmp(header, payload_format::kHeader, sizeof header) != 0)
    throw PackError(path, "is not a stored payload: it does not start with \"VOY\"");
}

// A cached app's folder holds the completion record at its top, under a
// name no file of the app may take.
void check_no_record_name(const Tree& tree) {
  std::u16string record;
  utf8_to_utf16(cache_record::kName, record);
  for (const TreeFile& file : tree.files)
    if (fold_case(file.name) == fold_case(record))
      throw PackError(file.path, "this name is the cache's completion record (--cache): rename the file");
}

// Completes the template launcher with the stored payload at `payload`.
void write_app(const Options& options, BuildTexts texts, const onefile_resources::IconGroup& icon, bool console,
               const std::string& payload) {
  if (options.cache) texts.cache_key = content_key(payload);
  onefile_resources::ResourceTexts resource_texts;
  resource_texts.company = texts.company;
  resource_texts.product = texts.product;
  resource_texts.version = texts.version;
  resource_texts.original_filename = output_file_name(options.output);
  LauncherInputs inputs;
  inputs.template_image = launcher_template(console ? "console" : "windowed");
  inputs.payload_path = payload;
  inputs.texts = texts;
  inputs.resources = [&](uint32_t rva) { return onefile_resources::make_resource_section(resource_texts, icon, rva); };
  OutputFile out(options.output, 0777);
  write_launcher(inputs, out);
  out.commit();
}

void run(const Options& options) {
  // The main decides what the output looks like when the options do not.
  std::optional<MainFile> main;
  bool program = false;
  ProgramMain from_program;
  ExcludeRules excludes;
  for (const auto& [from_file, text] : options.excludes)
    from_file ? excludes.add_file(text) : excludes.add(text, "--exclude");
  if (options.stored_payload.empty()) {
    check_root(options.root);
    main = resolve_main(options.root, options.main, options.follow_links);
    // A payload of its own needs no checks of what the launcher would run.
    const std::optional<ProgramMain> read = read_program_main(main->path, options.check && !options.payload_only);
    program = read.has_value();
    if (!program) check_library_place(*main);
    else from_program = *read;
    if (!program && !options.arguments.empty())
      throw PackError("--arg", "fixed arguments are for a program main; " + display_path(main->path) +
                                   " is a library, which receives the user's arguments only");
  }
  // With fixed arguments the program is a runtime that runs the packed app
  // (a script, a bundle): the output is that app, not the runtime, and takes
  // the runtime's kind only. Apps on one runtime then also get cache roots
  // of their own by default.
  const ProgramMain identity = options.arguments.empty() ? from_program : ProgramMain{};
  BuildTexts texts;
  texts.company = options.company.value_or(identity.company);
  texts.product =
      options.product.value_or(identity.product.empty() ? default_product(options.output) : identity.product);
  texts.version = options.version.value_or(identity.version.empty() ? kDefaultVersionText : identity.version);
  texts.file_version = texts.product_version = texts.version;
  if (program) {
    texts.program_main = main->relative;
    for (char& c : texts.program_main)
      if (c == '/') c = '\\';
    texts.arguments = options.arguments;
  }
  const bool console = options.console || (program && from_program.console && !options.windowed);
  // The splash would only add its bytes to a launcher that never shows it.
  if (console && (!options.splash.empty() || options.splash_text))
    throw PackError(options.splash.empty() ? "--splash-text" : "--splash",
                    display_path(main->path) + " is a console program, so the launcher is one too and shows no "
                    "start-up window; add --windowed to show it, or leave it out");

  // Everything the user gave is checked before any work is done.
  onefile_resources::IconGroup icon;
  if (!options.payload_only) {
    onefile_resources::check_version_text("--company", texts.company);
    onefile_resources::check_version_text("--product", texts.product);
    onefile_resources::check_version_text("--version", texts.version);
    texts.target_template = options.target.value_or(default_target_template(options.cache, texts));
    check_target_template(texts.target_template, options.cache, texts);
    for (const std::string& argument : options.arguments) check_fixed_argument(argument);
    if (!options.icon.empty())
      icon = onefile_resources::make_icon_group(onefile_resources::load_icon_source(std::filesystem::u8path(options.icon)));
    else if (!identity.icon.images.empty())
      icon = identity.icon;
    else
      icon = onefile_resources::make_icon_group(onefile_resources::default_icon_source());
    if (options.splash_text) {
      onefile_resources::check_version_text("--splash-text", *options.splash_text, "a line of the start-up window");
      texts.splash_text = *options.splash_text;
    }
    if (!options.splash.empty())
      texts.splash_image = onefile_resources::make_splash_bitmap(onefile_resources::load_png(
          std::filesystem::u8path(options.splash), "splash image", data_section::kMaxSplashSize));
  }

  if (!options.stored_payload.empty()) {
    check_output_path(options.output, {options.stored_payload, options.icon, options.splash});
    check_stored_payload(options);
    write_app(options, texts, icon, console, options.stored_payload);
    if (!options.quiet)
      std::fprintf(stderr, "onefile-pack: %s: written with the stored payload %s\n",
                   display_path(options.output).c_str(), display_path(options.stored_payload).c_str());
    return;
  }

  check_output_outside_root(options.root, options.output);
  check_output_path(options.output, {options.icon, options.splash});
  const Tree tree = collect_tree(options.root, main->relative, options.follow_links, &excludes);
  check_output_outside_tree(tree, options.output);
  if (options.cache) check_no_record_name(tree);
  // A main library the launcher cannot use would only fail on the user's
  // machine: refuse it now.
  if (!program && !options.payload_only && options.check)
    onefile_pe::check_main_library(std::filesystem::u8path(options.root) / std::filesystem::u8path(main->relative),
                                   "run_code");

  if (options.payload_only) {
    OutputFile out(options.output, 0666);
    const PackProgress done = pack_payload(options, tree, out);
    out.commit();
    print_summary(options, done, out.bytes_written(), tree);
    return;
  }

  TempDir temp;
  OutputFile payload(temp.file("payload.bin"), 0600);
  // A cached app's launcher carries each file's digest: an update's first
  // start takes the unchanged files from the folder of the build before.
  std::vector<Sha256::Digest> digests;
  const PackProgress done = pack_payload(options, tree, payload, options.cache ? &digests : nullptr);
  payload.commit();
  for (const Sha256::Digest& digest : digests) texts.file_digests.append(digest.begin(), digest.end());
  write_app(options, texts, icon, console, payload.final_path());
  print_summary(options, done, payload.bytes_written(), tree);
}

}  // namespace

int pack_main(int argc, char** argv) {
  Options options;
  try {
    options = parse_options(utf8_arguments(argc, argv));
#ifdef _WIN32
    // Paths are handled with '/' separators; Windows takes both.
    for (std::string* path : {&options.root, &options.main, &options.output, &options.stored_payload, &options.icon,
                              &options.splash, &options.list, &options.verify, &options.extract, &options.to})
      for (char& c : *path)
        if (c == '\\') c = '/';
    for (auto& [from_file, path] : options.excludes)
      if (from_file)
        for (char& c : path)
          if (c == '\\') c = '/';
#endif
  } catch (const UsageError& error) {
    std::fprintf(stderr, "onefile-pack: %s\n", display_path(error.text).c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(usage_text().c_str(), stdout);
    return 0;
  }
  if (options.show_version) {
    std::printf("onefile-pack %s\n", kPackerVersion);
    return 0;
  }
  try {
    if (!options.list.empty()) list_app(options.list);
    else if (!options.verify.empty()) verify_app(options.verify, options.quiet);
    else if (!options.extract.empty()) extract_app(options.extract, options.to, options.quiet);
    else run(options);
  } catch (const PackError& error) {
    std::fprintf(stderr, "onefile-pack: %s\n", error.what());
    return 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "onefile-pack: %s\n", error.what());
    return 1;
  }
  return 0;
}

#ifdef _WIN32
// Built with -municode; the arguments come from the wide command line.
int wmain(int argc, wchar_t**) { return pack_main(argc, nullptr); }
#else
int main(int argc, char** argv) { return pack_main(argc, argv); }
#endif
