// Linking a packed launcher: the launcher kit's prebuilt objects plus one
// generated assembly file that holds the stored payload (through .incbin)
// and the build-time texts, linked by the mingw-w64 cross compiler driver.
// The launcher's sources are never compiled here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace onefile_pack {

class OutputFile;
class TempDir;

// The launcher kit's files, all needed for every link.
extern const char* const kKitFiles[7];

struct BuildTexts {
  std::string company;  // UTF-8
  std::string product;
  std::string version;  // also the file and product version texts
};

// Everything one link needs. Further inputs (a compiled resource object)
// go into extra_objects; they are linked after the generated object.
struct LinkInputs {
  std::string compiler;  // the cross g++ driver
  std::string kit;       // folder holding kKitFiles
  std::string payload;   // the stored payload, linked byte for byte
  BuildTexts texts;
  bool console = false;  // console subsystem and entry instead of the windowed ones
  std::vector<std::string> extra_objects;
};

// The cross compiler: $ONEFILE_CXX if set (a path, or a name looked up in
// $PATH), else x86_64-w64-mingw32-g++-posix, else x86_64-w64-mingw32-g++
// from $PATH. Throws PackError when none is found.
std::string find_cross_compiler();

// The launcher kit folder: `option` (--kit) if given, else $ONEFILE_KIT,
// else lib/onefile beside the packer's own bin folder. Throws PackError
// naming the folder when it or one of kKitFiles is missing.
std::string find_kit(const std::string& option);

// The product text used when --product is absent: the output's file name
// without a final ".exe" (any case).
std::string default_product(const std::string& output_path);

// `text` as a GNU as string literal, quotes included: quotes and
// backslashes escaped, bytes outside printable ASCII written in octal.
std::string quote_for_assembler(const std::string& text);

// The generated assembly: onefile_payload (the file at `payload_path`),
// onefile_payload_size, and the five texts as NUL-terminated UTF-16LE
// arrays, all in read-only data. Throws PackError when a text is not UTF-8.
std::string link_assembly(const std::string& payload_path, uint64_t payload_size, const BuildTexts& texts);

// The compiler's argument vector for linking `assembly` into `output`.
std::vector<std::string> link_command(const LinkInputs& inputs, const std::string& assembly,
                                      const std::string& output);

// Writes the assembly into `temp` and links the launcher into out's
// temporary path. Throws PackError with the compiler's output on failure.
void link_launcher(const LinkInputs& inputs, TempDir& temp, OutputFile& out);

}  // namespace onefile_pack
