#include "packer/inspect.h"

#include <cstdio>
#include <set>
#include <vector>

#include "contract/data_section.h"
#include "contract/little_endian.h"
#include "packer/file_system.h"
#include "packer/pack_error.h"
#include "packer/packed_app.h"
#include "packer/payload_reader.h"
#include "packer/size_text.h"
#include "packer/target_template.h"

namespace onefile_pack {

namespace {

// A payload name with '/' between folders, as --exclude patterns and the
// tree below --root write paths.
std::string slashed(const std::u16string& name) {
  std::string text = entry_text(name);
  for (char& c : text)
    if (c == '\\') c = '/';
  return text;
}

// Decodes the payload of `app`, turning a problem into "damaged: ...".
PayloadFacts read_payload(const PackedApp& app, EntryVisitor& visitor) {
  InputFile file(app.path, "packed app");
  file.seek(app.payload_offset);
  try {
    return read_stored_payload(file, app.payload_size, visitor);
  } catch (const PayloadProblem& problem) {
    throw PackError(app.path, std::string("damaged: ") + problem.what());
  }
}

std::string ratio_text(const PayloadFacts& facts) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f",
                facts.stored_size ? static_cast<double>(facts.content_size) / facts.stored_size : 0.0);
  return text;
}

std::string quoted(const std::string& text) { return "\"" + display_path(text) + "\""; }

void print_field(const char* name, const std::string& value) { std::printf("%-9s%s\n", name, value.c_str()); }

class ListVisitor : public EntryVisitor {
 public:
  void begin(const PayloadEntry& entry) override {
    if (entry.index == 1) main_ = entry.name;
    std::printf("%10s  %s\n", size_text(entry.size).c_str(), display_path(slashed(entry.name)).c_str());
  }
  std::u16string main_;
};

}  // namespace

void list_app(const std::string& path) {
  const PackedApp app = open_packed_app(path);
  ListVisitor visitor;
  const PayloadFacts facts = read_payload(app, visitor);

  std::printf("\n");
  print_field("files:", std::to_string(facts.files) + ", " + size_text(facts.content_size) + " unpacked");
  print_field("payload:", size_text(facts.stored_size) + " stored (ratio " + ratio_text(facts) + "), " +
                              (facts.checksummed ? "with" : "without") + " a content checksum");
  if (app.payload_only) {
    print_field("launcher:", "none: a stored payload on its own (--payload-only)");
    std::fflush(stdout);
    return;
  }
  print_field("kind:", app.console ? "console" : "windowed");
  if (app.has(data_section::kProgramMain)) {
    std::string main = app.text(data_section::kProgramMain);
    for (char& c : main)
      if (c == '\\') c = '/';
    std::string arguments;
    for (const std::string& argument : app.arguments()) arguments += " " + quoted(argument);
    print_field("main:", display_path(main) + ", a program" +
                             (arguments.empty() ? "" : "; fixed arguments:" + arguments));
  } else {
    print_field("main:", display_path(slashed(visitor.main_)) + ", a library whose run_code is called");
  }
  BuildTexts texts;
  texts.company = app.text(data_section::kCompany);
  texts.product = app.text(data_section::kProduct);
  texts.version = app.text(data_section::kVersion);
  print_field("product:", quoted(texts.product));
  print_field("company:", quoted(texts.company));
  print_field("version:", quoted(texts.version));
  // The packer writes one text for all three; show the others if they differ.
  for (const auto& [id, name] : {std::pair<uint32_t, const char*>{data_section::kFileVersion, "file version: "},
                                 {data_section::kProductVersion, "product version: "}})
    if (app.text(id) != texts.version) print_field("", name + quoted(app.text(id)));
  const std::string key = app.text(data_section::kCacheKey);
  const bool cache = !key.empty();
  // The packer writes the default out; an empty text means it too.
  const std::string fallback = default_target_template(cache, texts);
  std::string target = app.text(data_section::kTargetTemplate);
  if (target.empty()) target = fallback;
  print_field("target:", display_path(target) + (target == fallback ? " (the default)" : ""));
  print_field("cache:", cache ? "yes, key " + display_path(key) : "no");
  std::string splash = "none";
  const auto image = app.fields.find(data_section::kSplashImage);
  if (image != app.fields.end()) {
    const auto* header = reinterpret_cast<const unsigned char*>(image->second.data());
    const auto width = static_cast<int32_t>(little_endian::read(header + 4, 4));
    const auto height = -static_cast<int32_t>(little_endian::read(header + 8, 4));
    splash = std::to_string(width) + " x " + std::to_string(height) + " pixels";
  }
  if (app.has(data_section::kSplashText))
    splash += (image == app.fields.end() ? "; text " : ", text ") + quoted(app.text(data_section::kSplashText));
  print_field("splash:", splash);
  std::fflush(stdout);
}

