#include "DemandAnalysis.h"

#include <algorithm>

// Every change is accounted at the time it happens: the counts in force
// since the last change (threads on a processor c, runnable r, alive a) are
// added for the time between, split at window borders.
//
//        A in     B preempted      A out (blocked)   B in
//   -------|=========|..................|-------------|=====> t
//   c        1     1   (A on, B waits)     0            1
//   r        1     2                       1            1
//
// A moment's work is c threads' worth; with a processor for each of the r
// threads that wanted one it takes c/r of the moment, with P processors
// c/min(r, P). A moment with nothing runnable (all blocked) does not shrink.

DemandAnalysis::DemandAnalysis(std::uint64_t startNs, std::uint64_t intervalNs, unsigned processors)
    : m_startNs(startNs), m_intervalNs(std::max<std::uint64_t>(intervalNs, 1)), m_runnableLevels(startNs),
      m_accountedNs(startNs)
{
    m_demand.processors = processors;
}

void DemandAnalysis::Born(const TrackedThread& thread)
{
    AccountTo(thread.bornNs);
    if (m_threads.size() <= thread.serial) {
        m_threads.resize(thread.serial + 1);
        m_demand.threads.resize(thread.serial + 1);
    }
    Thread& born = m_threads[thread.serial];
    born.tid = thread.tid;
    born.pid = thread.pid;
    born.bornNs = born.sinceNs = thread.bornNs;
    m_serialOf[thread.tid] = thread.serial;
    ++m_alive;
    SerialCheck(thread.bornNs);
}

void DemandAnalysis::Entered(const TrackedThread& thread)
{
    const std::uint64_t now = thread.sinceNs;
    AccountTo(now);
    Thread& changed = m_threads[thread.serial];
    // The kernel adds a wait to its count at the switch-in that ends it: one
    // that ended after the last read is not in that read.
    if (changed.state == ThreadState::Waiting && (!changed.read || now > changed.readAtNs))
        changed.waitedNs += now - changed.sinceNs;
    if (changed.state == ThreadState::Asleep)
        m_runnable.push_back(thread.serial);
    else if (const auto wanting = std::find(m_runnable.begin(), m_runnable.end(), thread.serial);
             thread.state == ThreadState::Asleep && wanting != m_runnable.end())
        m_runnable.erase(wanting);
    m_runnableLevels.Set(m_runnable.size(), now);
    if (const auto on = std::find(m_onCpu.begin(), m_onCpu.end(), thread.serial); on != m_onCpu.end())
        m_onCpu.erase(on);
    if (thread.state == ThreadState::OnCpu) {
        m_onCpu.push_back(thread.serial);
        changed.switchedIn = true;
    }
    changed.state = thread.state;
    changed.sinceNs = now;
    SerialCheck(now);
}

void DemandAnalysis::Renamed(const TrackedThread& thread)
{
    Thread& renamed = m_threads[thread.serial];
    if (renamed.tid == thread.tid)
        return;
    m_serialOf.erase(renamed.tid);
    renamed.tid = thread.tid;
    m_serialOf[thread.tid] = thread.serial;
}

// The state machine has put the thread asleep, so its on-CPU time is whole.
void DemandAnalysis::Ended(const TrackedThread& thread, std::uint64_t timeNs)
{
    AccountTo(timeNs);
    Thread& ended = m_threads[thread.serial];
    ended.alive = false;
    --m_alive;
    m_serialOf.erase(ended.tid);
    if (ended.read)
        m_ended.push_back(ended.tid);
    ThreadDemand& life = m_demand.threads[thread.serial];
    life.lifetimeNs = timeNs - ended.bornNs;
    life.onCpuNs = std::min(thread.onCpuNs, life.lifetimeNs);
    life.kernelWait = ended.read;
    life.waitingNs = std::min(ended.readNs + ended.waitedNs, life.lifetimeNs - life.onCpuNs);
    life.blockedNs = life.lifetimeNs - life.onCpuNs - life.waitingNs;
    SerialCheck(timeNs);
}

void DemandAnalysis::Record(const SwitchRecord& record)
{
    if (record.kind != RecordKind::SwitchOut || record.preempted)
        return;
    if (const auto live = m_serialOf.find(record.tid); live != m_serialOf.end())
        if (m_threads[live->second].state == ThreadState::OnCpu)
            ++m_demand.threads[live->second].blockingSwitchOuts;
}

void DemandAnalysis::ReadRunDelays(RunDelaySource& source, std::uint64_t nowNs)
{
    for (const int tid : m_ended)
        source.Forget(tid);
    m_ended.clear();
    for (Thread& thread : m_threads) {
        if (!thread.alive || !thread.switchedIn)
            continue;
        std::uint64_t delayNs = 0;
        if (!source.Read(thread.pid, thread.tid, delayNs))
            continue;
        thread.switchedIn = false;
        thread.read = true;
        thread.readAtNs = nowNs;
        thread.readNs = delayNs;
        thread.waitedNs = 0;
    }
}

