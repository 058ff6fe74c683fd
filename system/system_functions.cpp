#include "system/system_functions.h"

namespace sys {
namespace {

struct Entry {
  Library library;
  const char* name;
  void* (*imported)();  // an imported function's own address; null for the others
};

// An imported function's own address, for the entries of the imported ones.
#define ONEFILE_SYSTEM_IMPORTED_imported(name) +[]() -> void* { return reinterpret_cast<void*>(&::name); }
#define ONEFILE_SYSTEM_IMPORTED_kernel32(name) nullptr
#define ONEFILE_SYSTEM_IMPORTED_kernel32_else_advapi32(name) nullptr
#define ONEFILE_SYSTEM_IMPORTED_ntdll(name) nullptr
#define ONEFILE_SYSTEM_IMPORTED_user32(name) nullptr
#define ONEFILE_SYSTEM_IMPORTED_gdi32(name) nullptr
#define ONEFILE_SYSTEM_IMPORTED_comctl32(name) nullptr

constexpr Entry kEntries[kFunctionCount] = {
#define ONEFILE_SYSTEM_ENTRY(library, name, type) {Library::library, #name, ONEFILE_SYSTEM_IMPORTED_##library(name)},
    ONEFILE_SYSTEM_FUNCTIONS(ONEFILE_SYSTEM_ENTRY)
#undef ONEFILE_SYSTEM_ENTRY
};

// A library that is not there, and an export that is not: looked up once.
const char kMissingMark = 0;
void* const kMissing = const_cast<char*>(&kMissingMark);

constexpr int kLibraryCount = static_cast<int>(Library::comctl32) + 1;

// Each entry's address once looked up (or replaced): null until then,
// kMissing when it is not there; always null for those of kernel32 and
// ntdll. Written with an interlocked exchange, since
// the window threads and the main thread may look up at the same time; two
// that do find the same address.
void* volatile g_addresses[kFunctionCount];
// Each library's module once found, or kMissing.
void* volatile g_modules[kLibraryCount];

HMODULE find_module(Library library) {
  switch (library) {
    case Library::kernel32:
      return GetModuleHandleW(L"kernel32.dll");
    case Library::ntdll:
      return GetModuleHandleW(L"ntdll.dll");
    // Of the libraries loaded, the copy in System32, never one that lies
    // beside the app or in the current directory.
    case Library::kernel32_else_advapi32:
      return LoadLibraryExW(L"advapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    case Library::user32:
      return LoadLibraryExW(L"user32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    case Library::gdi32:
      return LoadLibraryExW(L"gdi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    case Library::comctl32:
      return LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    case Library::imported:
      break;
  }
  return nullptr;
}

HMODULE module(Library library) {
  void* volatile& slot = g_modules[static_cast<int>(library)];
  void* known = slot;
  if (!known) {
    HMODULE found = find_module(library);
    known = found ? static_cast<void*>(found) : kMissing;
    InterlockedExchangePointer(&slot, known);
  }
  return known == kMissing ? nullptr : static_cast<HMODULE>(known);
}

void* export_of(HMODULE library, const char* name) {
  return library ? reinterpret_cast<void*>(GetProcAddress(library, name)) : nullptr;
}

void* look_up(const Entry& entry) {
  // kernel32 forwards the registry functions to kernelbase, which every
  // process has loaded: advapi32 is loaded only where kernel32 lacks them.
  if (entry.library == Library::kernel32_else_advapi32) {
    if (void* in_kernel32 = export_of(module(Library::kernel32), entry.name)) return in_kernel32;
  }
  return export_of(module(entry.library), entry.name);
}

}  // namespace

void* address(Index index) {
  void* known = g_addresses[index];
  if (known == kMissing) return nullptr;
  if (known) return known;
  const Entry& entry = kEntries[index];
  if (entry.imported) return entry.imported();
  void* found = look_up(entry);
  if (entry.library != Library::kernel32 && entry.library != Library::ntdll)
    InterlockedExchangePointer(&g_addresses[index], found ? found : kMissing);
  return found;
}

void replace_address(Index index, void* replacement) { InterlockedExchangePointer(&g_addresses[index], replacement); }

bool found(Library library) {
  bool all = true;
  for (int i = 0; i < kFunctionCount; ++i)
    if (kEntries[i].library == library && !address(static_cast<Index>(i))) all = false;
  return all;
}

}  // namespace sys
