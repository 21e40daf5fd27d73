#pragma once
// The one queue of switch records: each processor's records arrive in time
// order, the processors' records in any order relative to each other; they
// leave merged in time order. On the way, each switch-in is dated back from
// when its record was written to when the kernel picked the thread, as far
// as the processor's own records tell: a processor handed straight from one
// of our threads to another stays occupied (SwitchRecordStream.cpp has the
// rule and why).

#include "SwitchRecord.h"

#include <cstdint>
#include <functional>
#include <vector>

class SwitchRecordStream {
public:
    void Add(SwitchRecord record);
    // Hands every record up to instantNs to take, in time order; later ones
    // wait. Records of one processor with equal times keep their order.
    void ReleaseTo(std::uint64_t instantNs, const std::function<void(const SwitchRecord&)>& take);
    // Drops the records up to instantNs (superseded by a re-read of /proc).
    void DropTo(std::uint64_t instantNs);
    // Shows the records not released yet, in no particular order.
    void Queued(const std::function<void(const SwitchRecord&)>& see) const;

private:
    static constexpr std::uint64_t SLOWEST_HAND_OVER_NS = 5'000;
    struct Processor {
        bool vacated = false;        // its last record switched a thread out
        int lastTid = 0;
        std::uint64_t lastNs = 0;
        // Until a faster one is seen, what a direct hand-over takes at most
        // on any machine: the first gaps are judged against it too.
        std::uint64_t fastestHandOverNs = SLOWEST_HAND_OVER_NS;
        std::uint64_t switchCostNs = 0;  // 0 until a hand-over shows it
    };

    // One processor's records waiting, in time order (ties in order of
    // arrival), from head on: merging these queues, each already in order,
    // costs a comparison or two a record where sorting them all did not.
    struct Waiting {
        std::uint64_t arrival;  // ties between processors go in order of arrival
        SwitchRecord record;
    };
    struct Queue {
        std::vector<Waiting> waiting;
        std::size_t head = 0;
        bool Empty() const { return head == waiting.size(); }
        const Waiting& Front() const { return waiting[head]; }
        void Compact();
    };

    void DateSwitchIn(SwitchRecord& record);

    std::vector<Processor> m_processors;  // by number
    std::vector<Queue> m_queues;          // by processor number + 1; 0: records of no processor
    std::uint64_t m_arrivals = 0;
};
