// Placeholders that give a full path start a template or are refused.
#include <gtest/gtest.h>

#include "packer/full_path_placeholders.h"
#include "packer/pack_error.h"

using namespace onefile_pack;

TEST(FullPathPlaceholders, OnlyAtTheStartOfTheTemplate) {
  struct Case {
    const char* text;
    const char* refused;  // the placeholder named in the message; null: accepted
  } const cases[] = {
      {"{PROGRAM_DIR}\\run_{PID}_{RANDOM}", nullptr},
      {"{program_base}_files_{PID}", nullptr},
      {"{PROGRAM}.d\\{PID}", nullptr},
      {"{TEMP}\\{PRODUCT}_{PID}", nullptr},
      {"C:\\apps\\{PRODUCT}_{PID}", nullptr},
      {"{TEMP}\\{PROGRAM_BASE}_{PID}_{RANDOM}", "{PROGRAM_BASE}"},
      {"{TEMP}\\{program}", "{program}"},
      {"x{PROGRAM_DIR}", "{PROGRAM_DIR}"},
      {"{PRODUCT}\\{CACHE_DIR}", "{CACHE_DIR}"},
      {"{HOME}\\{HOME}", "{HOME}"},
      {"D:\\{TEMP}\\x", "{TEMP}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      check_full_path_placeholders(c.text);
      EXPECT_EQ(c.refused, nullptr);
    } catch (const PackError& error) {
      ASSERT_NE(c.refused, nullptr) << error.what();
      EXPECT_EQ(std::string(error.what()), std::string("--target: ") + c.refused +
                                               " is a full path and may only start the template: '" + c.text + "'");
    }
  }
}
