// The reader against streams whose decoder calls the tests know: frames from
// the compressor, and hand-made frames where block sizes put the buffer
// boundaries exactly where a test needs them. Fatal ends run in a fresh copy
// of this binary. Built for Windows (run under Wine) and on the host with
// the sanitizers, where a read outside a buffer fails the test.
#include <gtest/gtest.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "payload/reader.h"
#include "payload/tests/payload_streams.h"
#ifdef _WIN32
#include "tests/support/process.h"
#else
#include "tests/support/host_modes.h"
#endif

using namespace payload_test;
using onefile_test::run_mode;

namespace {

constexpr size_t kBuffer = kPayloadOutputBufferSize;
constexpr char kDecodeLine[] = "Error, couldn't decode attached data.\n";

// The reader decodes in place: `stored` must outlive the reads.
void open_stored(const std::string& stored) {
  payload_open(reinterpret_cast<const unsigned char*>(stored.data()), stored.size());
}

std::string read_bytes(size_t n) {
  std::string part(n, '\0');
  payload_read(part.data(), n);
  return part;
}

std::string read_pieces(const std::string& stored, const std::vector<size_t>& pieces) {
  open_stored(stored);
  std::string out;
  for (size_t n : pieces) out += read_bytes(n);
  payload_close();
  return out;
}

// What the first decoder call does with a stream, given the reader's buffer:
// lets a test make sure its stream really sets up the case it is about.
struct DecoderCall {
  size_t produced, consumed;
};
DecoderCall first_decoder_call(const std::string& frame) {
  ZSTD_DCtx* dctx = ZSTD_createDCtx();
  std::string out(kBuffer, '\0');
  ZSTD_inBuffer in{frame.data(), frame.size(), 0};
  ZSTD_outBuffer o{out.data(), out.size(), 0};
  size_t r = ZSTD_decompressStream(dctx, &o, &in);
  ZSTD_freeDCtx(dctx);
  EXPECT_FALSE(ZSTD_isError(r));
  return {o.pos, in.pos};
}

std::string example_stream() {
  return entry_record(L"x.dll", std::string("\xC0\xC1\xC2", 3)) + entry_record(L"data\\a.txt", "alpha") +
         end_marker();
}

// 100 raw bytes, then an RLE block of a whole buffer of 'z', and no last
// block: the first call consumes every input byte and fills the buffer, while
// the decoder still holds 100 bytes of 'z'.
std::string raw = sample_bytes(100, 7);
std::string frame_that_fills_buffer_with_input_used_up() {
  return frame_header(20) + raw_block(raw, false) + rle_block('z', kBuffer, false);
}

}  // namespace

ONEFILE_TEST_MODE(finish) {
  // args: how the frame around the example stream is made.
  const std::string stream = example_stream();
  std::string frame = compress_frame(stream + "after the end marker", 20, true);
  bool trailing = true;
  if (args.at(0) == L"checksum_flipped") frame.back() ^= 1;
  if (args.at(0) == L"checksum_missing") frame.resize(frame.size() - 4), trailing = false;
  if (args.at(0) == L"unchecked_without_end") frame = frame_header(20) + raw_block(stream, false);
  const std::string stored = stored_payload(frame, trailing);
  open_stored(stored);
  read_bytes(stream.size());
  payload_finish();
  payload_close();
  std::printf("finished\n");
  return 0;
}

TEST(PayloadReader, FinishChecksTheContentChecksumOfFramesThatCarryOne) {
  const struct {
    const wchar_t* frame;
    const char* out;
  } cases[] = {
      {L"intact", "finished\n"},
      {L"checksum_flipped", kDecodeLine},
      {L"checksum_missing", kDecodeLine},
      // Without the checksum flag nothing after the end marker is read, as
      // for every payload written before the checksum.
      {L"unchecked_without_end", "finished\n"},
  };
  for (const auto& c : cases) {
    auto r = run_mode(L"finish", {c.frame});
    EXPECT_EQ(r.out, c.out) << onefile_test::narrow(c.frame);
    EXPECT_EQ(r.exit_code, std::string(c.out) == kDecodeLine ? 2u : 0u) << onefile_test::narrow(c.frame);
  }
}

