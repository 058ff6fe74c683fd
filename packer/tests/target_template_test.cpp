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
      {"{cache_dir}\\{Company}\\{PRODUCT}", true, "App", nullptr},
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

TEST(ContentKey, IsTheStartOfTheSha256OfTheStoredPayload) {
  // 56 bytes: the hash's padding needs a second block.
  const std::string path = ::testing::TempDir() + "content_key_payload";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", file);
  std::fclose(file);
  EXPECT_EQ(content_key(path), "248d6a61d20638b8e5c026930c3e6039");
  std::remove(path.c_str());
}
