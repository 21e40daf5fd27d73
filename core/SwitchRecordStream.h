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
    bool Empty() const { return m_pending.empty(); }
    // The records not released yet, in no particular order.
    const std::vector<SwitchRecord>& Queued() const { return m_pending; }

private:
    struct Processor {
        bool vacated = false;        // its last record switched a thread out
        int lastTid = 0;
        std::uint64_t lastNs = 0;
        std::uint64_t fastestHandOverNs = UINT64_MAX;
        std::uint64_t switchCostNs = 0;  // 0 until a hand-over shows it
    };

    void DateSwitchIn(SwitchRecord& record);
    void Sort();

    std::vector<Processor> m_processors;  // by number
    std::vector<SwitchRecord> m_pending;
    bool m_sorted = true;
};