void verify_app(const std::string& path, bool quiet) {
  const PackedApp app = open_packed_app(path);
  EntryVisitor nothing;
  const PayloadFacts facts = read_payload(app, nothing);
  std::string checks = facts.checksummed ? "its content checksum matches" : "it has no content checksum";
  if (!app.payload_only) {
    // After the sections only a signature may follow, up to the file's end.
    const bool signed_app = app.signature_size != 0;
    if (signed_app) {
      if (app.signature_offset < app.sections_end || app.signature_offset - app.sections_end >= 8)
        throw PackError(path, "damaged: the signature does not follow the sections");
      if (app.signature_offset + app.signature_size > app.file_size)
        throw PackError(path, "damaged: the file is cut short inside its signature");
    }
    const uint64_t end = signed_app ? app.signature_offset + app.signature_size : app.sections_end;
    if (app.file_size > end)
      throw PackError(path, "damaged: " + std::to_string(app.file_size - end) + " bytes follow the " +
                                (signed_app ? "signature" : "last section") + " that no packer wrote");
    if (app.checksum != 0) {
      if (file_pe_checksum(app) != app.checksum)
        throw PackError(path, "damaged: the executable's checksum does not match: its bytes were altered after "
                              "packing (or signing)");
      checks += ", the executable's checksum matches";
    } else {
      checks += ", the executable carries no checksum";
    }
    if (signed_app) checks += "; signed (check the signature itself with your signing tool)";
  }
  if (quiet) return;
  std::printf("onefile-pack: %s: intact: %zu file%s, %s in a %s payload; %s\n", display_path(path).c_str(),
              facts.files, facts.files == 1 ? "" : "s", size_text(facts.content_size).c_str(),
              size_text(facts.stored_size).c_str(), checks.c_str());
  std::fflush(stdout);
}

namespace {

// Writes each entry below the folder; remembers what it made, so that a
// failure can take it away again.
class Extractor : public EntryVisitor {
 public:
  explicit Extractor(const std::string& to) : to_(to) {}

  void begin(const PayloadEntry& entry) override {
    stop_if_interrupted();
    std::string relative;
    for (size_t i = 0; i < entry.name.size(); ++i) {
      const char16_t unit = entry.name[i];
      const bool high = unit >= 0xD800 && unit <= 0xDBFF, low = unit >= 0xDC00 && unit <= 0xDFFF;
      if (low || (high && (i + 1 == entry.name.size() || entry.name[i + 1] < 0xDC00 || entry.name[i + 1] > 0xDFFF)))
        throw PackError(entry_text(entry.name), "cannot be extracted: the name holds a lone UTF-16 surrogate");
      if (high) ++i;
    }
    relative = slashed(entry.name);
    for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1))
      make(relative.substr(0, slash));
    path_ = to_ + "/" + relative;
    remember(relative);
    int error = 0;
    if (!file_.create(path_, error)) throw PackError(path_, "cannot be written: " + error_text(error));
  }

  void content(const unsigned char* data, size_t size) override {
    stop_if_interrupted();
    int error = 0;
    if (!file_.write(data, size, error)) throw PackError(path_, "cannot be written: " + error_text(error));
  }

  void end(const PayloadEntry&) override {
    int error = 0;
    if (!file_.close(error)) throw PackError(path_, "cannot be written: " + error_text(error));
  }

  // Takes away what was written: the file being written, then each name
  // made at the top, with everything below it.
  void undo() {
    int ignored;
    file_.close(ignored);
    for (const std::string& name : top_) remove_tree(to_ + "/" + name);
  }

  struct Interrupted {};

 private:
  static void stop_if_interrupted() {
    if (interrupted()) throw Interrupted{};
  }

  void make(const std::string& relative) {
    if (!folders_.insert(relative).second) return;
    remember(relative);
    int error = 0;
    if (!make_folder(to_ + "/" + relative, error))
      throw PackError(to_ + "/" + relative, "cannot be made: " + error_text(error));
  }

  // A name at the top is noted before it is made.
  void remember(const std::string& relative) { top_.insert(relative.substr(0, relative.find('/'))); }

  std::string to_;
  std::string path_;
  NewFile file_;
  std::set<std::string> folders_;
  std::set<std::string> top_;
};

}  // namespace

void extract_app(const std::string& path, const std::string& to, bool quiet) {
  const PackedApp app = open_packed_app(path);
  if (to.empty()) throw PackError("--to", "empty folder name");
  const FileInfo info = file_info(to, true);
  bool made = false;
  if (info.kind == FileKind::folder) {
    if (!list_folder(to).empty())
      throw PackError(to, "exists and is not empty; extract into a new folder or an empty one");
  } else if (info.kind != FileKind::missing) {
    throw PackError(to, "exists and is not a folder");
  }
  // From here an interruption stops at the next piece, so that what was
  // written can go again.
  defer_interrupts();
  if (info.kind == FileKind::missing) {
    int error = 0;
    if (!make_folder(to, error)) throw PackError(to, "cannot be made: " + error_text(error));
    made = true;
  }
  Extractor extractor(to);
  const auto undo = [&] {
    extractor.undo();
    if (made) remove_folder(to.c_str());
  };
  PayloadFacts facts;
  try {
    facts = read_payload(app, extractor);
  } catch (const Extractor::Interrupted&) {
    undo();
    end_interrupted();
  } catch (...) {
    undo();
    throw;
  }
  if (interrupted()) {
    undo();
    end_interrupted();
  }
  if (quiet) return;
  std::fprintf(stderr, "onefile-pack: %s: %zu file%s, %s extracted into %s\n", display_path(path).c_str(),
               facts.files, facts.files == 1 ? "" : "s", size_text(facts.content_size).c_str(),
               display_path(to).c_str());
}

}  // namespace onefile_pack
