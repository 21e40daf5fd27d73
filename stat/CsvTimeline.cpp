#include "Reports.h"
#include "Text.h"

#include <algorithm>
#include <vector>

namespace {

// Threads wanting a processor and threads blocked, on average over the window.
void DemandColumns(std::string& text, const Profile& profile, std::size_t w)
{
    const WindowDemand demand = w < profile.demand.windows.size() ? profile.demand.windows[w] : WindowDemand{};
    const double length = static_cast<double>(std::max<std::uint64_t>(profile.windows[w].lengthNs, 1));
    Appendf(text, ",%.3f,%.3f", static_cast<double>(demand.runnableNs) / length,
            static_cast<double>(demand.blockedNs) / length);
}

} // namespace

// Thread columns follow the threads' order of appearance; a thread that did
// not run in a window shows 0.
std::string CsvTimeline(const Profile& profile)
{
    std::string text = "time_ms,cpu_percent,threads_alive,average_concurrency,runnable_average,blocked_average";
    for (std::size_t level = 0; level < profile.levelNs.size(); ++level)
        Appendf(text, ",level_%zu_percent", level);
    for (const ThreadProfile& thread : profile.threads)
        Appendf(text, ",on_cpu_ms_%d", thread.tid);
    text += "\n";
    std::vector<std::size_t> next(profile.threads.size(), 0);  // each thread's next window share
    for (std::size_t w = 0; w < profile.windows.size(); ++w) {
        const WindowProfile& window = profile.windows[w];
        const double cpu = Percent(window.onCpuNs, window.lengthNs);
        Appendf(text, "%.0f,%.2f,%u,%.3f", Ms(window.startNs), cpu, window.threadsAlive, cpu / 100);
        DemandColumns(text, profile, w);
        for (const unsigned share : HundredthsOf(window.levelNs, window.lengthNs))
            Appendf(text, ",%.2f", share / 100.0);
        for (std::size_t t = 0; t < profile.threads.size(); ++t) {
            const std::vector<WindowShare>& shares = profile.threads[t].windows;
            std::uint64_t onCpuNs = 0;
            if (next[t] < shares.size() && shares[next[t]].window == w)
                onCpuNs = shares[next[t]++].onCpuNs;
            Appendf(text, ",%.3f", Ms(onCpuNs));
        }
        text += "\n";
    }
    return text;
}
