#pragma once
// One decoded context-switch record of the kernel (perf_event_open with
// context_switch, task, comm and mmap): the raw stream that thread states, processor
// times and the exact concurrency histogram are all computed from.

#include <cstdint>
#include <string>

enum class RecordKind : std::uint8_t {
    SwitchIn,
    SwitchOut,
    Fork,   // a thread (or, when children are followed, a process) was created
    Exit,   // a thread ended
    Exec,   // the process replaced its image; only the thread tid == pid remains
    Comm,   // a thread took a new name (name)
    Mapped, // a thread mapped program code: after an exec, the new program is being loaded
    Lost,   // the kernel dropped records: the stream has a gap
};

struct SwitchRecord {
    std::uint64_t timeNs = 0;  // CLOCK_MONOTONIC
    RecordKind kind = RecordKind::SwitchIn;
    int pid = 0;
    int tid = 0;
    int cpu = 0;
    std::uint64_t lost = 0;  // dropped records, for Lost
    bool preempted = false;  // SwitchOut: the thread was still runnable (it waits for a processor)
    std::string name;        // Comm and Exec: the thread's new name, at most 15 characters
    // SwitchIn: timeNs is dated back to when the kernel picked the thread,
    // from when its record was written (SwitchRecordStream).
    bool datedBack = false;
    // SwitchIn straight from another measured thread: dated to its switch-out.
    bool direct = false;
};
