#include "ProcSampler.h"

#include "MachineFiles.h"

#include <algorithm>
#include <set>
#include <string>

namespace {

// Hands amount, spread evenly over [from, to), to take(window start, piece
// end, share) piece by piece at the window borders; the shares add up to amount.
template <class Take>
void Spread(std::uint64_t from, std::uint64_t to, std::uint64_t amount, std::uint64_t startNs,
            std::uint64_t intervalNs, const Take& take)
{
    std::uint64_t given = 0;
    for (std::uint64_t at = from; at < to;) {
        const std::uint64_t pieceEnd = std::min(to, startNs + ((at - startNs) / intervalNs + 1) * intervalNs);
        const auto upTo = static_cast<std::uint64_t>(static_cast<__uint128_t>(amount) * (pieceEnd - from) / (to - from));
        take(at, pieceEnd, upTo - given);
        given = upTo;
        at = pieceEnd;
    }
}

std::uint64_t Grown(std::uint64_t now, std::uint64_t before)
{
    return now > before ? now - before : 0;
}

constexpr std::uint64_t READ_COST_PER_THREAD_NS = 400'000;

} // namespace

std::uint64_t ProcReadPeriodNs(std::uint64_t intervalNs, std::size_t threads)
{
    return std::min(intervalNs, std::max(PROC_READ_NS, threads * READ_COST_PER_THREAD_NS));
}

int ProcReadMs(int intervalMs)
{
    return static_cast<int>(ProcReadPeriodNs(static_cast<std::uint64_t>(intervalMs) * 1'000'000, 1) / 1'000'000);
}

ProcSampler::ProcSampler(int pid, Profile profile, std::uint64_t fromNs, ThreadActivitySource& source,
                         bool fromFirstRead, unsigned processors, const UsedBefore& before)
    : m_pid(pid), m_processors(processors), m_source(source), m_profile(std::move(profile)), m_lastNs(fromNs),
      m_processCpuNs(before.processNs), m_fromFirstRead(fromFirstRead)
{
    for (std::size_t i = 0; i < m_profile.threads.size(); ++i) {
        ThreadProfile& thread = m_profile.threads[i];
        m_processCpuNs += thread.onCpuNs;
        const auto used = before.threadNs.find(thread.tid);
        if (thread.endedNs == fromNs)
            m_threads[thread.tid] = {i, thread.onCpuNs + (used != before.threadNs.end() ? used->second : 0), 0, 0,
                                     false, fromNs > m_profile.startNs ? WindowOf(fromNs - 1) : SIZE_MAX};
    }
    if (m_fromFirstRead)
        Sample();
}

bool ProcSampler::Sample(std::uint64_t notAfterNs)
{
    ActivitySnapshot snapshot;
    const ThreadActivitySource::Status status = m_source.Collect(m_lastNs, snapshot);
    const bool gone = status != ThreadActivitySource::Status::Ok;
    if (snapshot.processReadNs == 0)
        return !gone;  // nothing read: a vanished process is told by its exit
    Read(snapshot, std::min(snapshot.processReadNs, notAfterNs), gone);
    return !gone;
}

