// Build-time texts of a launcher that the packer did not complete (test
// programs): each field's default of contract/packed_fields.inc, no bytes
// and no texts in a list. The packer always writes its own.
#include "paths/build_texts.h"

extern "C" {
#define ONEFILE_TEXT_FIELD(Name, id, option, member, symbol, fallback, written) const wchar_t* const symbol = fallback;
#define ONEFILE_TEXT_LIST_FIELD(Name, id, option, member, symbol, count_symbol) \
  const wchar_t* const symbol = L"";                                            \
  const unsigned long long count_symbol = 0;
#define ONEFILE_BYTES_FIELD(Name, id, option, member, symbol, size_symbol) \
  const unsigned char* const symbol = nullptr;                             \
  const unsigned long long size_symbol = 0;
#include "contract/packed_fields.inc"
}