void DemandAnalysis::AccountTo(std::uint64_t timeNs)
{
    if (timeNs <= m_accountedNs)
        return;
    const std::uint64_t dt = timeNs - m_accountedNs;
    const std::size_t c = m_onCpu.size();
    const std::size_t r = m_runnable.size();
    const std::size_t p = m_demand.processors;
    if (r > c)
        m_demand.starvedNs += dt;
    if (p > 0 && r > p)
        m_demand.oversubscribedNs += dt;
    // c of every r (or of at most p) threads worth of dt; all of it when
    // they are as many, the usual case, which needs no division.
    const auto share = [c, dt](std::size_t of) { return c == of ? dt : c * dt / of; };
    m_demand.unlimitedNs += r == 0 ? dt : share(r);
    // More on processors than the affinity allows: a child changed its own.
    const std::uint64_t ownDt = r == 0 ? dt : p == 0 ? share(r) : share(std::max(c, std::min(r, p)));
    m_demand.machineNs += ownDt;
    if (m_demand.ownLevelNs.size() <= r)
        m_demand.ownLevelNs.resize(r + 1);
    m_demand.ownLevelNs[r] += ownDt;
    if (r == 1) {
        m_demand.threads[m_runnable[0]].aloneNs += dt;
        m_demand.threads[m_runnable[0]].aloneOwnNs += ownDt;
    }
    if (c == 1) {
        if (m_inStretch) {
            const auto ran = std::find_if(m_stretchRan.begin(), m_stretchRan.end(),
                                          [&](const auto& entry) { return entry.first == m_onCpu[0]; });
            if (ran == m_stretchRan.end())
                m_stretchRan.push_back({m_onCpu[0], dt});
            else
                ran->second += dt;
        }
    }
    AccountWindows(m_accountedNs, timeNs);
    m_accountedNs = timeNs;
}

void DemandAnalysis::AccountWindows(std::uint64_t fromNs, std::uint64_t toNs)
{
    while (fromNs < toNs) {
        // Accounting only moves forward: the window is found again only
        // once it is left.
        if (fromNs >= m_windowEndNs) {
            m_windowIndex = (fromNs - m_startNs) / m_intervalNs;
            m_windowEndNs = m_startNs + (m_windowIndex + 1) * m_intervalNs;
        }
        const std::size_t index = m_windowIndex;
        const std::uint64_t pieceEnd = std::min(toNs, m_windowEndNs);
        if (m_demand.windows.size() <= index)
            m_demand.windows.resize(index + 1);
        m_demand.windows[index].runnableNs += m_runnable.size() * (pieceEnd - fromNs);
        m_demand.windows[index].blockedNs += (m_alive - m_runnable.size()) * (pieceEnd - fromNs);
        fromNs = pieceEnd;
    }
}

void DemandAnalysis::SerialCheck(std::uint64_t timeNs)
{
    const bool serial = m_onCpu.size() <= 1 && m_alive >= 2;
    if (serial && !m_inStretch) {
        m_inStretch = true;
        m_stretchStartNs = timeNs;
        m_stretchRan.clear();
    } else if (!serial && m_inStretch) {
        CloseStretch(timeNs);
    }
}

void DemandAnalysis::CloseStretch(std::uint64_t timeNs)
{
    m_inStretch = false;
    const std::uint64_t length = timeNs - m_stretchStartNs;
    if (length == 0)
        return;
    if (length < m_intervalNs) {
        ++m_demand.shortStretches;
        m_demand.shortStretchNs += length;
        return;
    }
    SerialStretch stretch;
    stretch.startNs = m_stretchStartNs - m_startNs;
    stretch.endNs = timeNs - m_startNs;
    if (!m_stretchRan.empty()) {
        const auto longest = std::max_element(m_stretchRan.begin(), m_stretchRan.end(),
                                              [](const auto& a, const auto& b) { return a.second < b.second; });
        stretch.ran = true;
        stretch.serial = longest->first;
        stretch.others = m_stretchRan.size() - 1;
    }
    m_demand.stretches.push_back(stretch);
}

Demand DemandAnalysis::Finish(std::uint64_t endNs)
{
    AccountTo(endNs);
    if (m_inStretch)
        CloseStretch(endNs);
    std::stable_sort(m_demand.stretches.begin(), m_demand.stretches.end(),
                     [](const SerialStretch& a, const SerialStretch& b) { return a.LengthNs() > b.LengthNs(); });
    m_runnableLevels.AdvanceTo(endNs);
    m_demand.levelNs = m_runnableLevels.LevelNs();
    const std::uint64_t elapsed = endNs - m_startNs;
    m_demand.windows.resize((elapsed + m_intervalNs - 1) / m_intervalNs);
    if (m_demand.levelNs.empty())
        m_demand.levelNs.resize(1);
    m_demand.ownLevelNs.resize(m_demand.levelNs.size());
    for (const ThreadDemand& thread : m_demand.threads)
        m_demand.threadsWithoutKernelWait += !thread.kernelWait;
    return std::move(m_demand);
}
