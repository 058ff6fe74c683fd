// Parsing of VS_VERSIONINFO: a tree of nodes, each
//   WORD length (whole node, children included), WORD value length,
//   WORD type (1 = text, value length in UTF-16 units; 0 = binary, in bytes),
//   UTF-16 key with terminator, padding to 4 bytes, value, padding, children.
// Offsets are aligned relative to the start of the resource data.
#include <cstring>

#include "contract/little_endian.h"
#include "packer/pe/pe_file.h"

namespace onefile_pe {
namespace {

constexpr uint32_t kFixedInfoSignature = 0xfeef04bd;
constexpr size_t kFixedInfoSize = 52;

struct Node {
  std::u16string key;
  uint16_t type = 0;
  std::string_view value;
  size_t children = 0;  // offset of the first child
  size_t end = 0;       // offset just past the node
};

size_t align4(size_t offset) { return (offset + 3) & ~size_t{3}; }

uint64_t read_le(std::string_view bytes, size_t offset, size_t width) {
  return little_endian::read(reinterpret_cast<const unsigned char*>(bytes.data()) + offset, width);
}

class VersionParser {
 public:
  explicit VersionParser(std::string_view data) : data_(data) {}

  uint16_t u16(size_t offset) const {
    if (offset > data_.size() || data_.size() - offset < 2) throw PeError("truncated version resource");
    return static_cast<uint16_t>(read_le(data_, offset, 2));
  }

  uint32_t u32(std::string_view bytes, size_t offset) const { return static_cast<uint32_t>(read_le(bytes, offset, 4)); }

  // The node at `offset`, which must end by `limit`.
  Node node(size_t offset, size_t limit) const {
    Node n;
    uint16_t length = u16(offset);
    uint16_t value_length = u16(offset + 2);
    n.type = u16(offset + 4);
    if (length < 6 || length > limit - offset) throw PeError("version resource node has a bad length");
    n.end = offset + length;
    size_t at = offset + 6;
    for (;; at += 2) {
      if (at + 2 > n.end) throw PeError("version resource key is not terminated");
      char16_t unit = u16(at);
      if (unit == 0) break;
      n.key += unit;
    }
    at = align4(at + 2);
    size_t value_size = n.type == 1 ? size_t{value_length} * 2 : value_length;
    // Some writers count the text value generously; it never leaves the node.
    if (at > n.end) at = n.end;
    if (value_size > n.end - at) {
      if (n.type != 1) throw PeError("version resource value runs past its node");
      value_size = n.end - at;
    }
    n.value = data_.substr(at, value_size);
    n.children = align4(at + value_size);
    return n;
  }

  // Calls `fn` for every child of `parent`.
  template <typename Fn>
  void for_children(const Node& parent, Fn fn) const {
    size_t at = parent.children;
    while (at + 6 <= parent.end) {
      Node child = node(at, parent.end);
      fn(child);
      at = align4(child.end);
    }
  }

  std::string text(std::string_view value) const {
    std::u16string units;
    for (size_t i = 0; i + 1 < value.size(); i += 2) {
      char16_t unit = static_cast<char16_t>(read_le(value, i, 2));
      if (unit == 0) break;
      units += unit;
    }
    return utf16_to_utf8(units);
  }

 private:
  std::string_view data_;
};

}  // namespace

VersionInfo parse_version_info(std::string_view data) {
  VersionParser p(data);
  VersionInfo info;
  Node root = p.node(0, data.size());
  if (root.key != u"VS_VERSION_INFO") throw PeError("version resource has no VS_VERSION_INFO root");
  if (root.value.size() >= kFixedInfoSize) {
    if (p.u32(root.value, 0) != kFixedInfoSignature)
      throw PeError("version resource has a bad fixed-info signature");
    uint32_t words[4] = {p.u32(root.value, 8), p.u32(root.value, 12), p.u32(root.value, 16),
                         p.u32(root.value, 20)};
    // Each DWORD holds two parts, the higher one first.
    uint16_t* targets[2] = {info.file_version, info.product_version};
    for (int v = 0; v < 2; ++v) {
      targets[v][0] = static_cast<uint16_t>(words[v * 2] >> 16);
      targets[v][1] = static_cast<uint16_t>(words[v * 2]);
      targets[v][2] = static_cast<uint16_t>(words[v * 2 + 1] >> 16);
      targets[v][3] = static_cast<uint16_t>(words[v * 2 + 1]);
    }
    info.file_flags = p.u32(root.value, 28);
    info.file_os = p.u32(root.value, 32);
    info.file_type = p.u32(root.value, 36);
  }
  p.for_children(root, [&](const Node& block) {
    if (block.key == u"StringFileInfo") {
      p.for_children(block, [&](const Node& table) {
        auto& strings = info.strings[utf16_to_utf8(table.key)];
        p.for_children(table, [&](const Node& entry) { strings[utf16_to_utf8(entry.key)] = p.text(entry.value); });
      });
    } else if (block.key == u"VarFileInfo") {
      p.for_children(block, [&](const Node& var) {
        if (var.key != u"Translation") return;
        for (size_t i = 0; i + 4 <= var.value.size(); i += 4) info.translations.push_back(p.u32(var.value, i));
      });
    }
  });
  return info;
}

}  // namespace onefile_pe
