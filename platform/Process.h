#pragma once
// Starting, timing and ending a target process.
//
// CreateProcessA forks a child that waits on a pipe until the parent has
// attached the exact thread-state source to it and releases it, then execs;
// an exec failure comes back through a second pipe, so a start that cannot
// exec fails synchronously. The child dies with the thread that started it
// (PR_SET_PDEATHSIG), so no target outlives quorvex. Each started process has
// a watcher thread that stamps its exit the moment the kernel reports it and
// reaps it; TerminateProcess kills and reaps it at once.

#include "ThreadActivity.h"
#include "Timing.h"
#include "WinTypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct SECURITY_ATTRIBUTES;

struct STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    BYTE* lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
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
// Kills the process and reaps it; FALSE when it had already ended.
BOOL TerminateProcess(HANDLE process, UINT exitCode);
BOOL CloseHandle(HANDLE object);

// Called with the child's pid while it waits before its exec, so that what it
// attaches sees every thread of the target from its first instruction on:
// the exact thread-state source, or null with a one-line reason. The default
// attaches the kernel's context-switch records (SwitchRecordSource::Attach).
using ProcessStartHook = std::function<std::unique_ptr<ThreadActivitySource>(int pid, std::string& whyNot)>;
// Null restores the default. Returns the hook replaced (null: the default).
ProcessStartHook SetProcessStartHook(ProcessStartHook hook);

// The process of this instance name that this program started last, if any
// (it may have ended since).
struct StartedProcess {
    int pid;
    std::uint64_t startTicks;
};
std::optional<StartedProcess> LatestStartedProcess(const std::string& instanceName);

// What the start hook attached to a process this program started, handed over
// once while a handle of the process is open; null with the reason otherwise.
std::unique_ptr<ThreadActivitySource> TakeAttachedThreadStates(const StartedProcess& process, std::string& whyNot);
