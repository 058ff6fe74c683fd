// Bad input to the built command: one line on standard error naming the
// file or option and the reason, a non-zero exit, and no output file or
// temporary file left behind.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include <gtest/gtest.h>

#include "contract/cache_keep.h"
#include "contract/format.h"
#include "contract/placeholders.h"
#include "packer/launcher_image.h"
#include "packer/options.h"
#include "packer/payload_writer.h"
#include "packer/resources/resources.h"
#include "packer/target_template.h"
#include "packer/tests/test_util.h"

using namespace pack_test;

namespace {

struct BadInput {
  const char* name;
  // Prepares the tree below dir/root and returns the arguments besides --output.
  std::function<std::vector<std::string>(const ScratchDir& dir)> setup;
  const char* expected;  // part of the error line, after "onefile-pack: "
  int exit_code = 1;
  bool unprivileged = false;
};

std::vector<std::string> standard(const ScratchDir& dir) {
  return {"--root", dir / "root", "--main", "app.dll", "--payload-only"};
}

// A valid tree plus one more file or link made by `extra`.
std::function<std::vector<std::string>(const ScratchDir&)> with(std::function<void(const ScratchDir&)> extra) {
  return [extra](const ScratchDir& dir) {
    dir.write("root/app.dll", "MZ");
    extra(dir);
    return standard(dir);
  };
}

const BadInput kCases[] = {
    {"RootMissing", [](const ScratchDir& dir) { return standard(dir); }, "/root: root folder not found"},
    {"RootIsAFile",
     [](const ScratchDir& dir) {
       dir.write("root", "x");
       return standard(dir);
     },
     "/root: root is not a folder"},
    {"MainMissing",
     [](const ScratchDir& dir) {
       dir.write("root/other.dll", "");
       return standard(dir);
     },
     "/root/app.dll: main file not found"},
    {"MainIsAFolder",
     [](const ScratchDir& dir) {
       dir.write("root/app.dll/x", "");
       return standard(dir);
     },
     "/root/app.dll: main file is not a regular file"},
    {"MainInASubfolder",
     [](const ScratchDir& dir) {
       dir.write("root/bin/app.dll", "MZ");
       return std::vector<std::string>{"--root", dir / "root", "--main", "bin/app.dll", "--payload-only"};
     },
     "/root/bin/app.dll: main library lies in a subfolder"},
    {"MainOutsideTheRoot",
     [](const ScratchDir& dir) {
       dir.write("root/x.txt", "");
       dir.write("app.dll", "MZ");
       return std::vector<std::string>{"--root", dir / "root", "--main", "../app.dll", "--payload-only"};
     },
     "/root/../app.dll: main file lies outside the root folder"},
    {"MainIsALink",
     [](const ScratchDir& dir) {
       dir.write("root/real.dll", "MZ");
       symlink("real.dll", (dir / "root/app.dll").c_str());
       return standard(dir);
     },
     "/root/app.dll: main file is a link"},
    {"MainNeitherProgramNorDll",
     [](const ScratchDir& dir) {
       dir.write("root/app.exe", "MZ");
       return std::vector<std::string>{"--root", dir / "root", "--main", "app.exe", "--payload-only"};
     },
     "/root/app.exe: main is neither a Windows program nor a library with a name ending in .dll"},
    {"LinkToAFile", with([](const ScratchDir& dir) { symlink("app.dll", (dir / "root/copy.dll").c_str()); }),
     "/root/copy.dll: symbolic links are not packed"},
    {"LinkToAFolder",
     with([](const ScratchDir& dir) {
       dir.write("elsewhere/data.txt", "x");
       dir.mkdir("root/sub");
       symlink((dir / "elsewhere").c_str(), (dir / "root/sub/data").c_str());
     }),
     "/root/sub/data: symbolic links are not packed"},
    {"Colon", with([](const ScratchDir& dir) { dir.write("root/sub/a:b.txt", ""); }),
     "/root/sub/a:b.txt: file name contains a colon"},
    {"BackslashInAFolderName", with([](const ScratchDir& dir) { dir.write("root/a\\b/c.txt", ""); }),
     "/root/a\\b: file name contains a backslash"},
    {"InvalidUtf8", with([](const ScratchDir& dir) { dir.write("root/bad\xFFname.txt", ""); }),
     "/root/bad\\xFFname.txt: file name is not valid UTF-8"},
    {"ReservedName", with([](const ScratchDir& dir) { dir.write("root/logs/nul.txt", ""); }),
     "/root/logs/nul.txt: file name is a reserved device name"},
    {"NameTooLong",
     with([](const ScratchDir& dir) {
       dir.write("root/" + std::string(250, 'a') + "/" + std::string(250, 'b') + "/" + std::string(250, 'c') + "/" +
                     std::string(250, 'd') + "/" + std::string(25, 'e'),
                 "");
     }),
     ": name is 1029 UTF-16 code units long, more than 1023"},
    {"NamesDifferOnlyInCase",
     with([](const ScratchDir& dir) {
       dir.write("root/Readme.txt", "");
       dir.write("root/README.txt", "");
     }),
     "/root/Readme.txt: name differs only in case from 'README.txt'"},
    {"NamesDifferOnlyInNonAsciiCase",
     with([](const ScratchDir& dir) {
       dir.write("root/\xC3\x84/x", "");  // A and a with diaeresis
       dir.write("root/\xC3\xA4/X", "");
     }),
     "/root/\xC3\xA4/X: name differs only in case from '\xC3\x84/x'"},
    {"ShortAliasOfASibling",
     with([](const ScratchDir& dir) {
       dir.write("root/abcd~cmk.txt", "");
       dir.write("root/abcdefghijkl.txt", "");
     }),
     "/root/abcd~cmk.txt: name has the form of a short (8.3) alias and could stand for 'abcdefghijkl.txt'"},
    {"FileNamedLikeAFolder",
     with([](const ScratchDir& dir) {
       dir.write("root/Data", "");
       dir.write("root/data/x.txt", "");
     }),
     "/root/Data: file has the name of a folder"},
    {"Pipe", with([](const ScratchDir& dir) { mkfifo((dir / "root/pipe").c_str(), 0644); }),
     "/root/pipe: not a regular file, folder or link"},
    {"UnreadableFile",
     with([](const ScratchDir& dir) {
       dir.write("root/secret.txt", "x");
       chmod((dir / "root/secret.txt").c_str(), 0);
       chmod(dir.path().c_str(), 0777);
     }),
     "/root/secret.txt: file cannot be read: Permission denied", 1, true},
    {"UnreadableFolder",
     with([](const ScratchDir& dir) {
       dir.mkdir("root/locked");
       chmod((dir / "root/locked").c_str(), 0);
       chmod(dir.path().c_str(), 0777);
     }),
     "/root/locked: folder cannot be read: Permission denied", 1, true},
    {"LevelZero", [](const ScratchDir& dir) { auto a = standard(dir); a.insert(a.end(), {"--level", "0"}); return a; },
     "--level: expected a whole number from 1 to 22, got '0'", 2},
    {"LevelTooHigh", [](const ScratchDir& dir) { auto a = standard(dir); a.push_back("--level=23"); return a; },
     "--level: expected a whole number from 1 to 22, got '23'", 2},
    {"LevelNotANumber", [](const ScratchDir& dir) { auto a = standard(dir); a.insert(a.end(), {"--level", "9x"}); return a; },
     "--level: expected a whole number from 1 to 22, got '9x'", 2},
    {"NoRoot", [](const ScratchDir&) { return std::vector<std::string>{"--main", "app.dll"}; }, "--root: missing", 2},
    {"UnknownOption", [](const ScratchDir& dir) { auto a = standard(dir); a.push_back("--fast"); return a; },
     "--fast: unknown option", 2},
    {"StoredPayloadWithRoot", [](const ScratchDir& dir) { auto a = standard(dir); a.insert(a.end(), {"--stored-payload", "p"}); return a; },
     "--stored-payload: uses a payload as it is", 2},
    {"RepeatedOption", [](const ScratchDir& dir) { auto a = standard(dir); a.insert(a.end(), {"--level", "3", "--level=5"}); return a; },
     "--level: given more than once", 2},
    {"StoredPayloadWithoutHeader",
     [](const ScratchDir& dir) {
       return std::vector<std::string>{"--stored-payload", dir.write("p.bin", "VOX and more")};
     },
     "/p.bin: is not a stored payload: it does not start with \"VOY\""},
    // The size alone decides: a sparse file takes no room on the disk.
    {"StoredPayloadTooLarge",
     [](const ScratchDir& dir) {
       const std::string path = dir.write("big.payload", "VOY");
       if (truncate(path.c_str(), (int64_t{2} << 30) - (int64_t{16} << 20) + 1) != 0) ADD_FAILURE() << "truncate";
       return std::vector<std::string>{"--stored-payload", path};
     },
     "/big.payload: the stored payload is 2130706433 bytes, more than a launcher can carry (2130706432 bytes"},
    {"IconIsAFolder",
     [](const ScratchDir& dir) {
       dir.write("root/app.dll", "MZ");
       dir.mkdir("icons");
       return std::vector<std::string>{"--root", dir / "root", "--main", "app.dll", "--no-checks", "--icon", dir / "icons"};
     },
     "/icons: icon is a folder, not an image file"},
    // Windows trims "...", so the key folders would land in the user's local
    // application data itself.
    {"CacheRootOfThreeDots",
     [](const ScratchDir& dir) {
       dir.write("root/app.dll", "MZ");
       return std::vector<std::string>{"--root",     dir / "root", "--main",  "app.dll",
                                       "--no-checks", "--cache",     "--target", "{CACHE_DIR}\\..."};
     },
     "--target: '{CACHE_DIR}\\...': the folder name '...' cannot be used: the file name ends in a dot or a blank"},
};

void PrintTo(const BadInput& input, std::ostream* out) { *out << input.name; }

class BadInputTest : public ::testing::TestWithParam<BadInput> {};

}  // namespace

