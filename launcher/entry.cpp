// The windowed launcher's entry point, in a source of its own: the Windows
// build links one template launcher per kind from its entry source
// (cmake/launcher_kinds.cmake), and test programs link the launcher's
// library with entry points of their own.
#include <windows.h>

#include "launcher/main_sequence.h"

extern "C" {
// Have the C runtime expand wildcard arguments when it builds __wargv.
int _dowildcard = -1;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return launcher_main(); }
}
