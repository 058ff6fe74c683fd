// onefile-pack: packs a folder into the stored payload of a single-exe
// Windows launcher and completes a copy of the embedded template launcher
// with it.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "contract/cache_record.h"
#include "contract/data_section.h"
#include "contract/format.h"
#include "packer/content_key.h"
#include "packer/exclude.h"
#include "packer/file_system.h"
#include "packer/inspect.h"
#include "packer/launcher_image.h"
#include "packer/names.h"
#include "packer/options.h"
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

// The main file and, for a program, what it says of itself.
struct Main {
  MainFile file;
  std::optional<ProgramMain> program;  // none for a main library
};

// The main that --main names, checked; none with a stored payload.
std::optional<Main> read_main(const Options& options) {
  if (!options.stored_payload.empty()) return std::nullopt;
  check_root(options.root);
  Main main{resolve_main(options.root, options.main, options.follow_links), std::nullopt};
  // A payload of its own needs no checks of what the launcher would run.
  main.program = read_program_main(main.file.path, options.check && !options.payload_only);
  if (!main.program) {
    check_library_place(main.file);
    if (!options.arguments.empty())
      throw PackError("--arg", "fixed arguments are for a program main; " + display_path(main.file.path) +
                                   " is a library, which receives the user's arguments only");
  }
  return main;
}

// The texts of the options, else of `identity` (a program main's own
// resources), else the defaults; and a program main's place and arguments.
BuildTexts app_texts(const Options& options, const std::optional<Main>& main, const ProgramMain& identity) {
  BuildTexts texts;
  texts.company = options.company.value_or(identity.company);
  texts.product =
      options.product.value_or(identity.product.empty() ? default_product(options.output) : identity.product);
  texts.version = options.version.value_or(identity.version.empty() ? kDefaultVersionText : identity.version);
  texts.file_version = texts.product_version = texts.version;
  if (main && main->program) {
    texts.program_main = main->file.relative;
    for (char& c : texts.program_main)
      if (c == '/') c = '\\';
    texts.arguments = options.arguments;
  }
  return texts;
}

// Checks what only a launcher carries and adds its target template and
// splash to `texts`.
void complete_launcher_texts(const Options& options, BuildTexts& texts) {
  onefile_resources::check_version_text("--company", texts.company);
  onefile_resources::check_version_text("--product", texts.product);
  onefile_resources::check_version_text("--version", texts.version);
  texts.target_template = options.target.value_or(default_target_template(options.cache, texts));
  check_target_template(texts.target_template, options.cache, texts);
  for (const std::string& argument : options.arguments) check_fixed_argument(argument);
}

void add_splash(const Options& options, BuildTexts& texts) {
  if (options.splash_text) {
    onefile_resources::check_version_text("--splash-text", *options.splash_text, "a line of the start-up window");
    texts.splash_text = *options.splash_text;
  }
  if (!options.splash.empty())
    texts.splash_image = onefile_resources::make_splash_bitmap(onefile_resources::load_png(
        std::filesystem::u8path(options.splash), "splash image", data_section::kMaxSplashSize));
}

// --icon, else `identity`'s icon, else the project's.
onefile_resources::IconGroup launcher_icon(const Options& options, const ProgramMain& identity) {
  if (!options.icon.empty())
    return onefile_resources::make_icon_group(
        onefile_resources::load_icon_source(std::filesystem::u8path(options.icon)));
  if (!identity.icon.images.empty()) return identity.icon;
  return onefile_resources::make_icon_group(onefile_resources::default_icon_source());
}

// Packs the folder into the output: the payload alone, or a launcher.
void pack_folder(const Options& options, const Main& main, const ExcludeRules& excludes, BuildTexts texts,
                 const onefile_resources::IconGroup& icon, bool console) {
  check_output_outside_root(options.root, options.output);
  check_output_path(options.output, {options.icon, options.splash});
  const Tree tree = collect_tree(options.root, main.file.relative, options.follow_links, &excludes);
  check_output_outside_tree(tree, options.output);
  if (options.cache) check_no_record_name(tree);
  // A main library the launcher cannot use would only fail on the user's
  // machine: refuse it now.
  if (!main.program && !options.payload_only && options.check)
    onefile_pe::check_main_library(std::filesystem::u8path(options.root) / std::filesystem::u8path(main.file.relative),
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

void run(const Options& options) {
  ExcludeRules excludes;
  for (const auto& [from_file, text] : options.excludes)
    from_file ? excludes.add_file(text) : excludes.add(text, "--exclude");
  const std::optional<Main> main = read_main(options);
  const bool program = main && main->program;
  // With fixed arguments the program is a runtime that runs the packed app
  // (a script, a bundle): the output is that app, not the runtime, and takes
  // the runtime's kind only. Apps on one runtime then also get cache roots
  // of their own by default.
  const ProgramMain identity = program && options.arguments.empty() ? *main->program : ProgramMain{};
  BuildTexts texts = app_texts(options, main, identity);
  const bool console = options.console || (program && main->program->console && !options.windowed);
  // The splash would only add its bytes to a launcher that never shows it.
  if (console && (!options.splash.empty() || options.splash_text))
    throw PackError(options.splash.empty() ? "--splash-text" : "--splash",
                    display_path(main->file.path) + " is a console program, so the launcher is one too and shows no "
                    "start-up window; add --windowed to show it, or leave it out");

  // Everything the user gave is checked before any work is done.
  onefile_resources::IconGroup icon;
  if (!options.payload_only) {
    complete_launcher_texts(options, texts);
    icon = launcher_icon(options, identity);
    add_splash(options, texts);
  }
  if (main) return pack_folder(options, *main, excludes, texts, icon, console);

  check_output_path(options.output, {options.stored_payload, options.icon, options.splash});
  check_stored_payload(options);
  write_app(options, texts, icon, console, options.stored_payload);
  if (!options.quiet)
    std::fprintf(stderr, "onefile-pack: %s: written with the stored payload %s\n", display_path(options.output).c_str(),
                 display_path(options.stored_payload).c_str());
}

}  // namespace

int pack_main(int argc, char** argv) {
  Options options;
  try {
    options = parse_options(utf8_arguments(argc, argv));
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