TEST_P(BadInputTest, OneLineNonZeroExitNoOutput) {
  const BadInput& input = GetParam();
  if (input.unprivileged && geteuid() != 0 && access("/", W_OK) == 0) GTEST_SKIP() << "cannot drop privileges";
  ScratchDir dir;
  dir.mkdir("out");
  if (input.unprivileged) chmod((dir / "out").c_str(), 0777);
  std::vector<std::string> args = input.setup(dir);
  args.insert(args.end(), {"--output", dir / "out/payload.bin"});
  // As root, permission tests run the packer as an ordinary user.
  const RunResult result = run_pack(args, {}, input.unprivileged && geteuid() == 0);

  EXPECT_EQ(result.exit_code, input.exit_code);
  EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
  EXPECT_EQ(result.err.rfind("onefile-pack: ", 0), 0u) << result.err;
  EXPECT_NE(result.err.find(input.expected), std::string::npos) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(dir.list("out"), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Packer, BadInputTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(OutputPath, RefusedWhenItCannotBeWritten) {
  ScratchDir dir;
  dir.write("root/app.dll", "MZ");
  const std::vector<std::string> base = {"--root", dir / "root", "--main", "app.dll", "--payload-only", "--output"};
  const struct {
    std::string output;
    std::string expected;
    bool unprivileged;
    bool stored = false;  // --stored-payload p.payload instead of the tree
  } cases[] = {
      {dir / "missing/payload.bin", "/missing/payload.bin: cannot be written: its folder does not exist", false},
      {dir / "folder", "/folder: cannot be written: it is a folder", false},
      {dir / "root/sub/payload.bin", "/root/sub/payload.bin: output lies inside the packed root folder", false},
      {dir / "locked/payload.bin", "/locked/payload.bin: cannot be written: Permission denied", true},
      // Never replaced by a regular file; as root the device case runs
      // unprivileged, so that a fault cannot replace the system's device.
      {"/dev/null", "/dev/null: exists and is not a regular file", true},
      {dir / "link.bin", "/link.bin: exists and is not a regular file", false},
      {dir / "pipe", "/pipe: exists and is not a regular file", false},
      {dir / "root/app.dll", "/root/app.dll: output lies inside the packed root folder", false},
      {dir / "p.payload", "/p.payload: is also an input", false, true},
  };
  dir.write("target.bin", "kept");
  symlink("target.bin", (dir / "link.bin").c_str());
  mkfifo((dir / "pipe").c_str(), 0600);
  dir.write("p.payload", "VOY");
  dir.mkdir("folder");
  dir.mkdir("root/sub");
  dir.mkdir("locked");
  chmod(dir.path().c_str(), 0755);
  chmod((dir / "root").c_str(), 0755);
  chmod((dir / "locked").c_str(), 0555);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    if (c.unprivileged && geteuid() != 0 && access((dir / "locked").c_str(), W_OK) == 0) continue;
    auto args = c.stored ? std::vector<std::string>{"--stored-payload", dir / "p.payload", "--output"} : base;
    args.push_back(c.output);
    const RunResult result = run_pack(args, {}, c.unprivileged && geteuid() == 0);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    EXPECT_NE(result.err.find(c.expected), std::string::npos) << result.err;
  }
  EXPECT_EQ(dir.list("locked"), std::vector<std::string>{});
  EXPECT_EQ(dir.list("root/sub"), std::vector<std::string>{});
  EXPECT_EQ(dir.list("folder"), std::vector<std::string>{});
  EXPECT_EQ(read_file(dir / "target.bin"), "kept");
  EXPECT_EQ(read_file(dir / "p.payload"), "VOY");
  struct stat info;
  EXPECT_TRUE(lstat((dir / "link.bin").c_str(), &info) == 0 && S_ISLNK(info.st_mode));
  EXPECT_TRUE(lstat((dir / "pipe").c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
}

TEST(OutputPath, FailedRunKeepsAnEarlierOutput) {
  ScratchDir dir;
  dir.write("root/app.dll", "MZ");
  const std::string output = dir.write("payload.bin", "earlier");
  dir.write("root/bad:name", "");
  const RunResult result =
      run_pack({"--root", dir / "root", "--main", "app.dll", "--payload-only", "--output", output});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(read_file(output), "earlier");
  EXPECT_EQ(dir.list().size(), 2u);  // root and payload.bin, no temporary file
}

TEST(MainOption, TakesANameInTheRootOrAPathToTheFile) {
  ScratchDir dir;
  dir.write("root/app.dll", "MZ");
  dir.write("root/data.txt", "x");
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  for (const std::string& main : {std::string("app.dll"), std::string("root/app.dll"), dir / "root/app.dll"}) {
    SCOPED_TRACE(main);
    const RunResult result =
        run_pack({"--root", "root", "--main", main, "--payload-only", "--output", "p.bin", "--quiet"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(parse_payload(read_file(dir / "p.bin")).entries.at(0).first, u16("app.dll"));
  }
  ASSERT_EQ(chdir(previous), 0);
}

TEST(Help, ExplainsEveryOption) {
  const RunResult result = run_pack({"--help"});
  EXPECT_EQ(result.exit_code, 0);
  for (const onefile_pack::OptionRow& option : onefile_pack::option_table())
    EXPECT_NE(result.out.find(option.name), std::string::npos) << option.name;
  for (const char* text : {"{APP_DIR}", "1024x1024", "%ERRORLEVEL%", "SIGKILL", "Default 19"})
    EXPECT_NE(result.out.find(text), std::string::npos) << text;
}

// Every default and limit in --help comes from the constant that enforces
// it; a figure typed into the text would drift from the code.
TEST(Help, PrintsEveryFigureFromItsConstant) {
  using onefile_pack::BuildTexts;
  const std::string help = run_pack({"--help"}).out;
  // The help wraps long lists at blanks; compare with the blanks folded.
  std::string flat;
  for (const char c : help)
    if (c != ' ' && c != '\n') flat += c;
  const auto unblanked = [](std::string text) {
    std::string out;
    for (const char c : text)
      if (c != ' ') out += c;
    return out;
  };
  BuildTexts company;
  company.company = "x";
  const std::string expected[] = {
      "Default" + std::to_string(onefile_pack::kDefaultLevel),
      "from" + std::to_string(onefile_pack::kMinLevel) + "(fastest)to" + std::to_string(onefile_pack::kMaxLevel),
      "upto2,130,706,432bytes",  // kMaxPayloadSize, checked below
      "atmost" + std::to_string(onefile_resources::kMaxVersionTextLength) + "UTF-16units",
      "Atmost" + std::to_string(onefile_pack::kMaxTemplateUnits) + "UTF-16units",
      "morethan" + std::to_string(payload_format::kMaxNameUnits) + "UTF-16",
      "Default:" + unblanked(onefile_pack::default_target_template(false, BuildTexts{})),
      "isempty):" + unblanked(onefile_pack::default_target_template(true, company)),
      "Default:" + std::string("1.0.0.0"),
      "windowed(thedefault),console",
      "fromruntorun,{PID},{RANDOM},{TIME_US}or{TIME}.",
      "startedfor" + std::to_string(cache_keep::kUnusedDays) + "days",
      "morethan" + std::to_string(cache_keep::kKeysKept) + "keys",
  };
  EXPECT_EQ(onefile_pack::kMaxPayloadSize, 2130706432u);
  for (const std::string& text : expected) EXPECT_NE(flat.find(text), std::string::npos) << text;
  for (const char* name : path_placeholders::kNames)
    EXPECT_NE(flat.find(std::string("{") + name + "}"), std::string::npos) << name;
  EXPECT_EQ(help.find('@'), std::string::npos) << "a token left unfilled";
  size_t start = 0;
  for (size_t end; (end = help.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_LE(end - start, 81u) << help.substr(start, end - start);  // the usage lines' width
}

// --version alone is the packer's version; followed by a text it stays the
// app's version text, so an ordinary pack command is unchanged.
TEST(Version, AlonePrintsThePackersVersion) {
  const RunResult alone = run_pack({"--version"});
  EXPECT_EQ(alone.exit_code, 0);
  EXPECT_EQ(alone.out, std::string("onefile-pack ") + ONEFILE_VERSION + "\n");
  EXPECT_EQ(alone.err, "");
  const RunResult with_output = run_pack({"--output", "x.exe", "--version"});
  EXPECT_EQ(with_output.exit_code, 2);
  EXPECT_EQ(with_output.err, "onefile-pack: --version: needs a value\n");
}

TEST(Summary, PrintedUnlessQuietAndNeverOnStdout) {
  ScratchDir dir;
  dir.write("root/app.dll", "MZ");
  const std::vector<std::string> args = {"--root", dir / "root", "--main", "app.dll", "--payload-only",
                                         "--output", dir / "p.bin"};
  RunResult result = run_pack(args);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find(": 1 file, 2 bytes"), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find('\r'), std::string::npos);  // no progress line on a pipe
  auto quiet = args;
  quiet.push_back("--quiet");
  result = run_pack(quiet);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.err, "");
}
