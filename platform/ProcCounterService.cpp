#include "ProcCounterService.h"

#include "ProcThreadActivity.h"
#include "Process.h"
#include "Timing.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

namespace {

constexpr double kThreadRunning = 2;
constexpr double kThreadWaiting = 5;

constexpr char EXACT_NOTICE[] = "quorvex: thread states from the kernel's context-switch records";

std::string ProcNotice(const std::string& statesFrom)
{
    return "quorvex: " + statesFrom + "; concurrency may be overstated when the machine is oversubscribed";
}

void WriteToStandardError(const std::string& line)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", line.c_str());
}

double Percent(std::uint64_t cpuNs, std::uint64_t previousCpuNs, std::uint64_t elapsedNs)
{
    return cpuNs > previousCpuNs ? static_cast<double>(cpuNs - previousCpuNs) / static_cast<double>(elapsedNs) * 100
                                 : 0;
}

std::uint64_t CpuNsOf(const std::vector<ThreadActivity>& threads, int tid)
{
    const auto found = std::lower_bound(threads.begin(), threads.end(), tid,
                                        [](const ThreadActivity& thread, int id) { return thread.tid < id; });
    // A thread new since the previous collection used all its time in between.
    return found != threads.end() && found->tid == tid ? found->cpuNs : 0;
}

} // namespace

struct ProcCounterService::Instance {
    std::string name;
    StartedProcess process{};
    std::unique_ptr<ThreadActivitySource> source;  // null until bound
    bool ended = false;
    int collections = 0;
    ActivitySnapshot current;
    ActivitySnapshot previous;
    std::uint64_t currentNs = 0;
    std::uint64_t previousNs = 0;

    PDH_STATUS Collect(HANDLE target, std::uint64_t instantNs, ProcCounterService& service)
    {
        if (ended)
            return PDH_NO_DATA;
        if (!source && !Bind(target, service))
            return PDH_NO_DATA;
        ThreadActivitySource::Status status = source->Collect(instantNs, previous);
        // The records stopped while the process runs on (an exec of a set-uid
        // or unreadable program): /proc is all that is left.
        if (status == ThreadActivitySource::Status::Lost)
            status = ReadProc(service, "thread states from /proc from now on (the kernel stopped the context-switch "
                                       "records of process " + std::to_string(process.pid) + ")")
                         ? source->Collect(instantNs, previous)
                         : ThreadActivitySource::Status::Gone;
        if (status != ThreadActivitySource::Status::Ok) {
            ended = true;
            source.reset();
            return PDH_NO_DATA;
        }
        std::swap(current, previous);
        previousNs = std::exchange(currentNs, instantNs);
        ++collections;
        return ERROR_SUCCESS;
    }

    bool Bind(HANDLE target, ProcCounterService& service)
    {
        const std::optional<StartedProcess> started = ProcessOfHandle(target);
        if (!started)
            return false;
        process = *started;
        std::string whyNot;
        source = TakeAttachedThreadStates(target, whyNot);
        if (!source)
            return ReadProc(service, "thread states from /proc (" + whyNot + ")");
        service.Notify(EXACT_NOTICE);
        return true;
    }

    // /proc for the rest of the query; false when the process is gone.
    bool ReadProc(ProcCounterService& service, const std::string& statesFrom)
    {
        source = ProcThreadActivity::Open(process.pid, process.startTicks);
        if (source)
            service.Notify(ProcNotice(statesFrom));
        return source != nullptr;
    }

    bool HasRate() const { return collections >= 2 && currentNs > previousNs; }
};

struct ProcCounterService::Counter {
    Instance* instance;
    CounterKind kind;
    int thread;

    PDH_STATUS Read(double& value) const
    {
        const Instance& of = *instance;
        if (of.ended)
            return PDH_CSTATUS_NO_INSTANCE;
        if (of.collections == 0 || (kind == CounterKind::ProcessorTime && !of.HasRate()))
            return PDH_INVALID_DATA;
        const std::uint64_t elapsedNs = of.currentNs - of.previousNs;
        if (thread < 0) {
            value = kind == CounterKind::ThreadCount
                        ? static_cast<double>(of.current.threads.size())
                        : Percent(of.current.processCpuNs, of.previous.processCpuNs, elapsedNs);
            return ERROR_SUCCESS;
        }
        if (static_cast<size_t>(thread) >= of.current.threads.size())
            return PDH_CSTATUS_NO_INSTANCE;
        const ThreadActivity& now = of.current.threads[static_cast<size_t>(thread)];
        value = kind == CounterKind::ThreadState ? (now.onProcessor ? kThreadRunning : kThreadWaiting)
                                                 : Percent(now.cpuNs, CpuNsOf(of.previous.threads, now.tid), elapsedNs);
        return ERROR_SUCCESS;
    }
};

