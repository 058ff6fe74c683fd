// Linking packed launchers: the generated assembly, and whole links with a
// small stand-in kit built here by the cross compiler (skipped without one)
// and with the real launcher kit when the Windows build has written it.
#include "packer/link.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "packer/pack_error.h"
#include "packer/process.h"
#include "packer/tests/test_util.h"

using namespace onefile_pack;
using namespace pack_test;

namespace {

std::string cross_compiler() {
  for (const char* name : {"x86_64-w64-mingw32-g++-posix", "x86_64-w64-mingw32-g++"})
    if (std::string path = find_in_path(name); !path.empty()) return path;
  return {};
}

bool contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

std::string utf16le(const std::u16string& text) {
  std::string bytes;
  for (const char16_t unit : text) bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  return bytes;
}

bool is_pe(const std::string& bytes) {
  if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0) return false;
  const uint32_t pe = static_cast<uint8_t>(bytes[0x3C]) | static_cast<uint8_t>(bytes[0x3D]) << 8;
  return bytes.size() > pe + 6 && bytes.compare(pe, 4, std::string("PE\0\0", 4)) == 0 &&
         static_cast<uint8_t>(bytes[pe + 4]) == 0x64 && static_cast<uint8_t>(bytes[pe + 5]) == 0x86;
}

// The one line, then the details; the line must start with the subject.
void expect_error(const RunResult& result, const std::string& line_part) {
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err.rfind("onefile-pack: ", 0), 0u) << result.err;
  EXPECT_TRUE(contains(result.err.substr(0, result.err.find('\n')), line_part)) << result.err;
}

}  // namespace

TEST(LinkAssembly, QuotesPathsForTheAssembler) {
  EXPECT_EQ(quote_for_assembler("/t/a \"b\"\\c\n\xC3\xA9.bin"), "\"/t/a \\\"b\\\"\\\\c\\012\\303\\251.bin\"");
}

TEST(LinkAssembly, DefinesPayloadSizeAndTextsAsUtf16) {
  const std::string assembly = link_assembly("/t/p.bin", 1234, {"", "Caf\xC3\xA9", "1.2\xF0\x9F\x98\x80"});
  EXPECT_TRUE(contains(assembly, ".section .rdata,\"dr\"\n"));
  EXPECT_TRUE(contains(assembly, "onefile_payload:\n.incbin \"/t/p.bin\"\n"));
  EXPECT_TRUE(contains(assembly, "onefile_payload_size:\n.quad 1234\n"));
  EXPECT_TRUE(contains(assembly, "onefile_company:\n.short 0x0000\n"));
  EXPECT_TRUE(contains(assembly, "onefile_product:\n.short 0x0043,0x0061,0x0066,0x00e9,0x0000\n"));
  for (const char* symbol : {"onefile_version", "onefile_file_version", "onefile_product_version"})
    EXPECT_TRUE(contains(assembly, std::string(symbol) + ":\n.short 0x0031,0x002e,0x0032,0xd83d,0xde00,0x0000\n"))
        << symbol;
  EXPECT_THROW(link_assembly("/t/p.bin", 1, {"\xFF", "", ""}), PackError);
}

TEST(LinkAssembly, DefaultProductIsTheOutputNameWithoutExe) {
  EXPECT_EQ(default_product("out/My App.EXE"), "My App");
  EXPECT_EQ(default_product("tool"), "tool");
  EXPECT_EQ(default_product("a.exe.bak"), "a.exe.bak");
}

// A stand-in for the launcher kit: an entry object that uses every symbol
// of the generated object, and libraries that hold next to nothing.
class FakeKitLink : public ::testing::Test {
 protected:
  void SetUp() override {
    compiler_ = cross_compiler();
    if (compiler_.empty()) GTEST_SKIP() << "no mingw-w64 cross compiler";
    kit_ = dir_.mkdir("kit");
    build_kit(kit_, "");
    dir_.write("root/app.dll", "MZ" + random_bytes(4000, 5));
    dir_.write("root/data/readme.txt", "hello");
  }

