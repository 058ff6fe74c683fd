#include "packer/pe/pe_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <utility>

namespace onefile_pe {
namespace {

std::vector<uint8_t> read_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Programs built by the cross tools; tests that need them skip without.
#ifdef ONEFILE_PE_FIXTURES
constexpr const char* kFixtureDir = ONEFILE_PE_FIXTURES;
#else
constexpr const char* kFixtureDir = nullptr;
#endif
#define REQUIRE_FIXTURES() \
  if (!kFixtureDir) GTEST_SKIP() << "no cross compiler"

std::filesystem::path fixture(const char* name) { return std::filesystem::path(kFixtureDir) / name; }

void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b.at(at) = v & 0xff;
  b.at(at + 1) = v >> 8;
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = (v >> (8 * i)) & 0xff;
}

// A minimal 64-bit DLL image: headers in 0x200 bytes, one section at RVA
// 0x1000 (file offset 0x200) holding `section`, and data directory `index`
// covering the section from its start.
constexpr uint32_t kSectionRva = 0x1000;
std::vector<uint8_t> make_image(const std::vector<uint8_t>& section, int index) {
  std::vector<uint8_t> b(0x200 + section.size());
  b[0] = 'M';
  b[1] = 'Z';
  put32(b, 0x3c, 0x40);
  put32(b, 0x40, 0x00004550);
  put16(b, 0x44, kMachineAmd64);
  put16(b, 0x46, 1);    // sections
  put16(b, 0x54, 240);  // optional header size
  put16(b, 0x56, 0x2022);
  const size_t opt = 0x58;
  put16(b, opt, 0x20b);
  put32(b, opt + 60, 0x200);
  put16(b, opt + 68, 2);
  put32(b, opt + 108, 16);
  put32(b, opt + 112 + index * 8, kSectionRva);
  put32(b, opt + 116 + index * 8, static_cast<uint32_t>(section.size()));
  const size_t sec = opt + 240;
  std::memcpy(&b[sec], ".data", 5);
  put32(b, sec + 8, static_cast<uint32_t>(section.size()));
  put32(b, sec + 12, kSectionRva);
  put32(b, sec + 16, static_cast<uint32_t>(section.size()));
  put32(b, sec + 20, 0x200);
  std::copy(section.begin(), section.end(), b.begin() + 0x200);
  return b;
}

std::string error_of(std::vector<uint8_t> bytes, bool exports = false, bool resources = false) {
  try {
    PeFile pe(std::move(bytes));
    if (exports) pe.export_names();
    if (resources) pe.resources();
  } catch (const PeError& e) {
    return e.what();
  }
  return "";
}

// Everything the reader gives for an image, as text: the headers, the
// export names and the resources with their data and version texts, each
// part "refused: <reason>" when the reader refused it with PeError (any
// other exception fails the test). `inside` says whether every resource's
// data lay within the image's own bytes.
struct Parsed {
  std::string headers, exports, resources;
  bool inside = true;
};

bool refused(const std::string& part) { return part.rfind("refused: ", 0) == 0; }

template <typename Fn>
std::string part(Fn fn) {
  try {
    return fn();
  } catch (const PeError& e) {
    return std::string("refused: ") + e.what();
  }
}

std::string id_text(const ResourceId& id) {
  return id.is_name ? utf16_to_utf8(id.name) : std::to_string(id.id);
}

Parsed parse_all(std::vector<uint8_t> bytes) {
  Parsed parsed;
  const char* begin = reinterpret_cast<const char*>(bytes.data());
  const char* end = begin + bytes.size();
  std::optional<PeFile> pe;
  parsed.headers = part([&] {
    pe.emplace(std::move(bytes));  // takes over the buffer: the views point into it
    std::string text = std::to_string(pe->machine()) + " " + std::to_string(pe->characteristics()) + " " +
                       std::to_string(pe->subsystem()) + " " + std::to_string(pe->directory_count());
    for (const Section& s : pe->sections())
      text += " " + s.name + ":" + std::to_string(s.virtual_address) + "+" + std::to_string(s.raw_size);
    return text;
  });
  if (!pe) return parsed;
  parsed.exports = part([&] {
    std::string text;
    for (const std::string& name : pe->export_names()) text += name + "\n";
    return text;
  });
  parsed.resources = part([&] {
    std::string text;
    for (const Resource& r : pe->resources()) {
      parsed.inside &= r.data.data() >= begin && r.data.size() <= static_cast<size_t>(end - r.data.data());
      text += id_text(r.type) + "/" + id_text(r.name) + "/" + std::to_string(r.language) + ": " +
              std::string(r.data) + "\n";
      if (r.type == kResourceVersion)
        text += part([&] {
          std::string strings;
          for (const auto& [table, values] : parse_version_info(r.data).strings)
            for (const auto& [key, value] : values) strings += table + "." + key + "=" + value + "\n";
          return strings;
        });
    }
    return text;
  });
  return parsed;
}

TEST(PeFile, ReadsCrossCompiledDll) {
  REQUIRE_FIXTURES();
  PeFile pe = PeFile::load(fixture("sample.dll"));
  EXPECT_EQ(pe.machine(), kMachineAmd64);
  EXPECT_TRUE(pe.is_pe32_plus());
  EXPECT_TRUE(pe.is_dll());
  EXPECT_TRUE(pe.is_amd64_dll());
  std::vector<std::string> names = pe.export_names();
  EXPECT_NE(std::find(names.begin(), names.end(), "run_code"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "other_function"), names.end());
}

TEST(PeFile, ReadsResourcesOfCrossCompiledExe) {
  REQUIRE_FIXTURES();
  PeFile pe = PeFile::load(fixture("sample.exe"));
  EXPECT_FALSE(pe.is_dll());
  EXPECT_TRUE(pe.export_names().empty());
  std::vector<Resource> resources = pe.resources();

  auto named = std::find_if(resources.begin(), resources.end(), [](const Resource& r) {
    return r.type.is_name && r.type.name == u"TEXT" && r.name.is_name && r.name.name == u"GREETING";
  });
  ASSERT_NE(named, resources.end());
  EXPECT_EQ(named->data, "hello");
  EXPECT_EQ(named->language, 0x0409);

  const Resource* numbered = find_resource(resources, 10, 7);  // RT_RCDATA
  ASSERT_NE(numbered, nullptr);
  EXPECT_EQ(numbered->data, std::string_view("\1\0\2\0", 4));

  const Resource* version = find_resource(resources, kResourceVersion, 1);
  ASSERT_NE(version, nullptr);
  VersionInfo info = parse_version_info(version->data);
  EXPECT_EQ(std::vector<uint16_t>(info.file_version, info.file_version + 4), (std::vector<uint16_t>{1, 2, 3, 4}));
  EXPECT_EQ(std::vector<uint16_t>(info.product_version, info.product_version + 4),
            (std::vector<uint16_t>{5, 6, 7, 8}));
  EXPECT_EQ(info.strings["040904B0"]["ProductName"], "Sample");
  EXPECT_EQ(info.translations, std::vector<uint32_t>{0x04b00409});
}

TEST(CheckMainLibrary, AcceptsTheEntryAndNamesWhatIsWrong) {
  REQUIRE_FIXTURES();
  std::filesystem::path dll = fixture("sample.dll");
  EXPECT_NO_THROW(check_main_library(dll, "run_code"));

  auto message = [](const std::filesystem::path& path, const std::string& name) -> std::string {
    try {
      check_main_library(path, name);
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return "";
  };
  EXPECT_EQ(message(dll, "start"), dll.string() + ": main library has no export named start");

  std::filesystem::path exe = fixture("sample.exe");
  EXPECT_EQ(message(exe, "run_code"),
            exe.string() + ": main library is not a 64-bit Windows DLL (it is an executable)");

  // The same DLL marked as 32-bit x86.
  std::vector<uint8_t> bytes = read_bytes(dll);
  uint32_t pe = bytes[0x3c] | bytes[0x3d] << 8;
  put16(bytes, pe + 4, kMachineI386);
  std::filesystem::path patched = std::filesystem::temp_directory_path() / "onefile_pe_test_i386.dll";
  std::ofstream(patched, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  EXPECT_EQ(message(patched, "run_code"),
            patched.string() + ": main library is not a 64-bit Windows DLL (it is built for 32-bit x86)");
  std::filesystem::remove(patched);

  std::filesystem::path text = std::filesystem::temp_directory_path() / "onefile_pe_test_text.dll";
  std::ofstream(text) << "not a library";
  EXPECT_EQ(message(text, "run_code"),
            text.string() + ": main library is not a 64-bit Windows DLL (no DOS header (MZ))");
  std::filesystem::remove(text);

  std::filesystem::path missing = std::filesystem::temp_directory_path() / "onefile_pe_test_missing.dll";
  EXPECT_EQ(message(missing, "run_code"),
            missing.string() + ": main library cannot be read: No such file or directory");
}

TEST(PeFile, RejectsMalformedHeaders) {
  EXPECT_EQ(error_of({}), "no DOS header (MZ)");
  std::vector<uint8_t> image = make_image(std::vector<uint8_t>(16), 0);
  std::vector<uint8_t> b = image;
  put32(b, 0x3c, 0xfffffff0);
  EXPECT_EQ(error_of(b), "no PE signature");
  b = image;
  put16(b, 0x58, 0x1234);
  EXPECT_EQ(error_of(b), "unknown optional header magic 0x1234");
  b = image;
  put32(b, 0x58 + 108, 1000);
  EXPECT_EQ(error_of(b), "data directories do not fit the optional header");
  b = image;
  put16(b, 0x46, 500);
  EXPECT_EQ(error_of(b), "truncated section table");
  b = image;
  put16(b, 0x54, 0xffff);
  EXPECT_EQ(error_of(b), "truncated optional header");
}

TEST(PeFile, RejectsExportTablesOutsideTheImage) {
  std::vector<uint8_t> section(64);
  put32(section, 24, 1);                 // one name
  put32(section, 32, kSectionRva + 40);  // name table
  put32(section, 40, kSectionRva + 48);  // the name
  std::memcpy(&section[48], "run_code", 8);
  EXPECT_EQ(PeFile(make_image(section, 0)).export_names(), std::vector<std::string>{"run_code"});

  std::vector<uint8_t> b = section;
  std::fill(b.begin() + 48, b.end(), 'x');
  EXPECT_EQ(error_of(make_image(b, 0), true), "export name is not terminated");
  b = section;
  put32(b, 24, 0x40000000);
  EXPECT_EQ(error_of(make_image(b, 0), true), "export name table runs past the end of its section");
  b = section;
  put32(b, 40, 0x7fff0000);
  EXPECT_EQ(error_of(make_image(b, 0), true), "export name is outside every section");
}

TEST(PeFile, BoundsResourceTreesThatLoopOrFanOut) {
  // One directory whose single entry points back at itself.
  std::vector<uint8_t> loop(24);
  put16(loop, 14, 1);
  put32(loop, 16, 3);
  put32(loop, 20, 0x80000000u);
  EXPECT_EQ(error_of(make_image(loop, 2), false, true), "resource tree is more than three levels deep");

  // Three directories of 1000 entries, each entry pointing at the next
  // directory, the last ones at one data entry: a billion leaves.
  const uint32_t dir_size = 16 + 1000 * 8;
  std::vector<uint8_t> fan(3 * dir_size + 16);
  for (uint32_t level = 0; level < 3; ++level) {
    put16(fan, level * dir_size + 14, 1000);
    uint32_t target = level < 2 ? 0x80000000u | (level + 1) * dir_size : 3 * dir_size;
    for (uint32_t i = 0; i < 1000; ++i) put32(fan, level * dir_size + 16 + i * 8 + 4, target);
  }
  put32(fan, 3 * dir_size, kSectionRva);
  put32(fan, 3 * dir_size + 4, 1);
  EXPECT_EQ(error_of(make_image(fan, 2), false, true), "resource tree has too many entries");

  std::vector<uint8_t> b = loop;
  put16(b, 14, 2);
  EXPECT_EQ(error_of(make_image(b, 2), false, true), "resource directory runs past the end of its section");
}

// A truncated image reads exactly as the whole one, part by part, or that
// part is refused: nothing is read from beyond its end (the sanitizer build
// also catches a read past the buffer that happens to give the same bytes).
// Corrupted bytes are refused or read, never followed out of the buffer.
TEST(PeFile, SurvivesTruncationAndCorruption) {
  REQUIRE_FIXTURES();
  for (const char* name : {"sample.dll", "sample.exe"}) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> bytes = read_bytes(fixture(name));
    ASSERT_GT(bytes.size(), 1024u);
    ASSERT_LT(bytes.size(), 100000u);  // cut at every length
    const Parsed whole = parse_all(bytes);
    ASSERT_FALSE(refused(whole.headers) || refused(whole.exports) || refused(whole.resources))
        << whole.headers << whole.exports << whole.resources;
    size_t read = 0;
    for (size_t length = 0; length < bytes.size(); ++length) {
      const Parsed cut = parse_all(std::vector<uint8_t>(bytes.begin(), bytes.begin() + length));
      for (const auto& [got, want] : {std::pair(cut.headers, whole.headers), std::pair(cut.exports, whole.exports),
                                      std::pair(cut.resources, whole.resources)}) {
        if (got.empty() || refused(got)) continue;
        EXPECT_EQ(got, want) << "cut at " << length;
        ++read;
      }
      EXPECT_TRUE(cut.inside) << "cut at " << length;
    }
    // The headers lie in the first kilobyte: the cuts beyond it read them.
    EXPECT_GT(read, 0u);
    // Overwrite bytes of the headers and of the last section (the resources
    // or the export table) with values chosen by a fixed generator.
    uint32_t state = 12345;
    auto next = [&state] { return state = state * 1103515245u + 12345u; };
    size_t accepted = 0;
    for (int round = 0; round < 3000; ++round) {
      std::vector<uint8_t> b = bytes;
      for (int i = 0; i < 4; ++i) {
        size_t at = next() % 2 ? next() % 0x400 : b.size() - 1 - next() % std::min<size_t>(b.size(), 0x2000);
        b[at] = static_cast<uint8_t>(next() >> 16);
      }
      const Parsed corrupt = parse_all(std::move(b));
      EXPECT_TRUE(corrupt.inside) << "round " << round;
      const auto read_some = [](const std::string& got) { return !got.empty() && !refused(got); };
      accepted += read_some(corrupt.exports) || read_some(corrupt.resources);
    }
    // Many changes hit bytes the reader does not need: the rounds exercise
    // reading, not just the first refusal.
    EXPECT_GT(accepted, 1000u) << accepted;
  }
}

TEST(VersionInfo, RejectsTruncatedData) {
  REQUIRE_FIXTURES();
  PeFile pe = PeFile::load(fixture("sample.exe"));
  std::vector<Resource> resources = pe.resources();
  const Resource* version = find_resource(resources, kResourceVersion, 1);
  ASSERT_NE(version, nullptr);
  for (size_t length = 0; length < version->data.size(); ++length) {
    try {
      parse_version_info(version->data.substr(0, length));
    } catch (const PeError&) {
    }
  }
  EXPECT_THROW(parse_version_info(std::string_view("\x10\0\0\0\0\0V\0\0\0", 10)), PeError);
}

}  // namespace
}  // namespace onefile_pe
