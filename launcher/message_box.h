// The fatal message shown in a message box, for a windowed launcher whose
// message went to a standard stream that leads nowhere (started from
// Explorer).
#pragma once

#include <windows.h>

#include <cstddef>

#include "diag/fail.h"

// Whether a box may be shown for a message that went to `stream`
// (STD_OUTPUT_HANDLE or STD_ERROR_HANDLE): that stream is not usable (no
// handle, or a handle of unknown type), the window station is interactive,
// and VORLAN_ONEFILE_NO_DIALOGS is unset or empty.
bool message_box_wanted(DWORD stream);

// The box text: `line`, and with a system code a second line
// "[Error <code>] <the system's text in the user's language>", its inserts
// (%1 ...) filled with `insert` or, when null, left empty. Written into
// `text` (`capacity` units), cut short if it must be.
void message_box_text(const wchar_t* line, const DWORD* code, const wchar_t* insert, wchar_t* text,
                      size_t capacity);

// Shows the message's line (and its code's text) in a box titled with the
// product name, with an error icon, and returns when it is closed. Nothing
// happens when the box is not wanted or user32 cannot be loaded.
void show_message_box(const FatalMessage& message);
