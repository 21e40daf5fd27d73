#include "SwitchRecordStream.h"

#include <algorithm>

// When a switch-in happened. The kernel writes a switch-out record as the
// switch begins, once it has picked the next thread, and the switch-in
// record only when the next thread runs, after the switch itself (the
// registers, the address space, the events' own bookkeeping). Its clock
// charges the next thread from the moment it was picked. One processor
// handed from thread A to thread B reads, in its records:
//
//   kernel:   A ==========|picked B================== B
//   records:  A =============| out A       in B |==== B
//                            t1 = pick + out     t2 = pick + in
//
// Counting B from t2 leaves a hole (t1, t2) in which no thread seems to run
// although the processor never ran anything else (at 200,000 hand-overs a
// second the holes add up to a fifth of the threads' time), and every
// switch-in after idle or another program is late by the same cost `in`,
// while every switch-out is late by `out`.
//
// 1. A direct hand-over: a switch-in of B that follows a switch-out of
//    another thread A on the same processor, with nothing of ours in
//    between, and a gap of at most HAND_OVER_SPREAD times the fastest such
//    gap seen on that processor (or than 5 us before any: a first gap, say
//    right after an attachment, has nothing else to be judged against).
//    Anything else run in between (another program, the idle loop until a
//    wake-up) pays its own switches in and out as well as its run, so its
//    gap is several switches long. Measured here against the scheduler's
//    own switch events: direct hand-overs 0.6-1.9 us, anything else in
//    between 9 us or more. B is dated to t1: the processor stays occupied.
// 2. Any other switch-in is dated back by the processor's switch cost as
//    its direct hand-overs show it, their average gap t2 - t1 = in - out,
//    never before the processor's previous record. Then both ends of every
//    stretch are late by the same `out`, and its length is the kernel's.
//
// B's own last switch-out elsewhere may come later than the date (it moved
// from another processor): the state machine then starts it here when it
// leaves there. A gap in the records (a loss) ends what a processor's order
// can tell.
//
// What the kernel's clock charges beyond the switches, and no record shows
// (bench/record_latency.sh measures both):
// - A wake-up that preempts the thread on a processor (another program's,
//   or the idle loop): the scheduler skips its clock update at the switch
//   that follows, so the woken thread is charged from the clock read when it
//   was queued, and a program it preempted stops being charged there though
//   it ran on until the switch. Woken onto a processor that runs another
//   program, or by a timer on an idle one, that is 5-15 us here; woken onto
//   an idle processor by another one, under a microsecond. After a thread
//   that blocked, the clock is read at the switch. Neither the wake-up nor
//   what the processor ran is among the records of the measured threads, so
//   no date can follow it: a lock convoy among other programs' runs reads
//   up to a tenth below its clock. Between two measured threads it only
//   moves time from one to the other.
// - A thread's exit: its records end with its exit record, while the
//   kernel charges it on until its last switch (10-30 us here, up to
//   0.3 ms for the last thread of a process).

namespace {

constexpr std::uint64_t HAND_OVER_SPREAD = 4;
// The switch cost follows the latest hand-overs, each weighing 1/COST_WEIGHT.
constexpr std::uint64_t COST_WEIGHT = 16;

} // namespace

void SwitchRecordStream::Add(SwitchRecord record)
{
    if (record.cpu >= 0)
        DateSwitchIn(record);
    const std::size_t index = record.cpu >= 0 ? static_cast<std::size_t>(record.cpu) + 1 : 0;
    if (m_queues.size() <= index)
        m_queues.resize(index + 1);
    std::vector<Waiting>& waiting = m_queues[index].waiting;
    Waiting added{m_arrivals++, std::move(record)};
    // A processor's records come in time order; one that does not waits
    // after those of its time already queued.
    if (!m_queues[index].Empty() && added.record.timeNs < waiting.back().record.timeNs)
        waiting.insert(std::upper_bound(waiting.begin() + static_cast<std::ptrdiff_t>(m_queues[index].head),
                                        waiting.end(), added.record.timeNs,
                                        [](std::uint64_t t, const Waiting& w) { return t < w.record.timeNs; }),
                       std::move(added));
    else
        waiting.push_back(std::move(added));
}

