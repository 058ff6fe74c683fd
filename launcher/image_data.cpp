// The stored payload and the build-time texts of a packed launcher: found in
// the image's own data section (contract/data_section.h) through the section
// table of the loaded image, before wWinMain runs. A launcher without the
// section (a template that was never packed) gets no payload, which the
// entry routine reports as a missing header, and empty texts.
#include <windows.h>

#include <cstring>

#include "contract/data_section.h"
#include "paths/build_texts.h"
#include "payload/stored_payload.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

using data_section::Span;

// The section's bytes as mapped; empty when the image has none or its
// header is not ours.
Span find_section() {
  const auto* image = reinterpret_cast<const unsigned char*>(&__ImageBase);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + __ImageBase.e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    if (std::memcmp(section->Name, data_section::kName, sizeof data_section::kName) != 0) continue;
    return data_section::checked({image + section->VirtualAddress, section->Misc.VirtualSize});
  }
  return {};
}

const Span g_section = find_section();

Span field(uint32_t id) { return data_section::find_field(g_section, id); }

// A text field: UTF-16LE ending in its terminator, else the empty text.
const wchar_t* text(uint32_t id) {
  const Span span = field(id);
  const auto* units = reinterpret_cast<const wchar_t*>(span.data);
  const unsigned long long count = span.size / sizeof(wchar_t);
  if (count == 0 || span.size % sizeof(wchar_t) != 0 || units[count - 1] != L'\0') return L"";
  return units;
}

const Span g_payload = field(data_section::kPayload);
const Span g_splash_image = field(data_section::kSplashImage);
const Span g_file_digests = field(data_section::kFileDigests);

// The fixed arguments: a list of terminated texts, else none.
Span argument_list() {
  const Span span = field(data_section::kArguments);
  const auto* units = reinterpret_cast<const wchar_t*>(span.data);
  const unsigned long long count = span.size / sizeof(wchar_t);
  if (count == 0 || span.size % sizeof(wchar_t) != 0 || units[count - 1] != L'\0') return {};
  return {span.data, count};
}

const Span g_arguments = argument_list();

}  // namespace

extern "C" {
const unsigned char* const onefile_payload = g_payload.data;
const unsigned long long onefile_payload_size = g_payload.size;
const wchar_t* const onefile_company = text(data_section::kCompany);
const wchar_t* const onefile_product = text(data_section::kProduct);
const wchar_t* const onefile_version = text(data_section::kVersion);
const wchar_t* const onefile_file_version = text(data_section::kFileVersion);
const wchar_t* const onefile_product_version = text(data_section::kProductVersion);
const wchar_t* const onefile_target_template = text(data_section::kTargetTemplate);
const wchar_t* const onefile_cache_key = text(data_section::kCacheKey);
const unsigned char* const onefile_splash_image = g_splash_image.data;
const unsigned long long onefile_splash_image_size = g_splash_image.size;
const wchar_t* const onefile_splash_text = text(data_section::kSplashText);
const wchar_t* const onefile_program_main = text(data_section::kProgramMain);
const wchar_t* const onefile_arguments = g_arguments.data ? reinterpret_cast<const wchar_t*>(g_arguments.data) : L"";
const unsigned long long onefile_argument_units = g_arguments.size;
const unsigned char* const onefile_file_digests = g_file_digests.data;
const unsigned long long onefile_file_digests_size = g_file_digests.size;
}
