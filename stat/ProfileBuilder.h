#pragma once
// Turns a time-ordered stream of context-switch records into a Profile of
// the span [start, end]. Pure bookkeeping, so it runs on synthetic streams.

#include "Profile.h"
#include "SwitchRecord.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// A thread already alive when the span starts; it counts as off a processor
// until its first switch-in.
struct InitialThread {
    int tid = 0;
    int pid = 0;
    std::string name;
};

class ProfileBuilder {
public:
    // The most windows a profile holds; a longer run's windows are widened.
    static constexpr std::size_t MAX_WINDOWS = 4096;

    // rootPid: the measured process; with followChildren every process in
    // the stream counts, otherwise only rootPid's threads.
    ProfileBuilder(std::uint64_t startNs, std::uint64_t intervalNs, int rootPid, bool followChildren,
                   const std::vector<InitialThread>& initial);

    // Records arrive in time order, none after the end given to Finish.
    void Add(const SwitchRecord& record);
    std::uint64_t LastTimeNs() const { return m_nowNs; }
    // Figures so far, without ending the span (for a progress line).
    std::uint64_t OnCpuNsSoFar() const;
    std::uint64_t ParallelNsSoFar() const;
    std::size_t LiveThreads() const { return m_live.size(); }

    Profile Finish(std::uint64_t endNs);

private:
    struct Live {
        std::size_t index = 0;     // into m_profile.threads
        bool onCpu = false;
        bool waiting = false;
        int cpu = -1;              // while on a processor
        std::uint64_t since = 0;   // start of the current on-CPU or waiting stretch
    };

    bool Measured(int pid) const { return m_followChildren || pid == m_rootPid; }
    Live& Ensure(int tid, int pid, std::uint64_t timeNs);
    Live& Born(int tid, int pid, std::uint64_t timeNs, const std::string& name);
    void SwitchIn(Live& thread, int cpu, std::uint64_t timeNs);
    void FreeProcessor(int cpu, std::size_t incoming, std::uint64_t timeNs);
    void Occupy(int cpu, Live& thread);
    void SwitchOut(Live& thread, bool preempted, std::uint64_t timeNs);
    void End(int tid, std::uint64_t timeNs);
    void Exec(const SwitchRecord& record);
    void EndWaiting(Live& thread, std::uint64_t timeNs);
    void Close(Live& thread, std::uint64_t timeNs);
    void AdvanceTo(std::uint64_t timeNs);
    void AddToWindows(ThreadProfile& thread, std::uint64_t from, std::uint64_t to, bool onCpu);
    WindowProfile& Window(std::size_t index);
    void FitWindows(std::uint64_t timeNs);
    std::string NameInProcess(int pid) const;
    std::string CreatorName(const SwitchRecord& fork) const;
    void CountAlive();

    const int m_rootPid;
    const bool m_followChildren;
    Profile m_profile;
    std::unordered_map<int, Live> m_live;  // by tid
    std::unordered_set<int> m_pids;
    std::unordered_map<int, std::size_t> m_occupants;  // by processor: the thread on it (index)
    std::uint64_t m_nowNs;  // levels are accounted up to here
    std::size_t m_level = 0;
};
