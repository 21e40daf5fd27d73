#pragma once
// Whether this process may have the kernel's context-switch records here,
// and, when not, what refused them and what would allow them: said once
// when a run falls back to /proc, and by --check without running anything.

#include "SwitchRecord.h"

#include <cstdio>
#include <optional>
#include <string>
#include <unordered_map>

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
// Where the kernel stopped a process's records at its exec of a set-user-ID
// (or unreadable) program, told from the records alone, however soon the
// process ends: the kernel writes the exec and then, before it maps the new
// program, the exit of the process's first thread, which lives on unseen.
// An exec that keeps the records maps the program before it can end.
class StoppedExecs {
public:
    // Given every record in time order: the program's name when this one
    // marks such a stop.
    std::optional<std::string> See(const SwitchRecord& record);

private:
    std::unordered_map<int, std::string> m_unmapped;  // exec'd, program not mapped yet: its name, by pid
};

// --check's answer; exact is set when a run would have the records.
std::string CheckText(const RecordsAccess& access, int intervalMs, bool& exact);
