#include "packer/payload_reader.h"

// For ZSTD_getFrameHeader, stable in the static library that is linked.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

#include "contract/entry_names.h"
#include "contract/format.h"
#include "contract/little_endian.h"
#include "packer/file_system.h"
#include "packer/names.h"
#include "packer/utf.h"

namespace onefile_pack {

namespace {

constexpr size_t kInputChunk = 1 << 20;

[[noreturn]] void problem(const std::string& reason) { throw PayloadProblem(reason); }

std::string entry_label(const PayloadEntry& entry) {
  return "entry " + std::to_string(entry.index) + " '" + entry_text(entry.name) + "'";
}

// The entry stream, fed in pieces of any size as the frame is decoded.
class EntryParser {
 public:
  explicit EntryParser(EntryVisitor& visitor) : visitor_(visitor) {}

  void feed(const unsigned char* data, size_t size) {
    while (size > 0) {
      if (state_ == State::ended) problem("data follows the end marker of the entry stream");
      if (state_ == State::content) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left_, size));
        visitor_.content(data, n);
        data += n, size -= n, left_ -= n;
        if (left_ == 0) finish_entry();
        continue;
      }
      // A name's units and a size are gathered byte by byte: they may be
      // split between two pieces.
      field_[field_size_++] = *data++;
      --size;
      if (state_ == State::name && field_size_ == 2) {
        field_size_ = 0;
        name_unit(static_cast<char16_t>(little_endian::read(field_, 2)));
      } else if (state_ == State::size && field_size_ == 8) {
        field_size_ = 0;
        entry_.size = little_endian::read(field_, 8);
        begin_entry();
      }
    }
  }

  // The frame has ended: so must the stream, at its end marker.
  void finish() const {
    if (state_ == State::ended) return;
    if (state_ == State::name && entry_.name.empty() && field_size_ == 0)
      problem("the entry stream ends before its end marker");
    problem("the entry stream ends inside entry " + std::to_string(entry_.index) +
            (entry_.name.empty() ? "" : " '" + entry_text(entry_.name) + "'"));
  }

  size_t files() const { return files_; }
  uint64_t content_size() const { return content_size_; }

 private:
  enum class State { name, size, content, ended };

  void name_unit(char16_t unit) {
    if (unit != 0) {
      if (entry_.name.size() == payload_format::kMaxNameUnits)
        problem("entry " + std::to_string(entry_.index) + ": its name is longer than " +
                std::to_string(payload_format::kMaxNameUnits) + " UTF-16 units");
      entry_.name.push_back(unit);
      return;
    }
    if (entry_.name.empty()) {
      if (files_ == 0) problem("the payload holds no file, only the end marker");
      state_ = State::ended;
      return;
    }
    if (!payload_names::is_plain_relative_name(entry_.name.data(), entry_.name.size()))
      problem(entry_label(entry_) +
              ": a name the launcher refuses (an empty part, a part ending in a dot or a blank, such as '..', "
              "a '/', a ':' or a device name)");
    const auto [seen, inserted] = names_.emplace(fold_case(entry_.name), entry_.index);
    if (!inserted)
      problem(entry_label(entry_) + ": the same name as entry " + std::to_string(seen->second) +
              " (Windows ignores case)");
    state_ = State::size;
  }

  void begin_entry() {
    visitor_.begin(entry_);
    ++files_;
    content_size_ += entry_.size;
    left_ = entry_.size;
    state_ = State::content;
    if (left_ == 0) finish_entry();
  }

  void finish_entry() {
    visitor_.end(entry_);
    entry_.name.clear();
    entry_.size = 0;
    ++entry_.index;
    state_ = State::name;
  }

  EntryVisitor& visitor_;
  State state_ = State::name;
  PayloadEntry entry_{1, {}, 0};
  unsigned char field_[8] = {};
  size_t field_size_ = 0;
  uint64_t left_ = 0;  // content bytes of the current entry still to come
  size_t files_ = 0;
  uint64_t content_size_ = 0;
  // Every name so far, folded to upper case, with its entry's number.
  std::unordered_map<std::u16string, size_t> names_;
};

std::string decode_error(size_t result) {
  switch (ZSTD_getErrorCode(result)) {
    case ZSTD_error_checksum_wrong:
      return "the payload's content checksum does not match: its bytes were altered";
    case ZSTD_error_frameParameter_windowTooLarge:
      return "the payload's frame needs a window above 2^" + std::to_string(payload_format::kWindowLog) +
             " bytes, which the launcher refuses";
    case ZSTD_error_dictionary_wrong:
      return "the payload's frame needs a dictionary, which the launcher does not have";
    default:
      return std::string("the payload cannot be decoded (") + ZSTD_getErrorName(result) + ")";
  }
}