void ProcSampler::Read(const ActivitySnapshot& snapshot, std::uint64_t instantNs, bool gone)
{
    instantNs = std::max(instantNs, m_lastNs);
    const bool first = m_fromFirstRead;
    m_fromFirstRead = false;
    std::vector<Delta> deltas;
    std::unordered_map<int, Seen> live;
    for (const ThreadActivity& now : snapshot.threads) {
        const bool known = m_threads.count(now.tid) != 0;
        Seen seen = known ? m_threads[now.tid] : Seen{};
        if (!known) {
            seen = NewThread(now.tid, now.pid ? now.pid : m_pid, m_lastNs);
            seen.cpuNs = first ? now.cpuNs : 0;  // a new thread counts from its start
            seen.waitingKnown = true;
            seen.waitingNs = first ? now.waitingNs : 0;
        }
        if (!seen.waitingKnown) {
            seen.waitingNs = now.waitingNs;
            seen.waitingKnown = true;
        }
        live[now.tid] = seen;
        deltas.push_back({&live[now.tid], Grown(now.cpuNs, seen.cpuNs), Grown(now.waitingNs, seen.waitingNs)});
        live[now.tid].paceNs = deltas.back().cpuNs;
        live[now.tid].cpuNs = std::max(now.cpuNs, seen.cpuNs);
        live[now.tid].waitingNs = std::max(now.waitingNs, seen.waitingNs);
    }
    std::vector<Seen*> ended;
    for (auto& [tid, seen] : m_threads)
        if (!live.count(tid)) {
            CountAlive(seen, instantNs);
            m_profile.threads[seen.index].endedNs = gone ? instantNs : m_lastNs;
            ended.push_back(&seen);
        }
    if (first) {
        m_processCpuNs = snapshot.processCpuNs;
        deltas.clear();
    }
    std::uint64_t threadsCpuNs = 0;
    for (const Delta& delta : deltas)
        threadsCpuNs += delta.cpuNs;
    const std::uint64_t processNs = Grown(snapshot.processCpuNs, m_processCpuNs);
    const std::uint64_t unexplained = Unexplained(processNs, threadsCpuNs);
    ShareAmong(ended, unexplained, deltas);
    Account(instantNs, processNs, threadsCpuNs + unexplained, deltas);
    m_processCpuNs = std::max(snapshot.processCpuNs, m_processCpuNs);
    m_childrenCpuNs = snapshot.childrenCpuNs;
    for (auto& [tid, seen] : live)
        CountAlive(seen, instantNs);
    m_threads = std::move(live);
}

// The parent's figure holds, besides, the children the command waited for,
// which /proc counts only in whole clock ticks: a caller whose command
// started processes leaves it out.
void ProcSampler::Reaped(std::uint64_t exitNs, std::uint64_t reapedCpuNs)
{
    exitNs = std::max(exitNs, m_lastNs);
    const std::uint64_t own = Grown(reapedCpuNs, m_childrenCpuNs);
    std::vector<Seen*> ended;
    for (auto& [tid, seen] : m_threads)
        ended.push_back(&seen);
    std::vector<Delta> deltas;
    const std::uint64_t processNs = Grown(own, m_processCpuNs);
    const std::uint64_t unexplained = Unexplained(processNs, 0);
    ShareAmong(ended, unexplained, deltas);
    Account(exitNs, processNs, unexplained, deltas);
    m_processCpuNs += unexplained;
}

// The process's clock is exact up to the read, a running thread's counter
// only up to its last tick or switch: over one interval the threads may
// show less than the clock, and more over the next. What they show less is
// booked to threads that ended unread, and taken back from there when they
// catch up; what they are ahead beyond that (the clock is read a moment
// before them) is taken back from the next intervals, so that the total
// stays the clock's.
std::uint64_t ProcSampler::Unexplained(std::uint64_t processCpuNs, std::uint64_t threadsCpuNs)
{
    if (processCpuNs < threadsCpuNs) {
        const std::uint64_t ahead = threadsCpuNs - processCpuNs;
        const std::uint64_t booked = std::min(ahead, m_profile.endedUnreadNs);
        m_profile.endedUnreadNs -= booked;
        m_aheadNs += ahead - booked;
        return 0;
    }
    const std::uint64_t beyond = processCpuNs - threadsCpuNs;
    const std::uint64_t takenBack = std::min(beyond, m_aheadNs);
    m_aheadNs -= takenBack;
    return beyond - takenBack;
}

