// The job that ties the child to the parent: the parent holds its only
// handle, so when the parent dies (also when it is killed) the system closes
// the job and ends the child and whatever the child started, and the target
// directory is no longer in use. When the app returns by itself, processes it
// started (a browser, an updater) are its helpers and outlive it, as they
// would without the launcher.
#include <windows.h>

#include "launcher/launcher.h"

namespace {

// Kill-on-close until the app returns; breakaway always: a process the app
// starts with CREATE_BREAKAWAY_FROM_JOB is meant to outlive it.
constexpr DWORD kWhileTheAppRuns = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
constexpr DWORD kOnceTheAppReturned = JOB_OBJECT_LIMIT_BREAKAWAY_OK;

bool set_job_limits(HANDLE job, DWORD flags) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = flags;
  return SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
}

// Whether a process other than the child (which has ended, but whose ID
// its open handle still reserves) is active in the job. Listed by ID
// rather than counted, so the answer does not depend on whether the system
// counts the ended child as active.
bool job_holds_others(HANDLE job, DWORD child_id) {
  struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    ULONG_PTR more_ids[7];
  } ids = {};
  if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof(ids), nullptr) &&
      GetLastError() != ERROR_MORE_DATA)
    return false;
  if (ids.list.NumberOfAssignedProcesses > ids.list.NumberOfProcessIdsInList) return true;
  for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList; ++i)
    if (ids.list.ProcessIdList[i] != child_id) return true;
  return false;
}

}  // namespace

HANDLE put_child_in_job(HANDLE process) {
  // Never inherited; closed by the system when this process ends.
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (!job) return nullptr;
  // Either call fails when the launcher already runs in a job that forbids
  // it; the app then runs without.
  if (!set_job_limits(job, kWhileTheAppRuns) || !AssignProcessToJobObject(job, process)) {
    CloseHandle(job);
    return nullptr;
  }
  return job;
}

bool release_helpers(HANDLE job, DWORD child_id) {
  if (!job || !job_holds_others(job, child_id)) return false;
  // A failure leaves kill-on-close: the helpers then end with the launcher,
  // as before, and the folder is deleted as usual.
  return set_job_limits(job, kOnceTheAppReturned);
}
