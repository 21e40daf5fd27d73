#pragma once
// Turns a time-ordered stream of context-switch records into a Profile of
// the span [start, end]: the core's thread-state machine applies them, and
// this records what it says, split into interval windows. Pure bookkeeping,
// so it runs on synthetic streams.

#include "LevelHistogram.h"
#include "Profile.h"
#include "Stretches.h"
#include "SwitchRecord.h"
#include "ThreadStates.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A thread already alive when the span starts; it counts as off a processor
// until its first switch-in.
struct InitialThread {
    int tid = 0;
    int pid = 0;
    std::string name;
};

class ProfileBuilder : private ThreadStateObserver {
public:
    // The most windows a profile holds; a longer run's windows are widened.
    static constexpr std::size_t MAX_WINDOWS = 4096;

    // rootPid: the measured process; with followChildren every process in
    // the stream counts, otherwise only rootPid's threads.
    ProfileBuilder(std::uint64_t startNs, std::uint64_t intervalNs, int rootPid, bool followChildren,
                   const std::vector<InitialThread>& initial);
    ProfileBuilder(const ProfileBuilder&) = delete;
    ProfileBuilder& operator=(const ProfileBuilder&) = delete;

    // Records arrive in time order, none after the end given to Finish.
    void Add(const SwitchRecord& record) { m_states.Apply(record); }
    std::uint64_t LastTimeNs() const { return m_states.NowNs(); }
    // Figures so far, without ending the span (for a progress line).
    std::uint64_t OnCpuNsSoFar() const { return m_levels.OnCpuNs(); }
    std::uint64_t ParallelNsSoFar() const { return m_levels.AtLeastNs(2); }
    std::size_t LiveThreads() const { return m_states.Live().size(); }
    const ThreadStates& States() const { return m_states; }

    Profile Finish(std::uint64_t endNs);
    // Keeps every thread's stretches in the profile as well (for a trace).
    void KeepStretches() { m_states.Observe(&m_stretches.emplace()); }

private:
    void Born(const TrackedThread& thread) override;
    void Stretch(const TrackedThread& thread, ThreadState state, std::uint64_t fromNs, std::uint64_t toNs) override;
    void Level(std::size_t onCpu, std::uint64_t timeNs) override;
    void Renamed(const TrackedThread& thread) override;
    void Ended(const TrackedThread& thread, std::uint64_t timeNs) override;

    void AccountWindowsTo(std::uint64_t timeNs);
    void AddToWindows(ThreadProfile& thread, std::uint64_t from, std::uint64_t to, bool onCpu);
    WindowProfile& Window(std::size_t index);
    void FitWindows(std::uint64_t timeNs);
    void CountAlive();

    Profile m_profile;
    ThreadStates m_states;
    LevelHistogram m_levels;
    std::optional<StretchLog> m_stretches;
};
