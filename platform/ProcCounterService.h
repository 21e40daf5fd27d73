#pragma once
// The counter service over /proc. A query's counters name process instances;
// at its first collection that finds one, an instance binds to the process of
// that name that this program started last (a process of the same name that
// another program started is taken only when this one started none) and stays
// bound to it: once that process has ended, collections report PDH_NO_DATA.
// Thread numbers are the ranks of the thread ids at each collection. Rates are
// processor time over the time between the two last collections' instants,
// where a collection that follows a Sleep belongs to the end of that sleep.

#include "Pdh.h"
#include "ThreadActivity.h"

#include <memory>
#include <unordered_map>
#include <vector>

class ProcCounterService : public CounterService {
public:
    ProcCounterService();
    ~ProcCounterService() override;

    PDH_STATUS OpenQuery(PDH_HQUERY* query) override;
    PDH_STATUS AddCounter(PDH_HQUERY query, const char* path, PDH_HCOUNTER* counter) override;
    PDH_STATUS CollectQueryData(PDH_HQUERY query) override;
    PDH_STATUS GetCounterValue(PDH_HCOUNTER counter, double* value) override;
    PDH_STATUS CloseQuery(PDH_HQUERY query) override;

private:
    struct Instance;
    struct Counter;
    struct Query;

    Query* FindQuery(PDH_HQUERY query) const;

    std::unordered_map<const void*, std::unique_ptr<Query>> m_queries;
    std::unordered_map<const void*, const Counter*> m_counters;
};
