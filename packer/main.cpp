// onefile-pack: packs a folder into the stored payload of a single-exe
// Windows launcher and links the launcher around it.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "packer/link.h"
#include "packer/pe/pe_file.h"
#include "packer/resources/resources.h"
#include "packer/output_file.h"
#include "packer/pack_error.h"
#include "packer/payload_writer.h"
#include "packer/tree.h"

using namespace onefile_pack;

namespace {

const char kUsage[] = R"(Usage: onefile-pack --root DIR --main NAME --output APP.exe [options]
       onefile-pack --root DIR --main NAME --payload-only --output FILE [options]
       onefile-pack --stored-payload FILE --output APP.exe [options]

Packs every file below DIR into one 64-bit Windows executable. When started,
the executable unpacks the files into a fresh folder under the temporary
folder, runs the main library's run_code export, and deletes the folder
when the application ends.

Input:
  --root DIR             The folder to pack. Every regular file below it is
                         packed under its path relative to DIR; folders that
                         hold no file are not kept. Refused, with the file
                         named: symbolic links (replace a link by the file or
                         folder it points to), devices, pipes and sockets,
                         unreadable files, names Windows cannot hold as they
                         are (a colon, a backslash, < > " | ? *, control
                         characters, a trailing dot or blank, device names
                         such as CON or NUL.txt, invalid UTF-8, more than 1023
                         UTF-16 code units for the path below DIR), and names
                         that differ only in case.
  --main NAME            The application's main library: a 64-bit Windows DLL
                         exporting run_code (checked before linking; see
                         --no-check-main). NAME is relative to DIR (or any
                         path to the file); the library must lie directly in
                         DIR, not in a subfolder, and its name must end in
                         .dll. It is stored first.
  --stored-payload FILE  Link FILE, byte for byte, as the stored payload
                         instead of packing a folder (for payloads written
                         with --payload-only or elsewhere). Not combined with
                         --root, --main, --payload-only, --level or --long.

  --no-check-main        Link even when the main library is not a 64-bit DLL
                         exporting run_code (the launcher then fails at run
                         time); for tests of such failures.

Output:
  -o, --output FILE      The file to write. It is written under a temporary
                         name beside FILE and renamed into place when complete,
                         so a failed run leaves nothing. It may not lie inside
                         DIR.
  --console              Link a console program instead of a windowed one.
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
  --payload-only         Write only the stored payload ("VOY", one Zstandard
                         frame with a 2^27-byte window, padding and length);
                         link nothing.

Compression:
  --level N              Zstandard level from 1 (fastest) to 22 (smallest).
                         Default 19, chosen by measurement on a 221 MiB mixed
                         tree (Windows DLLs, C headers, random data, small
                         gzip files) on two cores: level 19 gave 80.2 MB in
                         about 40 s, 4 % less than level 12 (83.7 MB, 5 s)
                         and 7 % less than level 9 (86.4 MB, 2 s); level 22
                         saved 0.25 % more with 1.6 GB of memory. Unpacking
                         is as fast at any level. Use 3 to 9 for quick test
                         builds.
  --long                 Long-distance matching over the whole 128 MiB
                         window, for levels 1 to 15 (levels 16 and up use it
                         anyway with this window): smaller payloads when
                         large files repeat, slower.
  The same tree and options give the same bytes whatever the number of
  cores (with the same libzstd release).

Build-time texts (what the launcher's {COMPANY}, {PRODUCT}, {VERSION},
{FILE_VERSION} and {PRODUCT_VERSION} placeholders give):
  --company TEXT         Default: empty.
  --product TEXT         Default: the output's file name without ".exe".
  --version TEXT         The version, file version and product version text.
                         Default: 1.0.0.0.

Executable resources:
  --icon FILE            The app's icon: a square PNG (256x256 or larger is
                         best) or an .ico; it is resampled to 16, 24, 32, 48,
                         64, 128 and 256 pixels, kept as 32-bit PNG images.
                         Default: the project's own icon.
  The version information carries the texts above (CompanyName,
  ProductName, FileVersion, ProductVersion; the numeric version when the
  version text reads like 1.2.3.4). The manifest asks for the invoker's
  execution level, declares long-path awareness, uses the common controls
  6.0 and lists Windows Vista to Windows 10 as supported.

