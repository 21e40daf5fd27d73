#pragma once
// A counter service that plays back scripted collections, so that runs can be
// checked value by value; it also fails on demand.

#include "Pdh.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct ScriptedCollection {
    PDH_STATUS status = ERROR_SUCCESS;
    std::map<std::string, double> values;  // by counter path; a counter not listed cannot be read
    std::function<void()> action;          // runs as the collection is made, like a click during the run
};

// Collections past the end of a script report PDH_NO_DATA: the target has ended.
using QueryScript = std::vector<ScriptedCollection>;

class ScriptedCounters : public CounterService {
public:
    ScriptedCounters();   // installs itself
    ~ScriptedCounters() override;

    // By the order in which queries are opened: the sampling run opens its
    // query before the probe opens its own.
    std::vector<QueryScript> scripts;
    std::map<int, PDH_STATUS> openFailures;                         // by open order
    std::map<std::pair<int, std::string>, PDH_STATUS> addFailures;  // by open order and path

    int OpenQueries() const { return static_cast<int>(m_queries.size()); }
    int QueriesOpened() const { return m_opened; }
    const std::vector<std::string>& AddedPaths() const { return m_added; }

    PDH_STATUS OpenQuery(PDH_HQUERY* query) override;
    PDH_STATUS AddCounter(PDH_HQUERY query, const char* path, PDH_HCOUNTER* counter) override;
    PDH_STATUS CollectQueryData(PDH_HQUERY query) override;
    PDH_STATUS GetCounterValue(PDH_HCOUNTER counter, double* value) override;
    PDH_STATUS CloseQuery(PDH_HQUERY query) override;

private:
    struct Query {
        int index;
        int collected = 0;
        const ScriptedCollection* current = nullptr;
    };
    struct Counter {
        Query* query;
        std::string path;
    };

    std::map<void*, std::unique_ptr<Query>> m_queries;
    std::map<void*, std::unique_ptr<Counter>> m_counters;
    std::vector<std::string> m_added;
    int m_opened = 0;
};

std::string ProcessCpuPath(const std::string& name);
std::string ThreadCountPath(const std::string& name);
std::string ThreadCpuPath(const std::string& name, int thread);
std::string ThreadStatePath(const std::string& name, int thread);

struct ThreadSample {
    std::optional<double> cpu;    // nullopt: cannot be read
    std::optional<double> state;
};

// One sample of the sampling run's query.
ScriptedCollection Sample(const std::string& name, double cpu, double threads, const std::vector<ThreadSample>& perThread);
// A probe's script: its first collection, then one per thread count.
QueryScript ProbeScript(const std::string& name, const std::vector<double>& threadCounts);
