#include "Stretches.h"

#include <algorithm>

// Leaving out the shortest instead would empty the trace of the very
// stretches it is read for: a run's on-CPU stretches are mostly alike.
void StretchLog::Stretch(const TrackedThread& thread, ThreadState state, std::uint64_t fromNs, std::uint64_t toNs)
{
    if (toNs <= fromNs)
        return;
    if (m_kept.stretches.size() < m_budget) {
        m_kept.stretches.push_back(
            {thread.tid, thread.pid, state == ThreadState::OnCpu ? thread.cpu : -1, state, fromNs, toNs});
        return;
    }
    ++m_kept.leftOut;
    m_kept.completeUntilNs = std::min(m_kept.completeUntilNs, toNs);
}

void StretchLog::Ended(const TrackedThread& thread, std::uint64_t timeNs)
{
    Stretch(thread, thread.state, thread.sinceNs, timeNs);
}
