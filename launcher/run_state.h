// The process-wide state of a run, one struct per role. The console handler,
// the log-off window and the fatal-stop hook get no context argument, so
// what they share with the main thread lives here and nowhere else; state
// that only one module reads stays private to its file.
#pragma once

#include <windows.h>

#include "launcher/cache_folder.h"
#include "payload/unpack.h"

// The parent: unpacks (or finds its cache folder), starts the child, waits
// and cleans up. Its fields are read by the console handler and the log-off
// window's thread while the main thread runs; the flags are set with the
// Interlocked functions.
struct ParentRun {
  // The folder the child runs from: the fresh target folder, or in cache
  // mode the staging folder and then the key folder. Fully qualified, no
  // trailing backslash; written by the main thread before the handler is
  // registered and when the cache folder is chosen or published.
  wchar_t target_directory[kPathCapacity];

  // Set right before the first entry is written: this process made the
  // target folder and deletes it at the end. Cleared when a cache folder is
  // in place, which no ending deletes.
  volatile LONG owns_folder;

  // Set by the handler of an interruption or an ending session before its
  // clean-up deletes the target folder: unpacking stops writing, and the
  // main thread leaves the end of the process to the handler.
  volatile LONG interrupted;

  // Set once by whoever ends the run: the main thread when the child ended
  // by itself, or the handler. The other one then leaves the end of the
  // process to it, so the exit code is decided, not raced.
  volatile LONG ending_claimed;

  // A duplicate of the child's process handle for the handler; whoever takes
  // it out with the exchange is the only one to wait on, terminate and close it.
  HANDLE volatile child_handle;

  // Set once the child runs: from then on a console launcher leaves Ctrl+C
  // to the app.
  volatile LONG child_resumed;

  // The folders of a cached run, for the sweep of the cache root beside the child.
  CacheFolders cache;
};
extern ParentRun g_parent;

// The child: finds the main library in the folder its parent unpacked and
// hands the process over to it.
struct ChildRun {
  // The folder its parent unpacked into, as the parent named or expanded it.
  wchar_t target_directory[kPathCapacity];
  // The first entry's path in it: the main library.
  wchar_t main_library_path[kPathCapacity];
};
extern ChildRun g_child;

// Waits here for good: another thread has claimed the ending of the run
// (the handler, or the main thread once the child ended) and ends the process.
[[noreturn]] void wait_for_the_ending();
