#include "ProcCounterService.h"

#include "ProcFiles.h"
#include "ProcThreadActivity.h"
#include "Process.h"
#include "Timing.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>

namespace {

constexpr double kThreadRunning = 2;
constexpr double kThreadWaiting = 5;

constexpr char EXACT_NOTICE[] = "quorvex: thread states from the kernel's context-switch records";

std::string ProcNotice(const std::string& statesFrom)
{
    return "quorvex: " + statesFrom + "; concurrency may be overstated when the machine is oversubscribed";
}

std::string ExecutableName(const std::string& pidDirectory)
{
    char target[PATH_MAX];
    const ssize_t length = readlink((pidDirectory + "/exe").c_str(), target, sizeof target - 1);
    if (length > 0)
        return InstanceName(std::string_view(target, static_cast<size_t>(length)));
    // Another user's process: only its (possibly shortened) command name shows.
    char comm[64] = {};
    const UniqueFd fd(open((pidDirectory + "/comm").c_str(), O_RDONLY | O_CLOEXEC));
    const ssize_t commLength = fd.IsOpen() ? PreadText(fd.Get(), comm, sizeof comm - 1) : -1;
    return commLength > 0 ? WithoutExeSuffix(std::string_view(comm, static_cast<size_t>(commLength - 1))) : "";
}

// The youngest process of this name.
std::optional<StartedProcess> ProcessNamed(const std::string& name)
{
    std::optional<StartedProcess> youngest;
    DIR* proc = opendir("/proc");
    if (!proc)
        return youngest;
    while (const dirent* entry = readdir(proc)) {
        pid_t pid = 0;
        const char* end = entry->d_name + std::strlen(entry->d_name);
        if (std::from_chars(entry->d_name, end, pid).ptr != end || pid == getpid())
            continue;
        ProcStat stat;
        if (ExecutableName(std::string("/proc/") + entry->d_name) == name && ReadPidStat(pid, stat) &&
            (!youngest || stat.startTicks > youngest->startTicks))
            youngest = StartedProcess{pid, stat.startTicks};
    }
    closedir(proc);
    return youngest;
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

    PDH_STATUS Collect(std::uint64_t instantNs, ProcCounterService& service)
    {
        if (ended)
            return PDH_NO_DATA;
        if (!source && !Bind(service))
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

    bool Bind(ProcCounterService& service)
    {
        // A process whose name cannot be read must not pass for one without a name.
        if (name.empty())
            return false;
        std::string whyNot;
        if (const std::optional<StartedProcess> started = LatestStartedProcess(name)) {
            process = *started;
            source = TakeAttachedThreadStates(process, whyNot);
        } else if (const std::optional<StartedProcess> stranger = ProcessNamed(name)) {
            process = *stranger;
            whyNot = "process " + std::to_string(process.pid) + " was not started by quorvex";
        } else {
            return false;
        }
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
    std::uint64_t sleepDeadlineSeen = LastSleepDeadlineNs();

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

    // A collection right after a sleep belongs to the sleep's end; one that
    // comes long after it, or after no sleep, to the moment it is made.
    std::uint64_t Instant()
    {
        const std::uint64_t now = MonotonicNowNs();
        const std::uint64_t deadline = LastSleepDeadlineNs();
        const bool slept = deadline != std::exchange(sleepDeadlineSeen, deadline);
        return slept && deadline <= now && now - deadline <= MAX_INSTANT_AGE_NS ? deadline : now;
    }
};

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

PDH_STATUS ProcCounterService::CollectQueryData(PDH_HQUERY query)
{
    Query* of = FindQuery(query);
    if (!of)
        return PDH_INVALID_HANDLE;
    const std::uint64_t instantNs = of->Instant();
    // Success when any instance was collected; else why the others were not.
    PDH_STATUS status = PDH_NO_DATA;
    for (const auto& instance : of->instances) {
        const PDH_STATUS collected = instance->Collect(instantNs, *this);
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
