#include "payload/reader.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

// For ZSTD_getFrameHeader, stable in the static library that is linked.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include "contract/format.h"
#include "diag/fail_message.h"
#include "diag/messages.h"

namespace {

// The decoder state, one per process.
//
// g_input: `src` is the first byte after the header, `size` the compressed
// length; `pos` counts the bytes consumed and only the decoder advances it.
// The bytes are decoded where they lie, never copied.
//
// g_output: its two counters do double duty.
//  - During a decoder call, `size` is the capacity of the buffer and `pos`
//    counts the bytes produced, starting from 0.
//  - Between calls, `size` is the number of valid bytes the last call
//    produced and `pos` the read position: bytes [pos, size) are decoded and
//    not yet handed out. Before the first read both are 0.
// Between calls 0 <= pos <= size <= kPayloadOutputBufferSize holds.
//
// g_output_was_full: the last call filled the whole buffer, so the decoder
// may hold more output without needing more input. It outlives a read: a
// later read that finds the buffer empty must call the decoder once more even
// when no input is left, or that held output would be lost.
ZSTD_DCtx* g_decoder = nullptr;
ZSTD_inBuffer g_input = {nullptr, 0, 0};
ZSTD_outBuffer g_output = {nullptr, 0, 0};
bool g_output_was_full = false;
// The last decoder call finished the frame (and checked its checksum, if any).
bool g_frame_complete = false;
// g_input's `pos` and `size` for other threads (the progress window).
std::atomic<unsigned long long> g_consumed{0};
std::atomic<unsigned long long> g_input_size{0};

// One decoder call into the whole output buffer; any error is the decode error.
void decode_into_buffer() {
  g_output.size = kPayloadOutputBufferSize;
  g_output.pos = 0;
  const size_t result = ZSTD_decompressStream(g_decoder, &g_output, &g_input);
  if (ZSTD_isError(result)) fail_message(msg::kDecode);
  g_frame_complete = result == 0;
  g_consumed.store(g_input.pos, std::memory_order_relaxed);
  g_output_was_full = g_output.pos == kPayloadOutputBufferSize;
}

}  // namespace

void payload_open(const unsigned char* stored, size_t stored_length) {
  void* buffer = malloc(kPayloadOutputBufferSize);
  if (!buffer) fail_message(msg::kAllocate);
  g_decoder = ZSTD_createDCtx();
  if (!g_decoder) fail_message(msg::kAllocate);

  g_output = {buffer, 0, 0};
  g_output_was_full = false;
  g_frame_complete = false;
  // The caller has checked the header, so the array holds at least its bytes.
  const size_t header = payload_format::kHeaderSize;
  g_input = {stored + header, stored_length > header ? stored_length - header : 0, 0};
  g_consumed.store(0, std::memory_order_relaxed);
  g_input_size.store(g_input.size, std::memory_order_relaxed);
}

void payload_progress(unsigned long long* done, unsigned long long* total) {
  *done = g_consumed.load(std::memory_order_relaxed);
  *total = g_input_size.load(std::memory_order_relaxed);
}

void payload_read(void* dst, size_t count) {
  unsigned char* out = static_cast<unsigned char*>(dst);
  while (count > 0) {
    size_t available = g_output.size - g_output.pos;
    if (available > 0) {
      size_t n = available < count ? available : count;
      memcpy(out, static_cast<unsigned char*>(g_output.dst) + g_output.pos, n);
      g_output.pos += n;
      out += n;
      count -= n;
      continue;
    }
    if (g_input.pos >= g_input.size && !g_output_was_full) fail_message(msg::kDecode);

    decode_into_buffer();
    // A call may produce nothing (it read only a frame or block header); the
    // next pass then calls again while input remains.
    g_output.size = g_output.pos;
    g_output.pos = 0;
  }
}

void payload_finish() {
  ZSTD_frameHeader header;
  if (ZSTD_getFrameHeader(&header, g_input.src, g_input.size) != 0 || !header.checksumFlag) return;
  // Whatever the frame holds after the end marker is decoded and dropped; the
  // decoder compares the checksum when it reaches the frame's end.
  while (!g_frame_complete) {
    if (g_input.pos >= g_input.size && !g_output_was_full) fail_message(msg::kDecode);
    decode_into_buffer();
  }
  g_output.size = 0;
  g_output.pos = 0;
}

void payload_close() {
  ZSTD_freeDCtx(g_decoder);
  g_decoder = nullptr;
  free(g_output.dst);
  g_output = {nullptr, 0, 0};
}
