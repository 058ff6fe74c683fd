#include "packer/entry_stream.h"

#include <stdexcept>
#include <vector>

#include "packer/pack_error.h"
#include "payload/format.h"

namespace onefile_pack {

void put_le16(unsigned char* out, uint16_t value) {
  out[0] = static_cast<unsigned char>(value);
  out[1] = static_cast<unsigned char>(value >> 8);
}

void put_le64(unsigned char* out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

void write_record_header(ByteSink& sink, const std::u16string& name, uint64_t size) {
  if (name.empty() || name.size() > payload_format::kMaxNameUnits || name.find(u'\0') != std::u16string::npos)
    throw PackError("payload name", "must hold 1 to 1023 non-zero UTF-16 units");
  std::vector<unsigned char> header(2 * (name.size() + 1) + 8);
  unsigned char* out = header.data();
  for (const char16_t unit : name) {
    put_le16(out, unit);
    out += 2;
  }
  put_le16(out, 0);
  put_le64(out + 2, size);
  sink.write(header.data(), header.size());
}

void write_end_marker(ByteSink& sink) {
  const unsigned char marker[2] = {0, 0};
  sink.write(marker, sizeof marker);
}

}  // namespace onefile_pack
