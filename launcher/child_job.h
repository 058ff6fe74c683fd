// The job that ties the child, and whatever it starts, to the parent.
#pragma once

#include <windows.h>

// Puts the child into a kill-on-close job that only this process holds and
// returns the job; null without a job (not allowed here), and the child
// runs all the same.
HANDLE put_child_in_job(HANDLE process);

// Once the child (process ID `child_id`) has ended by itself: when processes
// it started still run in `job`, lifts kill-on-close so that they outlive the
// launcher (breakaway stays allowed), and returns true: the target directory
// must then stay, as they may still use it. False for no job, or no helper.
bool release_helpers(HANDLE job, DWORD child_id);
