// The stored payload and the build-time texts of a packed launcher, the
// symbols of contract/packed_fields.inc: found in the image's own data
// section (contract/data_section.h) through the section table of the loaded
// image, before wWinMain runs. A launcher without the section (a template
// that was never packed) gets no payload, which the entry routine reports as
// a missing header, and empty texts.
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

// A text list: its units, else none.
Span text_list(uint32_t id) {
  const Span span = field(id);
  const auto* units = reinterpret_cast<const wchar_t*>(span.data);
  const unsigned long long count = span.size / sizeof(wchar_t);
  if (count == 0 || span.size % sizeof(wchar_t) != 0 || units[count - 1] != L'\0') return {};
  return {span.data, count};
}

// The spans that give two symbols each.
#define ONEFILE_PAYLOAD_FIELD(Name, ...) const Span Name##_span = field(data_section::Name);
#define ONEFILE_BYTES_FIELD(Name, ...) const Span Name##_span = field(data_section::Name);
#include "contract/packed_fields.inc"
#define ONEFILE_TEXT_LIST_FIELD(Name, ...) const Span Name##_span = text_list(data_section::Name);
#include "contract/packed_fields.inc"

}  // namespace

extern "C" {
#define ONEFILE_PAYLOAD_FIELD(Name, id, symbol, size_symbol) \
  const unsigned char* const symbol = Name##_span.data;      \
  const unsigned long long size_symbol = Name##_span.size;
#define ONEFILE_BYTES_FIELD(Name, id, option, member, symbol, size_symbol) \
  const unsigned char* const symbol = Name##_span.data;                    \
  const unsigned long long size_symbol = Name##_span.size;
#define ONEFILE_TEXT_FIELD(Name, id, option, member, symbol, ...) \
  const wchar_t* const symbol = text(data_section::Name);
#define ONEFILE_TEXT_LIST_FIELD(Name, id, option, member, symbol, count_symbol)                              \
  const wchar_t* const symbol = Name##_span.data ? reinterpret_cast<const wchar_t*>(Name##_span.data) : L""; \
  const unsigned long long count_symbol = Name##_span.size;
#include "contract/packed_fields.inc"
}