Linking:
  --kit DIR              The launcher kit: the two entry objects and the
                         launcher's static libraries, as the Windows build
                         writes them. Default: $ONEFILE_KIT, else lib/onefile
                         beside the folder of this program (build/bin ->
                         build/lib/onefile).
  The cross compiler is $ONEFILE_CXX if set, else x86_64-w64-mingw32-g++-posix
  or x86_64-w64-mingw32-g++ from PATH; the resource compiler is
  $ONEFILE_WINDRES if set, else the windres of the same toolchain. The launcher's sources are not
  compiled; its prebuilt objects are linked with the payload.

Other:
  -q, --quiet            No progress and no summary on standard error.
  -h, --help             Show this text.

Exit status: 0 on success, 1 when packing or linking fails, 2 for a wrong
command line. A failure is reported as one line on standard error that
names the file or option and the reason (a failed link adds the
compiler's output).
)";

struct UsageError {
  std::string text;
};

struct Options {
  std::string root, main, output, stored_payload, kit, icon;
  bool payload_only = false, quiet = false, help = false, check_main = true, console = false;
  CompressionSettings compression;
  std::optional<std::string> company, product, version;
  bool level_given = false;
};

int parse_level(const std::string& value) {
  char* end = nullptr;
  errno = 0;
  const long level = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno != 0 || level < kMinLevel || level > kMaxLevel)
    throw UsageError{"--level: expected a whole number from 1 to 22, got '" + value + "'"};
  return static_cast<int>(level);
}

Options parse_options(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::optional<std::string> inline_value;
    if (arg.rfind("--", 0) == 0) {
      if (const size_t eq = arg.find('='); eq != std::string::npos) {
        inline_value = arg.substr(eq + 1);
        arg.resize(eq);
      }
    }
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
    else if (arg == "--kit") options.kit = value();
    else if (arg == "--icon") options.icon = value();
    else if (arg == "--no-check-main") flag(), options.check_main = false;
    else if (arg == "--company") options.company = value();
    else if (arg == "--product") options.product = value();
    else if (arg == "--version") options.version = value();
    else if (arg == "--level") options.compression.level = parse_level(value()), options.level_given = true;
    else if (arg == "--long") flag(), options.compression.long_matching = true;
    else if (arg == "--console") flag(), options.console = true;
    else if (arg == "--payload-only") flag(), options.payload_only = true;
    else if (arg == "--quiet" || arg == "-q") flag(), options.quiet = true;
    else if (arg == "--help" || arg == "-h") flag(), options.help = true;
    else if (arg.size() > 1 && arg[0] == '-') throw UsageError{arg + ": unknown option (see --help)"};
    else throw UsageError{"'" + arg + "': unexpected argument (see --help)"};
  }
  if (options.help) return options;
  if (options.output.empty()) throw UsageError{"--output: missing (see --help)"};
  if (!options.stored_payload.empty()) {
    if (!options.root.empty() || !options.main.empty() || options.payload_only || options.level_given ||
        options.compression.long_matching)
      throw UsageError{"--stored-payload: links a payload as it is; --root, --main, --payload-only, --level "
                       "and --long do not apply"};
    return options;
  }
  if (options.root.empty()) throw UsageError{"--root: missing (see --help)"};
  if (options.main.empty()) throw UsageError{"--main: missing (see --help)"};
  if (options.payload_only &&
      (!options.kit.empty() || options.company || options.product || options.version || !options.icon.empty() ||
       options.console))
    throw UsageError{
        "--payload-only: --kit, --icon, --company, --product, --version and --console only apply to a launcher"};
  return options;
}

