#include "ScriptedCounters.h"

#include <memory>

ScriptedCounters::ScriptedCounters()
{
    SetCounterService(this);
}

ScriptedCounters::~ScriptedCounters()
{
    SetCounterService(nullptr);
}

PDH_STATUS ScriptedCounters::OpenQuery(PDH_HQUERY* query)
{
    const int index = m_opened++;
    if (openFailures.count(index))
        return openFailures[index];
    auto opened = std::make_unique<Query>(Query{index});
    *query = opened.get();
    m_queries[*query] = std::move(opened);
    return ERROR_SUCCESS;
}

PDH_STATUS ScriptedCounters::AddCounter(PDH_HQUERY query, const char* path, PDH_HCOUNTER* counter)
{
    if (!m_queries.count(query))
        return PDH_INVALID_HANDLE;
    m_added.push_back(path);
    Query* to = m_queries[query].get();
    const auto failure = addFailures.find({to->index, path});
    if (failure != addFailures.end())
        return failure->second;
    auto added = std::make_unique<Counter>(Counter{to, path});
    *counter = added.get();
    m_counters[*counter] = std::move(added);
    return ERROR_SUCCESS;
}

PDH_STATUS ScriptedCounters::CollectQueryData(PDH_HQUERY query)
{
    if (!m_queries.count(query))
        return PDH_INVALID_HANDLE;
    Query& of = *m_queries[query];
    const size_t next = static_cast<size_t>(of.collected++);
    const bool scripted = static_cast<size_t>(of.index) < scripts.size() && next < scripts[of.index].size();
    of.current = scripted ? &scripts[of.index][next] : nullptr;
    if (!of.current)
        return PDH_NO_DATA;
    if (of.current->action)
        of.current->action();
    return of.current->status;
}

PDH_STATUS ScriptedCounters::GetCounterValue(PDH_HCOUNTER counter, double* value)
{
    if (!m_counters.count(counter))
        return PDH_INVALID_HANDLE;
    const Counter& of = *m_counters[counter];
    if (!of.query->current || !of.query->current->values.count(of.path))
        return PDH_INVALID_DATA;
    *value = of.query->current->values.at(of.path);
    return ERROR_SUCCESS;
}

PDH_STATUS ScriptedCounters::CloseQuery(PDH_HQUERY query)
{
    if (!m_queries.count(query))
        return PDH_INVALID_HANDLE;
    for (auto it = m_counters.begin(); it != m_counters.end();)
        it = it->second->query == m_queries[query].get() ? m_counters.erase(it) : std::next(it);
    m_queries.erase(query);
    return ERROR_SUCCESS;
}

std::string ProcessCpuPath(const std::string& name)
{
    return "\\Process(" + name + ")\\% Processor Time";
}

std::string ThreadCountPath(const std::string& name)
{
    return "\\Process(" + name + ")\\Thread Count";
}

std::string ThreadCpuPath(const std::string& name, int thread)
{
    return "\\Thread(" + name + "/" + std::to_string(thread) + ")\\% Processor Time";
}

std::string ThreadStatePath(const std::string& name, int thread)
{
    return "\\Thread(" + name + "/" + std::to_string(thread) + ")\\Thread State";
}

ScriptedCollection Sample(const std::string& name, double cpu, double threads, const std::vector<ThreadSample>& perThread)
{
    ScriptedCollection sample;
    sample.values[ProcessCpuPath(name)] = cpu;
    sample.values[ThreadCountPath(name)] = threads;
    for (size_t j = 0; j < perThread.size(); ++j) {
        if (perThread[j].cpu)
            sample.values[ThreadCpuPath(name, static_cast<int>(j))] = *perThread[j].cpu;
        if (perThread[j].state)
            sample.values[ThreadStatePath(name, static_cast<int>(j))] = *perThread[j].state;
    }
    return sample;
}

QueryScript ProbeScript(const std::string& name, const std::vector<double>& threadCounts)
{
    QueryScript script(1);
    for (const double count : threadCounts) {
        ScriptedCollection collection;
        collection.values[ThreadCountPath(name)] = count;
        script.push_back(collection);
    }
    return script;
}
