#include "SwitchRecordTracker.h"

#include <algorithm>

// One thread's processor time, as its records tell it:
//
//         in         out             in              instant      out
//   -------|==========|---------------|================:============|---> t
//          |-- run1 --|               |-- stretch -----|
//                                     since
//
//   cpuNs    = run1                   (closed stretches only)
//   reported = cpuNs + (instant - since)   while on a processor at the instant
//
// A stretch is closed into cpuNs only by the record that ends it (switch-out,
// exit, exec of another thread), never by a snapshot. Records after the
// instant stay pending, so the open stretch is counted up to each instant
// from the same `since` and no nanosecond is counted twice or dropped. That
// also keeps the sampler out of the picture: it wakes at the instant and may
// push a thread off its processor microseconds later, after the instant. A
// thread's reported value never goes down; a thread that ends hands its last
// value to the process total, which therefore never goes down either.

namespace {

std::uint64_t Stretch(std::uint64_t from, std::uint64_t to)
{
    return to > from ? to - from : 0;
}

} // namespace

SwitchRecordTracker::SwitchRecordTracker(int pid, std::uint64_t cpuNs) : m_pid(pid)
{
    m_threads[pid].cpuNs = cpuNs;
}

void SwitchRecordTracker::Add(const SwitchRecord& record)
{
    if (!m_pending.empty() && record.timeNs < m_pending.back().timeNs)
        m_pendingSorted = false;
    m_pending.push_back(record);
}

void SwitchRecordTracker::SortPending()
{
    // Stable: records of one processor with equal times keep their order.
    if (!m_pendingSorted)
        std::stable_sort(m_pending.begin(), m_pending.end(),
                         [](const SwitchRecord& a, const SwitchRecord& b) { return a.timeNs < b.timeNs; });
    m_pendingSorted = true;
}

void SwitchRecordTracker::AdvanceTo(std::uint64_t instantNs)
{
    instantNs = m_reachedNs = std::max(instantNs, m_reachedNs);
    SortPending();
    const auto due = std::upper_bound(m_pending.begin(), m_pending.end(), instantNs,
                                      [](std::uint64_t t, const SwitchRecord& r) { return t < r.timeNs; });
    std::for_each(m_pending.begin(), due, [this](const SwitchRecord& r) { Apply(r); });
    m_pending.erase(m_pending.begin(), due);
}

void SwitchRecordTracker::Apply(const SwitchRecord& record)
{
    if (m_observer)
        m_observer(record);
    if (record.kind == RecordKind::Lost) {
        m_lostRecords += record.lost;
        m_needsResync = true;
        return;
    }
    // A process the target forks is not followed, but its birth is reported
    // through the parent's records.
    if (record.pid != m_pid)
        return;
    switch (record.kind) {
    case RecordKind::SwitchIn:
        SwitchIn(record.tid, record.cpu, record.timeNs);
        break;
    case RecordKind::SwitchOut:
        SwitchOut(record.tid, record.timeNs);
        break;
    case RecordKind::Fork:
        Fork(record.tid, record.timeNs);
        break;
    case RecordKind::Exit:
        if (const auto thread = m_threads.find(record.tid); thread != m_threads.end())
            End(thread, record.timeNs);
        break;
    case RecordKind::Exec:
        Exec(record.cpu, record.timeNs);
        break;
    case RecordKind::Comm:
    case RecordKind::Lost:
        break;
    }
}

void SwitchRecordTracker::SwitchIn(int tid, int cpu, std::uint64_t timeNs)
{
    // Already on only by a re-sync's guess: it was in fact waiting since.
    Thread& thread = m_threads[tid];
    thread.onProcessor = true;
    thread.cpu = cpu;
    thread.since = timeNs;
}

void SwitchRecordTracker::SwitchOut(int tid, std::uint64_t timeNs)
{
    Thread& thread = m_threads[tid];
    if (thread.onProcessor)
        thread.cpuNs += Stretch(thread.since, timeNs);
    thread.onProcessor = false;
}

void SwitchRecordTracker::Fork(int tid, std::uint64_t timeNs)
{
    // A live thread of the same id missed its exit record; the id was reused.
    if (const auto stale = m_threads.find(tid); stale != m_threads.end())
        End(stale, timeNs);
    m_threads[tid] = Thread{};
}

// The kernel ends every other thread before the exec's record, and a thread
// other than the leader that execs takes over the leader's id, so the record
// names the leader while the stretch running it is filed under the old id.
// That thread is the one on the record's processor.
void SwitchRecordTracker::Exec(int cpu, std::uint64_t timeNs)
{
    auto survivor = m_threads.find(m_pid);
    if (survivor == m_threads.end())
        survivor = std::find_if(m_threads.begin(), m_threads.end(),
                                [cpu](const auto& t) { return t.second.onProcessor && t.second.cpu == cpu; });
    Thread leader = survivor != m_threads.end() ? survivor->second : Thread{};
    for (auto thread = m_threads.begin(); thread != m_threads.end(); ++thread)
        if (thread != survivor)
            Retire(thread->second, timeNs);
    m_threads.clear();
    // The exec'ing thread is running when the record is written.
    if (!leader.onProcessor)
        leader.since = timeNs;
    leader.onProcessor = true;
    leader.cpu = cpu;
    m_threads[m_pid] = leader;
}

void SwitchRecordTracker::End(std::map<int, Thread>::iterator thread, std::uint64_t timeNs)
{
    Retire(thread->second, timeNs);
    m_threads.erase(thread);
}

void SwitchRecordTracker::Retire(const Thread& thread, std::uint64_t timeNs)
{
    m_endedNs += std::max(thread.reportedNs, UsedAt(thread, timeNs));
}

std::uint64_t SwitchRecordTracker::UsedAt(const Thread& thread, std::uint64_t timeNs)
{
    return thread.cpuNs + (thread.onProcessor ? Stretch(thread.since, timeNs) : 0);
}

void SwitchRecordTracker::Snapshot(std::uint64_t instantNs, ActivitySnapshot& snapshot)
{
    instantNs = std::max(instantNs, m_reachedNs);
    snapshot.threads.clear();
    std::uint64_t total = m_endedNs;
    for (auto& [tid, t] : m_threads) {
        t.reportedNs = std::max(t.reportedNs, UsedAt(t, instantNs));
        total += t.reportedNs;
        snapshot.threads.push_back({tid, t.onProcessor, t.reportedNs, instantNs});
    }
    m_reportedTotalNs = std::max(m_reportedTotalNs, total);
    snapshot.processCpuNs = m_reportedTotalNs;
    snapshot.processReadNs = instantNs;
}

void SwitchRecordTracker::Resync(const std::vector<ThreadActivity>& threads, std::uint64_t nowNs)
{
    std::erase_if(m_pending, [nowNs](const SwitchRecord& r) { return r.timeNs <= nowNs; });
    std::vector<int> listed;
    for (const ThreadActivity& listedThread : threads)
        listed.push_back(listedThread.tid);
    std::sort(listed.begin(), listed.end());
    for (auto thread = m_threads.begin(); thread != m_threads.end();) {
        const auto next = std::next(thread);
        if (!std::binary_search(listed.begin(), listed.end(), thread->first))
            End(thread, nowNs);
        thread = next;
    }
    for (const ThreadActivity& listedThread : threads) {
        Thread& thread = m_threads[listedThread.tid];
        thread.onProcessor = listedThread.onProcessor;
        thread.cpu = -1;
        thread.since = nowNs;
        thread.cpuNs = listedThread.cpuNs;
    }
    m_needsResync = false;
    ++m_resyncs;
}
