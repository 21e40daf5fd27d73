#pragma once
// The threads of one process as the kernel's context-switch records tell
// them: which thread is on a processor at a given instant, and how much
// processor time each has used. Pure bookkeeping over decoded records, so it
// runs in tests on synthetic record streams.

#include "SwitchRecord.h"
#include "ThreadActivity.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

class SwitchRecordTracker {
public:
    // Starts with the single thread tid == pid, off the processor, having
    // used cpuNs so far.
    SwitchRecordTracker(int pid, std::uint64_t cpuNs);

    // Sees every record as it is applied, in time order, whatever its pid.
    void Observe(std::function<void(const SwitchRecord&)> observer) { m_observer = std::move(observer); }

    // Records of one processor arrive in time order; records of different
    // processors may arrive in any order relative to each other.
    void Add(const SwitchRecord& record);
    // Applies, in time order, every added record up to the instant; later
    // ones wait for a later instant. An instant before one already reached
    // counts as that one.
    void AdvanceTo(std::uint64_t instantNs);
    // The live threads at the instant (at the latest one reached, if that is
    // later). Processor times never decrease from one snapshot to the next.
    void Snapshot(std::uint64_t instantNs, ActivitySnapshot& snapshot);

    // After a gap the thread list comes from /proc, read just after nowNs;
    // records up to nowNs are superseded by it. States are /proc's guess (R
    // counts as on a processor) until each thread's next switch record.
    bool NeedsResync() const { return m_needsResync; }
    // A gap seen before the kernel's own record of it arrives.
    void MarkGap() { m_needsResync = true; }
    void Resync(const std::vector<ThreadActivity>& threads, std::uint64_t nowNs);

    std::size_t LiveThreads() const { return m_threads.size(); }
    std::uint64_t LostRecords() const { return m_lostRecords; }
    unsigned Resyncs() const { return m_resyncs; }

private:
    struct Thread {
        bool onProcessor = false;
        int cpu = -1;
        std::uint64_t since = 0;       // start of the current stretch on a processor
        std::uint64_t cpuNs = 0;       // closed stretches
        std::uint64_t reportedNs = 0;  // last snapshot's value, which later ones never undercut
    };

    void Apply(const SwitchRecord& record);
    void SwitchIn(int tid, int cpu, std::uint64_t timeNs);
    void SwitchOut(int tid, std::uint64_t timeNs);
    void Fork(int tid, std::uint64_t timeNs);
    void Exec(int cpu, std::uint64_t timeNs);
    void End(std::map<int, Thread>::iterator thread, std::uint64_t timeNs);
    void Retire(const Thread& thread, std::uint64_t timeNs);
    static std::uint64_t UsedAt(const Thread& thread, std::uint64_t timeNs);
    void SortPending();

    int m_pid;
    std::function<void(const SwitchRecord&)> m_observer;
    std::map<int, Thread> m_threads;  // live threads by tid
    std::uint64_t m_endedNs = 0;      // processor time of threads that ended
    std::uint64_t m_reportedTotalNs = 0;
    std::vector<SwitchRecord> m_pending;
    bool m_pendingSorted = true;
    std::uint64_t m_reachedNs = 0;  // the latest instant advanced to
    std::uint64_t m_lostRecords = 0;
    bool m_needsResync = false;
    unsigned m_resyncs = 0;
};
