// The child role's last step: the process goes over to the app's main
// library.
#pragma once

// Loads the main library (g_child.main_library_path) with the target
// directory among the library directories and returns the result of its
// run_code. A library that does not load, or lacks run_code, is fatal.
int hand_off_to_main_library();
