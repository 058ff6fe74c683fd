// The job that ties the child to the parent: the parent holds its only
// handle, so when the parent ends for any reason (also when it is killed)
// the system closes the job and ends the child and whatever the child
// started, and the target directory is no longer in use.
#include <windows.h>

#include "launcher/launcher.h"

void put_child_in_job(HANDLE process) {
  // Never inherited and never closed: it goes with the process.
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (!job) return;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  // A process the app starts with CREATE_BREAKAWAY_FROM_JOB is meant to
  // outlive it, and may.
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  // Either call fails when the launcher already runs in a job that forbids
  // it; the app then runs without.
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits)) ||
      !AssignProcessToJobObject(job, process)) {
    CloseHandle(job);
  }
}
