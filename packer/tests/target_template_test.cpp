// The --target template as the packer checks it, and the cache key.
#include <gtest/gtest.h>

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

TEST(ContentKey, Sha256KnownDigestsAcrossBlockBoundaries) {
  Sha256 empty;
  EXPECT_EQ(hex_text(empty.digest()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  // 56 bytes: the length no longer fits the first block; fed in uneven pieces.
  const std::string text = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  Sha256 pieces;
  pieces.add(text.data(), 5);
  pieces.add(text.data() + 5, text.size() - 5);
  EXPECT_EQ(hex_text(pieces.digest()), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}