struct ProcCounterService::Query {
    std::vector<std::unique_ptr<Instance>> instances;
    std::vector<std::unique_ptr<Counter>> counters;
    HANDLE target = nullptr;  // the process every instance measures; none until bound

    Instance& InstanceNamed(const std::string& name)
    {
        for (const auto& instance : instances) {
            if (instance->name == name)
                return *instance;
        }
        instances.push_back(std::make_unique<Instance>());
        instances.back()->name = name;
        return *instances.back();
    }
};

namespace {

// The caller's instant, unless it lies in the future or too far back to be
// the end of the sleep just finished: then the moment of the collection.
std::uint64_t InstantOf(LONGLONG instant)
{
    const std::uint64_t now = MonotonicNowNs();
    const auto instantNs = static_cast<std::uint64_t>(instant);  // ticks are nanoseconds here
    return instant > 0 && instantNs <= now && now - instantNs <= MAX_INSTANT_AGE_NS ? instantNs : now;
}

} // namespace

ProcCounterService::ProcCounterService(NoticeSink sink)
    : m_sink(sink ? std::move(sink) : NoticeSink(WriteToStandardError))
{
}

ProcCounterService::~ProcCounterService() = default;

void ProcCounterService::Notify(const std::string& line)
{
    if (m_told.insert(line).second)
        m_sink(line);
}

ProcCounterService::Query* ProcCounterService::FindQuery(PDH_HQUERY query) const
{
    const auto found = m_queries.find(query);
    return found == m_queries.end() ? nullptr : found->second.get();
}

PDH_STATUS ProcCounterService::OpenQuery(PDH_HQUERY* query)
{
    if (m_queries.empty())
        m_told.clear();
    auto opened = std::make_unique<Query>();
    *query = opened.get();
    m_queries.emplace(opened.get(), std::move(opened));
    return ERROR_SUCCESS;
}

PDH_STATUS ProcCounterService::AddCounter(PDH_HQUERY query, const char* path, PDH_HCOUNTER* counter)
{
    Query* to = FindQuery(query);
    if (!to)
        return PDH_INVALID_HANDLE;
    CounterPath parsed;
    if (const PDH_STATUS status = ParseCounterPath(path, parsed))
        return status;
    to->counters.push_back(std::make_unique<Counter>(Counter{&to->InstanceNamed(parsed.instance), parsed.kind, parsed.thread}));
    *counter = to->counters.back().get();
    m_counters.emplace(*counter, to->counters.back().get());
    return ERROR_SUCCESS;
}

PDH_STATUS ProcCounterService::BindQuery(PDH_HQUERY query, HANDLE process)
{
    Query* of = FindQuery(query);
    if (!of)
        return PDH_INVALID_HANDLE;
    if (!ProcessOfHandle(process))
        return PDH_INVALID_HANDLE;
    of->target = process;
    return ERROR_SUCCESS;
}

PDH_STATUS ProcCounterService::CollectQueryData(PDH_HQUERY query, LONGLONG instant)
{
    Query* of = FindQuery(query);
    if (!of)
        return PDH_INVALID_HANDLE;
    const std::uint64_t instantNs = InstantOf(instant);
    // Success when any instance was collected; else why the others were not.
    PDH_STATUS status = PDH_NO_DATA;
    for (const auto& instance : of->instances) {
        const PDH_STATUS collected = instance->Collect(of->target, instantNs, *this);
        if (collected == ERROR_SUCCESS)
            status = ERROR_SUCCESS;
        else if (status == PDH_NO_DATA)
            status = collected;
    }
    return status;
}

PDH_STATUS ProcCounterService::GetCounterValue(PDH_HCOUNTER counter, double* value)
{
    const auto found = m_counters.find(counter);
    return found == m_counters.end() ? PDH_INVALID_HANDLE : found->second->Read(*value);
}

PDH_STATUS ProcCounterService::CloseQuery(PDH_HQUERY query)
{
    Query* closing = FindQuery(query);
    if (!closing)
        return PDH_INVALID_HANDLE;
    for (const auto& counter : closing->counters)
        m_counters.erase(counter.get());
    m_queries.erase(query);
    return ERROR_SUCCESS;
}