  void build_kit(const std::string& kit, const std::string& extra_call) {
    const std::string entry = dir_.write("src/entry.cpp",
        "#include <windows.h>\n"
        "extern \"C\" const unsigned char onefile_payload[];\n"
        "extern \"C\" const unsigned long long onefile_payload_size;\n"
        "extern \"C\" const wchar_t onefile_company[], onefile_product[], onefile_version[],\n"
        "    onefile_file_version[], onefile_product_version[];\n"
        "int core_value();\n" + extra_call + "\n"
        "int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {\n"
        "  return core_value() + (int)onefile_payload_size + onefile_payload[0] + onefile_company[0] +\n"
        "         onefile_product[0] + onefile_version[0] + onefile_file_version[0] + onefile_product_version[0];\n"
        "}\n");
    const std::string core = dir_.write("src/core.cpp", "int core_value() { return 7; }\n");
    ASSERT_EQ(run(compiler_, {"-municode", "-c", entry, "-o", kit + "/entry.obj"}).exit_code, 0);
    std::filesystem::copy_file(kit + "/entry.obj", kit + "/console_entry.obj");
    ASSERT_EQ(run(compiler_, {"-c", core, "-o", dir_ / "src/core.o"}).exit_code, 0);
    std::string ar = compiler_.substr(0, compiler_.rfind("g++")) + "ar";
    ASSERT_EQ(run(ar, {"rcs", kit + "/libonefile_launcher_core.a", dir_ / "src/core.o"}).exit_code, 0);
    for (const char* lib : {"libonefile_payload.a", "libonefile_paths.a", "libonefile_diag.a", "libzstd.a"})
      std::ofstream(kit + "/" + lib) << "!<arch>\n";  // an empty archive
  }

  std::vector<std::string> pack_args(const std::string& output) {
    return {"--root", dir_ / "root", "--main", "app.dll", "--no-check-main", "--kit", kit_, "--output", output, "--quiet"};
  }

  ScratchDir dir_;
  std::string compiler_;
  std::string kit_;
};

