#pragma once
// The counter service over the kernel's view of a process. A query measures
// the process its handle was bound to (PdhBindQueryToProcess), whatever the
// instance names of its counters: until then, and once that process has
// ended, collections report PDH_NO_DATA. Thread numbers are the ranks of the
// thread ids at each collection. Rates are processor time over the time
// between the two last readings of each value: the collections' instants,
// each given by the caller, for the records; for /proc, the moments the
// files were read. No figure exceeds 100 per processor the process (or, for
// a thread, one) may run on.
//
// Thread states and times come from the context-switch records attached when
// the process was started, else from /proc, whose state R also counts threads
// waiting for a processor. Which one, and why not the records, is told once
// per measurement (from the first query opened to the last one closed).

#include "Pdh.h"
#include "ThreadActivity.h"

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

class ProcCounterService : public CounterService {
public:
    // Takes each notice, a line without its line feed.
    using NoticeSink = std::function<void(const std::string& line)>;

    // The default sink writes to standard error.
    explicit ProcCounterService(NoticeSink sink = nullptr);
    ~ProcCounterService() override;

    PDH_STATUS OpenQuery(PDH_HQUERY* query) override;
    PDH_STATUS AddCounter(PDH_HQUERY query, const char* path, PDH_HCOUNTER* counter) override;
    PDH_STATUS BindQuery(PDH_HQUERY query, HANDLE process) override;
    PDH_STATUS CollectQueryData(PDH_HQUERY query, std::uint64_t instantNs) override;
    PDH_STATUS GetCounterValue(PDH_HCOUNTER counter, double* value) override;
    PDH_STATUS CloseQuery(PDH_HQUERY query) override;

private:
    struct Instance;
    struct Counter;
    struct Query;

    Query* FindQuery(PDH_HQUERY query) const;
    void Notify(const std::string& line);

    NoticeSink m_sink;
    std::set<std::string> m_told;  // in this measurement
    std::unordered_map<const void*, std::unique_ptr<Query>> m_queries;
    std::unordered_map<const void*, const Counter*> m_counters;
};
