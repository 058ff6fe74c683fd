// A Windows program as --main, packed and read back: the kind, icon and
// version texts the output takes from it, the data section's program
// fields, images refused for their machine (crafted here from the test DLL),
// fixed arguments refused for their placeholders, and --follow-links.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>

#include <gtest/gtest.h>

#include "contract/data_section.h"
#include "packer/le_bytes.h"
#include "packer/pe/pe_file.h"
#include "packer/resources/resources.h"
#include "packer/tests/test_util.h"

using namespace pack_test;

namespace {

// The test DLL with its machine, DLL flag and subsystem changed.
std::string crafted_image(uint16_t machine, bool dll, uint16_t subsystem) {
  using namespace onefile_pe::layout;
  std::string image = read_file(ONEFILE_TEST_MAIN_DLL);
  const onefile_pe::PeFile pe(std::vector<uint8_t>(image.begin(), image.end()));
  onefile_pack::set16(image, pe.file_header_offset() + kMachine, machine);
  const uint16_t others = pe.characteristics() & ~onefile_pe::kCharacteristicDll;
  onefile_pack::set16(image, pe.file_header_offset() + kCharacteristics,
                      others | (dll ? onefile_pe::kCharacteristicDll : 0));
  onefile_pack::set16(image, pe.optional_header_offset() + kSubsystem, subsystem);
  return image;
}

class ProgramMain : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef ONEFILE_TEST_MAIN_DLL
    GTEST_SKIP() << "no cross compiler for a test DLL";
#else
    // The "third-party program": a launcher packed from the test DLL, which
    // has an icon group and version texts of its own.
    dir_.write("dll/app.dll", read_file(ONEFILE_TEST_MAIN_DLL));
    onefile_resources::IconImage icon{64, std::vector<uint8_t>(64 * 64 * 4, 200)};
    dir_.write("icon.png", onefile_resources::encode_png(icon));
    const RunResult made =
        run_pack({"--root", dir_ / "dll", "--main", "app.dll", "--output", dir_ / "program.exe", "--quiet", "--level",
                  "1", "--console", "--icon", dir_ / "icon.png", "--company", "Acme Tools", "--product", "Widget",
                  "--version", "2.3.4.5"});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    dir_.write("root/bin/tool.bin", read_file(dir_ / "program.exe"));
    dir_.write("root/data/readme.txt", "hello");
#endif
  }

  RunResult pack(const std::string& output, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--root", dir_ / "root", "--main", "bin/tool.bin", "--output", output,
                                      "--quiet", "--level", "1"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_pack(args);
  }

  ScratchDir dir_;
};

std::vector<onefile_pe::Resource> resources_of(const onefile_pe::PeFile& pe) { return pe.resources(); }

}  // namespace

// Without --icon, --company, --product and --version the output shows the
// program's own icon group (every image, byte for byte) and texts, and is
// of the program's kind; the options still win.
TEST_F(ProgramMain, OutputTakesTheProgramsKindIconAndVersionTexts) {
  ASSERT_EQ(pack(dir_ / "out.exe").exit_code, 0);
  const onefile_pe::PeFile program = onefile_pe::PeFile::load(dir_ / "program.exe");
  const onefile_pe::PeFile out = onefile_pe::PeFile::load(dir_ / "out.exe");
  EXPECT_EQ(out.subsystem(), onefile_pe::kSubsystemWindowsConsole);
  const auto theirs = resources_of(program), ours = resources_of(out);
  size_t icons = 0;
  for (const onefile_pe::Resource& r : theirs) {
    if (!(r.type == onefile_pe::kResourceIcon)) continue;
    const onefile_pe::Resource* copy = onefile_pe::find_resource(ours, onefile_pe::kResourceIcon, r.name.id);
    ASSERT_NE(copy, nullptr) << r.name.id;
    EXPECT_EQ(copy->data, r.data);
    ++icons;
  }
  EXPECT_EQ(icons, 7u);
  EXPECT_EQ(onefile_pe::find_resource(ours, onefile_pe::kResourceGroupIcon, 1)->data,
            onefile_pe::find_resource(theirs, onefile_pe::kResourceGroupIcon, 1)->data);
  const auto strings = [](const std::vector<onefile_pe::Resource>& resources) {
    return onefile_pe::parse_version_info(onefile_pe::find_resource(resources, onefile_pe::kResourceVersion, 1)->data)
        .strings.begin()
        ->second;
  };
  EXPECT_EQ(strings(ours).at("CompanyName"), "Acme Tools");
  EXPECT_EQ(strings(ours).at("ProductName"), "Widget");
  EXPECT_EQ(strings(ours).at("FileVersion"), "2.3.4.5");
  // The program's path below the root; no fixed arguments.
  const auto fields = data_fields(read_file(dir_ / "out.exe"));
  EXPECT_EQ(fields.at(data_section::kProgramMain), utf16z({"bin\\tool.bin"}));
  EXPECT_EQ(fields.count(data_section::kArguments), 0u);
  EXPECT_EQ(fields.at(data_section::kProduct), utf16z({"Widget"}));

  onefile_resources::IconImage other{32, std::vector<uint8_t>(32 * 32 * 4, 90)};
  dir_.write("other.png", onefile_resources::encode_png(other));
  ASSERT_EQ(pack(dir_ / "own.exe", {"--windowed", "--icon", dir_ / "other.png", "--product", "Mine"}).exit_code, 0);
  const onefile_pe::PeFile own = onefile_pe::PeFile::load(dir_ / "own.exe");
  EXPECT_EQ(own.subsystem(), onefile_pe::kSubsystemWindowsGui);
  EXPECT_EQ(strings(resources_of(own)).at("ProductName"), "Mine");
  EXPECT_EQ(strings(resources_of(own)).at("CompanyName"), "Acme Tools");
  // The icon made from the given PNG, not the program's.
  EXPECT_NE(onefile_pe::find_resource(resources_of(own), onefile_pe::kResourceIcon, 1)->data,
            onefile_pe::find_resource(theirs, onefile_pe::kResourceIcon, 1)->data);
}

