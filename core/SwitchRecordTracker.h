#pragma once
// The threads of one process at given instants, as the kernel's
// context-switch records tell them: which thread is on a processor, and how
// much processor time each has used. The records queue once (a
// SwitchRecordStream) and are applied, in time order, to the one
// thread-state machine (ThreadStates). Pure bookkeeping over decoded records,
// so it runs in tests on synthetic record streams.

#include "SwitchRecord.h"
#include "SwitchRecordStream.h"
#include "ThreadActivity.h"
#include "ThreadStates.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

// Where a collection made at the end of a sleep reads the threads: a little
// before that end. The sleeper's own timer fires right at the end (no
// slack), on one of the processors, and a switch under way there writes its
// records only after the interrupt, up to some 20 us late: read at the end
// itself, the threads would lag the scheduler exactly where the samples fall.
constexpr std::uint64_t TIMER_SHADOW_NS = 50'000;
inline std::uint64_t ReadingInstant(std::uint64_t sleepEndNs)
{
    return sleepEndNs - std::min(sleepEndNs, TIMER_SHADOW_NS);
}

class SwitchRecordTracker : private ThreadStateObserver {
public:
    // Starts with the single thread tid == pid, off the processor, having
    // used cpuNs so far.
    SwitchRecordTracker(int pid, std::uint64_t cpuNs);
    SwitchRecordTracker(const SwitchRecordTracker&) = delete;
    SwitchRecordTracker& operator=(const SwitchRecordTracker&) = delete;

    // Sees every record as it is applied, in time order, whatever its pid.
    // Without statesKept, the records only reach the observer: snapshots
    // then list nothing (for a consumer with its own thread states).
    void Observe(std::function<void(const SwitchRecord&)> observer, bool statesKept = true)
    {
        m_observer = std::move(observer);
        m_statesKept = statesKept;
    }

    // Records of one processor arrive in time order; records of different
    // processors may arrive in any order relative to each other.
    void Add(SwitchRecord record) { m_stream.Add(std::move(record)); }
    // Shows the records added and not applied yet, in no particular order.
    void Queued(const std::function<void(const SwitchRecord&)>& see) const { m_stream.Queued(see); }
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

    std::size_t LiveThreads() const { return m_states.Live().size(); }
    std::uint64_t LostRecords() const { return m_lostRecords; }
    unsigned Resyncs() const { return m_resyncs; }

private:
    void Record(const SwitchRecord& record) override;
    void Ended(const TrackedThread& thread, std::uint64_t timeNs) override;

    const int m_pid;
    std::function<void(const SwitchRecord&)> m_observer;
    SwitchRecordStream m_stream;
    ThreadStates m_states;
    // Each thread's last snapshot value, which later ones never undercut, by serial.
    std::unordered_map<std::size_t, std::uint64_t> m_reportedNs;
    std::uint64_t m_endedNs = 0;  // processor time of threads that ended
    std::uint64_t m_reportedTotalNs = 0;
    std::uint64_t m_reachedNs = 0;  // the latest instant advanced to
    bool m_statesKept = true;
    bool m_needsResync = false;
    unsigned m_resyncs = 0;
    std::uint64_t m_lostRecords = 0;
};
