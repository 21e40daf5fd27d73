#include "ProfileBuilder.h"

#include <algorithm>

// Levels are accounted lazily: the level in force since m_nowNs is added for
// the time up to each record that can change it, split at window borders.
//
//   start        window 1       window 2
//     |------------|--------------|---------> t
//            in A      in B    out A     end
//   level  0 |  1  |   2      |  1  ...
//
// A thread's on-CPU stretch runs from its switch-in to its switch-out (or
// exit, or the span's end); its waiting stretch from a preempted switch-out
// to its next switch-in. A thread blocked in a sleep, a lock or I/O is
// neither: it is asleep.

namespace {

std::uint64_t Stretch(std::uint64_t from, std::uint64_t to)
{
    return to > from ? to - from : 0;
}

} // namespace

// From the records the threads' times add up to the levels' weighted sum;
// from /proc samples only the threads' own counters are right.
std::uint64_t Profile::OnCpuNs() const
{
    std::uint64_t total = endedUnreadNs;
    for (const ThreadProfile& thread : threads)
        total += thread.onCpuNs;
    return total;
}

ProfileBuilder::ProfileBuilder(std::uint64_t startNs, std::uint64_t intervalNs, int rootPid, bool followChildren,
                               const std::vector<InitialThread>& initial)
    : m_rootPid(rootPid), m_followChildren(followChildren), m_nowNs(startNs)
{
    m_profile.startNs = startNs;
    m_profile.intervalNs = std::max<std::uint64_t>(intervalNs, 1);
    for (const InitialThread& thread : initial)
        Born(thread.tid, thread.pid, startNs, thread.name);
}

std::uint64_t ProfileBuilder::OnCpuNsSoFar() const
{
    std::uint64_t total = 0;
    for (std::size_t level = 1; level < m_profile.levelNs.size(); ++level)
        total += level * m_profile.levelNs[level];
    return total;
}

std::uint64_t ProfileBuilder::ParallelNsSoFar() const
{
    std::uint64_t total = 0;
    for (std::size_t level = 2; level < m_profile.levelNs.size(); ++level)
        total += m_profile.levelNs[level];
    return total;
}

void ProfileBuilder::Add(const SwitchRecord& record)
{
    const std::uint64_t timeNs = std::max(record.timeNs, m_profile.startNs);
    if (record.kind == RecordKind::Lost) {
        m_profile.lostRecords += record.lost;
        return;
    }
    if (!Measured(record.pid))
        return;
    switch (record.kind) {
    case RecordKind::SwitchIn:
        SwitchIn(Ensure(record.tid, record.pid, timeNs), record.cpu, timeNs);
        break;
    case RecordKind::SwitchOut:
        SwitchOut(Ensure(record.tid, record.pid, timeNs), record.preempted, timeNs);
        break;
    case RecordKind::Fork:
        // A live thread of the same id missed its exit record; the id was reused.
        End(record.tid, timeNs);
        Born(record.tid, record.pid, timeNs, CreatorName(record));
        break;
    case RecordKind::Exit:
        End(record.tid, timeNs);
        break;
    case RecordKind::Exec:
        Exec(record);
        break;
    case RecordKind::Comm:
        m_profile.threads[Ensure(record.tid, record.pid, timeNs).index].name = record.name;
        break;
    case RecordKind::Lost:
        break;
    }
}

ProfileBuilder::Live& ProfileBuilder::Ensure(int tid, int pid, std::uint64_t timeNs)
{
    const auto live = m_live.find(tid);
    return live != m_live.end() ? live->second : Born(tid, pid, timeNs, NameInProcess(pid));
}

ProfileBuilder::Live& ProfileBuilder::Born(int tid, int pid, std::uint64_t timeNs, const std::string& name)
{
    m_pids.insert(pid);
    ThreadProfile thread;
    thread.tid = tid;
    thread.pid = pid;
    thread.name = name;
    thread.bornNs = timeNs;
    m_profile.threads.push_back(std::move(thread));
    Live& live = m_live[tid];
    live = Live{};
    live.index = m_profile.threads.size() - 1;
    return live;
}

// A thread first seen by a switch (its creation was lost) is named after its
// process's first thread.
std::string ProfileBuilder::NameInProcess(int pid) const
{
    const auto leader = m_live.find(pid);
    return leader != m_live.end() ? m_profile.threads[leader->second.index].name : std::string();
}

