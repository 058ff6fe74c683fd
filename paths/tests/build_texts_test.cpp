// A program that defines its own build-time texts, as the launcher's data
// section module does; linking the default-texts library as well must not matter.
#include <gtest/gtest.h>

#include "contract/data_section.h"
#include "paths/build_texts.h"
#include "paths/path_template.h"

namespace {

// This program's texts: its own for the placeholders' fields, the defaults
// for the rest.
constexpr const wchar_t* own_text(uint32_t id, const wchar_t* fallback) {
  switch (id) {
    case data_section::kCompany:
      return L"Acme {Tools}";
    case data_section::kProduct:
      return L"Gadget";
    case data_section::kVersion:
      return L"1.2";
    case data_section::kFileVersion:
      return L"1.2.3";
    case data_section::kProductVersion:
      return L"1.2.3.4";
    default:
      return fallback;
  }
}

}  // namespace

extern "C" {
#define ONEFILE_TEXT_FIELD(Name, id, option, member, symbol, fallback, written) \
  const wchar_t* const symbol = own_text(data_section::Name, fallback);
#define ONEFILE_TEXT_LIST_FIELD(Name, id, option, member, symbol, count_symbol) \
  const wchar_t* const symbol = L"";                                            \
  const unsigned long long count_symbol = 0;
#define ONEFILE_BYTES_FIELD(Name, id, option, member, symbol, size_symbol) \
  const unsigned char* const symbol = nullptr;                             \
  const unsigned long long size_symbol = 0;
#include "contract/packed_fields.inc"
}

TEST(BuildTexts, EachPlaceholderTakesItsText) {
  wchar_t out[128];
  ASSERT_TRUE(expand_path_template(out, L"{COMPANY}|{PRODUCT}|{VERSION}|{FILE_VERSION}|{PRODUCT_VERSION}", 128));
  // Braces in a value are text, not placeholders.
  EXPECT_STREQ(out, L"Acme {Tools}|Gadget|1.2|1.2.3|1.2.3.4");
}
