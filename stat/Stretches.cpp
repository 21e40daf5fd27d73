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

// Leaving out the shortest instead would empty the trace of the very
// stretches it is read for: a run's on-CPU stretches are mostly alike.
void StretchLog::Keep(const ThreadStretch& stretch)
{
    if (m_kept.stretches.size() < m_budget) {
        m_kept.stretches.push_back(stretch);
        return;
    }
    ++m_kept.leftOut;
    m_kept.completeUntilNs = std::min(m_kept.completeUntilNs, stretch.endNs);
}
