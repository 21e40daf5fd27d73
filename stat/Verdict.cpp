#include "Verdict.h"

#include "Summary.h"
#include "Text.h"

#include <algorithm>

namespace {

// A thread that waits a fifth of the time it wants a processor runs at most
// four fifths of its speed: worth saying before anything else, once the
// waits add up to a tenth of the run (a program that mostly sleeps is not
// starved by a few late wake-ups).
constexpr double STARVED_WAITING = 0.20;
constexpr double STARVED_OF_ELAPSED = 0.10;
// One thread alone on a processor for half the run: the rest cannot halve it.
constexpr double SERIAL_ALONE = 0.50;
// At most one thread on a processor for half the run, no single thread
// alone that long: the threads take turns, or sleep.
constexpr double BLOCKED_AT_MOST_ONE = 0.50;

double Ratio(std::uint64_t part, std::uint64_t whole)
{
    return whole == 0 ? 0 : static_cast<double>(part) / static_cast<double>(whole);
}

double Ceiling(std::uint64_t elapsedNs, std::uint64_t shrunkNs)
{
    return shrunkNs == 0 ? 1 : std::max(1.0, static_cast<double>(elapsedNs) / static_cast<double>(shrunkNs));
}

std::string Starved(const DemandSummary& demand, unsigned processors)
{
    std::string line;
    Appendf(line, "starved: its threads waited for a processor %.0f %% of their runnable time; ",
            demand.waitingPercent);
    if (processors > 0 && demand.oversubscribedPercent >= demand.starvedPercent / 2)
        Appendf(line, "more of them wanted one than its %u processor%s: the limit "
                      "(one for each runnable thread: up to %.2fx faster)",
                processors, processors == 1 ? "" : "s", demand.unlimitedCeiling);
    else
        Appendf(line, "other programs held the processors (without them: up to %.2fx faster)",
                demand.machineCeiling);
    return line;
}

std::string Serial(const Profile& profile, const DemandSummary& demand, std::size_t alone, double share)
{
    const ThreadProfile& thread = profile.threads[alone];
    std::string line;
    Appendf(line, "serial: one thread (%d %s) ran alone %.0f %% of the time; more processors cannot make it ",
            thread.tid, thread.name.c_str(), 100 * share);
    if (demand.unlimitedCeiling < 1.005)
        line += "faster";
    else
        Appendf(line, "more than %.2fx faster", demand.unlimitedCeiling);
    if (!profile.demand.stretches.empty())
        line += " - see the serial stretches";
    return line;
}

std::string Blocked(const Profile& profile, const DemandSummary& demand)
{
    const std::uint64_t elapsed = profile.ElapsedNs();
    const std::uint64_t none = profile.levelNs[0];
    const std::uint64_t one = profile.levelNs.size() > 1 ? profile.levelNs[1] : 0;
    std::string line;
    if (none >= one)
        Appendf(line, "blocked: no thread was on a processor %.0f %% of the time (asleep, or waiting for I/O or "
                      "for each other)",
                Percent(none, elapsed));
    else
        Appendf(line, "blocked: its threads took turns, one on a processor %.0f %% of the time while the others "
                      "were blocked, handing over %.0f times a second",
                Percent(one, elapsed), demand.handOversPerSecond);
    Appendf(line, "; more processors cannot make it more than %.2fx faster", demand.unlimitedCeiling);
    return line;
}

std::string Parallel(const Profile& profile, const DemandSummary& demand)
{
    std::uint64_t parallel = 0;
    for (std::size_t level = 2; level < profile.levelNs.size(); ++level)
        parallel += profile.levelNs[level];
    std::string line;
    Appendf(line, "parallel: 2 or more threads on a processor %.0f %% of the time; a processor for each runnable "
                  "thread would make it at most %.2fx faster",
            Percent(parallel, profile.ElapsedNs()), demand.unlimitedCeiling);
    return line;
}

void Judge(const Profile& profile, DemandSummary& demand)
{
    const std::uint64_t elapsed = profile.ElapsedNs();
    std::size_t alone = 0;
    for (std::size_t i = 0; i < profile.demand.threads.size(); ++i)
        if (profile.demand.threads[i].aloneNs > profile.demand.threads[alone].aloneNs)
            alone = i;
    const double aloneShare =
        profile.demand.threads.empty() ? 0 : Ratio(profile.demand.threads[alone].aloneNs, elapsed);
    const std::uint64_t atMostOne = profile.levelNs[0] + (profile.levelNs.size() > 1 ? profile.levelNs[1] : 0);
    if (Ratio(demand.waitingNs, demand.onCpuNs + demand.waitingNs) >= STARVED_WAITING &&
        Ratio(demand.waitingNs, elapsed) >= STARVED_OF_ELAPSED) {
        demand.limit = Limit::Starved;
        demand.verdict = Starved(demand, profile.demand.processors);
    } else if (aloneShare >= SERIAL_ALONE) {
        demand.limit = Limit::Serial;
        demand.verdict = Serial(profile, demand, alone, aloneShare);
    } else if (Ratio(atMostOne, elapsed) >= BLOCKED_AT_MOST_ONE) {
        demand.limit = Limit::Blocked;
        demand.verdict = Blocked(profile, demand);
    } else {
        demand.limit = Limit::Parallel;
        demand.verdict = Parallel(profile, demand);
    }
}

} // namespace

const char* LimitName(Limit limit)
{
    switch (limit) {
    case Limit::Serial: return "serial";
    case Limit::Starved: return "starved";
    case Limit::Blocked: return "blocked";
    case Limit::Parallel: return "parallel";
    }
    return "";
}

double HandOversPerSecond(const ThreadDemand& thread)
{
    return thread.lifetimeNs == 0 ? 0 : static_cast<double>(thread.blockingSwitchOuts) * 1e9 /
                                            static_cast<double>(thread.lifetimeNs);
}

DemandSummary SummarizeDemand(const Profile& profile, bool fromRecords)
{
    DemandSummary demand;
    const Demand& figures = profile.demand;
    const std::uint64_t elapsed = profile.ElapsedNs();
    demand.known = fromRecords && !profile.levelNs.empty();
    if (!demand.known)
        return demand;
    demand.runnableHundredths = HundredthsOf(figures.levelNs, elapsed);
    demand.starvedPercent = Percent(figures.starvedNs, elapsed);
    demand.oversubscribedPercent = Percent(figures.oversubscribedNs, elapsed);
    demand.unlimitedCeiling = Ceiling(elapsed, figures.unlimitedNs);
    demand.machineCeiling = Ceiling(elapsed, figures.machineNs);
    std::uint64_t handOvers = 0;
    for (const ThreadDemand& thread : figures.threads) {
        demand.onCpuNs += thread.onCpuNs;
        demand.waitingNs += thread.waitingNs;
        demand.blockedNs += thread.blockedNs;
        demand.lifetimeNs += thread.lifetimeNs;
        handOvers += thread.blockingSwitchOuts;
    }
    demand.waitingPercent = Percent(demand.waitingNs, demand.onCpuNs + demand.waitingNs);
    demand.handOversPerSecond = elapsed == 0 ? 0 : static_cast<double>(handOvers) * 1e9 / static_cast<double>(elapsed);
    Judge(profile, demand);
    return demand;
}