struct DecoderDeleter {
  void operator()(ZSTD_DCtx* decoder) const { ZSTD_freeDCtx(decoder); }
};

}  // namespace

std::string entry_text(const std::u16string& name) { return utf16_to_utf8(name); }

PayloadFacts read_stored_payload(InputFile& in, uint64_t size, EntryVisitor& visitor) {
  const auto read_exactly = [&](void* data, size_t count) {
    size_t got = 0;
    while (got < count) {
      const size_t n = in.read(static_cast<char*>(data) + got, count - got);
      if (n == 0) problem("the file is cut short inside its payload");
      got += n;
    }
  };
  PayloadFacts facts;
  facts.stored_size = size;
  char header[payload_format::kHeaderSize];
  if (size < sizeof header) problem("the payload is cut short: " + std::to_string(size) + " bytes");
  read_exactly(header, sizeof header);
  if (std::memcmp(header, payload_format::kHeader, sizeof header) != 0)
    problem("the payload does not start with \"VOY\"");

  // Default parameters, as the launcher decodes: a window of at most
  // 2^27 + 1 bytes, no dictionary.
  std::unique_ptr<ZSTD_DCtx, DecoderDeleter> decoder(ZSTD_createDCtx());
  if (!decoder) throw std::bad_alloc();
  EntryParser parser(visitor);
  std::vector<unsigned char> input(kInputChunk), output(ZSTD_DStreamOutSize());
  uint64_t unread = size - sizeof header;  // stored bytes not yet read from the file
  uint64_t frame_size = 0;
  ZSTD_inBuffer in_buffer = {input.data(), 0, 0};
  bool output_was_full = false, first = true;
  for (;;) {
    // The decoder may hold output without needing input: it gets another
    // call whenever the last one filled the output buffer.
    if (in_buffer.pos == in_buffer.size && !output_was_full) {
      if (unread == 0) problem("the payload is cut short: its frame does not end");
      const size_t n = static_cast<size_t>(std::min<uint64_t>(unread, input.size()));
      read_exactly(input.data(), n);
      unread -= n;
      in_buffer = {input.data(), n, 0};
      if (first) {
        ZSTD_frameHeader frame;
        facts.checksummed = ZSTD_getFrameHeader(&frame, input.data(), n) == 0 && frame.checksumFlag;
        first = false;
      }
    }
    ZSTD_outBuffer out_buffer = {output.data(), output.size(), 0};
    const size_t before = in_buffer.pos;
    const size_t result = ZSTD_decompressStream(decoder.get(), &out_buffer, &in_buffer);
    if (ZSTD_isError(result)) problem(decode_error(result));
    frame_size += in_buffer.pos - before;
    output_was_full = out_buffer.pos == out_buffer.size;
    parser.feed(output.data(), out_buffer.pos);
    if (result == 0) break;  // the frame is complete, its checksum compared
  }
  parser.finish();

  // After the frame: zero bytes up to a multiple of 8, then the count of
  // every byte before it.
  const uint64_t before_trailer = sizeof header + frame_size;
  const uint64_t align = payload_format::kTrailerAlignment;
  const uint64_t padding = (align - before_trailer % align) % align;
  const uint64_t after_frame = (in_buffer.size - in_buffer.pos) + unread;
  if (after_frame < padding + 8)
    problem("the payload's trailer is cut short: " + std::to_string(after_frame) + " bytes follow the frame, not " +
            std::to_string(padding + 8));
  if (after_frame > padding + 8)
    problem(std::to_string(after_frame - padding - 8) + " bytes follow the payload's trailer");
  unsigned char trailer[16] = {};
  const size_t buffered = in_buffer.size - in_buffer.pos;
  std::memcpy(trailer, input.data() + in_buffer.pos, buffered);
  read_exactly(trailer + buffered, static_cast<size_t>(unread));
  for (uint64_t i = 0; i < padding; ++i)
    if (trailer[i] != 0) problem("the payload's trailer is wrong: its padding is not zero");
  if (little_endian::read(trailer + padding, 8) != before_trailer + padding)
    problem("the payload's trailer is wrong: its count is not the payload's length");

  facts.files = parser.files();
  facts.content_size = parser.content_size();
  return facts;
}

}  // namespace onefile_pack