// The process's time that the threads still alive do not account for is the
// last stretch of those that ended since: exact when one ended, else shared
// in proportion to their pace over the interval before (evenly when none ran).
void ProcSampler::ShareAmong(const std::vector<Seen*>& ended, std::uint64_t cpuNs, std::vector<Delta>& deltas)
{
    std::uint64_t paces = 0;
    for (const Seen* seen : ended)
        paces += seen->paceNs;
    std::uint64_t given = 0;
    std::uint64_t weighed = 0;
    for (std::size_t i = 0; i < ended.size(); ++i) {
        weighed += paces ? ended[i]->paceNs : 1;
        const auto upTo = static_cast<std::uint64_t>(static_cast<__uint128_t>(cpuNs) * weighed /
                                                     (paces ? paces : ended.size()));
        deltas.push_back({ended[i], upTo - given, 0});
        given = upTo;
    }
}

ProcSampler::Seen ProcSampler::NewThread(int tid, int pid, std::uint64_t bornNs)
{
    ThreadProfile thread;
    thread.tid = tid;
    thread.pid = pid;
    const std::string task = std::to_string(pid) + "/task/" + std::to_string(tid) + "/comm";
    thread.name = ReadMachineLine("/proc", task).value_or("");
    thread.bornNs = bornNs;
    m_profile.threads.push_back(std::move(thread));
    Seen seen;
    seen.index = m_profile.threads.size() - 1;
    return seen;
}

// The interval from the last read to toNs: its levels and its windows'
// shares from processNs, the process's clock; each thread's from its own
// counter. cpuNs is at least the threads' sum: what it holds beyond that
// belongs to threads that ended unread.
void ProcSampler::Account(std::uint64_t toNs, std::uint64_t processNs, std::uint64_t cpuNs,
                          const std::vector<Delta>& deltas)
{
    const std::uint64_t from = m_lastNs;
    if (toNs <= from)
        return;
    const std::uint64_t start = m_profile.startNs;
    const std::uint64_t interval = m_profile.intervalNs;
    const std::uint64_t length = toNs - from;
    if (m_processors > 0 && processNs > m_processors * length)
        processNs = m_processors * length + LiftEarlier(from, processNs - m_processors * length);
    const std::size_t level = processNs / length;
    const std::uint64_t above = processNs - level * length;  // at level + 1
    AddToLevel(level, length - above);
    if (above > 0)
        AddToLevel(level + 1, above);
    Spread(from, toNs, above, start, interval, [&](std::uint64_t at, std::uint64_t end, std::uint64_t share) {
        WindowProfile& window = Window(WindowOf(at));
        window.levelNs.resize(std::max(window.levelNs.size(), level + 2));
        window.levelNs[level] += end - at - share;
        window.levelNs[level + 1] += share;
    });
    Spread(from, toNs, processNs, start, interval,
           [&](std::uint64_t at, std::uint64_t, std::uint64_t share) { Window(WindowOf(at)).onCpuNs += share; });
    std::uint64_t attributed = 0;
    for (const Delta& delta : deltas) {
        ThreadProfile& thread = m_profile.threads[delta.thread->index];
        thread.onCpuNs += delta.cpuNs;
        thread.waitingNs += delta.waitingNs;
        attributed += delta.cpuNs;
        const auto share = [&](std::uint64_t amount, std::uint64_t WindowShare::*field) {
            Spread(from, toNs, amount, start, interval, [&](std::uint64_t at, std::uint64_t, std::uint64_t part) {
                const std::size_t index = WindowOf(at);
                if (thread.windows.empty() || thread.windows.back().window != index)
                    thread.windows.push_back({index, 0, 0});
                thread.windows.back().*field += part;
            });
        };
        share(delta.cpuNs, &WindowShare::onCpuNs);
        share(delta.waitingNs, &WindowShare::waitingNs);
    }
    m_profile.endedUnreadNs += cpuNs - attributed;
    m_lastNs = toNs;
}

