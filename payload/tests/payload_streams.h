// Builders for entry streams and stored payloads in tests: records as the
// packer writes them, frames from the library's compressor, and hand-made
// frames whose block layout the tests control exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace payload_test {

// Entry stream pieces.
std::string name_field(const std::wstring& name);  // UTF-16LE units and the 0x0000 unit
std::string size_field(uint64_t size);
std::string entry_record(const std::wstring& name, const std::string& content);
std::string end_marker();

// `n` bytes that compress somewhat but not to nothing, different per seed.
std::string sample_bytes(size_t n, uint32_t seed);

// One frame from the compressor: window log exactly `window_log`, no content
// size, optionally a content checksum.
std::string compress_frame(const std::string& stream, int window_log = 27, bool checksum = false);

// Hand-made frames (RFC 8878).
std::string frame_header(int window_log);                    // no content size
std::string single_segment_header(uint32_t content_size);    // content size in 4 bytes
std::string raw_block(const std::string& bytes, bool last);
std::string rle_block(unsigned char byte, uint32_t count, bool last);
std::string reserved_block();                                // block type 3: always corrupt
std::string skippable_frame(const std::string& bytes);
std::string empty_frame();                                   // content size 0

// "VOY", the frame, and with `trailing` the zero bytes up to a multiple of 8
// and the count of all bytes before it.
std::string stored_payload(const std::string& frame, bool trailing);

}  // namespace payload_test
