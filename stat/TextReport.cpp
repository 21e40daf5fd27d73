#include "Reports.h"
#include "Text.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::size_t TOP_THREADS = 10;
constexpr int BAR_WIDTH = 40;

void Histogram(std::string& text, const Summary& summary)
{
    text += "\n threads on a processor, share of the elapsed time:\n";
    for (std::size_t level = 0; level < summary.levelHundredths.size(); ++level) {
        const unsigned share = summary.levelHundredths[level];
        const int bar = static_cast<int>(std::lround(share * BAR_WIDTH / 10000.0));
        Appendf(text, " %5zu |%s%*s| %6.2f %%\n", level, std::string(static_cast<std::size_t>(bar), '#').c_str(),
                BAR_WIDTH - bar, "", share / 100.0);
    }
}

void TopThreads(std::string& text, const Profile& profile)
{
    std::vector<const ThreadProfile*> threads;
    for (const ThreadProfile& thread : profile.threads)
        threads.push_back(&thread);
    std::stable_sort(threads.begin(), threads.end(),
                     [](const ThreadProfile* a, const ThreadProfile* b) { return a->onCpuNs > b->onCpuNs; });
    text += "\n top threads by on-CPU time:\n";
    Appendf(text, " %9s  %-15s  %12s  %12s  %12s\n", "tid", "name", "on-CPU ms", "waiting ms", "lifetime ms");
    for (std::size_t i = 0; i < threads.size() && i < TOP_THREADS; ++i)
        Appendf(text, " %9d  %-15s  %12.3f  %12.3f  %12.3f\n", threads[i]->tid, threads[i]->name.c_str(),
                Ms(threads[i]->onCpuNs), Ms(threads[i]->waitingNs), Ms(threads[i]->LifetimeNs()));
    if (threads.size() > TOP_THREADS)
        Appendf(text, " and %zu more threads\n", threads.size() - TOP_THREADS);
}

void Source(std::string& text, const Profile& profile, const RunFacts& facts)
{
    if (!facts.fromRecords) {
        text += "\n source: /proc: on-CPU, waiting and CPU exact (the kernel's counters), the histogram sampled\n";
        if (profile.endedUnreadNs > 0)
            Appendf(text, " %.3f ms of threads that started and ended between two reads is in the CPU total only\n",
                    Ms(profile.endedUnreadNs));
    }
    else if (profile.lostRecords > 0)
        Appendf(text, "\n source: context-switch records, %llu lost: the shares are inexact\n",
                static_cast<unsigned long long>(profile.lostRecords));
    else if (!profile.kernelClock.reason.empty())
        Appendf(text, "\n source: context-switch records, not exact: %s\n", profile.kernelClock.reason.c_str());
    else
        text += "\n source: context-switch records (exact)\n";
}

} // namespace

std::string CommandText(const RunFacts& facts)
{
    std::string text;
    for (const std::string& argument : facts.command)
        text += (text.empty() ? "" : " ") + argument;
    return text;
}

std::string TextReport(const Profile& profile, const Summary& summary, const RunFacts& facts)
{
    std::string text;
    Appendf(text, "\n quorvex-stat for '%s':\n\n", CommandText(facts).c_str());
    Appendf(text, " %14.3f ms  elapsed\n", summary.elapsedMs);
    Appendf(text, " %14.2f %%   CPU utilisation (min %.2f %%, max %.2f %% per %.0f ms)\n", summary.cpuAvg,
            summary.cpuMin, summary.cpuMax, Ms(profile.intervalNs));
    Appendf(text, " %14.2f %%   Parallel Time (2 or more threads on a processor)\n",
            summary.parallelHundredths / 100.0);
    Appendf(text, " %14.3f     threads on a processor on average\n", summary.averageConcurrency);
    Appendf(text, " %14zu     threads in %u process%s\n", profile.threads.size(), profile.processes,
            profile.processes == 1 ? "" : "es");
    if (facts.processorsAllowed > 0)
        Appendf(text, " %14u     processors the command could use, of %u on the machine\n", facts.processorsAllowed,
                facts.processorsOnline);
    Histogram(text, summary);
    TopThreads(text, profile);
    Source(text, profile, facts);
    if (facts.signal != 0)
        Appendf(text, " the command was ended by %s\n", SignalName(facts.signal).c_str());
    text += facts.reportSections;
    text += "\n";
    return text;
}

std::string ProgressLine(std::uint64_t elapsedNs, std::uint64_t onCpuNs, std::size_t threads, std::uint64_t parallelNs)
{
    std::string text;
    Appendf(text, "quorvex-stat: %.1f s, CPU %.0f %%, %zu threads, Parallel Time %.1f %%", Ms(elapsedNs) / 1000,
            Percent(onCpuNs, elapsedNs), threads, Percent(parallelNs, elapsedNs));
    return text;
}

namespace {

std::string Seconds(std::uint64_t ns)
{
    const double seconds = Ms(ns) / 1000;
    std::string text;
    Appendf(text, seconds < 10 ? "%.1f s" : "%.0f s", seconds);
    return text;
}

} // namespace

// Noticeably more: twice the command's own time, and a tenth of a second.
std::string ChildrenNote(const std::string& command, std::uint64_t ownCpuNs, std::uint64_t childrenCpuNs)
{
    if (childrenCpuNs < 2 * ownCpuNs || childrenCpuNs < 100'000'000)
        return {};
    std::string text;
    Appendf(text, "quorvex-stat: %s used %s; its children %s, not counted with --no-inherit\n", command.c_str(),
            Seconds(ownCpuNs).c_str(), Seconds(childrenCpuNs).c_str());
    return text;
}
