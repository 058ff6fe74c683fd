// The texts and bytes fixed when a launcher is packed, one symbol per field
// of contract/packed_fields.inc (what each holds is said there).
// launcher/image_data.cpp points them at the fields of the data section the
// packer added to the image; the library onefile_default_texts
// (default_build_texts.cpp) holds the defaults for test programs.
#pragma once

extern "C" {
#define ONEFILE_TEXT_FIELD(Name, id, option, member, symbol, ...) extern const wchar_t* const symbol;
#define ONEFILE_TEXT_LIST_FIELD(Name, id, option, member, symbol, count_symbol) \
  extern const wchar_t* const symbol;                                           \
  extern const unsigned long long count_symbol;
#define ONEFILE_BYTES_FIELD(Name, id, option, member, symbol, size_symbol) \
  extern const unsigned char* const symbol;                                \
  extern const unsigned long long size_symbol;
#include "contract/packed_fields.inc"
}