void SwitchRecordStream::DateSwitchIn(SwitchRecord& record)
{
    if (m_processors.size() <= static_cast<std::size_t>(record.cpu))
        m_processors.resize(static_cast<std::size_t>(record.cpu) + 1);
    Processor& processor = m_processors[static_cast<std::size_t>(record.cpu)];
    if (record.kind == RecordKind::SwitchIn && record.timeNs >= processor.lastNs) {
        const std::uint64_t gap = record.timeNs - processor.lastNs;
        const bool handedOver = processor.vacated && processor.lastTid != record.tid;
        if (handedOver)
            processor.fastestHandOverNs = std::min(processor.fastestHandOverNs, gap);
        if (handedOver && gap <= HAND_OVER_SPREAD * processor.fastestHandOverNs) {
            processor.switchCostNs = processor.switchCostNs == 0
                                         ? gap
                                         : processor.switchCostNs + gap / COST_WEIGHT -
                                               processor.switchCostNs / COST_WEIGHT;
            record.timeNs = processor.lastNs;
            record.datedBack = record.direct = true;
        } else if (processor.switchCostNs > 0) {
            record.timeNs = std::max(record.timeNs - std::min(record.timeNs, processor.switchCostNs), processor.lastNs);
            record.datedBack = true;
        }
    }
    processor.vacated = record.kind == RecordKind::SwitchOut;
    processor.lastTid = record.tid;
    processor.lastNs = record.timeNs;
}

void SwitchRecordStream::Queue::Compact()
{
    if (head == waiting.size()) {
        waiting.clear();
        head = 0;
    } else if (head >= waiting.size() / 2) {
        waiting.erase(waiting.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(head));
        head = 0;
    }
}

void SwitchRecordStream::ReleaseTo(std::uint64_t instantNs, const std::function<void(const SwitchRecord&)>& take)
{
    // The queue whose first record is the earliest comes first; with equal
    // times, the one that arrived first, as one stable sort of them all.
    const auto later = [this](std::size_t a, std::size_t b) {
        const Waiting& x = m_queues[a].Front();
        const Waiting& y = m_queues[b].Front();
        return x.record.timeNs != y.record.timeNs ? x.record.timeNs > y.record.timeNs : x.arrival > y.arrival;
    };
    std::vector<std::size_t> due;  // a heap of queues whose first record is due
    for (std::size_t i = 0; i < m_queues.size(); ++i)
        if (!m_queues[i].Empty() && m_queues[i].Front().record.timeNs <= instantNs)
            due.push_back(i);
    std::make_heap(due.begin(), due.end(), later);
    while (!due.empty()) {
        std::pop_heap(due.begin(), due.end(), later);
        Queue& queue = m_queues[due.back()];
        take(queue.waiting[queue.head++].record);
        if (!queue.Empty() && queue.Front().record.timeNs <= instantNs)
            std::push_heap(due.begin(), due.end(), later);
        else
            due.pop_back();
    }
    for (Queue& queue : m_queues)
        queue.Compact();
}

void SwitchRecordStream::DropTo(std::uint64_t instantNs)
{
    for (Queue& queue : m_queues) {
        while (!queue.Empty() && queue.Front().record.timeNs <= instantNs)
            ++queue.head;
        queue.Compact();
    }
    for (Processor& processor : m_processors)
        processor.vacated = false;
}

void SwitchRecordStream::Queued(const std::function<void(const SwitchRecord&)>& see) const
{
    for (const Queue& queue : m_queues)
        for (std::size_t i = queue.head; i < queue.waiting.size(); ++i)
            see(queue.waiting[i].record);
}
