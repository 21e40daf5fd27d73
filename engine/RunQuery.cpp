#include "RunQuery.h"

#include "Timing.h"

#include <algorithm>

namespace {

constexpr std::chrono::seconds kSettle{1};  // a rate needs a base collection before it

} // namespace

std::uint64_t Nanoseconds(std::chrono::nanoseconds span)
{
    return static_cast<std::uint64_t>(std::max(span.count(), std::chrono::nanoseconds::rep{0}));
}

std::uint64_t SleepFor(std::chrono::nanoseconds span)
{
    const std::uint64_t end = MonotonicNowNs() + Nanoseconds(span);
    SleepUntilNs(end);
    return end;
}

// A zero interval (tests) still gives each collection an instant of its own.
SampleSchedule::SampleSchedule(std::uint64_t startNs, std::chrono::nanoseconds interval)
    : m_intervalNs(std::max<std::uint64_t>(Nanoseconds(interval), 1)), m_nextNs(startNs + m_intervalNs)
{
}

std::uint64_t SampleSchedule::Next()
{
    const std::uint64_t now = MonotonicNowNs();
    const std::uint64_t oldest = now > MAX_INSTANT_AGE_NS ? now - MAX_INSTANT_AGE_NS : 0;
    if (m_nextNs < oldest)
        m_nextNs += (oldest - m_nextNs + m_intervalNs - 1) / m_intervalNs * m_intervalNs;
    SleepUntilNs(m_nextNs);
    const std::uint64_t instant = m_nextNs;
    m_nextNs += m_intervalNs;
    return instant;
}

bool ReadValue(CounterService& counters, PDH_HCOUNTER counter, double& value)
{
    return counters.GetCounterValue(counter, &value) == ERROR_SUCCESS;
}

PDH_STATUS Query::StartAndSettle(RunTarget& target, const std::string& appPath, const std::string& arguments)
{
    if (!target.Start(appPath, arguments))
        return PDH_NO_DATA;
    // A process the query cannot measure is one it finds no data for.
    if (m_counters.BindQuery(m_query, target.Process()) != ERROR_SUCCESS)
        return PDH_NO_DATA;
    return Collect(SleepFor(kSettle));
}

bool StartTarget(RunTarget& target, const RunSettings& settings, RunObserver& observer, Query& query,
                 PDH_STATUS& status)
{
    status = query.StartAndSettle(target, settings.appPath, observer.TargetArguments());
    if (!target.Started())
        observer.ShowBox("Error starting The process !!!", "Error");
    return status == ERROR_SUCCESS;
}

