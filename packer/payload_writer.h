// The stored payload: "VOY", one Zstandard frame holding the entry stream,
// zero bytes up to a multiple of 8, and the count of all bytes before it as
// a little-endian 64-bit number.
//
// The frame has a window of exactly 2^27 bytes (the launcher's decoder takes
// no more), no dictionary, no content size, and the content checksum, which
// the launcher checks before it starts the app. It is written by
// libzstd's worker threads; their output depends on the job size but not on
// the number of workers, so the same tree gives the same bytes on any
// machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "packer/entry_stream.h"
#include "packer/sha256.h"
#include "packer/tree.h"

typedef struct ZSTD_CCtx_s ZSTD_CCtx;

namespace onefile_pack {

class OutputFile;

// Chosen by measurement (bench/pack_bench.sh; the figures are in
// bench/README.md): level 19 packs markedly smaller than 9 or 3, and
// decoding takes the same time at every level, so the size wins.
inline constexpr int kDefaultLevel = 19;
inline constexpr int kMinLevel = 1;
inline constexpr int kMaxLevel = 22;

struct CompressionSettings {
  int level = kDefaultLevel;
  bool long_matching = false;  // long-distance matching (on anyway from level 16 with this window)
  unsigned workers = 0;        // 0: one per hardware thread
};

// A ByteSink that compresses into one frame written to an OutputFile.
class FrameCompressor : public ByteSink {
 public:
  FrameCompressor(OutputFile& out, const CompressionSettings& settings);
  ~FrameCompressor() override;
  FrameCompressor(const FrameCompressor&) = delete;
  FrameCompressor& operator=(const FrameCompressor&) = delete;

  void write(const void* data, size_t size) override;
  // Ends the frame. Nothing may be written afterwards.
  void finish();

 private:
  void drain(const void* data, size_t size, int end_op);

  OutputFile& out_;
  ZSTD_CCtx* cctx_;
  std::vector<unsigned char> buffer_;
};

struct PackProgress {
  size_t files_done = 0;
  size_t files_total = 0;
  uint64_t bytes_done = 0;   // content bytes read so far
  uint64_t bytes_total = 0;  // content bytes as the walk saw them
  uint64_t bytes_out = 0;    // stored payload bytes written so far
};

// Called after each file and every few megabytes within a large one.
using ProgressFn = std::function<void(const PackProgress&)>;

// Writes the stored payload of `tree` to `out`, reading each file while it
// is compressed. With `digests`, also the SHA-256 of each file's content,
// in payload order. Throws PackError naming the file that fails.
PackProgress write_stored_payload(const Tree& tree, OutputFile& out, const CompressionSettings& settings,
                                  const ProgressFn& progress = {}, std::vector<Sha256::Digest>* digests = nullptr);

// The zero bytes and count that follow the frame, for a payload of `length`
// bytes so far (header and frame).
std::vector<unsigned char> payload_trailer(uint64_t length);

}  // namespace onefile_pack
