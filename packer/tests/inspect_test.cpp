// The built command's --exclude, --list, --verify and --extract: what a
// pattern leaves out is exactly what --list no longer shows; --extract gives
// the packed tree back byte for byte; --verify tells an intact app from a
// truncated, altered or re-signed one; payloads the packer would never write
// are refused by all three with one line, and nothing is written for them.
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "packer/payload_writer.h"
#include "packer/tests/test_util.h"

using namespace pack_test;
namespace fs = std::filesystem;

namespace {

// The names --list prints, in its order (the lines before the blank one).
std::vector<std::string> listed(const std::string& exe) {
  const RunResult result = run_pack({"--list", exe});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  std::vector<std::string> names;
  size_t start = 0;
  for (size_t end; (end = result.out.find('\n', start)) != std::string::npos && end > start; start = end + 1)
    names.push_back(result.out.substr(start + 12, end - start - 12));
  return names;
}

// Every regular file below `root`, by its path relative to it.
std::map<std::string, std::string> files_below(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file()) files[fs::relative(entry.path(), root).string()] = read_file(entry.path().string());
  return files;
}

// One failure line on standard error, exit 1, nothing on standard output.
void expect_one_line(const RunResult& result, const std::string& expected) {
  EXPECT_EQ(result.exit_code, 1) << result.out << result.err;
  EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
  EXPECT_NE(result.err.find(expected), std::string::npos) << result.err;
  EXPECT_EQ(result.out, "");
}

// A stored payload of `stream` (an entry stream, as is), as another tool
// might write it: one frame with the simple API, then the trailer.
std::string stored_payload(const std::string& stream) {
  std::string frame(ZSTD_compressBound(stream.size()), '\0');
  frame.resize(ZSTD_compress(frame.data(), frame.size(), stream.data(), stream.size(), 3));
  std::string stored = "VOY" + frame;
  const std::vector<unsigned char> trailer = onefile_pack::payload_trailer(stored.size());
  return stored + std::string(trailer.begin(), trailer.end());
}

// A record as it stands in the stream, whatever its name.
std::string record(const std::string& name, const std::string& content) {
  std::string bytes;
  for (const char16_t unit : u16(name) + u'\0') bytes += {static_cast<char>(unit & 0xff), static_cast<char>(unit >> 8)};
  for (int i = 0; i < 8; ++i) bytes += static_cast<char>(static_cast<uint64_t>(content.size()) >> (8 * i));
  return bytes + content;
}

const std::string kEnd(2, '\0');

class Inspect : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.write("root/app.dll", "MZ main");
    dir_.write("root/data/deep/er/text.txt", "deep\n");
    dir_.write("root/data/empty", "");
    dir_.write("root/Gr\xC3\xBC\xC3\x9F" "e/\xC3\xA4.txt", "umlaut");
    dir_.write("root/\xE6\x97\xA5\xE6\x9C\xAC/\xF0\x9F\x98\x80.bin", std::string("\0\1\2", 3));
    // Larger than a read of the payload and a decoded piece.
    dir_.write("root/data/random.bin", random_bytes(3 << 20, 7));
  }

  RunResult pack(const std::string& output, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--root", dir_ / "root", "--main", "app.dll", "--output", output,
                                     "--no-checks", "--level", "3"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_pack(args);
  }

  ScratchDir dir_;
};

}  // namespace