// Books up to excessNs of processor time before fromNs, latest windows
// first, each lifting its time from the lowest level below the processors
// to the next, in the whole run's histogram too; returns what found no room.
// Windows that are full and whole stay so: later calls skip them.
std::uint64_t ProcSampler::LiftEarlier(std::uint64_t fromNs, std::uint64_t excessNs)
{
    const std::size_t latest =
        std::min(m_profile.windows.size(), fromNs > m_profile.startNs ? WindowOf(fromNs - 1) + 1 : 0);
    std::size_t index = latest;
    while (excessNs > 0 && index > 0) {
        index = index == m_fullEnd ? m_fullBegin : index;
        if (index == 0)
            break;
        WindowProfile& window = m_profile.windows[--index];
        for (std::size_t level = 0; level < std::min<std::size_t>(m_processors, window.levelNs.size()); ++level) {
            const std::uint64_t lifted = std::min(window.levelNs[level], excessNs);
            if (lifted == 0)
                continue;
            window.levelNs.resize(std::max(window.levelNs.size(), level + 2));
            window.levelNs[level] -= lifted;
            window.levelNs[level + 1] += lifted;
            window.onCpuNs += lifted;
            m_profile.levelNs[level] -= lifted;
            AddToLevel(level + 1, lifted);
            excessNs -= lifted;
        }
    }
    m_fullBegin = excessNs > 0 ? index : index + 1;
    m_fullEnd = std::max(m_fullBegin, std::min(latest, WindowOf(fromNs)));
    return excessNs;
}

// A thread is alive in every window its lifetime touches, counted once.
void ProcSampler::CountAlive(Seen& thread, std::uint64_t toNs)
{
    const std::size_t last = WindowOf(toNs > m_profile.startNs ? toNs - 1 : toNs);
    const std::size_t first =
        thread.aliveUntil == SIZE_MAX ? WindowOf(m_profile.threads[thread.index].bornNs) : thread.aliveUntil + 1;
    for (std::size_t index = first; index <= last; ++index)
        ++Window(index).threadsAlive;
    if (thread.aliveUntil == SIZE_MAX || last > thread.aliveUntil)
        thread.aliveUntil = last;
}

void ProcSampler::AddToLevel(std::size_t level, std::uint64_t ns)
{
    if (m_profile.levelNs.size() <= level)
        m_profile.levelNs.resize(level + 1);
    m_profile.levelNs[level] += ns;
}

std::size_t ProcSampler::WindowOf(std::uint64_t timeNs) const
{
    return (std::max(timeNs, m_profile.startNs) - m_profile.startNs) / m_profile.intervalNs;
}

// Its start and length are set at the end.
WindowProfile& ProcSampler::Window(std::size_t index)
{
    if (m_profile.windows.size() <= index)
        m_profile.windows.resize(index + 1);
    return m_profile.windows[index];
}

// Time after the last read is not known to have used a processor: it counts
// at level 0.
Profile ProcSampler::Finish(std::uint64_t endNs)
{
    endNs = std::max(endNs, m_lastNs);
    Account(endNs, 0, 0, {});
    for (auto& [tid, seen] : m_threads) {
        CountAlive(seen, endNs);
        m_profile.threads[seen.index].endedNs = endNs;
    }
    m_threads.clear();
    m_profile.endNs = endNs;
    const std::uint64_t elapsed = m_profile.ElapsedNs();
    m_profile.windows.resize(elapsed > 0 ? WindowOf(endNs - 1) + 1 : 0);
    m_profile.levelNs.resize(std::max<std::size_t>(m_profile.levelNs.size(), 1));
    for (std::size_t index = 0; index < m_profile.windows.size(); ++index) {
        WindowProfile& window = m_profile.windows[index];
        window.startNs = index * m_profile.intervalNs;
        window.lengthNs = std::min(m_profile.intervalNs, elapsed - window.startNs);
        window.levelNs.resize(m_profile.levelNs.size());
    }
    std::set<int> processes;
    for (const ThreadProfile& thread : m_profile.threads)
        processes.insert(thread.pid);
    m_profile.processes = std::max<unsigned>({m_profile.processes, static_cast<unsigned>(processes.size()), 1u});
    return std::move(m_profile);
}
