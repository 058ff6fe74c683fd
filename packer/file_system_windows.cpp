// The packer's file access on Windows: the wide-character calls, so that any
// name the file system holds arrives as UTF-8; error codes are GetLastError's.
#include "packer/file_system.h"

#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>

#include "packer/pack_error.h"
#include "packer/utf.h"

namespace onefile_pack {

namespace {

std::wstring wide(const std::string& utf8) {
  std::u16string units;
  utf8_to_utf16(utf8, units);
  return std::wstring(units.begin(), units.end());
}

std::string narrow(const wchar_t* text) {
  std::u16string units;
  for (; *text; ++text) units.push_back(static_cast<char16_t>(*text));
  return utf16_to_utf8(units);
}

HANDLE as_handle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

void (*g_interrupt_handler)() = nullptr;

BOOL WINAPI on_console_event(DWORD) {
  if (g_interrupt_handler) g_interrupt_handler();
  ExitProcess(130);
}

volatile LONG g_deferred_event = 0;

// The main thread stops at its next safe point; closing the console ends
// the process once this returns, so the handler waits a little for it.
BOOL WINAPI on_deferred_console_event(DWORD event) {
  InterlockedExchange(&g_deferred_event, 1);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) Sleep(4000);
  return TRUE;
}

}  // namespace

FileInfo file_info(const std::string& path, bool follow_links) {
  FileInfo info;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data)) {
    info.error = static_cast<int>(GetLastError());
    return info;
  }
  if (!follow_links && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) info.kind = FileKind::link;
  else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) info.kind = FileKind::folder;
  else if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) info.kind = FileKind::other;
  else info.kind = FileKind::file;
  info.size = uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
  return info;
}

std::string error_text(int error) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = text ? narrow(text) : "error " + std::to_string(error);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
    message.pop_back();
  return message;
}

char16_t upper_case_unit(char16_t unit) {
  if (unit >= 0xD800 && unit <= 0xDFFF) return unit;
  // The invariant locale's mapping, the one the file systems' case tables
  // are made from.
  wchar_t in = static_cast<wchar_t>(unit);
  wchar_t out = in;
  if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, &in, 1, &out, 1, nullptr, nullptr, 0) != 1) return unit;
  return static_cast<char16_t>(out);
}

