#include "Reports.h"
#include "Text.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::size_t TOP_THREADS = 10;
constexpr int BAR_WIDTH = 40;

void Histogram(std::string& text, const char* title, const std::vector<unsigned>& shares)
{
    Appendf(text, "\n %s, share of the elapsed time:\n", title);
    for (std::size_t level = 0; level < shares.size(); ++level) {
        const unsigned share = shares[level];
        const int bar = static_cast<int>(std::lround(share * BAR_WIDTH / 10000.0));
        Appendf(text, " %5zu |%s%*s| %6.2f %%\n", level, std::string(static_cast<std::size_t>(bar), '#').c_str(),
                BAR_WIDTH - bar, "", share / 100.0);
    }
}

// The same threads, with where their lives went.
void TopThreadLives(std::string& text, const std::vector<const ThreadProfile*>& threads, const Profile& profile)
{
    Appendf(text, " %9s  %-15s  %12s  %12s  %12s  %12s  %12s\n", "tid", "name", "on-CPU ms", "waiting ms", "blocked ms",
            "lifetime ms", "hand-overs/s");
    for (std::size_t i = 0; i < threads.size() && i < TOP_THREADS; ++i) {
        const ThreadDemand& life = profile.demand.threads[static_cast<std::size_t>(threads[i] - profile.threads.data())];
        Appendf(text, " %9d  %-15s  %12.3f  %12.3f  %12.3f  %12.3f  %12.1f\n", threads[i]->tid, threads[i]->name.c_str(),
                Ms(life.onCpuNs), Ms(life.waitingNs), Ms(life.blockedNs), Ms(life.lifetimeNs),
                HandOversPerSecond(life));
    }
}

void TopThreads(std::string& text, const Profile& profile, const Summary& summary)
{
    std::vector<const ThreadProfile*> threads;
    for (const ThreadProfile& thread : profile.threads)
        threads.push_back(&thread);
    std::stable_sort(threads.begin(), threads.end(),
                     [](const ThreadProfile* a, const ThreadProfile* b) { return a->onCpuNs > b->onCpuNs; });
    text += "\n top threads by on-CPU time:\n";
    if (summary.demand.known) {
        TopThreadLives(text, threads, profile);
    } else {
        Appendf(text, " %9s  %-15s  %12s  %12s  %12s\n", "tid", "name", "on-CPU ms", "waiting ms", "lifetime ms");
        for (std::size_t i = 0; i < threads.size() && i < TOP_THREADS; ++i)
            Appendf(text, " %9d  %-15s  %12.3f  %12.3f  %12.3f\n", threads[i]->tid, threads[i]->name.c_str(),
                    Ms(threads[i]->onCpuNs), Ms(threads[i]->waitingNs), Ms(threads[i]->LifetimeNs()));
    }
    if (threads.size() > TOP_THREADS)
        Appendf(text, " and %zu more threads\n", threads.size() - TOP_THREADS);
}

void DemandFigures(std::string& text, const Profile& profile, const Summary& summary)
{
    const DemandSummary& demand = summary.demand;
    const unsigned processors = profile.demand.processors;
    Histogram(text, "threads wanting a processor (on one, or waiting for one)", demand.runnableHundredths);
    Appendf(text, " %14.2f %%   starved (more threads wanted a processor than had one)\n", demand.starvedPercent);
    if (processors > 0)
        Appendf(text, " %14.2f %%   oversubscribed (more wanted one than the %u it may use)\n",
                demand.oversubscribedPercent, processors);
    Appendf(text, " %14.2fx    speedup ceiling, a processor for every runnable thread\n", demand.unlimitedCeiling);
    if (processors > 0)
        Appendf(text, " %14.2fx    speedup ceiling, the %u processors it may use\n", demand.machineCeiling, processors);
}

void Totals(std::string& text, const Profile& profile, const Summary& summary)
{
    const DemandSummary& demand = summary.demand;
    Appendf(text, " %9s  %-15s  %12.3f  %12.3f  %12.3f  %12.3f  %12.1f\n", "all", "threads", Ms(demand.onCpuNs),
            Ms(demand.waitingNs), Ms(demand.blockedNs), Ms(demand.lifetimeNs), demand.handOversPerSecond);
    const std::size_t unread = profile.demand.threadsWithoutKernelWait;
    Appendf(text, " waiting: the kernel's run-queue wait (schedstat)");
    if (unread > 0)
        Appendf(text, "; %zu thread%s ended before it could be read: only the waits the records see (after a "
                      "preemption, not after a wake-up)",
                unread, unread == 1 ? "" : "s");
    text += "\n";
}

std::string StretchThread(const Profile& profile, const SerialStretch& stretch)
{
    if (!stretch.ran)
        return "none";
    const ThreadProfile& thread = profile.threads[stretch.serial];
    std::string text;
    Appendf(text, "%d %s", thread.tid, thread.name.c_str());
    if (stretch.others > 0)
        Appendf(text, " and %zu other%s", stretch.others, stretch.others == 1 ? "" : "s");
    return text;
}

void SerialStretches(std::string& text, const Profile& profile, const RunFacts& facts)
{
    const Demand& demand = profile.demand;
    text += "\n serial stretches (at most one thread on a processor while two or more were alive):\n";
    if (demand.stretches.empty() && demand.shortStretches == 0) {
        text += " none\n";
        return;
    }
    if (!demand.stretches.empty())
        Appendf(text, " %12s  %12s  %12s  %s\n", "start ms", "end ms", "length ms", "thread that ran");
    const std::size_t shown = std::min(facts.stretches, demand.stretches.size());
    for (std::size_t i = 0; i < shown; ++i) {
        const SerialStretch& stretch = demand.stretches[i];
        Appendf(text, " %12.3f  %12.3f  %12.3f  %s\n", Ms(stretch.startNs), Ms(stretch.endNs), Ms(stretch.LengthNs()),
                StretchThread(profile, stretch).c_str());
    }
    if (shown < demand.stretches.size())
        Appendf(text, " and %zu more of %.0f ms or longer\n", demand.stretches.size() - shown, Ms(profile.intervalNs));
    if (demand.shortStretches > 0)
        Appendf(text, " %llu shorter than %.0f ms, %.3f ms in all\n",
                static_cast<unsigned long long>(demand.shortStretches), Ms(profile.intervalNs),
                Ms(demand.shortStretchNs));
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
    if (summary.demand.known)
        Appendf(text, " %s\n\n", summary.demand.verdict.c_str());
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
    Histogram(text, "threads on a processor", summary.levelHundredths);
    if (summary.demand.known)
        DemandFigures(text, profile, summary);
    TopThreads(text, profile, summary);
    if (summary.demand.known) {
        Totals(text, profile, summary);
        SerialStretches(text, profile, facts);
    }
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