TEST_F(Inspect, ExtractGivesThePackedTreeBackByteForByte) {
  for (const bool payload_only : {false, true}) {
    SCOPED_TRACE(payload_only ? "stored payload" : "launcher");
    const std::string packed = dir_ / (payload_only ? "app.payload" : "App.exe");
    ASSERT_EQ(pack(packed, payload_only ? std::vector<std::string>{"--payload-only"}
                                        : std::vector<std::string>{"--cache", "--console"})
                  .exit_code,
              0);
    const std::string out = dir_ / (payload_only ? "out-payload" : "out-exe");
    const RunResult result = run_pack({"--extract", packed, "--to", out});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(": 6 files, 3.0 MiB extracted into "), std::string::npos) << result.err;
    EXPECT_EQ(files_below(out), files_below(dir_ / "root"));
  }
  // An empty folder is taken; a folder with anything in it, or a file, is not.
  dir_.mkdir("empty");
  EXPECT_EQ(run_pack({"--extract", dir_ / "App.exe", "--to", dir_ / "empty", "--quiet"}).err, "");
  EXPECT_EQ(files_below(dir_ / "empty").size(), 6u);
  expect_one_line(run_pack({"--extract", dir_ / "App.exe", "--to", dir_ / "empty"}),
                  "/empty: exists and is not empty; extract into a new folder or an empty one");
  expect_one_line(run_pack({"--extract", dir_ / "App.exe", "--to", dir_ / "root/app.dll"}),
                  "/root/app.dll: exists and is not a folder");
  EXPECT_EQ(read_file(dir_ / "root/app.dll"), "MZ main");
}