ONEFILE_TEST_MODE(read_past_end) {
  std::string stream = example_stream();
  std::string stored = stored_payload(compress_frame(stream, 20), args.at(0) == L"trailing");
  open_stored(stored);
  if (args.at(1) == L"split") {
    std::printf("read %s\n", read_bytes(stream.size()) == stream ? "all" : "wrong");
    read_bytes(1);
  } else {
    read_bytes(stream.size() + 1);
  }
  std::printf("read past the end\n");
  return 0;
}

ONEFILE_TEST_MODE(drain_then_past_end) {
  std::string stored = stored_payload(frame_that_fills_buffer_with_input_used_up(), false);
  open_stored(stored);
  read_bytes(kBuffer + 100);
  std::printf("drained\n");
  read_bytes(1);
  return 0;
}

ONEFILE_TEST_MODE(corrupt_block) {
  std::string first = sample_bytes(kBuffer, 3);
  std::string stored = stored_payload(
      frame_header(20) + raw_block(first, false) + raw_block("0123456789", false) + reserved_block(), false);
  open_stored(stored);
  std::printf("delivered %s\n", read_bytes(kBuffer) == first ? "intact" : "wrong");
  read_bytes(1);
  return 0;
}

ONEFILE_TEST_MODE(corrupt_compressed) {
  std::string stream = sample_bytes(60000, 5);
  std::string frame = compress_frame(stream, 20, true);
  frame[frame.size() / 2] ^= 0x40;
  std::string stored = stored_payload(frame, true);
  open_stored(stored);
  read_bytes(stream.size());
  std::printf("complete\n");
  return 0;
}

ONEFILE_TEST_MODE(window_log) {
  int log = std::stoi(args.at(0));
  std::string stored = stored_payload(frame_header(log) + raw_block("fits", true), false);
  open_stored(stored);
  std::printf("%s\n", read_bytes(4).c_str());
  return 0;
}

ONEFILE_TEST_MODE(single_segment) {
  uint32_t content = static_cast<uint32_t>(std::stoul(args.at(0)));
  std::string stored = stored_payload(single_segment_header(content) + rle_block('q', kBuffer, false), false);
  open_stored(stored);
  std::printf("%s\n", read_bytes(4).c_str());
  return 0;
}

TEST(PayloadReader, ReadsStraddlingTheEndOfBufferedBytes) {
  std::string stream = sample_bytes(3 * kBuffer + 777, 1);
  std::string stored = stored_payload(compress_frame(stream, 27), true);
  // 131071 + 3: one byte from the first buffer, two from the second. Then
  // odd pieces that cross every later boundary somewhere inside.
  std::vector<size_t> pieces = {kBuffer - 1, 3};
  size_t taken = kBuffer + 2;
  while (taken < stream.size()) {
    size_t n = std::min<size_t>(7919, stream.size() - taken);
    pieces.push_back(n);
    taken += n;
  }
  EXPECT_TRUE(read_pieces(stored, pieces) == stream);
  // One byte at a time over a boundary, then the rest at once.
  EXPECT_TRUE(read_pieces(stored, {kBuffer - 2, 1, 1, 1, 1, stream.size() - kBuffer - 2}) == stream);
}

TEST(PayloadReader, CallsAgainAfterDecoderCallsThatProduceNothing) {
  // A skippable frame and two empty frames each end a decoder call with no
  // output while input is left.
  std::string frame = skippable_frame("not ours") + empty_frame() + empty_frame() + frame_header(17) +
                      raw_block("hello", true);
  DecoderCall call = first_decoder_call(frame);
  ASSERT_EQ(call.produced, 0u);
  ASSERT_LT(call.consumed, frame.size());
  EXPECT_EQ(read_pieces(stored_payload(frame, false), {2, 3}), "hello");
}