std::string size_text(uint64_t bytes) {
  char text[32];
  if (bytes < 1024)
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  else if (bytes < (1 << 20))
    std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
  else if (bytes < (1ull << 30))
    std::snprintf(text, sizeof text, "%.1f MiB", bytes / 1048576.0);
  else
    std::snprintf(text, sizeof text, "%.2f GiB", bytes / 1073741824.0);
  return text;
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

void print_summary(const Options& options, const PackProgress& p, uint64_t payload_bytes) {
  if (options.quiet) return;
  const double ratio = payload_bytes ? static_cast<double>(p.bytes_done) / payload_bytes : 0.0;
  std::fprintf(stderr, "onefile-pack: %s: %zu file%s, %s packed into a %s payload (ratio %.2f, level %d%s)\n",
               display_path(options.output).c_str(), p.files_done, p.files_done == 1 ? "" : "s",
               size_text(p.bytes_done).c_str(),
               size_text(payload_bytes).c_str(), ratio, options.compression.level,
               options.compression.long_matching ? ", long matching" : "");
}

PackProgress pack_payload(const Options& options, const Tree& tree, OutputFile& out) {
  ProgressLine line(!options.quiet && isatty(STDERR_FILENO));
  PackProgress done =
      write_stored_payload(tree, out, options.compression, [&](const PackProgress& p) { line.update(p); });
  line.clear();
  return done;
}

// The windres of the cross compiler's toolchain: the driver's name with
// "g++..." replaced by "windres" (x86_64-w64-mingw32-g++-posix gives
// x86_64-w64-mingw32-windres), unless $ONEFILE_WINDRES names one.
std::string find_windres(const std::string& compiler) {
  if (const char* env = std::getenv("ONEFILE_WINDRES"); env && *env) return env;
  const size_t slash = compiler.rfind('/');
  const size_t gxx = compiler.find("g++", slash == std::string::npos ? 0 : slash + 1);
  if (gxx == std::string::npos) return "windres";
  return compiler.substr(0, gxx) + "windres";
}

// Compiles icon, version information and manifest into an object for the
// link, in `temp`.
void add_resources(const Options& options, const BuildTexts& texts,
                   const std::optional<onefile_resources::IconImage>& icon, LinkInputs& link, TempDir& temp) {
  onefile_resources::ResourceTexts resource_texts;
  resource_texts.company = texts.company;
  resource_texts.product = texts.product;
  resource_texts.version = texts.version;
  resource_texts.original_filename = std::filesystem::path(options.output).filename().string();
  link.extra_objects.push_back(
      onefile_resources::build_resource_object(resource_texts, icon, temp.file("resources"),
                                               find_windres(link.compiler))
          .string());
}

void run(const Options& options) {
  BuildTexts texts;
  texts.company = options.company.value_or("");
  texts.product = options.product.value_or(default_product(options.output));
  texts.version = options.version.value_or("1.0.0.0");

  // Everything the user gave is checked before any work is done.
  LinkInputs link;
  std::optional<onefile_resources::IconImage> icon;
  if (!options.payload_only) {
    onefile_resources::check_version_text("--company", texts.company);
    onefile_resources::check_version_text("--product", texts.product);
    onefile_resources::check_version_text("--version", texts.version);
    if (!options.icon.empty()) icon = onefile_resources::load_icon_source(options.icon);
    link.compiler = find_cross_compiler();
    link.kit = find_kit(options.kit);
    link.texts = texts;
    link.console = options.console;
  }

  if (!options.stored_payload.empty()) {
    link.payload = options.stored_payload;
    OutputFile out(options.output, 0777);
    TempDir temp;
    add_resources(options, texts, icon, link, temp);
    link_launcher(link, temp, out);
    out.commit();
    if (!options.quiet)
      std::fprintf(stderr, "onefile-pack: %s: linked with the stored payload %s\n",
                   display_path(options.output).c_str(), display_path(options.stored_payload).c_str());
    return;
  }

  check_root(options.root);
  const std::string main_name = resolve_main_name(options.root, options.main);
  check_output_outside_root(options.root, options.output);
  const Tree tree = collect_tree(options.root, main_name);
  // A main library the launcher cannot use would only fail on the user's
  // machine: refuse it now.
  if (!options.payload_only && options.check_main)
    onefile_pe::check_main_library(std::filesystem::path(options.root) / main_name, "run_code");

  if (options.payload_only) {
    OutputFile out(options.output, 0666);
    const PackProgress done = pack_payload(options, tree, out);
    out.commit();
    print_summary(options, done, out.bytes_written());
    return;
  }

  TempDir temp;
  OutputFile payload(temp.file("payload.bin"), 0600);
  const PackProgress done = pack_payload(options, tree, payload);
  payload.commit();
  link.payload = payload.final_path();
  add_resources(options, texts, icon, link, temp);
  OutputFile out(options.output, 0777);
  link_launcher(link, temp, out);
  out.commit();
  print_summary(options, done, payload.bytes_written());
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = parse_options(argc, argv);
  } catch (const UsageError& error) {
    std::fprintf(stderr, "onefile-pack: %s\n", display_path(error.text).c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  try {
    run(options);
  } catch (const PackError& error) {
    std::fprintf(stderr, "onefile-pack: %s\n%s", error.what(), error.details().c_str());
    return 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "onefile-pack: %s\n", error.what());
    return 1;
  }
  return 0;
}