TEST_F(Inspect, ListShowsTheFilesThenWhatWasGivenAtPackTime) {
  ASSERT_EQ(pack(dir_ / "App.exe", {"--company", "Vorlan \xC3\x84", "--product", "List Test", "--version", "2.4.6.8",
                                    "--cache", "--console"})
                .exit_code,
            0);
  const RunResult result = run_pack({"--list", dir_ / "App.exe"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(listed(dir_ / "App.exe"),
            (std::vector<std::string>{"app.dll", "Gr\xC3\xBC\xC3\x9F" "e/\xC3\xA4.txt", "data/deep/er/text.txt",
                                      "data/empty", "data/random.bin", "\xE6\x97\xA5\xE6\x9C\xAC/\xF0\x9F\x98\x80.bin"}));
  for (const std::string line :
       {"   7 bytes  app.dll\n", "   3.0 MiB  data/random.bin\n", "files:   6, 3.0 MiB unpacked\n",
        "with a content checksum\n", "kind:    console\n", "main:    app.dll, a library whose run_code is called\n",
        "product: \"List Test\"\n", "company: \"Vorlan \xC3\x84\"\n", "version: \"2.4.6.8\"\n",
        "target:  {CACHE_DIR}\\Vorlan Onefile\\{COMPANY}\\{PRODUCT} (the default)\n", "cache:   yes, key ",
        "splash:  none\n"})
    EXPECT_NE(result.out.find(line), std::string::npos) << line << "\n" << result.out;

  // A program main (the app just packed is a Windows program), its fixed
  // arguments, a target of its own, no cache, the default windowed kind.
  dir_.write("programs/bin/tool.exe", read_file(dir_ / "App.exe"));
  ASSERT_EQ(run_pack({"--root", dir_ / "programs", "--main", "bin/tool.exe", "--output", dir_ / "Program.exe",
                      "--arg", "{APP_DIR}\\a b", "--arg", "", "--target", "{TEMP}\\tool_{PID}", "--windowed",
                      "--level", "3", "--quiet"})
                .exit_code,
            0);
  const std::string program = run_pack({"--list", dir_ / "Program.exe"}).out;
  for (const std::string line : {"kind:    windowed\n", "main:    bin/tool.exe, a program; fixed arguments: "
                                                        "\"{APP_DIR}\\a b\" \"\"\n",
                                 "target:  {TEMP}\\tool_{PID}\n", "cache:   no\n"})
    EXPECT_NE(program.find(line), std::string::npos) << line << "\n" << program;

  const RunResult payload = run_pack({"--list", dir_ / "root/data/empty"});
  expect_one_line(payload, "/root/data/empty: not an app packed by onefile-pack (neither a Windows executable nor "
                           "a stored payload)");
}

TEST_F(Inspect, VerifyTellsIntactFromTruncatedAlteredAndResigned) {
  ASSERT_EQ(pack(dir_ / "App.exe").exit_code, 0);
  const std::string exe = read_file(dir_ / "App.exe");
  const RunResult intact = run_pack({"--verify", dir_ / "App.exe"});
  EXPECT_EQ(intact.exit_code, 0);
  EXPECT_EQ(intact.err, "");
  EXPECT_NE(intact.out.find(": intact: 6 files, 3.0 MiB in a "), std::string::npos) << intact.out;
  EXPECT_EQ(intact.out.find('\n'), intact.out.size() - 1);
  EXPECT_EQ(run_pack({"--verify", dir_ / "App.exe", "--quiet"}).out, "");

  const auto variant = [&](const std::string& name, std::string bytes) {
    dir_.write(name, bytes);
    return dir_ / name;
  };
  std::string flipped_payload = exe, flipped_code = exe;
  flipped_payload[exe.size() - 100000] ^= 0x10;  // inside the random file's compressed bytes
  flipped_code[0x1000] ^= 0x10;                  // in the launcher's code
  const struct {
    std::string path, expected;
  } damaged[] = {
      {variant("cut.exe", exe.substr(0, exe.size() - 5000)), "damaged: the file is cut short: it holds"},
      {variant("flip.exe", flipped_payload), "damaged: the payload's content checksum does not match"},
      {variant("code.exe", flipped_code), "damaged: the executable's checksum does not match"},
      {variant("tail.exe", exe + "extra"), "damaged: 5 bytes follow the last section that no packer wrote"},
  };
  for (const auto& c : damaged) {
    SCOPED_TRACE(c.path);
    expect_one_line(run_pack({"--verify", c.path}), c.expected);
    // --list and --extract read the whole payload too, and stop at damage.
    if (c.path.find("flip") != std::string::npos) {
      EXPECT_EQ(run_pack({"--list", c.path}).exit_code, 1);
      expect_one_line(run_pack({"--extract", c.path, "--to", dir_ / "never"}), "damaged: the payload's content");
      EXPECT_FALSE(exists(dir_ / "never"));
    }
  }

  // Signed after packing, the app keeps a valid checksum; altered after
  // signing, it does not.
  if (system("command -v osslsigncode >/dev/null && command -v openssl >/dev/null") != 0)
    GTEST_SKIP() << "osslsigncode or openssl missing";
  const std::string sign =
      "cd " + dir_.path() +
      " && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=test -addext extendedKeyUsage=codeSigning"
      " -keyout key.pem -out cert.pem 2>/dev/null && osslsigncode sign -certs cert.pem -key key.pem -n test"
      " -in App.exe -out Signed.exe >/dev/null";
  ASSERT_EQ(system(sign.c_str()), 0);
  const RunResult signed_app = run_pack({"--verify", dir_ / "Signed.exe"});
  EXPECT_EQ(signed_app.exit_code, 0) << signed_app.err;
  EXPECT_NE(signed_app.out.find("the executable's checksum matches; signed"), std::string::npos) << signed_app.out;
  std::string resigned = read_file(dir_ / "Signed.exe");
  resigned[resigned.size() - 64] ^= 0x01;  // inside the signature
  expect_one_line(run_pack({"--verify", variant("resigned.exe", resigned)}),
                  "damaged: the executable's checksum does not match");
  EXPECT_EQ(files_below(dir_ / "root").size(), 6u);
}

TEST_F(Inspect, PayloadsThePackerNeverWritesAreRefusedAndNothingIsWritten) {
  const struct {
    std::string stream, expected;
  } cases[] = {
      {record("app.dll", "MZ") + record("..\\escaped.txt", "x") + kEnd, "entry 2 '..\\escaped.txt': a name the launcher refuses"},
      {record("app.dll", "MZ") + record("sub\\NUL.txt", "x") + kEnd, "entry 2 'sub\\NUL.txt': a name the launcher refuses"},
      {record("app.dll", "MZ") + record("a\\\\b", "x") + kEnd, "a name the launcher refuses"},
      {record("app.dll", "MZ") + record("C:x", "x") + kEnd, "a name the launcher refuses"},
      {record("app.dll", "MZ") + record("App.DLL", "x") + kEnd, "entry 2 'App.DLL': the same name as entry 1"},
      {record("app.dll", "MZ") + record(std::string(1024, 'n'), "x") + kEnd, "entry 2: its name is longer than 1023"},
      {record("app.dll", "MZ") + kEnd + "x", "data follows the end marker"},
      {record("app.dll", "MZ") + record("b.txt", "x"), "the entry stream ends before its end marker"},
      {record("app.dll", "MZ").substr(0, 20), "the entry stream ends inside entry 1 'app.dll'"},
      {kEnd, "the payload holds no file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    const std::string payload = dir_.write("crafted.payload", stored_payload(c.stream));
    ASSERT_EQ(run_pack({"--stored-payload", payload, "--output", dir_ / "Crafted.exe", "--quiet"}).exit_code, 0);
    for (const std::string& packed : {payload, dir_ / "Crafted.exe"}) {
      expect_one_line(run_pack({"--verify", packed}), c.expected);
      expect_one_line(run_pack({"--extract", packed, "--to", dir_ / "out"}), c.expected);
      EXPECT_FALSE(exists(dir_ / "out"));
      EXPECT_FALSE(exists(dir_ / "escaped.txt"));
    }
  }
  // The stored form around the frame: header and trailer.
  const std::string good = stored_payload(record("app.dll", "MZ") + kEnd);
  std::string bad_count = good;
  bad_count[bad_count.size() - 8] ^= 1;
  const struct {
    std::string bytes, expected;
  } stored[] = {
      {good, ""},
      {good + std::string(8, '\0'), "8 bytes follow the payload's trailer"},
      {good.substr(0, good.size() - 1), "the payload's trailer is cut short"},
      {bad_count, "the payload's trailer is wrong: its count is not the payload's length"},
      {good.substr(0, 12), "the payload is cut short: its frame does not end"},
  };
  for (const auto& c : stored) {
    SCOPED_TRACE(c.expected);
    const RunResult result = run_pack({"--verify", dir_.write("stored.payload", c.bytes)});
    if (c.expected.empty()) {
      EXPECT_EQ(result.exit_code, 0) << result.err;
      EXPECT_NE(result.out.find("it has no content checksum"), std::string::npos) << result.out;
    } else {
      expect_one_line(result, c.expected);
    }
  }
}

TEST_F(Inspect, OtherFilesAndWrongCommandLinesGetOneLine) {
  ASSERT_EQ(pack(dir_ / "App.exe").exit_code, 0);
#ifdef ONEFILE_TEST_MAIN_DLL
  expect_one_line(run_pack({"--list", ONEFILE_TEST_MAIN_DLL}),
                  "not an app packed by onefile-pack (a Windows executable without a .onefile section)");
#endif
  expect_one_line(run_pack({"--verify", dir_ / "missing.exe"}), "/missing.exe: cannot be read: No such file");
  expect_one_line(run_pack({"--verify", dir_ / "root"}), "/root: not an app packed by onefile-pack (not a regular file)");
  const struct {
    std::vector<std::string> args;
    std::string expected;
  } usage[] = {
      {{"--list", dir_ / "App.exe", "--root", dir_ / "root"}, "--root: does not apply to --list"},
      {{"--verify", dir_ / "App.exe", "--exclude", "*.md"}, "--exclude: does not apply to --verify"},
      {{"--extract", dir_ / "App.exe"}, "--extract: needs --to DIR"},
      {{"--list", dir_ / "App.exe", "--to", dir_ / "out"}, "--to: does not apply to --list"},
      {{"--to", dir_ / "out", "--output", dir_ / "x.exe"}, "--to: the folder for --extract, which is missing"},
      {{"--list", dir_ / "App.exe", "--verify", dir_ / "App.exe"}, "--verify: does not apply to --list"},
  };
  for (const auto& c : usage) {
    SCOPED_TRACE(c.expected);
    const RunResult result = run_pack(c.args);
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.err.rfind("onefile-pack: " + c.expected, 0), 0u) << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
  }
}

// Exclusion through the packer: the packed tree is what the patterns leave,
// as --list shows it, and the summary counts the rest.
TEST_F(Inspect, ExcludedPathsAreNotPackedAndTheSummaryCountsThem) {
  dir_.write("root/README.md", "readme");
  dir_.write("root/docs/guide.md", "guide");
  dir_.write("root/docs/keep.md", "keep");
  dir_.write("root/src/docs", "a file named docs");
  dir_.write("root/node_modules/pkg/test/a.js", "test");
  dir_.write("root/node_modules/pkg/index.d.ts", "types");
  // Left out, so never refused: a link without --follow-links, a name with a colon.
  symlink("app.dll", (dir_ / "root/link.dll").c_str());
  dir_.write("root/odd/a:b", "");
  const std::string rules = dir_.write("rules.txt", "# types and tests\n*.d.ts\n**/test/\n");
  const RunResult result =
      pack(dir_ / "App.exe", {"--exclude", "*.md", "--exclude", "!README.md", "--exclude", "docs/",
                              "--exclude", "!docs/keep.md", "--exclude-from", rules, "--exclude", "/link.dll",
                              "--exclude", "odd/", "--exclude", "/data/**", "--exclude", "!data/empty"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  // Left out: docs/ (both files: keep.md cannot be taken back), the test
  // folder's file, the types, the link, odd/a:b, data's files but the empty one.
  EXPECT_NE(result.err.find("; 8 files, 3.0 MiB left out\n"), std::string::npos) << result.err;
  EXPECT_EQ(listed(dir_ / "App.exe"),
            (std::vector<std::string>{"app.dll", "Gr\xC3\xBC\xC3\x9F" "e/\xC3\xA4.txt", "README.md", "data/empty",
                                      "src/docs", "\xE6\x97\xA5\xE6\x9C\xAC/\xF0\x9F\x98\x80.bin"}));

  // Leaving out the main file, or a folder above it, is refused.
  for (const std::string pattern : {"*.dll", "/app.dll"}) {
    const RunResult refused = pack(dir_ / "Main.exe", {"--exclude", pattern});
    expect_one_line(refused, "--exclude '" + pattern + "': leaves out the main file app.dll, which the launcher starts");
  }
  EXPECT_FALSE(exists(dir_ / "Main.exe"));
}

// The motivating case: a package manager's .bin folder of links, which
// --follow-links packs as copies of what they point to.
TEST_F(Inspect, FollowedBinLinksCanBeLeftOut) {
  dir_.write("root/node_modules/tool/bin/cli.js", "cli");
  dir_.write("root/node_modules/tool/bin/other.js", "other");
  dir_.mkdir("root/node_modules/.bin");
  symlink("../tool/bin/cli.js", (dir_ / "root/node_modules/.bin/cli").c_str());
  symlink("../tool/bin", (dir_ / "root/node_modules/.bin/tool-bin").c_str());
  ASSERT_EQ(pack(dir_ / "All.exe", {"--follow-links"}).exit_code, 0);
  const std::vector<std::string> all = listed(dir_ / "All.exe");
  EXPECT_NE(std::find(all.begin(), all.end(), "node_modules/.bin/tool-bin/other.js"), all.end());
  const RunResult result = pack(dir_ / "App.exe", {"--follow-links", "--exclude", "node_modules/.bin/"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(result.err.find("; 3 files, 11 bytes left out\n"), std::string::npos) << result.err;
  const std::vector<std::string> packed = listed(dir_ / "App.exe");
  EXPECT_EQ(packed.size(), all.size() - 3);
  for (const std::string& name : packed) EXPECT_EQ(name.find(".bin/"), std::string::npos) << name;
}
