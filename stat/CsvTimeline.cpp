#include "Reports.h"
#include "Text.h"

#include <vector>

// Thread columns follow the threads' order of appearance; a thread that did
// not run in a window shows 0.
std::string CsvTimeline(const Profile& profile)
{
    std::string text = "time_ms,cpu_percent,threads_alive,average_concurrency";
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
