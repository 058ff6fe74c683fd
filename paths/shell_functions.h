// The shell's functions the launcher uses, looked up in shell32.dll from
// System32 on first use instead of imported: importing shell32 loads user32
// and gdi32 into every process of every run, which under Wine costs about
// 40 ms of each start (bench/README.md), also for a program main or a child
// that needs neither.
#pragma once

#include <windows.h>

// CommandLineToArgvW; null (with GetLastError set) when shell32 cannot be had.
using CommandLineToArgvFn = LPWSTR*(WINAPI*)(LPCWSTR, int*);
CommandLineToArgvFn command_line_to_argv();

// SHGetFolderPathW; null when shell32 cannot be had.
using GetFolderPathFn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
GetFolderPathFn get_folder_path();
