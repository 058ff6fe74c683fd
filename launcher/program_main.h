// A program as the app's main: the parent starts the unpacked program
// itself, and the launcher never takes the child role.
#pragma once

#include "launcher/child_supervision.h"

// Whether the main is a program.
bool program_main();

// Fills `child` with the unpacked program in g_parent.target_directory: its
// quoted full path, the fixed arguments (each expanded, {APP_DIR} being its
// folder, and quoted as one argument), then the rest of the launcher's
// command line as it was received. A fixed argument that cannot be expanded
// is fatal (fail_template).
void program_as_child(ChildStart& child);