// A new thread or process carries the name of the thread that created it,
// which is the one on the processor that wrote the fork record.
std::string ProfileBuilder::CreatorName(const SwitchRecord& fork) const
{
    const auto creator = m_occupants.find(fork.cpu);
    return creator != m_occupants.end() ? m_profile.threads[creator->second].name : NameInProcess(fork.pid);
}

void ProfileBuilder::SwitchIn(Live& thread, int cpu, std::uint64_t timeNs)
{
    FreeProcessor(cpu, thread.index, timeNs);
    if (thread.onCpu) {  // its switch-out was lost
        m_occupants.erase(thread.cpu);
        Occupy(cpu, thread);
        return;
    }
    AdvanceTo(timeNs);
    EndWaiting(thread, timeNs);
    thread.onCpu = true;
    thread.since = timeNs;
    Occupy(cpu, thread);
    ++m_level;
}

// The /proc estimate does not know the processor (cpu -1), nor that a
// processor runs one thread at a time.
void ProfileBuilder::Occupy(int cpu, Live& thread)
{
    thread.cpu = cpu;
    if (cpu >= 0)
        m_occupants[cpu] = thread.index;
}

// A processor runs one thread at a time: a thread still on it when another
// is switched in missed its switch-out in a gap of lost records, and leaves
// now. Complete streams never get here.
void ProfileBuilder::FreeProcessor(int cpu, std::size_t incoming, std::uint64_t timeNs)
{
    const auto occupant = m_occupants.find(cpu);
    if (occupant == m_occupants.end() || occupant->second == incoming)
        return;
    const auto live = m_live.find(m_profile.threads[occupant->second].tid);
    if (live != m_live.end() && live->second.index == occupant->second)
        SwitchOut(live->second, false, timeNs);
    else
        m_occupants.erase(occupant);
}

void ProfileBuilder::SwitchOut(Live& thread, bool preempted, std::uint64_t timeNs)
{
    if (thread.onCpu) {
        AdvanceTo(timeNs);
        ThreadProfile& profile = m_profile.threads[thread.index];
        profile.onCpuNs += Stretch(thread.since, timeNs);
        AddToWindows(profile, thread.since, timeNs, true);
        thread.onCpu = false;
        m_occupants.erase(thread.cpu);
        --m_level;
    }
    if (preempted && !thread.waiting) {
        thread.waiting = true;
        thread.since = timeNs;
    }
}

void ProfileBuilder::EndWaiting(Live& thread, std::uint64_t timeNs)
{
    if (!thread.waiting)
        return;
    ThreadProfile& profile = m_profile.threads[thread.index];
    profile.waitingNs += Stretch(thread.since, timeNs);
    AddToWindows(profile, thread.since, timeNs, false);
    thread.waiting = false;
}

void ProfileBuilder::Close(Live& thread, std::uint64_t timeNs)
{
    SwitchOut(thread, false, timeNs);
    EndWaiting(thread, timeNs);
}

void ProfileBuilder::End(int tid, std::uint64_t timeNs)
{
    const auto live = m_live.find(tid);
    if (live == m_live.end())
        return;
    Close(live->second, timeNs);
    m_profile.threads[live->second.index].endedNs = timeNs;
    m_live.erase(live);
}

// The kernel ends every other thread of the process before the exec's
// record, and a thread other than the leader that execs takes over the
// leader's id: the survivor is the leader, or else the thread on the
// record's processor.
void ProfileBuilder::Exec(const SwitchRecord& record)
{
    const std::uint64_t timeNs = std::max(record.timeNs, m_profile.startNs);
    auto survivor = m_live.find(record.pid);
    if (survivor == m_live.end())
        survivor = std::find_if(m_live.begin(), m_live.end(), [&](const auto& t) {
            return m_profile.threads[t.second.index].pid == record.pid && t.second.onCpu &&
                   t.second.cpu == record.cpu;
        });
    const int survivorTid = survivor != m_live.end() ? survivor->first : record.pid;
    std::vector<int> others;
    for (const auto& [tid, live] : m_live)
        if (tid != survivorTid && m_profile.threads[live.index].pid == record.pid)
            others.push_back(tid);
    for (int tid : others)
        End(tid, timeNs);
    Live leader = survivor != m_live.end() ? m_live[survivorTid] : Born(record.pid, record.pid, timeNs, "");
    m_live.erase(survivorTid);
    m_live[record.pid] = leader;
    ThreadProfile& profile = m_profile.threads[leader.index];
    profile.tid = record.pid;
    profile.name = record.name;
    SwitchIn(m_live[record.pid], record.cpu, timeNs);  // the exec'ing thread is running
}

