#pragma once
// Whether this process may have the kernel's context-switch records here,
// and, when not, what refused them and what would allow them: said once
// when a run falls back to /proc, and by --check without running anything.

#include "SwitchRecord.h"

#include <cstdio>
#include <string>

struct RecordsAccess {
    int error = 0;         // perf_event_open's errno; 0 when the records are allowed
    int paranoid = 0;      // kernel.perf_event_paranoid
    bool seccomp = false;  // a seccomp filter binds this process (a container's, most often)
    bool perfmon = false;  // CAP_PERFMON or CAP_SYS_ADMIN in effect
    bool forced = false;   // QUORVEX_THREAD_STATES=proc asks for /proc
};

// Tries the records on this process itself. procRoot is "/proc" except in tests.
RecordsAccess ProbeRecordsAccess(const std::string& procRoot = "/proc");

// The two lines a run writes to standard error when it samples /proc instead.
std::string RefusalText(const RecordsAccess& access, int intervalMs);
// The line a run writes when the kernel stopped the records at the exec of
// a set-user-ID (or unreadable) program.
std::string SetUidText(const std::string& program, int intervalMs);
// Whether the exit record of a process's first thread came while the
// process lives on and is not exiting: the kernel stopped its records at an
// exec of a set-user-ID (or unreadable) program.
bool RecordsStoppedAt(const SwitchRecord& exit, const std::string& procRoot = "/proc");

// --check's answer; exact is set when a run would have the records.
std::string CheckText(const RecordsAccess& access, int intervalMs, bool& exact);