// The fixed arguments: one terminated text after the other, an empty one a
// lone terminator. A DLL main's data section keeps exactly its eight fields.
TEST_F(ProgramMain, FixedArgumentsAreStoredInOrder) {
  ASSERT_EQ(pack(dir_ / "args.exe", {"--arg", "{APP_DIR}\\app\\main.js", "--arg", "", "--arg", "two words"}).exit_code,
            0);
  EXPECT_EQ(data_fields(read_file(dir_ / "args.exe")).at(data_section::kArguments),
            utf16z({"{APP_DIR}\\app\\main.js", "", "two words"}));
  const auto dll_fields = data_fields(read_file(dir_ / "program.exe"));
  EXPECT_EQ(dll_fields.size(), 8u);
  EXPECT_EQ(dll_fields.count(data_section::kProgramMain) + dll_fields.count(data_section::kArguments), 0u);
}

// With fixed arguments the program is a runtime running the packed app: the
// output takes none of its texts or its icon (the defaults of a library
// main: the output's name, no company, 1.0.0.0, the project's icon), only
// its kind; the options still give them.
TEST_F(ProgramMain, WithFixedArgumentsTheOutputIsTheAppNotTheRuntime) {
  ASSERT_EQ(pack(dir_ / "script.exe", {"--arg", "{APP_DIR}\\main.js"}).exit_code, 0);
  const onefile_pe::PeFile out = onefile_pe::PeFile::load(dir_ / "script.exe");
  EXPECT_EQ(out.subsystem(), onefile_pe::kSubsystemWindowsConsole);
  const auto ours = resources_of(out);
  const auto theirs = resources_of(onefile_pe::PeFile::load(dir_ / "program.exe"));
  const auto strings = onefile_pe::parse_version_info(onefile_pe::find_resource(ours, onefile_pe::kResourceVersion, 1)->data)
                           .strings.begin()
                           ->second;
  EXPECT_EQ(strings.at("ProductName"), "script");
  EXPECT_EQ(strings.at("CompanyName"), "");
  EXPECT_EQ(strings.at("FileVersion"), "1.0.0.0");
  EXPECT_NE(onefile_pe::find_resource(ours, onefile_pe::kResourceIcon, 1)->data,
            onefile_pe::find_resource(theirs, onefile_pe::kResourceIcon, 1)->data);
  // The default cache root is the app's, named after the output.
  ASSERT_EQ(pack(dir_ / "cached.exe", {"--arg", "x", "--cache"}).exit_code, 0);
  const auto cached = data_fields(read_file(dir_ / "cached.exe"));
  EXPECT_EQ(cached.at(data_section::kTargetTemplate), utf16z({"{CACHE_DIR}\\Vorlan Onefile\\{PRODUCT}"}));
  EXPECT_EQ(cached.at(data_section::kProduct), utf16z({"cached"}));

  ASSERT_EQ(pack(dir_ / "named.exe", {"--arg", "x", "--product", "Named", "--company", "Us"}).exit_code, 0);
  const auto named = onefile_pe::parse_version_info(
                         onefile_pe::find_resource(resources_of(onefile_pe::PeFile::load(dir_ / "named.exe")),
                                                   onefile_pe::kResourceVersion, 1)
                             ->data)
                         .strings.begin()
                         ->second;
  EXPECT_EQ(named.at("ProductName"), "Named");
  EXPECT_EQ(named.at("CompanyName"), "Us");
}

