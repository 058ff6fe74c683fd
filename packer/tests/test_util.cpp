#include "packer/tests/test_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zstd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "contract/data_section.h"
#include "contract/little_endian.h"
#include "packer/le_bytes.h"
#include "packer/names.h"
#include "packer/pe/pe_file.h"

namespace pack_test {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::string pattern = (fs::temp_directory_path() / "onefile-pack-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  // Give back permissions a test took away, so everything can be removed.
  for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
       it.increment(ignored))
    if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

std::string ScratchDir::write(const std::string& relative, const std::string& bytes) const {
  const fs::path path = fs::path(path_) / relative;
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

std::string ScratchDir::mkdir(const std::string& relative) const {
  const fs::path path = fs::path(path_) / relative;
  fs::create_directories(path);
  return path.string();
}

std::vector<std::string> ScratchDir::list(const std::string& relative) const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(fs::path(path_) / relative))
    names.push_back(entry.path().filename().string());
  return names;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

std::string random_bytes(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  for (char& c : bytes) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

RunResult run_pack(const std::vector<std::string>& args, const std::vector<std::string>& env, bool unprivileged) {
  return run(ONEFILE_PACK_PATH, args, env, unprivileged);
}

RunResult run(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& env,
              bool unprivileged) {
  ScratchDir streams;
  if (unprivileged) chmod(streams.path().c_str(), 0777);
  const std::string out_path = streams / "out", err_path = streams / "err";
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(out, 1);
    dup2(err, 2);
    for (const std::string& entry : env) {
      const size_t eq = entry.find('=');
      if (eq + 1 == entry.size())
        unsetenv(entry.substr(0, eq).c_str());
      else
        setenv(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str(), 1);
    }
    if (unprivileged && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(125);
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  RunResult result;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  return result;
}

Payload parse_payload(const std::string& bytes) {
  Payload payload;
  EXPECT_GE(bytes.size(), 3u);
  if (bytes.size() < 3) return payload;
  payload.header = bytes.substr(0, 3);
  const size_t frame_size = ZSTD_findFrameCompressedSize(bytes.data() + 3, bytes.size() - 3);
  EXPECT_FALSE(ZSTD_isError(frame_size)) << ZSTD_getErrorName(frame_size);
  if (ZSTD_isError(frame_size)) return payload;
  payload.frame = bytes.substr(3, frame_size);
  payload.after_frame = bytes.substr(3 + frame_size);

  // Decoded with the library's default limits, as the launcher decodes.
  std::string stream;
  ZSTD_DCtx* dctx = ZSTD_createDCtx();
  ZSTD_inBuffer in = {payload.frame.data(), payload.frame.size(), 0};
  std::string buffer(1 << 17, '\0');
  size_t result = 1;
  while (result != 0) {
    ZSTD_outBuffer out = {buffer.data(), buffer.size(), 0};
    result = ZSTD_decompressStream(dctx, &out, &in);
    if (ZSTD_isError(result)) {
      ADD_FAILURE() << "decoding failed: " << ZSTD_getErrorName(result);
      break;
    }
    stream.append(buffer.data(), out.pos);
    if (in.pos == in.size && out.pos == 0 && result != 0) {
      ADD_FAILURE() << "frame ends early";
      break;
    }
  }
  ZSTD_freeDCtx(dctx);

  size_t pos = 0;
  const auto unit = [&](size_t at) { return static_cast<char16_t>(onefile_pack::get16(stream, at)); };
  while (pos + 2 <= stream.size()) {
    std::u16string name;
    while (pos + 2 <= stream.size() && unit(pos) != 0) name.push_back(unit(pos)), pos += 2;
    pos += 2;
    if (name.empty()) {
      payload.ends_with_marker = pos == stream.size();
      break;
    }
    if (pos + 8 > stream.size()) break;
    const uint64_t size = little_endian::read(onefile_pack::bytes_at(stream, pos), 8);
    pos += 8;
    if (size > stream.size() - pos) break;
    payload.entries.emplace_back(name, stream.substr(pos, size));
    pos += size;
  }
  return payload;
}

std::u16string u16(const std::string& utf8) {
  std::u16string units;
  onefile_pack::utf8_to_utf16(utf8, units);
  return units;
}

std::string utf16z(const std::vector<std::string>& texts) {
  std::string bytes;
  for (const std::string& text : texts)
    for (const char16_t unit : u16(text) + u'\0') onefile_pack::put16(bytes, unit);
  return bytes;
}

std::map<uint32_t, std::string> data_fields(const std::string& exe) {
  const onefile_pe::PeFile pe(std::vector<uint8_t>(exe.begin(), exe.end()));
  std::map<uint32_t, std::string> fields;
  for (const onefile_pe::Section& s : pe.sections()) {
    if (s.name != std::string(data_section::kName, sizeof data_section::kName)) continue;
    const data_section::Span section = data_section::checked(
        {onefile_pack::bytes_at(exe, s.raw_offset), std::min<uint64_t>(s.virtual_size, exe.size() - s.raw_offset)});
    if (!section.data) return fields;
    const uint64_t count = little_endian::read(section.data + data_section::kCountAt, 4);
    for (uint64_t i = 0; i < count; ++i) {
      const unsigned char* entry = section.data + data_section::kHeaderSize + i * data_section::kFieldEntrySize;
      const auto id = static_cast<uint32_t>(little_endian::read(entry + data_section::kEntryIdAt, 4));
      const data_section::Span field = data_section::find_field(section, id);
      fields[id] = field.data ? std::string(reinterpret_cast<const char*>(field.data), field.size) : "";
    }
  }
  return fields;
}

}  // namespace pack_test
