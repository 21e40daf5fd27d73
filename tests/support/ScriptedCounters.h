#pragma once
// A counter service that plays back scripted collections and fails on
// demand: every value a run reads is known in advance.

#include "Clock.h"
#include "Pdh.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct Collection {
    PDH_STATUS status = ERROR_SUCCESS;
    std::map<std::string, double> values;  // by counter path; a counter not listed cannot be read
    std::function<void()> action;          // runs as the collection is made
};
// Collections past the end of a script report PDH_NO_DATA: the target has ended.
using Script = std::vector<Collection>;

// Plays back scripted collections, and fails on demand.
class ScriptedCounters : public CounterService {
public:
    // By the order in which queries are opened: the run's, then the probe's.
    std::vector<Script> scripts;
    std::map<int, PDH_STATUS> openFailures;
    std::map<std::pair<int, std::string>, PDH_STATUS> addFailures;  // by query and path
    std::vector<std::string> added;
    // Each collection as it was made: its query (by order of opening), the
    // instant it was given and the moment it ran.
    struct Made {
        int query;
        std::uint64_t instantNs;
        std::uint64_t madeNs;
    };
    std::vector<Made> collections;

    long OpenQueries() const
    {
        return std::count_if(m_queries.begin(), m_queries.end(), [](const Query& query) { return query.open; });
    }

    PDH_STATUS OpenQuery(PDH_HQUERY* handle) override
    {
        const int index = static_cast<int>(m_queries.size());
        m_queries.push_back({index, !openFailures.count(index)});
        if (!m_queries.back().open)
            return openFailures[index];
        *handle = &m_queries.back();
        return ERROR_SUCCESS;
    }

    PDH_STATUS AddCounter(PDH_HQUERY handle, const char* path, PDH_HCOUNTER* counter) override
    {
        Query* query = Find(handle);
        if (!query)
            return PDH_INVALID_HANDLE;
        added.push_back(path);
        const auto failure = addFailures.find({query->index, path});
        if (failure != addFailures.end())
            return failure->second;
        m_counters.push_back({query, path});
        *counter = &m_counters.back();
        return ERROR_SUCCESS;
    }

    PDH_STATUS BindQuery(PDH_HQUERY handle, HANDLE) override { return Find(handle) ? ERROR_SUCCESS : PDH_INVALID_HANDLE; }

    PDH_STATUS CollectQueryData(PDH_HQUERY handle, std::uint64_t instantNs) override
    {
        Query* query = Find(handle);
        if (!query)
            return PDH_INVALID_HANDLE;
        collections.push_back({query->index, instantNs, MonotonicNowNs()});
        const size_t next = query->collected++;
        const auto index = static_cast<size_t>(query->index);
        query->current = index < scripts.size() && next < scripts[index].size() ? &scripts[index][next] : nullptr;
        if (!query->current)
            return PDH_NO_DATA;
        if (query->current->action)
            query->current->action();
        return query->current->status;
    }

    PDH_STATUS GetCounterValue(PDH_HCOUNTER handle, double* value) override
    {
        const auto* counter = static_cast<const Counter*>(handle);
        if (!counter || !counter->query->open)
            return PDH_INVALID_HANDLE;
        const Collection* current = counter->query->current;
        if (!current || !current->values.count(counter->path))
            return PDH_INVALID_DATA;
        *value = current->values.at(counter->path);
        return ERROR_SUCCESS;
    }

    PDH_STATUS CloseQuery(PDH_HQUERY handle) override
    {
        Query* query = Find(handle);
        if (!query)
            return PDH_INVALID_HANDLE;
        query->open = false;
        return ERROR_SUCCESS;
    }

private:
    struct Query {
        int index;
        bool open;
        size_t collected = 0;
        const Collection* current = nullptr;
    };
    struct Counter {
        const Query* query;
        std::string path;
    };

    // Handles are addresses in the deques, which never move; a closed query's are refused.
    static Query* Find(PDH_HQUERY handle)
    {
        auto* query = static_cast<Query*>(handle);
        return query && query->open ? query : nullptr;
    }

    std::deque<Query> m_queries;
    std::deque<Counter> m_counters;
};

// Counter paths of a process, and of one of its threads by its index.
inline std::string ProcessPath(const std::string& instance, const char* counter)
{
    return "\\Process(" + instance + ")\\" + counter;
}
inline std::string ThreadPath(const std::string& instance, int thread, const char* counter)
{
    return "\\Thread(" + instance + "/" + std::to_string(thread) + ")\\" + counter;
}

// Samples of a scripted target named "render": its processor time and
// thread count, then each thread's processor time and state.
struct ThreadSample {
    double cpu;
    double state;
};

inline Collection Sample(double cpu, double threads, const std::vector<ThreadSample>& perThread = {})
{
    Collection sample{.values = {{ProcessPath("render", "% Processor Time"), cpu},
                                 {ProcessPath("render", "Thread Count"), threads}}};
    for (size_t j = 0; j < perThread.size(); ++j) {
        sample.values[ThreadPath("render", static_cast<int>(j), "% Processor Time")] = perThread[j].cpu;
        sample.values[ThreadPath("render", static_cast<int>(j), "Thread State")] = perThread[j].state;
    }
    return sample;
}

// Thread 0 always running; thread 1 running in the first three samples.
inline Collection TwoThreadSample(int k)
{
    return Sample(98.4375, 2, {{93.75, 2}, {4.6875, k < 3 ? 2.0 : 5.0}});
}

// The collection that gives the rates their base, then the samples.
inline Script Samples(int count, const std::function<Collection(int)>& sample)
{
    Script script(1);
    for (int k = 0; k < count; ++k)
        script.push_back(sample(k));
    return script;
}

// What the probe reads: the thread count alone.
inline Collection ThreadCount(double count)
{
    return {.values = {{ProcessPath("render", "Thread Count"), count}}};
}
