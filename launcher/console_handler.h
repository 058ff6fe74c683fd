// The parent's console control handler.
#pragma once

#include <windows.h>

// Ctrl+C and Ctrl+Break of a console launcher whose app runs are the app's;
// every other event ends the run (end_interrupted_run).
BOOL WINAPI console_ctrl_handler(DWORD event);
