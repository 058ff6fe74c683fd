// The entry stream: records (name, size, content) closed by an end marker,
// exactly as the launcher reads it after decompression. The writer emits the
// fixed parts; callers stream each record's content bytes themselves, so no
// file is ever held in memory whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace onefile_pack {

// Where the stream's bytes go (the compressor, or memory in tests).
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void write(const void* data, size_t size) = 0;
};

class StringSink : public ByteSink {
 public:
  void write(const void* data, size_t size) override { bytes.append(static_cast<const char*>(data), size); }
  std::string bytes;
};

// A record's name (UTF-16LE units, then 0x0000) and its 64-bit little-endian
// size; `size` content bytes must follow. The name must hold 1 to 1023 units
// and no 0x0000 unit (std::invalid_argument otherwise).
void write_record_header(ByteSink& sink, const std::u16string& name, uint64_t size);

// The single 0x0000 unit that ends the stream.
void write_end_marker(ByteSink& sink);

}  // namespace onefile_pack
