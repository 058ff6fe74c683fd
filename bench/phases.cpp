// Where the launcher's unpacking time goes. Linked with the launcher's own
// libraries by the Windows build (bench/CMakeLists.txt), it runs the pieces
// of a parent-role run one by one on a stored payload read from a file, and
// prints the time of each:
//
//   phases.exe PAYLOAD_FILE WORK_DIR
//
//   zstd      the decoder alone: the frame decoded into the 128 KiB buffer,
//             output thrown away
//   reader    the launcher's reader: every record read through payload_read
//             (names, sizes, content in 32 KiB pieces), nothing written
//   create    the tree's directories and empty files created, no content
//   write     the same files created and their content written in 32 KiB
//             pieces from memory (no decoding)
//   unpack    the launcher's unpacking as a parent runs it (payload_open,
//             unpack_next_entry to the end marker, payload_close)
//   cleanup   the launcher's clean-up deleting that tree
//
// WORK_DIR must not exist; it is created and removed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include <zstd.h>

#include "contract/little_endian.h"
#include "launcher/child_supervision.h"
#include "launcher/run_state.h"
#include "payload/reader.h"
#include "payload/stored_payload.h"
#include "payload/unpack.h"

// The launcher's objects refer to the payload the packer adds to every
// app (the build-time texts come from the default texts); the phases below
// never use it.
static const unsigned char kPayload[] = {'V', 'O', 'Y', 0};
extern "C" {
const unsigned char* const onefile_payload = kPayload;
const unsigned long long onefile_payload_size = 3;
}

namespace {

struct Record {
  std::wstring name;
  size_t offset;  // of the content in the decoded stream
  size_t size;
};

double seconds_since(const LARGE_INTEGER& start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

LARGE_INTEGER clock_now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t;
}

std::vector<unsigned char> read_file(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "cannot open the payload\n");
    exit(1);
  }
  LARGE_INTEGER size;
  GetFileSizeEx(file, &size);
  std::vector<unsigned char> bytes(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    DWORD want = static_cast<DWORD>(bytes.size() - done < (1u << 30) ? bytes.size() - done : (1u << 30));
    if (!ReadFile(file, bytes.data() + done, want, &n, nullptr) || n == 0) exit(1);
    done += n;
  }
  CloseHandle(file);
  return bytes;
}

// The decoder alone, as the reader drives it, output discarded.
double time_zstd(const std::vector<unsigned char>& stored) {
  LARGE_INTEGER start = clock_now();
  ZSTD_DCtx* dctx = ZSTD_createDCtx();
  std::vector<unsigned char> out(kPayloadOutputBufferSize);
  ZSTD_inBuffer in = {stored.data() + 3, stored.size() - 3, 0};
  for (;;) {
    ZSTD_outBuffer o = {out.data(), out.size(), 0};
    size_t r = ZSTD_decompressStream(dctx, &o, &in);
    if (ZSTD_isError(r)) exit(1);
    if (r == 0) break;  // frame complete
  }
  ZSTD_freeDCtx(dctx);
  return seconds_since(start);
}

// Every record through payload_read; also returns the decoded stream and its
// records for the file system phases.
double time_reader(const std::vector<unsigned char>& stored, std::vector<unsigned char>& stream,
                   std::vector<Record>& records) {
  static unsigned char piece[kWriteChunk];
  LARGE_INTEGER start = clock_now();
  double copy_seconds = 0;
  payload_open(stored.data(), stored.size());
  for (;;) {
    std::wstring name;
    for (;;) {
      unsigned char unit[2];
      payload_read(unit, 2);
      wchar_t c = static_cast<wchar_t>(little_endian::read(unit, 2));
      if (!c) break;
      name += c;
    }
    if (name.empty()) break;
    unsigned char size_bytes[8];
    payload_read(size_bytes, 8);
    const unsigned long long size = little_endian::read(size_bytes, 8);
    records.push_back({name, stream.size(), static_cast<size_t>(size)});
    for (unsigned long long left = size; left > 0;) {
      size_t n = left < sizeof(piece) ? static_cast<size_t>(left) : sizeof(piece);
      payload_read(piece, n);
      // Keeping the stream for later is not part of the reader's time.
      LARGE_INTEGER copy_start = clock_now();
      stream.insert(stream.end(), piece, piece + n);
      copy_seconds += seconds_since(copy_start);
      left -= n;
    }
  }
  payload_close();
  return seconds_since(start) - copy_seconds;
}

std::vector<std::wstring> parent_directories(const std::vector<Record>& records) {
  std::set<std::wstring> dirs;
  for (const Record& r : records)
    for (size_t cut = r.name.find(L'\\'); cut != std::wstring::npos; cut = r.name.find(L'\\', cut + 1))
      dirs.insert(r.name.substr(0, cut));
  return {dirs.begin(), dirs.end()};  // sorted: parents before children
}

double time_files(const std::wstring& root, const std::vector<Record>& records,
                  const std::vector<unsigned char>& stream, bool with_content) {
  LARGE_INTEGER start = clock_now();
  CreateDirectoryW(root.c_str(), nullptr);
  for (const std::wstring& dir : parent_directories(records)) CreateDirectoryW((root + L"\\" + dir).c_str(), nullptr);
  for (const Record& r : records) {
    HANDLE file = CreateFileW((root + L"\\" + r.name).c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) exit(1);
    for (size_t done = 0; with_content && done < r.size;) {
      DWORD n = static_cast<DWORD>(r.size - done < kWriteChunk ? r.size - done : kWriteChunk);
      DWORD written = 0;
      WriteFile(file, stream.data() + r.offset + done, n, &written, nullptr);
      done += n;
    }
    CloseHandle(file);
  }
  return seconds_since(start);
}

void set_target(const std::wstring& dir) { wcscpy(g_parent.target_directory, dir.c_str()); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: phases.exe PAYLOAD_FILE WORK_DIR\n");
    return 64;
  }
  std::vector<unsigned char> stored = read_file(argv[1]);
  const std::wstring work = argv[2];
  if (!CreateDirectoryW(work.c_str(), nullptr)) {
    fprintf(stderr, "cannot create the work folder\n");
    return 1;
  }

  std::vector<unsigned char> stream;
  std::vector<Record> records;
  const double zstd = time_zstd(stored);
  const double reader = time_reader(stored, stream, records);

  // Each file system phase writes a tree of its own, deleted afterwards by
  // the launcher's clean-up (also timed, for the unpacked tree).
  const double create = time_files(work + L"\\create", records, stream, false);
  set_target(work + L"\\create");
  g_parent.owns_folder = 1;
  delete_folder_if_owned();
  const double write = time_files(work + L"\\write", records, stream, true);
  set_target(work + L"\\write");
  delete_folder_if_owned();

  set_target(work + L"\\unpack");
  LARGE_INTEGER start = clock_now();
  payload_open(stored.data(), stored.size());
  static Entry entry;
  while (unpack_next_entry(g_parent.target_directory, g_parent.interrupted, entry) != EntryOutcome::end_of_list) {
  }
  payload_close();
  const double unpack = seconds_since(start);
  start = clock_now();
  delete_folder_if_owned();
  const double clean = seconds_since(start);
  RemoveDirectoryW(work.c_str());

  printf("files\t%zu\nbytes\t%zu\nzstd\t%.3f\nreader\t%.3f\ncreate\t%.3f\nwrite\t%.3f\nunpack\t%.3f\ncleanup\t%.3f\n",
         records.size(), stream.size(), zstd, reader, create, write, unpack, clean);
  return 0;
}
