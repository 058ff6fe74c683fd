// The job that ties the child to the parent: the parent holds its only
// handle, so when the parent dies (also when it is killed) the system closes
// the job and ends the child and whatever the child started, and the target
// directory is no longer in use. When the app returns by itself, processes it
// started (a browser, an updater) are its helpers and outlive it, as they
// would without the launcher.
#include "launcher/child_job.h"

#include <windows.h>
#include <tlhelp32.h>

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

// How long the app's console hosts get to end once the app has.
constexpr DWORD kConsoleHostWaitMs = 2000;

// The processes active in the job: `count` IDs, or `complete` false when
// there are more than fit.
struct JobProcesses {
  JOBOBJECT_BASIC_PROCESS_ID_LIST list;
  ULONG_PTR more_ids[7];
};

// False when the job cannot be asked: it then holds no one else.
bool list_job(HANDLE job, JobProcesses& ids) {
  ids = {};
  return QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof(ids), nullptr) ||
         GetLastError() == ERROR_MORE_DATA;
}

bool all_listed(const JobProcesses& ids) {
  return ids.list.NumberOfAssignedProcesses <= ids.list.NumberOfProcessIdsInList;
}

// Whether a process other than the child (which has ended, but whose ID
// its open handle still reserves) is active in the job. Listed by ID
// rather than counted, so the answer does not depend on whether the system
// counts the ended child as active.
bool job_holds_others(HANDLE job, DWORD child_id) {
  JobProcesses ids;
  if (!list_job(job, ids)) return false;
  if (!all_listed(ids)) return true;
  for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList; ++i)
    if (ids.list.ProcessIdList[i] != child_id) return true;
  return false;
}

// Whether `id` is the console host (conhost.exe) that the system started for
// the app `child_id`: a console program started without a console
// (CREATE_NO_WINDOW, by a windowed launcher) gets a console of its own,
// whose host runs as the program's child in its job and ends with the
// console, right after the program. The child's ID is still reserved by its
// open handle, so no other process can name it as its parent.
bool is_console_host_of(const PROCESSENTRY32W& process, DWORD child_id) {
  return process.th32ParentProcessID == child_id && _wcsicmp(process.szExeFile, L"conhost.exe") == 0;
}

// Once the app has ended: when the job holds nothing else but the app's
// console hosts, waits up to kConsoleHostWaitMs for them to end. A helper
// in the job means no wait: the launcher then ends at once.
void wait_for_console_hosts(HANDLE job, DWORD child_id) {
  JobProcesses ids;
  if (!list_job(job, ids) || !all_listed(ids)) return;
  HANDLE hosts[MAXIMUM_WAIT_OBJECTS];
  DWORD host_count = 0;
  bool only_hosts = true;
  HANDLE snapshot = INVALID_HANDLE_VALUE;
  for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList && only_hosts; ++i) {
    const DWORD id = static_cast<DWORD>(ids.list.ProcessIdList[i]);
    if (id == child_id) continue;
    if (snapshot == INVALID_HANDLE_VALUE) snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    bool host = false;
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok && !host; ok = Process32NextW(snapshot, &entry))
      host = entry.th32ProcessID == id && is_console_host_of(entry, child_id);
    only_hosts = host;
    // One that cannot be opened is not waited for; the job tells afterwards
    // whether it still runs.
    if (HANDLE process = host ? OpenProcess(SYNCHRONIZE, FALSE, id) : nullptr) hosts[host_count++] = process;
  }
  if (snapshot != INVALID_HANDLE_VALUE) CloseHandle(snapshot);
  if (only_hosts && host_count > 0) WaitForMultipleObjects(host_count, hosts, TRUE, kConsoleHostWaitMs);
  for (DWORD i = 0; i < host_count; ++i) CloseHandle(hosts[i]);
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
  if (!job) return false;
  // The app's own console hosts are no helpers: their ending is awaited,
  // and a host that outlives the wait counts as one.
  wait_for_console_hosts(job, child_id);
  if (!job_holds_others(job, child_id)) return false;
  // A failure leaves kill-on-close: the helpers then end with the launcher,
  // as before, and the folder is deleted as usual.
  return set_job_limits(job, kOnceTheAppReturned);
}
