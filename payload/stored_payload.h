// The stored payload of a packed launcher. image_data.cpp points these at the
// data section the packer added to the image; a test program linked without
// it defines them itself.
#pragma once

extern "C" {
extern const unsigned char* const onefile_payload;
extern const unsigned long long onefile_payload_size;
}
