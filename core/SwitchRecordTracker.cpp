#include "SwitchRecordTracker.h"

#include <algorithm>

// One thread's processor time, as its records tell it:
//
//         in         out             in              instant      out
//   -------|==========|---------------|================:============|---> t
//          |-- run1 --|               |-- stretch -----|
//                                     since
//
//   closed   = run1
//   reported = closed + (instant - since)   while on a processor at the instant
//
// A stretch is closed only by the record that ends it, never by a snapshot.
// Records after the instant stay queued, so the open stretch is counted up
// to each instant from the same `since` and no nanosecond is counted twice
// or dropped. That also keeps the sampler out of the picture: it wakes at the
// instant and may push a thread off its processor microseconds later, after
// the instant. A thread's reported value never goes down; a thread that ends
// hands its last value to the process total, which therefore never goes down
// either.

SwitchRecordTracker::SwitchRecordTracker(int pid, std::uint64_t cpuNs) : m_pid(pid), m_states(pid, false, 0)
{
    m_states.Observe(this);
    m_states.Place(pid, pid, "", false, cpuNs, 0);
}

void SwitchRecordTracker::AdvanceTo(std::uint64_t instantNs)
{
    instantNs = m_reachedNs = std::max(instantNs, m_reachedNs);
    m_stream.ReleaseTo(instantNs, [this](const SwitchRecord& record) {
        if (m_statesKept)
            m_states.Apply(record);  // which calls Record
        else
            Record(record);
    });
}

void SwitchRecordTracker::Record(const SwitchRecord& record)
{
    if (m_observer)
        m_observer(record);
    if (record.kind == RecordKind::Lost) {
        m_lostRecords += record.lost;
        m_needsResync = true;
    }
}

void SwitchRecordTracker::Ended(const TrackedThread& thread, std::uint64_t timeNs)
{
    const auto reported = m_reportedNs.find(thread.serial);
    m_endedNs += std::max(reported != m_reportedNs.end() ? reported->second : 0, thread.OnCpuAt(timeNs));
    if (reported != m_reportedNs.end())
        m_reportedNs.erase(reported);
}

void SwitchRecordTracker::Snapshot(std::uint64_t instantNs, ActivitySnapshot& snapshot)
{
    instantNs = std::max(instantNs, m_reachedNs);
    snapshot.threads.clear();
    std::uint64_t total = m_endedNs;
    for (const auto& [tid, thread] : m_states.Live()) {
        std::uint64_t& reported = m_reportedNs[thread.serial];
        reported = std::max(reported, thread.OnCpuAt(instantNs));
        total += reported;
        snapshot.threads.push_back({tid, thread.state == ThreadState::OnCpu, reported, instantNs});
    }
    m_reportedTotalNs = std::max(m_reportedTotalNs, total);
    snapshot.processCpuNs = m_reportedTotalNs;
    snapshot.processReadNs = instantNs;
}

void SwitchRecordTracker::Resync(const std::vector<ThreadActivity>& threads, std::uint64_t nowNs)
{
    m_stream.DropTo(nowNs);
    std::vector<int> listed;
    for (const ThreadActivity& thread : threads)
        listed.push_back(thread.tid);
    std::sort(listed.begin(), listed.end());
    std::vector<int> gone;
    for (const auto& [tid, thread] : m_states.Live())
        if (!std::binary_search(listed.begin(), listed.end(), tid))
            gone.push_back(tid);
    for (const int tid : gone)
        m_states.End(tid, nowNs);
    for (const ThreadActivity& thread : threads)
        m_states.Place(thread.tid, m_pid, "", thread.onProcessor, thread.cpuNs, nowNs);
    m_needsResync = false;
    ++m_resyncs;
}