TEST_F(FakeKitLink, LinksThePayloadAndTextsReproducibly) {
  auto args = pack_args(dir_ / "App.exe");
  args.insert(args.end(), {"--company", "Vorlan Test", "--version", "2.5.0.1"});
  RunResult result = run_pack(args);
  ASSERT_EQ(result.exit_code, 0) << result.err;
  const std::string exe = read_file(dir_ / "App.exe");
  EXPECT_TRUE(is_pe(exe));

  // The stored payload of the same tree is in the launcher byte for byte.
  result = run_pack({"--root", dir_ / "root", "--main", "app.dll", "--payload-only", "--output", dir_ / "p.bin"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  const std::string payload = read_file(dir_ / "p.bin");
  EXPECT_TRUE(contains(exe, payload));
  EXPECT_TRUE(contains(exe, utf16le(u"Vorlan Test") + std::string(2, '\0')));
  EXPECT_TRUE(contains(exe, utf16le(u"App") + std::string(2, '\0')));  // product from the output name
  EXPECT_TRUE(contains(exe, utf16le(u"2.5.0.1") + std::string(2, '\0')));

  // Same inputs, another temporary folder: the same bytes.
  args[8] = dir_ / "again/App.exe";
  dir_.mkdir("again");
  ASSERT_EQ(run_pack(args).exit_code, 0);
  EXPECT_TRUE(read_file(dir_ / "again/App.exe") == exe);
  struct stat info;
  ASSERT_EQ(stat((dir_ / "App.exe").c_str(), &info), 0);
  EXPECT_NE(info.st_mode & S_IXUSR, 0u);
}

TEST_F(FakeKitLink, StoredPayloadIsLinkedUnchanged) {
  // A name the assembler must be given with escapes.
  const std::string stored =
      dir_.write("odd \"q\" \\ \xC3\xA9" "/stored.bin", "XYZ not a payload " + random_bytes(999, 9));
  const RunResult result = run_pack({"--stored-payload", stored, "--kit", kit_, "--output", dir_ / "s.exe"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  const std::string exe = read_file(dir_ / "s.exe");
  EXPECT_TRUE(contains(exe, read_file(stored)));
  // onefile_payload_size, eight bytes little-endian.
  const size_t size = read_file(stored).size();
  EXPECT_TRUE(contains(exe, std::string{static_cast<char>(size & 0xFF), static_cast<char>(size >> 8), 0, 0, 0, 0, 0, 0}));
}

TEST_F(FakeKitLink, LinkerFailureShowsItsOutputAndLeavesNothing) {
  const std::string broken = dir_.mkdir("broken");
  build_kit(broken, "int missing_function(); int use_it() { return missing_function(); }");
  dir_.mkdir("out");
  const RunResult result = run_pack({"--root", dir_ / "root", "--main", "app.dll", "--no-check-main", "--kit", broken, "--output",
                                     dir_ / "out/App.exe", "--quiet"});
  expect_error(result, "/out/App.exe: linking failed");
  EXPECT_TRUE(contains(result.err, "missing_function")) << result.err;
  EXPECT_EQ(dir_.list("out").size(), 0u);
}

TEST_F(FakeKitLink, MissingCompilerOrKitIsOneLine) {
  dir_.mkdir("out");
  RunResult result = run_pack(pack_args(dir_ / "out/App.exe"), {"ONEFILE_CXX=/nonexistent/g++"});
  expect_error(result, "/nonexistent/g++: cross compiler named by ONEFILE_CXX not found");
  EXPECT_EQ(result.err.find('\n'), result.err.size() - 1);

  // Without --kit, and no kit beside the packer's folder.
  result = run_pack({"--root", dir_ / "root", "--main", "app.dll", "--no-check-main", "--output", dir_ / "out/App.exe"},
                    {"ONEFILE_KIT=" + (dir_ / "nokit")});
  expect_error(result, "/nokit: launcher kit not found");
  EXPECT_EQ(result.err.find('\n'), result.err.size() - 1);

  unlink((kit_ + "/libzstd.a").c_str());
  result = run_pack(pack_args(dir_ / "out/App.exe"));
  expect_error(result, "/kit: launcher kit incomplete, libzstd.a is missing");
  EXPECT_EQ(dir_.list("out").size(), 0u);
}

TEST_F(FakeKitLink, KitIsFoundBesideThePackersFolder) {
  // bin/onefile-pack finds lib/onefile next to bin.
  dir_.mkdir("tool/bin");
  std::filesystem::copy_file(ONEFILE_PACK_PATH, dir_ / "tool/bin/onefile-pack");
  std::filesystem::permissions(dir_ / "tool/bin/onefile-pack", std::filesystem::perms::owner_all);
  std::filesystem::create_directories(dir_ / "tool/lib");
  std::filesystem::rename(kit_, dir_ / "tool/lib/onefile");
  const RunResult result =
      run(dir_ / "tool/bin/onefile-pack",
          {"--root", dir_ / "root", "--main", "app.dll", "--no-check-main", "--output", dir_ / "App.exe", "--quiet"}, {"ONEFILE_KIT="});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(is_pe(read_file(dir_ / "App.exe")));
}

TEST(RealKitLink, PacksARunnableLauncherTwiceAlike) {
  const std::string kit = ONEFILE_TEST_KIT_DIR;
  for (const char* file : kKitFiles)
    if (access((kit + "/" + file).c_str(), R_OK) != 0) GTEST_SKIP() << "no launcher kit at " << kit;
  ScratchDir dir;
  dir.write("root/app.dll", "MZ" + random_bytes(1000, 3));
  dir.write("root/sub/data.txt", "data");
  std::string first;
  // The same file name, as the product text defaults to it.
  for (const char* name : {"one/App.exe", "two/App.exe"}) {
    dir.mkdir(std::string(name, 3));
    const RunResult result = run_pack(
        {"--root", dir / "root", "--main", "app.dll", "--no-check-main", "--kit", kit, "--output", dir / name, "--level", "3"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const std::string exe = read_file(dir / name);
    EXPECT_TRUE(is_pe(exe));
    if (first.empty()) first = exe;
  }
  EXPECT_TRUE(read_file(dir / "two/App.exe") == first);
}
