#include "ThreadStates.h"

#include <algorithm>

namespace {

// Two forks of one thread this close are one fork written twice.
constexpr std::uint64_t REPEATED_FORK_NS = 1'000'000;

} // namespace

// Every change happens at the latest time seen (m_nowNs), so stretches never
// run backwards and observers see the changes in time order:
//
//          in              out(preempted)     in        out
//   -------|================|.................|=========|------> t
//   Asleep      OnCpu             Waiting        OnCpu     Asleep
//
// A stretch is closed, and handed to the observers, by the record that ends
// it (switch-in or -out, exit, exec of another thread), or by End.

std::uint64_t TrackedThread::OnCpuAt(std::uint64_t timeNs) const
{
    return onCpuNs + (state == ThreadState::OnCpu && timeNs > sinceNs ? timeNs - sinceNs : 0);
}

ThreadStates::ThreadStates(int rootPid, bool allProcesses, std::uint64_t startNs)
    : m_rootPid(rootPid), m_allProcesses(allProcesses), m_nowNs(startNs)
{
}

void ThreadStates::Place(int tid, int pid, const std::string& name, bool onCpu, std::uint64_t onCpuNs,
                         std::uint64_t timeNs)
{
    m_nowNs = std::max(m_nowNs, timeNs);
    const auto live = m_live.find(tid);
    TrackedThread& thread = live != m_live.end() ? live->second : Born(tid, pid, name);
    Enter(thread, ThreadState::Asleep);
    m_moving.erase(tid);
    thread.onCpuNs = onCpuNs;
    // /proc's R also means waiting for a processor: until its next record
    // such a thread may show on one beside those that are (after a loss only).
    if (onCpu) {
        Enter(thread, ThreadState::OnCpu);
        thread.cpu = -1;  // /proc does not say where
    }
}

void ThreadStates::Apply(const SwitchRecord& record)
{
    m_nowNs = std::max(m_nowNs, record.timeNs);
    for (ThreadStateObserver* observer : m_observers)
        observer->Record(record);
    if (record.kind == RecordKind::Lost) {
        m_lostRecords += record.lost;
        m_moving.clear();
        return;
    }
    // With the command's own process only, the processes it forks are not
    // followed, but their births come through its records.
    if (!Measured(record.pid)) {
        m_unfollowed += record.kind == RecordKind::Fork && record.pid == record.tid;
        return;
    }
    switch (record.kind) {
    case RecordKind::SwitchIn:
        SwitchIn(Ensure(record.tid, record.pid), record.cpu, record.datedBack, record.direct);
        break;
    case RecordKind::SwitchOut:
        SwitchOut(Ensure(record.tid, record.pid), record.preempted);
        break;
    case RecordKind::Fork:
        if (ForkSeen(record))
            break;
        // A live thread of the same id missed its exit record; the id was reused.
        End(record.tid, m_nowNs);
        Born(record.tid, record.pid, CreatorName(record)).forked = true;
        break;
    case RecordKind::Exit:
        End(record.tid, m_nowNs);
        break;
    case RecordKind::Exec:
        Exec(record);
        break;
    case RecordKind::Comm: {
        TrackedThread& thread = Ensure(record.tid, record.pid);
        thread.name = record.name;
        for (ThreadStateObserver* observer : m_observers)
            observer->Renamed(thread);
        break;
    }
    case RecordKind::Mapped:
    case RecordKind::Lost:
        break;
    }
}

// Followed across processes, the events of the creator and of the new
// thread both write its fork, some microseconds apart. An id is not reused
// that soon.
bool ThreadStates::ForkSeen(const SwitchRecord& fork) const
{
    const auto live = m_live.find(fork.tid);
    return live != m_live.end() && live->second.pid == fork.pid && m_nowNs - live->second.bornNs < REPEATED_FORK_NS;
}

TrackedThread& ThreadStates::Ensure(int tid, int pid)
{
    const auto live = m_live.find(tid);
    return live != m_live.end() ? live->second : Born(tid, pid, NameInProcess(pid));
}

TrackedThread& ThreadStates::Born(int tid, int pid, const std::string& name)
{
    if (std::find(m_pids.begin(), m_pids.end(), pid) == m_pids.end())
        m_pids.push_back(pid);
    TrackedThread& thread = m_live[tid];
    thread = TrackedThread{};
    thread.serial = m_serials++;
    thread.tid = tid;
    thread.pid = pid;
    thread.name = name;
    thread.bornNs = thread.sinceNs = m_nowNs;
    for (ThreadStateObserver* observer : m_observers)
        observer->Born(thread);
    return thread;
}

// A thread first seen by a switch (its creation was lost) is named after its
// process's first thread.
std::string ThreadStates::NameInProcess(int pid) const
{
    const auto leader = m_live.find(pid);
    return leader != m_live.end() ? leader->second.name : std::string();
}

// A new thread or process carries the name of the thread that created it,
// which is the one on the processor that wrote the fork record.
std::string ThreadStates::CreatorName(const SwitchRecord& fork) const
{
    if (fork.cpu >= 0 && static_cast<std::size_t>(fork.cpu) < m_occupants.size())
        if (const auto creator = m_live.find(m_occupants[static_cast<std::size_t>(fork.cpu)]);
            creator != m_live.end())
            return creator->second.name;
    return NameInProcess(fork.pid);
}

