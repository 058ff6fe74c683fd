// The stored payload of a packed launcher (contract/packed_fields.inc).
// launcher/image_data.cpp points it at the data section the packer added to
// the image; a test program linked without it defines it itself.
#pragma once

extern "C" {
#define ONEFILE_PAYLOAD_FIELD(Name, id, symbol, size_symbol) \
  extern const unsigned char* const symbol;                  \
  extern const unsigned long long size_symbol;
#include "contract/packed_fields.inc"
}
