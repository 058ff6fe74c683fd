// Packs real trees with the built command and reads the stored payload back
// with libzstd: container layout, frame parameters, records and order.
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <zstd.h>

#include <gtest/gtest.h>

#include "contract/little_endian.h"
#include "packer/output_file.h"
#include "packer/payload_writer.h"
#include "packer/tests/test_util.h"
#include "packer/tree.h"

using namespace pack_test;

namespace {

struct SampleFile {
  std::string relative;
  std::string bytes;
};

// A tree with the main library sorting last, empty files, nested folders,
// binary content, non-ASCII names and names whose order differs between a
// byte sort and a per-folder sort ("a.txt" vs "a/...").
std::vector<SampleFile> sample_tree() {
  return {
      {"zz_main.dll", "MZ" + random_bytes(5000, 1)},
      {"empty.txt", ""},
      {"a/b/c/deep.bin", random_bytes(300000, 2)},
      {"a/b/empty", ""},
      {"a.txt", "text a\n"},
      {"Z.txt", std::string(100000, 'z')},
      {"d\xC3\xA9j\xC3\xA0/\xE2\x82\xAC.txt", "euro"},
      {"lib/helper.dll", random_bytes(70000, 3) + std::string(70000, '\0')},
  };
}

// Expected order: main first, then the others by the bytes of their paths.
std::vector<std::string> expected_order() {
  return {"zz_main.dll", "Z.txt", "a.txt", "a/b/c/deep.bin", "a/b/empty", "d\xC3\xA9j\xC3\xA0/\xE2\x82\xAC.txt",
          "empty.txt", "lib/helper.dll"};
}

std::u16string payload_name_of(std::string relative) {
  for (char& c : relative)
    if (c == '/') c = '\\';
  return u16(relative);
}

void write_tree(const ScratchDir& dir, const std::vector<SampleFile>& tree) {
  for (const SampleFile& file : tree) dir.write("root/" + file.relative, file.bytes);
  dir.mkdir("root/no_files/inside");  // folders without files are not represented
}

std::string pack(const ScratchDir& dir, const std::string& name, std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"--root", dir / "root", "--main", "zz_main.dll", "--payload-only",
                                   "--output", dir / name};
  args.insert(args.end(), extra.begin(), extra.end());
  const RunResult result = run_pack(args);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  return read_file(dir / name);
}

}  // namespace

TEST(StoredPayload, RoundTripKeepsEveryFileInOrder) {
  ScratchDir dir;
  const auto tree = sample_tree();
  write_tree(dir, tree);
  const Payload payload = parse_payload(pack(dir, "payload.bin", {"--quiet"}));

  EXPECT_EQ(payload.header, "VOY");
  EXPECT_TRUE(payload.ends_with_marker);
  const auto order = expected_order();
  ASSERT_EQ(payload.entries.size(), order.size());
  for (size_t i = 0; i < order.size(); ++i) {
    SCOPED_TRACE(order[i]);
    EXPECT_EQ(payload.entries[i].first, payload_name_of(order[i]));
    const auto file =
        std::find_if(tree.begin(), tree.end(), [&](const SampleFile& f) { return f.relative == order[i]; });
    EXPECT_TRUE(payload.entries[i].second == file->bytes);
  }
}

