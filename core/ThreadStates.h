#pragma once
// The one thread-state machine: what the kernel's switch records, applied in
// time order, say of each thread of the measured processes. A thread is on a
// processor, waiting for one (switched out while still runnable) or asleep
// (blocked in a sleep, a lock or I/O, or not run yet). A processor runs one
// thread at a time, and a thread runs on one processor at a time, so the
// number on processors never exceeds the processors seen. Pure bookkeeping:
// it runs on synthetic streams in tests. Observers see each change in time
// order: the switch-record source keeps snapshots from it, quorvex-stat
// builds its profile from it.

#include "SwitchRecord.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

enum class ThreadState : std::uint8_t { Asleep, Waiting, OnCpu };

struct TrackedThread {
    std::size_t serial = 0;  // the order of appearance, from 0; a reused tid gets a new one
    int tid = 0;
    int pid = 0;
    std::string name;
    ThreadState state = ThreadState::Asleep;
    int cpu = -1;                // while on a processor; -1 when /proc placed it there
    std::uint64_t bornNs = 0;
    std::uint64_t sinceNs = 0;   // entered its state
    std::uint64_t onCpuNs = 0;   // closed stretches on a processor
    std::uint64_t waitingNs = 0; // closed stretches waiting for one
    std::uint64_t switchIns = 0;
    std::uint64_t directSwitchIns = 0;  // of those, straight from another of our threads
    // Created in the records: from its creation, which wakes it, to its first
    // switch-in, which the kernel may charge it when the wake-up preempted.
    bool forked = false;
    std::uint64_t firstRunDelayNs = 0;

    std::uint64_t OnCpuAt(std::uint64_t timeNs) const;
};

class ThreadStateObserver {
public:
    virtual ~ThreadStateObserver() = default;
    virtual void Born(const TrackedThread& /*thread*/) {}
    // The thread left a stretch in state, [fromNs, toNs]; Asleep stretches too.
    virtual void Stretch(const TrackedThread& /*thread*/, ThreadState /*state*/, std::uint64_t /*fromNs*/,
                         std::uint64_t /*toNs*/)
    {
    }
    // The thread is in thread.state from thread.sinceNs on (after Stretch
    // closed the one before).
    virtual void Entered(const TrackedThread& /*thread*/) {}
    // From timeNs on, onCpu threads are on processors.
    virtual void Level(std::size_t /*onCpu*/, std::uint64_t /*timeNs*/) {}
    // A new name, or a new tid (an exec from another thread takes the leader's).
    virtual void Renamed(const TrackedThread& /*thread*/) {}
    virtual void Ended(const TrackedThread& /*thread*/, std::uint64_t /*timeNs*/) {}
    // Any record as it is applied, for what the states do not keep.
    virtual void Record(const SwitchRecord& /*record*/) {}
};

class ThreadStates {
public:
    // rootPid: the measured process; with allProcesses every process in the
    // stream counts (the command's children), otherwise only rootPid's
    // threads. Nothing happens before startNs.
    ThreadStates(int rootPid, bool allProcesses, std::uint64_t startNs);
    void Observe(ThreadStateObserver* observer) { m_observers.push_back(observer); }

    // A thread alive before the stream says so (the first thread, or /proc's
    // list after a gap), having used onCpuNs, on a processor or asleep.
    void Place(int tid, int pid, const std::string& name, bool onCpu, std::uint64_t onCpuNs, std::uint64_t timeNs);
    // Records arrive in time order; an earlier one counts at the latest time seen.
    void Apply(const SwitchRecord& record);
    void End(int tid, std::uint64_t timeNs);
    // Ends every thread still alive, at timeNs.
    void EndAll(std::uint64_t timeNs);

    const std::map<int, TrackedThread>& Live() const { return m_live; }
    std::size_t OnCpu() const { return m_level; }
    std::uint64_t NowNs() const { return m_nowNs; }
    std::uint64_t LostRecords() const { return m_lostRecords; }
    std::size_t Processes() const { return m_pids.size(); }
    std::uint64_t SwitchIns() const { return m_switchIns; }  // of every thread, since the start
    std::uint64_t DirectSwitchIns() const { return m_directSwitchIns; }  // straight from another of ours
    // Processes forked from a measured one but not followed themselves.
    std::size_t UnfollowedProcesses() const { return m_unfollowed; }

private:
    bool Measured(int pid) const { return m_allProcesses || pid == m_rootPid; }
    bool ForkSeen(const SwitchRecord& fork) const;
    TrackedThread& Ensure(int tid, int pid);
    TrackedThread& Born(int tid, int pid, const std::string& name);
    void SwitchIn(TrackedThread& thread, int cpu, bool datedBack, bool direct);
    void SwitchOut(TrackedThread& thread, bool preempted);
    void Enter(TrackedThread& thread, ThreadState state);
    void Occupy(TrackedThread& thread, int cpu);
    void Vacate(int cpu);
    void Exec(const SwitchRecord& record);
    void SetLevel(std::size_t level);
    std::string NameInProcess(int pid) const;
    std::string CreatorName(const SwitchRecord& fork) const;

    const int m_rootPid;
    const bool m_allProcesses;
    std::map<int, TrackedThread> m_live;  // by tid
    std::vector<int> m_occupants;         // by processor: the tid on it, or 0
    std::map<int, int> m_moving;          // tid -> the processor it hands over to when it leaves its own
    std::vector<int> m_pids;
    std::vector<ThreadStateObserver*> m_observers;
    std::size_t m_serials = 0;
    std::size_t m_level = 0;
    std::uint64_t m_nowNs;
    std::uint64_t m_lostRecords = 0;
    std::uint64_t m_switchIns = 0;
    std::uint64_t m_directSwitchIns = 0;
    std::size_t m_unfollowed = 0;
};
