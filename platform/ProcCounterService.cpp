#include "ProcCounterService.h"

#include "CpuAccess.h"
#include "ProcThreadActivity.h"
#include "Process.h"
#include "Timing.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

namespace {


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

// A rate from two readings of a processor time that only grows, over the
// real time between them. The kernel adds a running thread's time at its
// ticks and switches, so a short span may see time used before it: a figure
// stops at what the span allows on the processors it may run on, and the
// rest carries into the next span. accountedNs is the part of cpuNs that
// earlier figures have told.
double BoundedPercent(std::uint64_t cpuNs, std::uint64_t& accountedNs, std::uint64_t elapsedNs, unsigned processors)
{
    if (cpuNs < accountedNs) {  // a count begun anew: a thread under a reused id
        accountedNs = cpuNs;
        return 0;
    }
    const std::uint64_t used = std::min(cpuNs - accountedNs, elapsedNs * processors);
    accountedNs += used;
    return elapsedNs > 0 ? static_cast<double>(used) / static_cast<double>(elapsedNs) * 100 : 0;
}

std::uint64_t Since(std::uint64_t laterNs, std::uint64_t earlierNs)
{
    return laterNs > earlierNs ? laterNs - earlierNs : 0;
}

const ThreadActivity* Find(const std::vector<ThreadActivity>& threads, int tid)
{
    const auto found = std::lower_bound(threads.begin(), threads.end(), tid,
                                        [](const ThreadActivity& thread, int id) { return thread.tid < id; });
    return found != threads.end() && found->tid == tid ? &*found : nullptr;
}

// The processors the process may run on; all online ones when its
// affinity cannot be read.
unsigned ProcessorsOf(int pid)
{
    const std::optional<std::vector<unsigned>> affinity = ProcessAffinity(pid);
    const size_t count = affinity ? affinity->size() : OnlineCpus().size();
    return std::max<unsigned>(1, static_cast<unsigned>(count));
}

} // namespace

struct ProcCounterService::Instance {
    std::string name;
    StartedProcess process{};
    std::unique_ptr<ThreadActivitySource> source;  // null until bound
    bool ended = false;
    int collections = 0;
    unsigned processors = 1;  // the process may run on
    // The processor times in current are those accounted for by the figures.
    ActivitySnapshot current;
    ActivitySnapshot previous;
    std::uint64_t currentNs = 0;
    std::uint64_t previousNs = 0;
    double processPercent = 0;
    std::vector<double> threadPercent;  // as current.threads

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
        if (collections++ > 0)
            TakeRates();
        return ERROR_SUCCESS;
    }

    void TakeRates()
    {
        std::uint64_t processNs = previous.processCpuNs;
        processPercent = BoundedPercent(current.processCpuNs, processNs,
                                        Since(current.processReadNs, previous.processReadNs), processors);
        current.processCpuNs = processNs;
        threadPercent.clear();
        for (ThreadActivity& thread : current.threads) {
            // A thread new since the previous collection used all its time in between.
            const ThreadActivity* before = Find(previous.threads, thread.tid);
            std::uint64_t threadNs = before ? before->cpuNs : 0;
            const std::uint64_t elapsedNs = Since(thread.readNs, before ? before->readNs : previous.processReadNs);
            threadPercent.push_back(BoundedPercent(thread.cpuNs, threadNs, elapsedNs, 1));
            thread.cpuNs = threadNs;
        }
    }

    bool Bind(HANDLE target, ProcCounterService& service)
    {
        const std::optional<StartedProcess> started = ProcessOfHandle(target);
        if (!started)
            return false;
        process = *started;
        processors = ProcessorsOf(process.pid);
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
        if (thread < 0) {
            value = kind == CounterKind::ThreadCount ? static_cast<double>(of.current.threads.size())
                                                     : of.processPercent;
            return ERROR_SUCCESS;
        }
        const auto index = static_cast<size_t>(thread);
        if (index >= of.current.threads.size())
            return PDH_CSTATUS_NO_INSTANCE;
        value = kind == CounterKind::ThreadState ? (of.current.threads[index].onProcessor ? THREAD_STATE_RUNNING : THREAD_STATE_WAITING)
                                                 : of.threadPercent[index];
        return ERROR_SUCCESS;
    }
};