void ProfileBuilder::AdvanceTo(std::uint64_t timeNs)
{
    if (timeNs <= m_nowNs)
        return;
    if (m_profile.levelNs.size() <= m_level)
        m_profile.levelNs.resize(m_level + 1);
    m_profile.levelNs[m_level] += timeNs - m_nowNs;
    const std::uint64_t interval = m_profile.intervalNs;
    for (std::uint64_t from = m_nowNs; from < timeNs;) {
        const std::size_t index = (from - m_profile.startNs) / interval;
        const std::uint64_t to = std::min(timeNs, m_profile.startNs + (index + 1) * interval);
        WindowProfile& window = Window(index);
        if (window.levelNs.size() <= m_level)
            window.levelNs.resize(m_level + 1);
        window.levelNs[m_level] += to - from;
        from = to;
    }
    m_nowNs = timeNs;
}

void ProfileBuilder::AddToWindows(ThreadProfile& thread, std::uint64_t from, std::uint64_t to, bool onCpu)
{
    const std::uint64_t interval = m_profile.intervalNs;
    while (from < to) {
        const std::size_t index = (from - m_profile.startNs) / interval;
        const std::uint64_t pieceEnd = std::min(to, m_profile.startNs + (index + 1) * interval);
        if (thread.windows.empty() || thread.windows.back().window != index)
            thread.windows.push_back({index, 0, 0});
        (onCpu ? thread.windows.back().onCpuNs : thread.windows.back().waitingNs) += pieceEnd - from;
        if (onCpu)
            Window(index).onCpuNs += pieceEnd - from;
        from = pieceEnd;
    }
}

WindowProfile& ProfileBuilder::Window(std::size_t index)
{
    while (m_profile.windows.size() <= index) {
        WindowProfile window;
        window.startNs = m_profile.windows.size() * m_profile.intervalNs;
        window.lengthNs = m_profile.intervalNs;
        m_profile.windows.push_back(window);
    }
    return m_profile.windows[index];
}

// A thread is alive in every window that its lifetime touches; one that ends
// exactly on a window's start is not alive in it.
void ProfileBuilder::CountAlive()
{
    const std::uint64_t interval = m_profile.intervalNs;
    for (const ThreadProfile& thread : m_profile.threads) {
        const std::size_t first = (thread.bornNs - m_profile.startNs) / interval;
        const std::uint64_t endOffset = thread.endedNs - m_profile.startNs;
        const std::size_t last = thread.endedNs > thread.bornNs ? (endOffset - 1) / interval : first;
        for (std::size_t index = first; index <= last && index < m_profile.windows.size(); ++index)
            ++m_profile.windows[index].threadsAlive;
    }
}

Profile ProfileBuilder::Finish(std::uint64_t endNs)
{
    endNs = std::max(endNs, m_nowNs);
    AdvanceTo(endNs);
    for (auto& [tid, live] : m_live) {
        Close(live, endNs);
        m_profile.threads[live.index].endedNs = endNs;
    }
    m_live.clear();
    m_profile.endNs = endNs;
    const std::uint64_t elapsed = m_profile.ElapsedNs();
    const std::size_t windows = (elapsed + m_profile.intervalNs - 1) / m_profile.intervalNs;
    if (windows > 0) {
        Window(windows - 1).lengthNs = elapsed - m_profile.windows[windows - 1].startNs;
        m_profile.windows.resize(windows);
    }
    if (m_profile.levelNs.empty())
        m_profile.levelNs.resize(1);
    for (WindowProfile& window : m_profile.windows)
        window.levelNs.resize(m_profile.levelNs.size());
    CountAlive();
    m_profile.processes = static_cast<unsigned>(m_pids.size());
    return std::move(m_profile);
}