TEST(StoredPayload, FrameHasWindowLog27AChecksumAndNoSizeOrDictionary) {
  ScratchDir dir;
  write_tree(dir, sample_tree());
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{}, {"--level", "1"}, {"--level=22"}, {"--level", "3", "--long"}}) {
    SCOPED_TRACE(options.empty() ? "default" : options[0] + (options.size() > 1 ? " " + options[1] : ""));
    const Payload payload = parse_payload(pack(dir, "payload.bin", options));
    ASSERT_GE(payload.frame.size(), 6u);
    ZSTD_frameHeader header;
    ASSERT_EQ(ZSTD_getFrameHeader(&header, payload.frame.data(), payload.frame.size()), 0u);
    EXPECT_EQ(header.frameType, ZSTD_frame);
    EXPECT_EQ(header.windowSize, 1ull << 27);
    EXPECT_EQ(header.frameContentSize, ZSTD_CONTENTSIZE_UNKNOWN);
    EXPECT_EQ(header.dictID, 0u);
    EXPECT_EQ(header.checksumFlag, 1u);
    // The descriptor byte itself: no content size field, not single-segment,
    // the checksum, no dictionary ID; then window descriptor 2^(10+17) exactly.
    EXPECT_EQ(static_cast<uint8_t>(payload.frame[4]), 0x04);
    EXPECT_EQ(static_cast<uint8_t>(payload.frame[5]), 17 << 3);
    EXPECT_EQ(payload.entries.size(), expected_order().size());
  }
}

TEST(StoredPayload, TrailerAlignsToEightAndCountsTheBytesBeforeIt) {
  ScratchDir dir;
  // Several trees, so the frame ends at several offsets modulo 8.
  for (int variant = 0; variant < 8; ++variant) {
    dir.write("root/zz_main.dll", random_bytes(100 + variant, 10 + variant));
    const std::string bytes = pack(dir, "payload.bin", {"--level", "1"});
    const Payload payload = parse_payload(bytes);
    const size_t before_padding = 3 + payload.frame.size();
    const size_t padding = (8 - before_padding % 8) % 8;
    ASSERT_EQ(payload.after_frame.size(), padding + 8);
    EXPECT_EQ(payload.after_frame.substr(0, padding), std::string(padding, '\0'));
    const uint64_t count =
        little_endian::read(reinterpret_cast<const unsigned char*>(payload.after_frame.data()) + padding, 8);
    EXPECT_EQ(count, before_padding + padding);
    EXPECT_EQ(bytes.size() % 8, 0u);
  }
}

TEST(StoredPayload, SameTreeGivesSameBytes) {
  ScratchDir dir;
  write_tree(dir, sample_tree());
  const std::string first = pack(dir, "one.bin");
  // A copy of the tree made in another order must not change the bytes.
  ScratchDir other;
  auto reversed = sample_tree();
  std::reverse(reversed.begin(), reversed.end());
  write_tree(other, reversed);
  EXPECT_TRUE(first == pack(dir, "two.bin"));
  EXPECT_TRUE(first == pack(other, "three.bin"));
}

TEST(StoredPayload, OutputDoesNotDependOnTheNumberOfWorkers) {
  // Large enough for several compression jobs, so the workers really share it.
  ScratchDir dir;
  dir.write("root/main.dll", random_bytes(1000, 1));
  for (int i = 0; i < 5; ++i) {
    std::string text;
    while (text.size() < 9000000) text += "line " + std::to_string(text.size() * (i + 1)) + " of some text\n";
    dir.write("root/text" + std::to_string(i) + ".txt", text);
  }
  dir.write("root/noise.bin", random_bytes(6000000, 7));
  const onefile_pack::Tree tree = onefile_pack::collect_tree(dir / "root", "main.dll");

  std::string reference;
  for (const unsigned workers : {1u, 2u, 5u}) {
    onefile_pack::CompressionSettings settings;
    settings.level = 3;
    settings.workers = workers;
    {
      onefile_pack::OutputFile out(dir / "payload.bin", 0644);
      onefile_pack::write_stored_payload(tree, out, settings);
      out.commit();
    }
    const std::string bytes = read_file(dir / "payload.bin");
    if (reference.empty())
      reference = bytes;
    else
      EXPECT_TRUE(bytes == reference) << workers << " workers";
  }
  const Payload payload = parse_payload(reference);
  ASSERT_EQ(payload.entries.size(), 7u);
  EXPECT_TRUE(payload.entries[6].second == read_file(dir / "root/text4.txt"));
}
