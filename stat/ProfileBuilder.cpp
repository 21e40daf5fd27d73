#include "ProfileBuilder.h"

#include <algorithm>

// Levels are accounted lazily: the level in force since the last change is
// added for the time up to the next one, split at window borders.
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
                               const std::vector<InitialThread>& initial, unsigned processors)
    : m_demand(startNs, intervalNs, processors), m_states(rootPid, followChildren, startNs), m_levels(startNs)
{
    m_profile.startNs = startNs;
    m_profile.intervalNs = std::max<std::uint64_t>(intervalNs, 1);
    m_states.Observe(this);
    m_states.Observe(&m_demand);
    for (const InitialThread& thread : initial)
        m_states.Place(thread.tid, thread.pid, thread.name, false, 0, startNs);
}


void ProfileBuilder::Born(const TrackedThread& thread)
{
    ThreadProfile profile;
    profile.tid = thread.tid;
    profile.pid = thread.pid;
    profile.name = thread.name;
    profile.bornNs = thread.bornNs;
    m_profile.threads.push_back(std::move(profile));
}

void ProfileBuilder::Stretch(const TrackedThread& thread, ThreadState state, std::uint64_t fromNs, std::uint64_t toNs)
{
    ThreadProfile& profile = m_profile.threads[thread.serial];
    if (state == ThreadState::OnCpu)
        profile.onCpuNs += toNs - fromNs;
    else if (state == ThreadState::Waiting)
        profile.waitingNs += toNs - fromNs;
    else
        return;
    AddToWindows(profile, fromNs, toNs, state == ThreadState::OnCpu);
}

void ProfileBuilder::Level(std::size_t onCpu, std::uint64_t timeNs)
{
    AccountWindowsTo(timeNs);
    m_levels.Set(onCpu, timeNs);
}

void ProfileBuilder::Renamed(const TrackedThread& thread)
{
    m_profile.threads[thread.serial].tid = thread.tid;
    m_profile.threads[thread.serial].name = thread.name;
}

void ProfileBuilder::Ended(const TrackedThread& thread, std::uint64_t timeNs)
{
    m_profile.threads[thread.serial].endedNs = timeNs;
}

// The level in force since the histogram's last change, split at window borders.
void ProfileBuilder::AccountWindowsTo(std::uint64_t timeNs)
{
    FitWindows(timeNs);
    const std::size_t level = m_levels.Level();
    const std::uint64_t interval = m_profile.intervalNs;
    for (std::uint64_t from = m_levels.SinceNs(); from < timeNs;) {
        const std::size_t index = (from - m_profile.startNs) / interval;
        const std::uint64_t to = std::min(timeNs, m_profile.startNs + (index + 1) * interval);
        WindowProfile& window = Window(index);
        if (window.levelNs.size() <= level)
            window.levelNs.resize(level + 1);
        window.levelNs[level] += to - from;
        from = to;
    }
}

void ProfileBuilder::AddToWindows(ThreadProfile& thread, std::uint64_t from, std::uint64_t to, bool onCpu)
{
    FitWindows(to);
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

// Memory stays bounded however long the run: past MAX_WINDOWS windows, each
// two neighbours become one of twice the length, the threads' shares too.
void ProfileBuilder::FitWindows(std::uint64_t timeNs)
{
    // Past the last window when timeNs - startNs - 1 >= MAX_WINDOWS * interval,
    // tested without a division: this runs for every change of state.
    const auto span = [this] {
        return m_profile.intervalNs > UINT64_MAX / MAX_WINDOWS ? UINT64_MAX : m_profile.intervalNs * MAX_WINDOWS;
    };
    while (timeNs > m_profile.startNs && timeNs - m_profile.startNs - 1 >= span()) {
        std::vector<WindowProfile>& windows = m_profile.windows;
        for (std::size_t i = 0; i < windows.size(); ++i) {
            WindowProfile& into = windows[i / 2];
            if (i % 2 == 0) {
                if (i > 0)
                    into = std::move(windows[i]);
                into.lengthNs *= 2;
                continue;
            }
            if (into.levelNs.size() < windows[i].levelNs.size())
                into.levelNs.resize(windows[i].levelNs.size());
            for (std::size_t level = 0; level < windows[i].levelNs.size(); ++level)
                into.levelNs[level] += windows[i].levelNs[level];
            into.onCpuNs += windows[i].onCpuNs;
        }
        windows.resize((windows.size() + 1) / 2);
        for (ThreadProfile& thread : m_profile.threads) {
            std::vector<WindowShare> folded;
            for (WindowShare share : thread.windows) {
                share.window /= 2;
                if (!folded.empty() && folded.back().window == share.window) {
                    folded.back().onCpuNs += share.onCpuNs;
                    folded.back().waitingNs += share.waitingNs;
                } else {
                    folded.push_back(share);
                }
            }
            thread.windows = std::move(folded);
        }
        m_profile.intervalNs *= 2;
    }
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
    endNs = std::max(endNs, m_states.NowNs());
    m_states.EndAll(endNs);
    AccountWindowsTo(endNs);
    m_levels.AdvanceTo(endNs);
    m_profile.levelNs = m_levels.LevelNs();
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
    m_profile.processes = static_cast<unsigned>(m_states.Processes());
    m_profile.lostRecords = m_states.LostRecords();
    if (m_stretches)
        m_profile.stretches = m_stretches->Take();
    m_profile.demand = m_demand.Finish(endNs);
    return std::move(m_profile);
}