struct ProcCounterService::Query {
    std::vector<std::unique_ptr<Instance>> instances;
    std::vector<std::unique_ptr<Counter>> counters;
    HANDLE target = nullptr;  // the process every instance measures; none until bound
    std::uint64_t lastInstantNs = 0;

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

// The caller's instant, unless it lies in the future, too far back to be
// the end of the sleep just finished, or not after the query's last
// collection: then the moment of the collection, so that every rate has a
// span, whatever instants a late caller gives.
std::uint64_t InstantOf(std::uint64_t instantNs, std::uint64_t lastNs)
{
    const std::uint64_t now = MonotonicNowNs();
    return instantNs > lastNs && instantNs <= now && now - instantNs <= MAX_INSTANT_AGE_NS ? instantNs : now;
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

PDH_STATUS ProcCounterService::CollectQueryData(PDH_HQUERY query, std::uint64_t instant)
{
    Query* of = FindQuery(query);
    if (!of)
        return PDH_INVALID_HANDLE;
    const std::uint64_t instantNs = InstantOf(instant, of->lastInstantNs);
    of->lastInstantNs = instantNs;
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

namespace {

// The service of the Pdh functions, for programs that measure without an engine.
CounterService& Service()
{
    static ProcCounterService service;
    return service;
}

} // namespace

// Only live data: there is no log file to read counters from.
PDH_STATUS PdhOpenQueryA(LPCSTR dataSource, DWORD_PTR, PDH_HQUERY* query)
{
    if (!query || dataSource)
        return PDH_INVALID_ARGUMENT;
    return Service().OpenQuery(query);
}

PDH_STATUS PdhAddCounterA(PDH_HQUERY query, LPCSTR fullCounterPath, DWORD_PTR, PDH_HCOUNTER* counter)
{
    if (!query)
        return PDH_INVALID_HANDLE;
    if (!fullCounterPath || !counter)
        return PDH_INVALID_ARGUMENT;
    return Service().AddCounter(query, fullCounterPath, counter);
}

PDH_STATUS PdhCollectQueryData(PDH_HQUERY query)
{
    return PdhCollectQueryDataAt(query, static_cast<LONGLONG>(MonotonicNowNs()));
}

// Ticks are CLOCK_MONOTONIC nanoseconds (QueryPerformanceFrequency).
PDH_STATUS PdhCollectQueryDataAt(PDH_HQUERY query, LONGLONG instant)
{
    return query ? Service().CollectQueryData(query, static_cast<std::uint64_t>(instant)) : PDH_INVALID_HANDLE;
}

PDH_STATUS PdhBindQueryToProcess(PDH_HQUERY query, HANDLE process)
{
    if (!query || !process)
        return PDH_INVALID_HANDLE;
    return Service().BindQuery(query, process);
}

PDH_STATUS PdhGetFormattedCounterValue(PDH_HCOUNTER counter, DWORD format, DWORD* type, PDH_FMT_COUNTERVALUE* value)
{
    if (!counter)
        return PDH_INVALID_HANDLE;
    if (format != PDH_FMT_DOUBLE || !value)
        return PDH_INVALID_ARGUMENT;
    if (type)
        *type = 0;
    double number = 0;
    const PDH_STATUS status = Service().GetCounterValue(counter, &number);
    value->CStatus = static_cast<DWORD>(status);
    value->doubleValue = status == ERROR_SUCCESS ? number : 0;
    return status;
}

PDH_STATUS PdhCloseQuery(PDH_HQUERY query)
{
    return query ? Service().CloseQuery(query) : PDH_INVALID_HANDLE;
}
