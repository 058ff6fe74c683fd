#include "payload/tests/payload_streams.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <zstd.h>

#include <stdexcept>

namespace payload_test {

static void put_le(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string name_field(const std::wstring& name) {
  std::string out;
  for (wchar_t unit : name) put_le(out, static_cast<uint16_t>(unit), 2);
  put_le(out, 0, 2);
  return out;
}

std::string size_field(uint64_t size) {
  std::string out;
  put_le(out, size, 8);
  return out;
}

std::string entry_record(const std::wstring& name, const std::string& content) {
  return name_field(name) + size_field(content.size()) + content;
}

std::string end_marker() { return std::string(2, '\0'); }

std::string sample_bytes(size_t n, uint32_t seed) {
  std::string out(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    // A small alphabet: the compressor finds work, the output stays varied.
    out[i] = static_cast<char>('a' + x % 16);
  }
  return out;
}

std::string compress_frame(const std::string& stream, int window_log, bool checksum) {
  ZSTD_CCtx* cctx = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, window_log);
  ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, 0);
  ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, checksum ? 1 : 0);
  std::string out;
  std::string chunk(ZSTD_CStreamOutSize(), '\0');
  // Feeding the input before ending keeps the size unknown to the compressor,
  // so it keeps the window it was given.
  ZSTD_inBuffer in{stream.data(), stream.size(), 0};
  ZSTD_EndDirective mode = ZSTD_e_continue;
  for (;;) {
    ZSTD_outBuffer o{chunk.data(), chunk.size(), 0};
    size_t left = ZSTD_compressStream2(cctx, &o, &in, mode);
    if (ZSTD_isError(left)) throw std::runtime_error(ZSTD_getErrorName(left));
    out.append(chunk.data(), o.pos);
    if (mode == ZSTD_e_continue && in.pos == in.size) mode = ZSTD_e_end;
    else if (mode == ZSTD_e_end && left == 0) break;
  }
  ZSTD_freeCCtx(cctx);

  ZSTD_frameHeader header;
  if (ZSTD_getFrameHeader(&header, out.data(), out.size()) != 0 ||
      header.windowSize != (1ull << window_log) || header.frameContentSize != ZSTD_CONTENTSIZE_UNKNOWN)
    throw std::runtime_error("compressor did not keep the requested frame parameters");
  return out;
}

static std::string magic() { return std::string("\x28\xB5\x2F\xFD", 4); }

std::string frame_header(int window_log) {
  // Descriptor 0: no content size, not single-segment, no checksum or
  // dictionary; then the window descriptor with mantissa 0.
  std::string out = magic();
  out += '\0';
  out += static_cast<char>((window_log - 10) << 3);
  return out;
}

std::string single_segment_header(uint32_t content_size) {
  std::string out = magic();
  out += static_cast<char>(0x80 | 0x20);  // 4-byte content size, single segment
  put_le(out, content_size, 4);
  return out;
}

static std::string block_header(int type, uint32_t size, bool last) {
  std::string out;
  put_le(out, (static_cast<uint32_t>(size) << 3) | (static_cast<uint32_t>(type) << 1) | (last ? 1u : 0u), 3);
  return out;
}

std::string raw_block(const std::string& bytes, bool last) {
  return block_header(0, static_cast<uint32_t>(bytes.size()), last) + bytes;
}

std::string rle_block(unsigned char byte, uint32_t count, bool last) {
  return block_header(1, count, last) + static_cast<char>(byte);
}

std::string reserved_block() { return block_header(3, 1, true) + "x"; }

std::string skippable_frame(const std::string& bytes) {
  std::string out("\x50\x2A\x4D\x18", 4);
  put_le(out, bytes.size(), 4);
  return out + bytes;
}

std::string empty_frame() {
  std::string out = magic();
  out += static_cast<char>(0x20);  // single segment, 1-byte content size
  out += '\0';
  return out + raw_block("", true);
}

std::string stored_payload(const std::string& frame, bool trailing) {
  std::string out = "VOY" + frame;
  if (trailing) {
    while (out.size() % 8 != 0) out += '\0';
    put_le(out, out.size(), 8);
  }
  return out;
}

}  // namespace payload_test
