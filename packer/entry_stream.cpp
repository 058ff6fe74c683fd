#include "packer/entry_stream.h"

#include <stdexcept>
#include <vector>

#include "contract/format.h"
#include "contract/little_endian.h"
#include "packer/pack_error.h"

namespace onefile_pack {

void write_record_header(ByteSink& sink, const std::u16string& name, uint64_t size) {
  if (name.empty() || name.size() > payload_format::kMaxNameUnits || name.find(u'\0') != std::u16string::npos)
    throw PackError("payload name", "must hold 1 to 1023 non-zero UTF-16 units");
  std::vector<unsigned char> header(2 * (name.size() + 1) + 8);
  unsigned char* out = header.data();
  for (const char16_t unit : name) {
    little_endian::write(out, unit, 2);
    out += 2;
  }
  little_endian::write(out, 0, 2);
  little_endian::write(out + 2, size, 8);
  sink.write(header.data(), header.size());
}

void write_end_marker(ByteSink& sink) {
  const unsigned char marker[2] = {0, 0};
  sink.write(marker, sizeof marker);
}

}  // namespace onefile_pack
