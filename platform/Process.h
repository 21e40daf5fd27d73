#pragma once
// Starting, timing and ending a target process: the Windows-style calls over
// the core's Target (held-then-released start, exit watcher, end of the
// whole process group).
//
// CreateProcessA attaches the exact thread-state source while the child is
// held before its exec; the counter service takes it through the process's
// handle, so a query measures the process this run started and no other.

#include "ThreadActivity.h"
#include "Timing.h"
#include "WinTypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct SECURITY_ATTRIBUTES;

// Called with the child's pid while it waits before its exec, so that what it
// attaches sees every thread of the target from its first instruction on:
// the exact thread-state source, or null with a one-line reason.
using ProcessStartHook = std::function<std::unique_ptr<ThreadActivitySource>(int pid, std::string& whyNot)>;

struct STARTUPINFOA {
    DWORD cb;
    // Not in the Windows structure: what CreateProcessA attaches to the child;
    // empty, the kernel's context-switch records (SwitchRecordSource::Attach).
    ProcessStartHook attach;
};

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};

// The program is applicationName when given, else the command line's first
// token (SplitCommandLine); a name without '/' is looked for along PATH. The
// environment is a block of "name=value\0" strings ended by an empty one, or
// null for the caller's. Creation flags other than 0 are refused. Without
// inheritHandles the child gets only standard input, output and error.
// On failure: FALSE, processInformation untouched, GetLastError = errno.
BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine, SECURITY_ATTRIBUTES* processAttributes,
                    SECURITY_ATTRIBUTES* threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    void* environment, LPCSTR currentDirectory, STARTUPINFOA* startupInfo,
                    PROCESS_INFORMATION* processInformation);
// Creation is the release of the child; exit is zero while the process runs;
// kernel and user times are not kept (zero).
BOOL GetProcessTimes(HANDLE process, FILETIME* creation, FILETIME* exit, FILETIME* kernel, FILETIME* user);
constexpr DWORD STILL_ACTIVE = 259;
// The exit status of a process that has ended; STILL_ACTIVE while it runs. A
// process killed by a signal gives 128 + the signal, as a shell shows it;
// ProcessEndSignal tells the two apart.
BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode);
// The signal that ended the process; 0 while it runs and when it exited.
int ProcessEndSignal(HANDLE process);
// Ends the process and its whole process group and reaps them; FALSE when it
// had already ended.
BOOL TerminateProcess(HANDLE process, UINT exitCode);
BOOL CloseHandle(HANDLE object);

// The process a process handle names; nullopt for anything else.
struct StartedProcess {
    int pid;
    std::uint64_t startTicks;
};
std::optional<StartedProcess> ProcessOfHandle(HANDLE process);

// What the start hook attached to the process, handed over once; null with
// the reason otherwise.
std::unique_ptr<ThreadActivitySource> TakeAttachedThreadStates(HANDLE process, std::string& whyNot);

// A process's instance name: its executable's file name without a trailing
// ".exe". The one rule for the counters, the chooser and the console run.
std::string InstanceName(std::string_view path);
