// The launcher's entry routine, which both kinds' entry points call.
#pragma once

// Decides the role once and runs it: the parent's path (unpack or find the
// cache folder, run the child to its end) or the child's (find the main
// library, call the app). Returns the exit code. Tests call it too.
int launcher_main();