void ThreadStates::SwitchIn(TrackedThread& thread, int cpu, bool datedBack, bool direct)
{
    if (thread.state == ThreadState::OnCpu) {
        // Dated back to before its switch-out elsewhere (it moved): it
        // starts here when it leaves there.
        if (datedBack && thread.cpu >= 0 && thread.cpu != cpu) {
            m_moving[thread.tid] = cpu;
            return;
        }
        // Otherwise its switch-out was lost, or /proc placed it there, and
        // then it was in fact waiting until now.
        if (thread.cpu < 0)
            thread.sinceNs = m_nowNs;
        Vacate(thread.cpu);
        Occupy(thread, cpu);
        return;
    }
    if (thread.forked && thread.switchIns == 0)
        thread.firstRunDelayNs = m_nowNs - thread.bornNs;
    Occupy(thread, cpu);
    Enter(thread, ThreadState::OnCpu);
    ++thread.switchIns;
    ++m_switchIns;
    thread.directSwitchIns += direct;
    m_directSwitchIns += direct;
}

void ThreadStates::SwitchOut(TrackedThread& thread, bool preempted)
{
    if (thread.state == ThreadState::OnCpu) {
        Vacate(thread.cpu);
        Enter(thread, preempted ? ThreadState::Waiting : ThreadState::Asleep);
        thread.cpu = -1;
        if (const auto moving = m_moving.find(thread.tid); moving != m_moving.end()) {
            const int next = moving->second;
            m_moving.erase(moving);
            SwitchIn(thread, next, false, true);
        }
        return;
    }
    if (preempted && thread.state == ThreadState::Asleep)
        Enter(thread, ThreadState::Waiting);
}

void ThreadStates::Enter(TrackedThread& thread, ThreadState state)
{
    if (thread.state == state)
        return;
    for (ThreadStateObserver* observer : m_observers)
        observer->Stretch(thread, thread.state, thread.sinceNs, m_nowNs);
    const std::uint64_t stretch = m_nowNs - thread.sinceNs;
    if (thread.state == ThreadState::OnCpu)
        thread.onCpuNs += stretch;
    else if (thread.state == ThreadState::Waiting)
        thread.waitingNs += stretch;
    const bool wasOn = thread.state == ThreadState::OnCpu;
    thread.state = state;
    thread.sinceNs = m_nowNs;
    if (wasOn != (state == ThreadState::OnCpu))
        SetLevel(wasOn ? m_level - 1 : m_level + 1);
    for (ThreadStateObserver* observer : m_observers)
        observer->Entered(thread);
}

// A processor runs one thread at a time: one still on it when another is
// switched in missed its switch-out in a gap of lost records, and leaves now.
// Complete streams never get here. /proc's placements (cpu -1) hold no
// processor.
void ThreadStates::Occupy(TrackedThread& thread, int cpu)
{
    thread.cpu = cpu;
    if (cpu < 0)
        return;
    const auto index = static_cast<std::size_t>(cpu);
    if (m_occupants.size() <= index)
        m_occupants.resize(index + 1, 0);
    if (const int occupant = m_occupants[index]; occupant != 0 && occupant != thread.tid)
        if (const auto other = m_live.find(occupant); other != m_live.end() && other->second.cpu == cpu)
            SwitchOut(other->second, false);
    m_occupants[index] = thread.tid;
}

void ThreadStates::Vacate(int cpu)
{
    if (cpu >= 0 && static_cast<std::size_t>(cpu) < m_occupants.size())
        m_occupants[static_cast<std::size_t>(cpu)] = 0;
}

void ThreadStates::End(int tid, std::uint64_t timeNs)
{
    m_nowNs = std::max(m_nowNs, timeNs);
    const auto live = m_live.find(tid);
    if (live == m_live.end())
        return;
    TrackedThread& thread = live->second;
    if (thread.state == ThreadState::OnCpu)
        Vacate(thread.cpu);
    Enter(thread, ThreadState::Asleep);
    m_moving.erase(tid);
    for (ThreadStateObserver* observer : m_observers)
        observer->Ended(thread, m_nowNs);
    m_live.erase(live);
}

void ThreadStates::EndAll(std::uint64_t timeNs)
{
    while (!m_live.empty())
        End(m_live.begin()->first, timeNs);
}

// The kernel ends every other thread of the process before the exec's
// record, and a thread other than the leader that execs takes over the
// leader's id: the survivor is the leader, or else the thread on the
// record's processor. It is running when the record is written.
void ThreadStates::Exec(const SwitchRecord& record)
{
    auto survivor = m_live.find(record.pid);
    if (survivor == m_live.end())
        survivor = std::find_if(m_live.begin(), m_live.end(), [&](const auto& t) {
            return t.second.pid == record.pid && t.second.state == ThreadState::OnCpu && t.second.cpu == record.cpu;
        });
    const int survivorTid = survivor != m_live.end() ? survivor->first : 0;
    std::vector<int> others;
    for (const auto& [tid, thread] : m_live)
        if (tid != survivorTid && thread.pid == record.pid)
            others.push_back(tid);
    for (const int tid : others)
        End(tid, m_nowNs);
    if (survivorTid == 0) {
        Born(record.pid, record.pid, record.name);
    } else if (survivorTid != record.pid) {
        auto node = m_live.extract(survivorTid);
        node.key() = record.pid;
        node.mapped().tid = record.pid;
        if (node.mapped().state == ThreadState::OnCpu && node.mapped().cpu >= 0)
            m_occupants[static_cast<std::size_t>(node.mapped().cpu)] = record.pid;
        m_live.insert(std::move(node));
    }
    TrackedThread& leader = m_live.at(record.pid);
    leader.name = record.name;
    for (ThreadStateObserver* observer : m_observers)
        observer->Renamed(leader);
    SwitchIn(leader, record.cpu, false, false);
}

void ThreadStates::SetLevel(std::size_t level)
{
    m_level = level;
    for (ThreadStateObserver* observer : m_observers)
        observer->Level(level, m_nowNs);
}
