// What a windowed launcher's windows (its start-up window, its error box)
// share: whether this launcher is of the windowed kind, their title, and
// whether anyone is to see them.
#pragma once

// Whether this executable is a windowed (GUI subsystem) program, read from
// its own image header.
bool windowed_program();

// The title of the launcher's windows: the product name, or the project's
// name when it was packed empty.
const wchar_t* product_name();

// Whether VORLAN_ONEFILE_NO_DIALOGS holds a non-empty value: no box and no
// start-up window then (automation).
bool dialogs_turned_off();

// Whether the process's window station is one a person sees (not a
// service's, nor that of a task without a desktop). Loads user32.
bool window_station_interactive();
