// The data section's reader, on the host: a section laid out as the packer
// writes it reads back, and a table or field that lies about its place in the
// section reads as absent, never outside the bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "contract/data_section.h"

namespace {

struct Entry {
  uint32_t id;
  uint64_t offset;
  uint64_t size;
};

// A section holding `entries` in its table and `size` bytes in all; the
// field bytes hold their own offset's low byte.
std::vector<unsigned char> section(const std::vector<Entry>& entries, size_t size, uint32_t count_override = 0) {
  std::vector<unsigned char> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i);
  std::memcpy(bytes.data(), data_section::kMagic, sizeof data_section::kMagic);
  little_endian::write(&bytes[data_section::kVersionAt], data_section::kLayoutVersion, 4);
  little_endian::write(&bytes[data_section::kCountAt], count_override ? count_override : entries.size(), 4);
  size_t at = data_section::kHeaderSize;
  for (const Entry& e : entries) {
    little_endian::write(&bytes[at + data_section::kEntryIdAt], e.id, 4);
    little_endian::write(&bytes[at + data_section::kEntryOffsetAt], e.offset, 4);
    little_endian::write(&bytes[at + data_section::kEntrySizeAt], e.size, 8);
    at += data_section::kFieldEntrySize;
  }
  return bytes;
}

data_section::Span span(const std::vector<unsigned char>& bytes) { return {bytes.data(), bytes.size()}; }

}  // namespace

TEST(DataSection, FindsEachFieldWithinTheSectionAndNoOther) {
  // 16 header + 3 entries of 16 = 64; the fields follow.
  const auto bytes = section({{data_section::kCompany, 64, 6},
                              {data_section::kPayload, 80, 48},      // ends exactly at the end
                              {data_section::kProduct, 96, 33}},     // one byte past the end
                             128);
  const data_section::Span whole = data_section::checked(span(bytes));
  ASSERT_EQ(whole.data, bytes.data());
  const struct {
    uint32_t id;
    uint64_t offset;  // 0: absent
    uint64_t size;
  } cases[] = {
      {data_section::kCompany, 64, 6},
      {data_section::kPayload, 80, 48},
      {data_section::kProduct, 0, 0},
      {data_section::kVersion, 0, 0},
  };
  for (const auto& c : cases) {
    const data_section::Span field = data_section::find_field(whole, c.id);
    EXPECT_EQ(field.size, c.size) << "id " << c.id;
    EXPECT_EQ(field.data, c.offset ? bytes.data() + c.offset : nullptr) << "id " << c.id;
  }
}

TEST(DataSection, ATableOrFieldOutsideTheSectionReadsAsAbsent) {
  const struct {
    const char* what;
    std::vector<Entry> entries;
    uint32_t count;
  } cases[] = {
      {"offset past the end", {{data_section::kPayload, 129, 0}}, 0},
      {"size wraps past the end", {{data_section::kPayload, 64, ~uint64_t{0}}}, 0},
      {"count larger than the section holds", {{data_section::kPayload, 64, 8}}, 8},
  };
  for (const auto& c : cases) {
    const auto bytes = section(c.entries, 128, c.count);
    const data_section::Span field =
        data_section::find_field(data_section::checked(span(bytes)), data_section::kPayload);
    EXPECT_EQ(field.data, nullptr) << c.what;
    EXPECT_EQ(field.size, 0u) << c.what;
  }
  // An offset exactly at the end holds an empty field, still inside.
  const auto at_end = section({{data_section::kPayload, 128, 0}}, 128);
  EXPECT_EQ(data_section::find_field(span(at_end), data_section::kPayload).data, at_end.data() + 128);
}

TEST(DataSection, OnlyOurHeaderIsTaken) {
  auto bytes = section({}, 16);
  EXPECT_NE(data_section::checked(span(bytes)).data, nullptr);
  EXPECT_EQ(data_section::checked({bytes.data(), 15}).data, nullptr) << "shorter than the header";
  bytes[data_section::kVersionAt] = 2;
  EXPECT_EQ(data_section::checked(span(bytes)).data, nullptr) << "a later layout";
  bytes[data_section::kVersionAt] = 1;
  bytes[0] = 'X';
  EXPECT_EQ(data_section::checked(span(bytes)).data, nullptr) << "another magic";
}

// The rows of packed_fields.inc: an id taken twice would compile (two
// enumerators may share a value) and make one field read as another; the
// ids already written by packers keep their numbers.
TEST(PackedFields, EachIdOnceAndTheWrittenOnesUnchanged) {
  std::vector<uint32_t> ids;
#define ONEFILE_TEXT_FIELD(Name, id, ...) ids.push_back(id);
#define ONEFILE_TEXT_LIST_FIELD(Name, id, ...) ids.push_back(id);
#define ONEFILE_BYTES_FIELD(Name, id, ...) ids.push_back(id);
#define ONEFILE_PAYLOAD_FIELD(Name, id, ...) ids.push_back(id);
#include "contract/packed_fields.inc"
  std::vector<uint32_t> sorted = ids;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "an id appears twice";
  EXPECT_EQ(sorted.front(), 1u);
  const std::vector<uint32_t> written_so_far = {1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 9, 10, 13};
  ASSERT_GE(ids.size(), written_so_far.size());
  EXPECT_EQ(std::vector<uint32_t>(ids.begin(), ids.begin() + written_so_far.size()), written_so_far)
      << "a row moved: rows keep their place and new ones go at the end";
}
