// Runs Windows programs one after another for the benchmark and mutation
// scripts, so that a whole series costs one Wine start-up instead of one per
// run. Reads jobs from standard input, one per line, UTF-8, fields separated
// by tabs:
//
//   run TIMEOUT_MS CWD TEMP STDOUT_FILE STDERR_FILE COMMAND_LINE
//
// Each job runs in a job object of its own (so a launcher's child ends with
// it), with TEMP and TMP set to TEMP, the current directory CWD, standard
// input from NUL and standard output and error written to the two files.
// After each job one line goes to standard output:
//
//   done EXIT_CODE TIMED_OUT ELAPSED_US LEFTOVER_PROCESSES TIMES
//
// EXIT_CODE is the 32-bit exit code in decimal; TIMED_OUT is 1 when the job
// was killed at its time limit; LEFTOVER_PROCESSES counts processes of the job
// still alive 5 s after the started one ended (then killed); TIMES lists each
// process of the job as START+RUN in microseconds, START counted from the
// first process's start, separated by commas. A line "quit" or the end of
// input ends the runner.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring widen(const std::string& s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

bool read_line(std::string& line) {
  line.clear();
  int c;
  while ((c = fgetc(stdin)) != EOF && c != '\n') line += static_cast<char>(c);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return c != EOF || !line.empty();
}

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

HANDLE open_output(const std::wstring& path) {
  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

DWORD active_processes(HANDLE job) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
  if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof(info), nullptr)) return 0;
  return info.ActiveProcesses;
}

void run_job(const std::vector<std::string>& f) {
  const DWORD timeout_ms = static_cast<DWORD>(strtoul(f[1].c_str(), nullptr, 10));
  const std::wstring cwd = widen(f[2]), temp = widen(f[3]);
  std::wstring command = widen(f[6]);

  SetEnvironmentVariableW(L"TEMP", temp.c_str());
  SetEnvironmentVariableW(L"TMP", temp.c_str());

  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
  HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
  HANDLE out = open_output(widen(f[4]));
  HANDLE err = open_output(widen(f[5]));

  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
  HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {job, port};
  const bool have_port = port && SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation,
                                                         &association, sizeof(association));

  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi = {};
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, cwd.c_str(), &si,
                      &pi)) {
    printf("error CreateProcessW %lu\n", GetLastError());
    fflush(stdout);
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    CloseHandle(job);
    CloseHandle(port);
    return;
  }
  AssignProcessToJobObject(job, pi.hProcess);
  ResumeThread(pi.hThread);

  // The job reports each process it gains through the port; a handle opened
  // on each keeps its times readable after it has ended. Without the port
  // (an older Wine), only the started process is timed.
  std::vector<HANDLE> others;
  auto take_messages = [&](DWORD wait_ms) {
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED data = nullptr;
    while (GetQueuedCompletionStatus(port, &message, &key, &data, wait_ms)) {
      DWORD pid = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(data));
      if (message == JOB_OBJECT_MSG_NEW_PROCESS && pid != pi.dwProcessId)
        if (HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid)) others.push_back(h);
      if (message == JOB_OBJECT_MSG_EXIT_PROCESS && pid == pi.dwProcessId) return;
      wait_ms = 0;
    }
  };

  int timed_out = 0;
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  while (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) {
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) {
      timed_out = 1;
      TerminateJobObject(job, 0xDEAD);
      WaitForSingleObject(pi.hProcess, 10000);
      break;
    }
    DWORD wait = static_cast<DWORD>(deadline - now < 1000 ? deadline - now : 1000);
    if (have_port) {
      take_messages(wait);
    } else {
      WaitForSingleObject(pi.hProcess, wait);
    }
  }
  QueryPerformanceCounter(&end);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  if (have_port) take_messages(0);

  DWORD leftover = 0;
  for (int i = 0; i < 50 && (leftover = active_processes(job)) > 0; ++i) Sleep(100);
  if (leftover > 0) TerminateJobObject(job, 0xDEAD);

  // Start and run time of every process, in microseconds from the start of
  // the first.
  std::string times;
  FILETIME first_start, first_end, k, u;
  GetProcessTimes(pi.hProcess, &first_start, &first_end, &k, &u);
  auto as_us = [](const FILETIME& t) { return (static_cast<long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10; };
  auto add_times = [&](HANDLE h) {
    FILETIME start_time, end_time;
    if (!GetProcessTimes(h, &start_time, &end_time, &k, &u)) return;
    char item[64];
    snprintf(item, sizeof(item), "%s%lld+%lld", times.empty() ? "" : ",", as_us(start_time) - as_us(first_start),
             as_us(end_time) - as_us(start_time));
    times += item;
  };
  add_times(pi.hProcess);
  for (HANDLE h : others) {
    add_times(h);
    CloseHandle(h);
  }
  CloseHandle(port);

  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CloseHandle(job);
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
  long long elapsed_us = (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart;
  printf("done\t%lu\t%d\t%lld\t%lu\t%s\n", code, timed_out, elapsed_us, leftover, times.c_str());
  fflush(stdout);
}

// A launcher makes a hidden window, which needs the desktop window. Under
// Wine the first program that asks for it starts the desktop process, which
// would then run in that program's job (counted as left running, and killed)
// and keep that job's output files: ask for it here, outside every job, with
// the standard handles on NUL. This process then keeps the desktop in use.
void start_desktop() {
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  const DWORD streams[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  HANDLE saved[3];
  for (int i = 0; i < 3; ++i) {
    saved[i] = GetStdHandle(streams[i]);
    SetStdHandle(streams[i], nul);
  }
  GetDesktopWindow();
  for (int i = 0; i < 3; ++i) SetStdHandle(streams[i], saved[i]);
  CloseHandle(nul);
}

}  // namespace

int wmain() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  start_desktop();
  std::string line;
  while (read_line(line)) {
    std::vector<std::string> fields = split_tabs(line);
    if (fields[0] == "quit") break;
    if (fields[0] == "run" && fields.size() == 7) {
      run_job(fields);
    } else {
      printf("error bad job line\n");
      fflush(stdout);
    }
  }
  return 0;
}