// The main's kind comes from the image: a program for x64 or x86 is taken
// whatever its name; a program for another machine, a 32-bit DLL, fixed
// arguments for a DLL and unknown placeholders are refused with one line.
TEST_F(ProgramMain, ImagesAndArgumentsRefusedOrTaken) {
  struct Case {
    std::string image;
    std::vector<std::string> extra;
    std::string says;  // empty: packed
    uint16_t subsystem = 0;
  } const cases[] = {
      {crafted_image(0x8664, false, 3), {}, "", onefile_pe::kSubsystemWindowsConsole},
      {crafted_image(0x014c, false, 2), {}, "", onefile_pe::kSubsystemWindowsGui},
      {crafted_image(0x014c, false, 3), {"--windowed"}, "", onefile_pe::kSubsystemWindowsGui},
      {crafted_image(0xaa64, false, 3), {}, "bin/tool.bin: main program is built for ARM64 (machine 0xaa64)"},
      {crafted_image(0x01c4, false, 2), {}, "main program is built for ARM (machine 0x1c4)"},
      {crafted_image(0x8664, false, 1), {}, "main program is for subsystem 1"},
      {crafted_image(0x8664, false, 3), {"--arg", "{NOPE}"}, "--arg: unknown placeholder {NOPE}"},
      {crafted_image(0x8664, false, 3), {"--arg", "{TEMP"}, "--arg: the placeholder opened by '{' is never closed"},
      {crafted_image(0x8664, false, 3), {"--target", "{APP_DIR}\\x"}, "--target: {APP_DIR} is the folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    dir_.write("root/bin/tool.bin", c.image);
    const RunResult r = pack(dir_ / "crafted.exe", c.extra);
    if (c.says.empty()) {
      ASSERT_EQ(r.exit_code, 0) << r.err;
      EXPECT_EQ(onefile_pe::PeFile::load(dir_ / "crafted.exe").subsystem(), c.subsystem);
      unlink((dir_ / "crafted.exe").c_str());
      continue;
    }
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_FALSE(exists(dir_ / "crafted.exe"));
  }

  // A 32-bit DLL stays a library, and is refused as one.
  dir_.write("root/app.dll", crafted_image(0x014c, true, 2));
  RunResult r = run_pack({"--root", dir_ / "root", "--main", "app.dll", "--output", dir_ / "dll.exe", "--quiet"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("app.dll: main library is not a 64-bit Windows DLL (it is built for 32-bit x86)"),
            std::string::npos)
      << r.err;
  dir_.write("root/app.dll", read_file(ONEFILE_TEST_MAIN_DLL));
  r = run_pack({"--root", dir_ / "root", "--main", "app.dll", "--output", dir_ / "dll.exe", "--arg", "x"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("--arg: fixed arguments are for a program main"), std::string::npos) << r.err;
}

// A console program main makes a console launcher, which shows no start-up
// window: --splash and --splash-text are refused unless --windowed makes the
// launcher a windowed one.
TEST_F(ProgramMain, SplashIsRefusedForTheLauncherOfAConsoleProgram) {
  onefile_resources::IconImage image{8, std::vector<uint8_t>(8 * 8 * 4, 255)};
  dir_.write("splash.png", onefile_resources::encode_png(image));
  for (const std::vector<std::string>& splash :
       {std::vector<std::string>{"--splash", dir_ / "splash.png"}, {"--splash-text", "Starting"}}) {
    const RunResult r = pack(dir_ / "out.exe", splash);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "onefile-pack: " + splash[0] + ": " + dir_ / "root/bin/tool.bin" +
                         " is a console program, so the launcher is one too and shows no start-up window; add "
                         "--windowed to show it, or leave it out\n");
    EXPECT_NE(access((dir_ / "out.exe").c_str(), F_OK), 0);
    std::vector<std::string> windowed = splash;
    windowed.push_back("--windowed");
    EXPECT_EQ(pack(dir_ / "out.exe", windowed).exit_code, 0);
    std::remove((dir_ / "out.exe").c_str());
  }
}

// --follow-links packs a file link as the file's bytes and a folder link's
// files below the link's own name; a loop or a dangling link is refused with
// the link named, and without the option every link is, naming the option.
TEST(FollowLinks, PacksWhatLinksPointToAndRefusesLoopsAndDanglingLinks) {
  ScratchDir dir;
  dir.write("root/main.dll", "MZ");
  dir.write("root/real/a.txt", "file a");
  dir.write("root/real/sub/b.txt", "file b");
  ASSERT_EQ(symlink("real/a.txt", (dir / "root/link.txt").c_str()), 0);
  ASSERT_EQ(symlink("real", (dir / "root/linked").c_str()), 0);
  const auto pack = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = {"--root", dir / "root", "--main", "main.dll", "--payload-only",
                                      "--output", dir / "payload.bin", "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_pack(args);
  };
  RunResult r = pack({});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("/root/link.txt: symbolic links are not packed; pack what they point to with --follow-links"),
            std::string::npos)
      << r.err;

  ASSERT_EQ(pack({"--follow-links"}).exit_code, 0);
  std::map<std::u16string, std::string> entries;
  for (const auto& [name, content] : parse_payload(read_file(dir / "payload.bin")).entries) entries[name] = content;
  EXPECT_EQ(entries.at(u"link.txt"), "file a");
  EXPECT_EQ(entries.at(u"linked\\a.txt"), "file a");
  EXPECT_EQ(entries.at(u"linked\\sub\\b.txt"), "file b");
  EXPECT_EQ(entries.size(), 6u);

  struct Bad {
    const char* link;
    const char* target;
    const char* says;
  } const bad[] = {
      {"root/real/sub/up", "../..", "/sub/up: link leads to a folder it lies in, a loop"},
      {"root/self", "self", "/root/self: link is part of a loop of links"},
      {"root/gone", "missing.txt", "/root/gone: link leads nowhere"},
      {"root/device", "/dev/null", "/root/device: link leads to something other than a regular file or folder"},
  };
  for (const Bad& b : bad) {
    ASSERT_EQ(symlink(b.target, (dir / b.link).c_str()), 0);
    r = pack({"--follow-links"});
    EXPECT_EQ(r.exit_code, 1) << b.link;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_NE(r.err.find(b.says), std::string::npos) << r.err;
    unlink((dir / b.link).c_str());
  }
}

// An output that the root reaches through a link would be packed into the
// next build, which would grow with every build: the paths are compared
// resolved, and the output is refused as one inside the root is.
TEST(FollowLinks, RefusesAnOutputTheRootReachesThroughALink) {
  ScratchDir dir;
  dir.write("root/main.dll", "MZ");
  dir.write("out/earlier.bin", "an earlier build");
  ASSERT_EQ(symlink("../out", (dir / "root/builds").c_str()), 0);
  const auto pack = [&](const std::string& output) {
    return run_pack({"--root", dir / "root", "--main", "main.dll", "--payload-only", "--follow-links", "--output",
                     output, "--quiet"});
  };
  // In the linked folder, and in a folder below it; whether the output exists
  // yet or not.
  for (const std::string& output : {dir / "out/earlier.bin", dir / "out/next.bin", dir / "out/sub/next.bin"}) {
    dir.mkdir("out/sub");
    const RunResult r = pack(output);
    EXPECT_EQ(r.exit_code, 1) << output;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_NE(r.err.find(output + ": output lies in " + dir / "root/builds"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("a folder packed through a link (--follow-links); it would pack itself"), std::string::npos)
        << r.err;
  }
  EXPECT_EQ(read_file(dir / "out/earlier.bin"), "an earlier build");
  EXPECT_FALSE(exists(dir / "out/next.bin"));

  // A file link to the output.
  unlink((dir / "root/builds").c_str());
  ASSERT_EQ(symlink("../out/earlier.bin", (dir / "root/last.bin").c_str()), 0);
  RunResult r = pack(dir / "out/earlier.bin");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find(dir / "out/earlier.bin: output is packed as last.bin, a link to it (--follow-links)"),
            std::string::npos)
      << r.err;
  // Beside the linked file, not packed itself, it is fine.
  r = pack(dir / "out/next.bin");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(parse_payload(read_file(dir / "out/next.bin")).entries.size(), 2u);
}