TEST(PayloadReader, DrainsDecoderAfterFullBufferEvenWithNoInputLeft) {
  std::string frame = frame_that_fills_buffer_with_input_used_up();
  DecoderCall call = first_decoder_call(frame);
  ASSERT_EQ(call.produced, kBuffer);
  ASSERT_EQ(call.consumed, frame.size());
  std::string expected = raw + std::string(kBuffer, 'z');
  // The second read empties the buffer exactly; only the third needs the
  // decoder again, with no input left.
  EXPECT_TRUE(read_pieces(stored_payload(frame, false), {kBuffer - 72, 72, 100}) == expected);
  EXPECT_TRUE(read_pieces(stored_payload(frame, false), {kBuffer + 100}) == expected);
}

TEST(PayloadReader, ReadPastTheEndIsDecodeError) {
  for (const wchar_t* trailing : {L"bare", L"trailing"}) {
    for (const wchar_t* how : {L"split", L"whole"}) {
      SCOPED_TRACE(onefile_test::narrow(std::wstring(trailing) + L" " + how));
      auto r = run_mode(L"read_past_end", {trailing, how});
      EXPECT_FALSE(r.timed_out);
      EXPECT_EQ(r.exit_code, 2u);
      EXPECT_EQ(r.out, std::string(how == std::wstring(L"split") ? "read all\n" : "") + kDecodeLine);
      EXPECT_EQ(r.err, "");
    }
  }
  // The decoder's held output was drained; then there is nothing left.
  auto r = run_mode(L"drain_then_past_end");
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 2u);
  EXPECT_EQ(r.out, std::string("drained\n") + kDecodeLine);
}

TEST(PayloadReader, CorruptDataIsDecodeErrorAndEarlierBytesStayDelivered) {
  auto r = run_mode(L"corrupt_block");
  EXPECT_EQ(r.exit_code, 2u);
  EXPECT_EQ(r.out, std::string("delivered intact\n") + kDecodeLine);
  EXPECT_EQ(r.err, "");

  r = run_mode(L"corrupt_compressed");
  EXPECT_EQ(r.exit_code, 2u);
  EXPECT_EQ(r.out, kDecodeLine);
}

TEST(PayloadReader, WindowAboveTheDefaultLimitIsRefused) {
  auto r = run_mode(L"window_log", {L"27"});
  EXPECT_EQ(r.exit_code, 0u);
  EXPECT_EQ(r.out, "fits\n");

  r = run_mode(L"window_log", {L"28"});
  EXPECT_EQ(r.exit_code, 2u);
  EXPECT_EQ(r.out, kDecodeLine);
}

TEST(PayloadReader, SingleSegmentFrameAboveTheLimitIsRefused) {
  // A single-segment frame's window is its content size; 2^27 + 1 is the limit.
  auto r = run_mode(L"single_segment", {L"134217729"});
  EXPECT_EQ(r.exit_code, 0u);
  EXPECT_EQ(r.out, "qqqq\n");

  r = run_mode(L"single_segment", {L"134217730"});
  EXPECT_EQ(r.exit_code, 2u);
  EXPECT_EQ(r.out, kDecodeLine);
}

TEST(PayloadReader, TrailingBytesAfterTheFrameChangeNothing) {
  std::string stream = example_stream();
  std::string frame = compress_frame(stream, 27);
  std::string with = stored_payload(frame, true), without = stored_payload(frame, false);
  ASSERT_EQ(with.size() % 8, 0u);
  ASSERT_GT(with.size(), without.size());
  EXPECT_EQ(read_pieces(with, {stream.size()}), stream);
  EXPECT_EQ(read_pieces(without, {stream.size()}), stream);
}
