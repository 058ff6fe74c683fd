// The --target template as the packer checks it, and the cache key.
#include <gtest/gtest.h>

#include <cstdio>

#include "packer/content_key.h"
#include "packer/pack_error.h"
#include "packer/target_template.h"

using namespace onefile_pack;

TEST(TargetTemplate, RefusesWhatTheLauncherCannotExpand) {
  struct Case {
    const char* text;
    bool cache;
    const char* product;
    const char* error;  // part of the message; null: accepted
  } const cases[] = {
      {"{TEMP}\\onefile_{PID}_{TIME_US}_{RANDOM}", false, "App", nullptr},
      {"{cache_dir}\\Vendor\\{PRODUCT}", true, "App", nullptr},
      {"{TEMP}\\x_{PIDD}", false, "App", "unknown placeholder {PIDD}"},
      {"{TEMP}\\x_{}", false, "App", "unknown placeholder {}"},
      {"{TEMP}\\x_{PID", false, "App", "never closed"},
      {"{TEMP}\\x}", false, "App", "without its '{'"},
      {"{TE{MP}", false, "App", "inside a placeholder"},
      {"", false, "App", "empty"},
      {"{CACHE_DIR}\\{PRODUCT}_{RANDOM}", true, "App", "{RANDOM} changes on every run"},
      {"{CACHE_DIR}\\{PRODUCT}", true, "a:b", "--product: the text goes into a folder name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    BuildTexts texts;
    texts.product = c.product;
    try {
      check_target_template(c.text, c.cache, texts);
      EXPECT_EQ(c.error, nullptr);
    } catch (const PackError& error) {
      ASSERT_NE(c.error, nullptr) << error.what();
      EXPECT_NE(std::string(error.what()).find(c.error), std::string::npos) << error.what();
    }
  }
}

// Where the folders may lie: a cache root only in the user's own folders,
// with a folder of the app's own and no empty, '.' or '..' name; a fresh
// folder per run only with a per-run placeholder in its last name alone;
// every folder name one that Windows keeps as written, by the rules of the
// --product text and the packed files' names.
TEST(TargetTemplate, RefusesFoldersThatAreNotTheAppsOwn) {
  constexpr const char* kEmpty = "a folder name in it is empty";
  constexpr const char* kName = "cannot be used: the file name";
  constexpr const char* kDots = "'.' and '..'";
  constexpr const char* kRelative = "not one relative";
  constexpr const char* kOutside = "must lie in the user's own folders";
  constexpr const char* kBare = "needs a folder of the app's own";
  constexpr const char* kFixed = "the last folder name needs {PID}";
  constexpr const char* kAbove = "belong in the last folder name only";
  struct Case {
    const char* text;
    bool cache;
    const char* company;
    const char* version;
    const char* error;  // part of the message; null: accepted
  } const cases[] = {
      // Cache roots.
      {"{CACHE_DIR}\\Vorlan Onefile\\{COMPANY}\\{PRODUCT}", true, "Firm", "1.0", nullptr},
      {"{HOME}/.cache/{PRODUCT}/{VERSION}", true, "", "2.1", nullptr},
      {"{CACHE_DIR}\\Vorlan Onefile\\{COMPANY}\\{PRODUCT}", true, "", "1.0", kEmpty},
      {"{CACHE_DIR}\\TB\\", true, "", "1.0", kEmpty},
      {"{CACHE_DIR}\\\\TB", true, "", "1.0", kEmpty},
      {"{CACHE_DIR}\\", true, "", "1.0", kBare},
      // Windows trims "..." to nothing: the key folders would land in
      // {CACHE_DIR} itself.
      {"{CACHE_DIR}\\...", true, "", "1.0", kName},
      {"{CACHE_DIR}\\.. \\TB", true, "", "1.0", kName},
      {"{CACHE_DIR}\\TB.", true, "", "1.0", kName},
      {"{HOME}\\TB \\cache", true, "", "1.0", kName},
      {"{CACHE_DIR}\\a:b\\TB", true, "", "1.0", kName},
      {"{CACHE_DIR}\\TB\\nul", true, "", "1.0", kName},
      {"{CACHE_DIR}\\x<y\\TB", true, "", "1.0", kName},
      // The literal part breaks the rule whatever the placeholder gives.
      {"{CACHE_DIR}\\{PRODUCT}.", true, "", "1.0", kName},
      {"{CACHE_DIR}\\{COMPANY}:{PRODUCT}", true, "Firm", "1.0", kName},
      {".", true, "", "1.0", kDots},
      {"{CACHE_DIR}\\..\\TB", true, "", "1.0", kDots},
      {"{HOME}\\TB\\.", true, "", "1.0", kDots},
      {"{CACHE_DIR}\\TB\\{VERSION}", true, "", "..", "--version: the text goes into a folder name"},
      {"{CACHE_DIR}\\TB\\{VERSION}", true, "", "..\\..\\..", "--version: the text goes into a folder name"},
      {"cache", true, "", "1.0", kRelative},
      {"{PRODUCT}\\cache", true, "", "1.0", kRelative},
      {"C:\\", true, "", "1.0", kOutside},
      {"C:\\Apps\\TB", true, "", "1.0", kOutside},
      {"\\\\server\\share\\TB", true, "", "1.0", kOutside},
      {"{TEMP}\\TB", true, "", "1.0", kOutside},
      {"{PROGRAM_DIR}\\cache", true, "", "1.0", kOutside},
      {"{CACHE_DIR}", true, "", "1.0", kBare},
      {"{HOME}", true, "", "1.0", kBare},
      // The fresh folder of each run.
      {"{TEMP}\\tt_{PID}_{RANDOM}", false, "", "1.0", nullptr},
      {"C:\\runs\\{PRODUCT}-{TIME}", false, "", "1.0", nullptr},
      {"{TEMP}\\tt_{PID}_{RANDOM}\\", false, "", "1.0", kEmpty},
      {"{TEMP}\\{COMPANY}\\tt_{PID}", false, "", "1.0", kEmpty},
      {"{TEMP}\\myapp", false, "", "1.0", kFixed},
      {"{TEMP}", false, "", "1.0", kFixed},
      {"{TEMP}\\myapp_{PID}_{RANDOM}\\files", false, "", "1.0", kFixed},
      {"{TEMP}\\myapp_{PID}\\files_{RANDOM}", false, "", "1.0", kAbove},
      {"{TEMP}\\run_{PID}.", false, "", "1.0", kName},
      {"{TEMP}\\run:{PID}", false, "", "1.0", kName},
      {"{TEMP}\\...\\run_{PID}", false, "", "1.0", kName},
      {"C:\\runs \\{PRODUCT}-{TIME}", false, "", "1.0", kName},
      {"{TEMP}\\CON\\run_{PID}", false, "", "1.0", kName},
      // "." and ".." are steps that the path resolves, as in any path.
      {"{TEMP}\\..\\run_{PID}", false, "", "1.0", nullptr},
      {"{TEMP}\\.\\run_{PID}", false, "", "1.0", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    BuildTexts texts;
    texts.company = c.company;
    texts.product = "TB";
    texts.version = c.version;
    try {
      check_target_template(c.text, c.cache, texts);
      EXPECT_EQ(c.error, nullptr);
    } catch (const PackError& error) {
      ASSERT_NE(c.error, nullptr) << error.what();
      const std::string message = error.what();
      EXPECT_NE(message.find(c.error), std::string::npos) << message;
      EXPECT_EQ(message.find('\n'), std::string::npos) << message;
      // A refusal of where the folders lie names the template.
      if (message.rfind("--target", 0) == 0) {
        EXPECT_NE(message.find(std::string("'") + c.text + "'"), std::string::npos) << message;
      }
    }
  }
}

TEST(ContentKey, IsTheStartOfTheSha256OfTheRecordLayoutAndTheStoredPayload) {
  // 56 bytes after the 12 of the record's magic and layout version: the
  // hash's padding needs a second block.
  const std::string path = ::testing::TempDir() + "content_key_payload";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", file);
  std::fclose(file);
  EXPECT_EQ(content_key(path), "028943d4682a4e597a1b9577b6ddeee1");
  std::remove(path.c_str());
}