bool same_file(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION info[2];
  const std::string* paths[2] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    HANDLE h = CreateFileW(wide(*paths[i]).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = GetFileInformationByHandle(h, &info[i]);
    CloseHandle(h);
    if (!ok) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

std::vector<std::string> list_folder(const std::string& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((wide(path) + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE)
    throw PackError(path, "folder cannot be read: " + error_text(static_cast<int>(GetLastError())));
  std::vector<std::string> names;
  do {
    const std::string name = narrow(data.cFileName);
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileW(find, &data));
  const DWORD error = GetLastError();
  FindClose(find);
  if (error != ERROR_NO_MORE_FILES) throw PackError(path, "folder cannot be read: " + error_text(static_cast<int>(error)));
  return names;
}

std::string real_path(const std::string& path) {
  HANDLE h = CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw PackError(path, error_text(static_cast<int>(GetLastError())));
  wchar_t buffer[32768];
  const DWORD n = GetFinalPathNameByHandleW(h, buffer, 32768, FILE_NAME_NORMALIZED);
  CloseHandle(h);
  if (n == 0 || n >= 32768) throw PackError(path, error_text(static_cast<int>(GetLastError())));
  std::string real = narrow(buffer);
  if (real.rfind("\\\\?\\", 0) == 0) real.erase(0, 4);
  for (char& c : real)
    if (c == '\\') c = '/';
  if (real.size() > 3 && real.back() == '/') real.pop_back();
  return real;
}

InputFile::InputFile(const std::string& path, const char* what) : path_(path) {
  HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    throw PackError(path, std::string(what) + " cannot be read: " + error_text(static_cast<int>(GetLastError())));
  handle_ = reinterpret_cast<intptr_t>(h);
}

InputFile::~InputFile() { CloseHandle(as_handle(handle_)); }

uint64_t InputFile::size() const {
  LARGE_INTEGER size;
  return GetFileSizeEx(as_handle(handle_), &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
}

bool InputFile::is_regular() const {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(as_handle(handle_), &info) &&
         !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
}

size_t InputFile::read(void* data, size_t size) {
  DWORD n = 0;
  if (!ReadFile(as_handle(handle_), data, static_cast<DWORD>(std::min<size_t>(size, 1u << 30)), &n, nullptr))
    throw PackError(path_, "file cannot be read: " + error_text(static_cast<int>(GetLastError())));
  return n;
}

void InputFile::seek(uint64_t offset) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(as_handle(handle_), at, nullptr, FILE_BEGIN))
    throw PackError(path_, "file cannot be read: " + error_text(static_cast<int>(GetLastError())));
}

NewFile::~NewFile() {
  if (handle_ != -1) CloseHandle(as_handle(handle_));
}

bool NewFile::create_beside(const std::string& final_path, std::string& path, int& error) {
  const size_t slash = final_path.find_last_of("/\\");
  const std::string dir = slash == std::string::npos ? "" : final_path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? final_path : final_path.substr(slash + 1);
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  uint64_t seed = GetTickCount64() ^ (uint64_t{GetCurrentProcessId()} << 32);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix;
    for (int i = 0; i < 6; ++i) {
      seed = seed * 6364136223846793005ull + 1442695040888963407ull;
      suffix += kChars[(seed >> 33) % 62];
    }
    path = dir + "." + base + ".tmp-" + suffix;
    HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<intptr_t>(h);
      return true;
    }
    error = static_cast<int>(GetLastError());
    if (error != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

bool NewFile::create(const std::string& path, int& error) {
  HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = static_cast<int>(GetLastError());
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

bool NewFile::write(const void* data, size_t size, int& error) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    DWORD n = 0;
    if (!WriteFile(as_handle(handle_), bytes, static_cast<DWORD>(std::min<size_t>(size, 1u << 30)), &n, nullptr)) {
      error = static_cast<int>(GetLastError());
      return false;
    }
    bytes += n;
    size -= n;
  }
  return true;
}

bool NewFile::write_at(uint64_t offset, const void* data, size_t size, int& error) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD n = 0;
  if (!WriteFile(as_handle(handle_), data, static_cast<DWORD>(size), &n, &at) || n != size) {
    error = static_cast<int>(GetLastError());
    return false;
  }
  return true;
}

bool NewFile::close(int& error) {
  if (handle_ == -1) return true;
  const BOOL ok = CloseHandle(as_handle(handle_));
  handle_ = -1;
  if (!ok) error = static_cast<int>(GetLastError());
  return ok;
}

bool replace_file(const std::string& from, const std::string& to, unsigned, int& error) {
  if (MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  error = static_cast<int>(GetLastError());
  return false;
}

void remove_file(const char* path) { DeleteFileW(wide(path).c_str()); }
void remove_folder(const char* path) { RemoveDirectoryW(wide(path).c_str()); }

bool make_folder(const std::string& path, int& error) {
  if (CreateDirectoryW(wide(path).c_str(), nullptr)) return true;
  error = static_cast<int>(GetLastError());
  return false;
}

std::string make_temp_folder() {
  wchar_t temp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) throw PackError("temporary folder", "not found");
  std::string base = narrow(temp);
  for (char& c : base)
    if (c == '\\') c = '/';
  if (!base.empty() && base.back() != '/') base += '/';
  uint64_t seed = GetTickCount64() ^ (uint64_t{GetCurrentProcessId()} << 20);
  for (int attempt = 0; attempt < 100; ++attempt) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%06llx", static_cast<unsigned long long>((seed >> 40) & 0xffffff));
    const std::string path = base + "onefile-pack-" + suffix;
    if (CreateDirectoryW(wide(path).c_str(), nullptr)) return path;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  throw PackError(base, "cannot create a temporary folder: " + error_text(static_cast<int>(GetLastError())));
}

void on_interrupt(void (*handler)()) {
  g_interrupt_handler = handler;
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

void defer_interrupts() { SetConsoleCtrlHandler(on_deferred_console_event, TRUE); }

bool interrupted() { return g_deferred_event != 0; }

void end_interrupted() { ExitProcess(130); }

bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

std::vector<std::string> utf8_arguments(int, char**) {
  int count = 0;
  wchar_t** wide_args = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(narrow(wide_args[i]));
  LocalFree(wide_args);
  return args;
}

}  // namespace onefile_pack
