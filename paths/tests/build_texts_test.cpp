// A program that defines its own build-time texts, as the launcher's data
// section module does; linking the default-texts library as well must not matter.
#include <gtest/gtest.h>

#include "paths/build_texts.h"
#include "paths/path_template.h"

extern "C" {
const wchar_t* const onefile_company = L"Acme {Tools}";
const wchar_t* const onefile_product = L"Gadget";
const wchar_t* const onefile_version = L"1.2";
const wchar_t* const onefile_file_version = L"1.2.3";
const wchar_t* const onefile_product_version = L"1.2.3.4";
const wchar_t* const onefile_target_template = L"";
const wchar_t* const onefile_cache_key = L"";
}

TEST(BuildTexts, EachPlaceholderTakesItsText) {
  wchar_t out[128];
  ASSERT_TRUE(expand_path_template(out, L"{COMPANY}|{PRODUCT}|{VERSION}|{FILE_VERSION}|{PRODUCT_VERSION}", 128));
  // Braces in a value are text, not placeholders.
  EXPECT_STREQ(out, L"Acme {Tools}|Gadget|1.2|1.2.3|1.2.3.4");
}
