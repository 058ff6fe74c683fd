// The launcher's entry point. Kept in its own object, which the packer links
// explicitly into every app.
#include <windows.h>

#include "launcher/main_sequence.h"

extern "C" {
// Have the C runtime expand wildcard arguments when it builds __wargv.
int _dowildcard = -1;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return launcher_main(); }
}
