// The console launcher's entry point: the same core as the windowed one
// (entry.cpp), linked as a console-subsystem program. It shares the console
// it was started from with the app, so the app's output reaches it, the
// command interpreter waits for it and sees its exit code.
#include <windows.h>

#include "launcher/main_sequence.h"

extern "C" {
// Have the C runtime expand wildcard arguments when it builds __wargv.
int _dowildcard = -1;

int wmain(int, wchar_t**) { return launcher_main(); }
}
