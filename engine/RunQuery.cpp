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

