#include "Stretches.h"

#include <algorithm>

void StretchLog::Add(const ThreadStretch& stretch)
{
    const auto last = m_last.find(stretch.tid);
    if (last != m_last.end() && last->second.endNs < stretch.startNs)
        Keep({stretch.tid, stretch.pid, -1, ThreadStretch::State::Blocked, last->second.endNs, stretch.startNs});
    m_last[stretch.tid] = {stretch.pid, stretch.endNs};
    Keep(stretch);
}

void StretchLog::End(int tid, std::uint64_t timeNs)
{
    const auto last = m_last.find(tid);
    if (last == m_last.end())
        return;
    if (last->second.endNs < timeNs)
        Keep({tid, last->second.pid, -1, ThreadStretch::State::Blocked, last->second.endNs, timeNs});
    m_last.erase(last);
}

// Over the budget, the shortest length kept doubles (from 1 µs) and what
// is shorter goes, until the rest fits.
void StretchLog::Keep(const ThreadStretch& stretch)
{
    if (stretch.endNs - stretch.startNs < m_kept.shortestKeptNs) {
        ++m_kept.leftOut;
        return;
    }
    m_kept.stretches.push_back(stretch);
    while (m_kept.stretches.size() > m_budget) {
        m_kept.shortestKeptNs = std::max<std::uint64_t>(1000, 2 * m_kept.shortestKeptNs);
        const std::size_t before = m_kept.stretches.size();
        std::erase_if(m_kept.stretches,
                      [&](const ThreadStretch& s) { return s.endNs - s.startNs < m_kept.shortestKeptNs; });
        m_kept.leftOut += before - m_kept.stretches.size();
    }
}
