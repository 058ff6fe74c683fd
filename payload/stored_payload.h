// The stored payload, compiled into each packed launcher's read-only data by
// the packer's generated object.
#pragma once

extern "C" {
extern const unsigned char onefile_payload[];
extern const unsigned long long onefile_payload_size;
}
