#include "packer/payload_writer.h"

#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <thread>

#include "contract/format.h"
#include "contract/little_endian.h"
#include "packer/file_system.h"
#include "packer/output_file.h"
#include "packer/pack_error.h"

namespace onefile_pack {

namespace {

constexpr size_t kReadChunk = 1 << 20;
constexpr uint64_t kProgressStep = 4 << 20;
// Each worker compresses a job of this many input bytes and sees the data
// before the job through an overlap of 2^(27 - 9 + 6) = 16 MiB. The
// library's defaults for a 2^27 window (512 MiB jobs, up to the whole
// window as overlap) would leave most trees to one thread. Measured on a
// 221 MiB mixed tree at level 19 these settings cost 0.15 % in size against
// one single job and halve the time on two cores; 16 MiB jobs cost 0.6 %.
// Both values are fixed, as the output depends on them.
constexpr int kJobSize = 32 << 20;
constexpr int kOverlapLog = 6;

void check(size_t result, const char* what) {
  if (ZSTD_isError(result))
    throw PackError("libzstd", std::string(what) + ": " + ZSTD_getErrorName(result));
}

}  // namespace

FrameCompressor::FrameCompressor(OutputFile& out, const CompressionSettings& settings)
    : out_(out), cctx_(ZSTD_createCCtx()), buffer_(ZSTD_CStreamOutSize()) {
  if (!cctx_) throw std::bad_alloc();
  unsigned workers = settings.workers;
  if (workers == 0) workers = std::max(1u, std::thread::hardware_concurrency());
  check(ZSTD_CCtx_setParameter(cctx_, ZSTD_c_compressionLevel, settings.level), "level");
  check(ZSTD_CCtx_setParameter(cctx_, ZSTD_c_windowLog, payload_format::kWindowLog), "window");
  check(ZSTD_CCtx_setParameter(cctx_, ZSTD_c_contentSizeFlag, 0), "content size flag");
  check(ZSTD_CCtx_setParameter(cctx_, ZSTD_c_checksumFlag, 1), "checksum flag");
  check(ZSTD_CCtx_setParameter(cctx_, ZSTD_c_dictIDFlag, 0), "dictionary flag");
  if (settings.long_matching)
    check(ZSTD_CCtx_setParameter(cctx_, ZSTD_c_enableLongDistanceMatching, 1), "long-distance matching");
  // Always at least one worker: the threaded compressor's output is the
  // same for any number of workers, but differs from the unthreaded one.
  check(ZSTD_CCtx_setParameter(cctx_, ZSTD_c_nbWorkers, static_cast<int>(workers)),
        "worker threads (libzstd built without thread support?)");
  check(ZSTD_CCtx_setParameter(cctx_, ZSTD_c_jobSize, kJobSize), "job size");
  check(ZSTD_CCtx_setParameter(cctx_, ZSTD_c_overlapLog, kOverlapLog), "overlap");
}

FrameCompressor::~FrameCompressor() { ZSTD_freeCCtx(cctx_); }

void FrameCompressor::drain(const void* data, size_t size, int end_op) {
  ZSTD_inBuffer in = {data, size, 0};
  for (;;) {
    ZSTD_outBuffer out = {buffer_.data(), buffer_.size(), 0};
    const size_t remaining = ZSTD_compressStream2(cctx_, &out, &in, static_cast<ZSTD_EndDirective>(end_op));
    check(remaining, "compressing");
    out_.write(buffer_.data(), out.pos);
    if (end_op == ZSTD_e_end ? remaining == 0 : in.pos == in.size) break;
  }
}

// Every byte goes in with ZSTD_e_continue; only finish() ends the frame.
// (A first call with ZSTD_e_end would let the library take the input's size
// as the content size, and then shrink the window and mark the frame
// single-segment.)
void FrameCompressor::write(const void* data, size_t size) {
  if (size > 0) drain(data, size, ZSTD_e_continue);
}

void FrameCompressor::finish() { drain(nullptr, 0, ZSTD_e_end); }

std::vector<unsigned char> payload_trailer(uint64_t length) {
  const uint64_t align = payload_format::kTrailerAlignment;
  const uint64_t padding = (align - length % align) % align;
  std::vector<unsigned char> trailer(padding + 8, 0);
  little_endian::write(trailer.data() + padding, length + padding, 8);
  return trailer;
}

PackProgress write_stored_payload(const Tree& tree, OutputFile& out, const CompressionSettings& settings,
                                  const ProgressFn& progress, std::vector<Sha256::Digest>* digests) {
  PackProgress state;
  state.files_total = tree.files.size();
  state.bytes_total = tree.total_size;
  const auto report = [&] {
    state.bytes_out = out.bytes_written();
    if (progress) progress(state);
  };

  out.write(payload_format::kHeader, payload_format::kHeaderSize);
  FrameCompressor frame(out, settings);
  std::vector<unsigned char> buffer(kReadChunk);
  for (const TreeFile& file : tree.files) {
    InputFile input(file.path);
    if (!input.is_regular()) throw PackError(file.path, "changed into something other than a file while packing");

    const uint64_t size = input.size();
    write_record_header(frame, file.name, size);
    std::optional<Sha256> hash;
    if (digests) hash.emplace();
    uint64_t left = size;
    uint64_t next_report = state.bytes_done + kProgressStep;
    while (left > 0) {
      const size_t n = input.read(buffer.data(), static_cast<size_t>(std::min<uint64_t>(left, buffer.size())));
      if (n == 0) throw PackError(file.path, "file became shorter while packing");
      frame.write(buffer.data(), static_cast<size_t>(n));
      if (hash) hash->add(buffer.data(), n);
      left -= static_cast<uint64_t>(n);
      state.bytes_done += static_cast<uint64_t>(n);
      if (state.bytes_done >= next_report) {
        report();
        next_report = state.bytes_done + kProgressStep;
      }
    }
    // The size is already in the stream: a file that grew cannot be packed whole.
    if (input.read(buffer.data(), 1) > 0) throw PackError(file.path, "file became longer while packing");
    if (hash) digests->push_back(hash->finish());
    ++state.files_done;
    report();
  }
  write_end_marker(frame);
  frame.finish();

  const std::vector<unsigned char> trailer = payload_trailer(out.bytes_written());
  out.write(trailer.data(), trailer.size());
  report();
  return state;
}

}  // namespace onefile_pack
