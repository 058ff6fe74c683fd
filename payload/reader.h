// Exact reads from the compressed entry stream. Every failure ends the process
// with "Error, couldn't decode attached data." (or the allocation message).
#pragma once

#include <cstddef>

inline constexpr size_t kPayloadOutputBufferSize = 131072;

// Allocates the output buffer and the decoder; the input starts after the
// 3-byte header of the stored payload.
void payload_open(const unsigned char* stored, size_t stored_length);

// Copies exactly `count` (at least 1) next bytes of the entry stream to `dst`.
void payload_read(void* dst, size_t count);

// After the end marker: when the frame carries a content checksum, decodes it
// to its end so that the checksum is compared; a mismatch, or input that ends
// before the frame does, is the decode error. A frame without the checksum is
// left as it is.
void payload_finish();

// How far decoding has come, readable from any thread: the compressed bytes
// consumed and their total. The files are written as the stream is decoded,
// so this follows the bytes written.
void payload_progress(unsigned long long* done, unsigned long long* total);

// Frees the decoder and then the output buffer.
void payload_close();
