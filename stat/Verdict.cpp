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
// The command's own shape, from the threads that wanted a processor, on the
// time the run would have taken with its processors to itself (a busy
// machine stretches the parallel parts most): one thread the only one
// wanting a processor for half of it is serial; at most one wanting for
// half of it, no single thread that long, is blocked (the threads take
// turns, or sleep).
constexpr double SERIAL_ALONE = 0.50;
constexpr double BLOCKED_AT_MOST_ONE = 0.50;
// Threads that block after less than 1 ms of processor time on average
// are paced by their hand-overs, however many of them wait to run (on a
// busy machine woken threads pile up runnable before they block again);
// a build's processes, blocking on their children and pipes every few
// milliseconds, are not.
constexpr double BLOCKED_PER_CPU_SECOND = 1000;

double Ratio(std::uint64_t part, std::uint64_t whole)
{
    return whole == 0 ? 0 : static_cast<double>(part) / static_cast<double>(whole);
}

double Ceiling(std::uint64_t longNs, std::uint64_t shortNs)
{
    return shortNs == 0 ? 1 : std::max(1.0, static_cast<double>(longNs) / static_cast<double>(shortNs));
}

// What more processors than its own would give: the span on its processors
// over the span with one for each thread that wanted one.
double BeyondItsProcessors(const Profile& profile)
{
    return Ceiling(profile.demand.machineNs, profile.demand.unlimitedNs);
}

std::string MoreProcessors(const Profile& profile)
{
    const double ceiling = BeyondItsProcessors(profile);
    std::string text = "more processors cannot make it ";
    if (ceiling < 1.005)
        return text + "faster";
    Appendf(text, "more than %.2fx faster", ceiling);
    return text;
}

std::string Serial(const Profile& profile, std::size_t alone)
{
    const ThreadProfile& thread = profile.threads[alone];
    std::string line;
    Appendf(line, "serial: one thread (%d %s) was the only one wanting a processor %.0f %% of the time; %s",
            thread.tid, thread.name.c_str(), Percent(profile.demand.threads[alone].aloneOwnNs, profile.demand.machineNs),
            MoreProcessors(profile).c_str());
    if (!profile.demand.stretches.empty())
        line += " - see the serial stretches";
    return line;
}

std::string Blocked(const Profile& profile, const DemandSummary& demand)
{
    const std::vector<std::uint64_t>& levels = profile.demand.ownLevelNs;
    const std::uint64_t span = profile.demand.machineNs;
    const std::uint64_t none = levels[0];
    const std::uint64_t one = levels.size() > 1 ? levels[1] : 0;
    std::string line;
    if (Ratio(none + one, span) < BLOCKED_AT_MOST_ONE)
        Appendf(line, "blocked: its threads blocked every %.2f ms of processor time on average, handing over %.0f "
                      "times a second",
                demand.handOversPerSecond > 0 ? Ms(demand.onCpuNs) * 1e3 / (demand.handOversPerSecond * Ms(profile.ElapsedNs())) : 0,
                demand.handOversPerSecond);
    else if (none >= one)
        Appendf(line, "blocked: no thread wanted a processor %.0f %% of the time (asleep, or waiting for I/O or for "
                      "each other)",
                Percent(none, span));
    else
        Appendf(line, "blocked: its threads took turns, one at a time %.0f %% of the time while the others were "
                      "blocked, handing over %.0f times a second",
                Percent(one, span), demand.handOversPerSecond);
    return line + "; " + MoreProcessors(profile);
}

std::string Parallel(const Profile& profile)
{
    std::uint64_t parallel = 0;
    for (std::size_t level = 2; level < profile.demand.ownLevelNs.size(); ++level)
        parallel += profile.demand.ownLevelNs[level];
    std::string line;
    Appendf(line, "parallel: 2 or more threads wanted a processor %.0f %% of the time; %s",
            Percent(parallel, profile.demand.machineNs), MoreProcessors(profile).c_str());
    return line;
}

// The command's own shape, whatever else ran on the machine.
Limit Shape(const Profile& profile, const DemandSummary& demand, std::string& line)
{
    const std::uint64_t elapsed = profile.ElapsedNs();
    const std::uint64_t span = profile.demand.machineNs;
    const std::vector<ThreadDemand>& threads = profile.demand.threads;
    std::size_t alone = 0;
    for (std::size_t i = 0; i < threads.size(); ++i)
        if (threads[i].aloneOwnNs > threads[alone].aloneOwnNs)
            alone = i;
    const std::vector<std::uint64_t>& levels = profile.demand.ownLevelNs;
    const std::uint64_t atMostOne = levels[0] + (levels.size() > 1 ? levels[1] : 0);
    if (!threads.empty() && Ratio(threads[alone].aloneOwnNs, span) >= SERIAL_ALONE) {
        line = Serial(profile, alone);
        return Limit::Serial;
    }
    const double handOvers = demand.handOversPerSecond * Ms(elapsed) / 1e3;
    if (Ratio(atMostOne, span) >= BLOCKED_AT_MOST_ONE ||
        handOvers >= BLOCKED_PER_CPU_SECOND * Ms(demand.onCpuNs) / 1e3) {
        line = Blocked(profile, demand);
        return Limit::Blocked;
    }
    line = Parallel(profile);
    return Limit::Parallel;
}

// The processor time other programs had of the processors it may use:
// theirs over the run, less their idle time and its own.
std::uint64_t OthersNs(const Profile& profile, std::uint64_t idleNs, std::uint64_t ownNs)
{
    const std::uint64_t all = profile.demand.processors * profile.ElapsedNs();
    return all - std::min(all, idleNs + ownNs);
}

void Judge(const Profile& profile, std::optional<std::uint64_t> idleNs, DemandSummary& demand)
{
    const unsigned processors = profile.demand.processors;
    std::string shape;
    demand.shape = Shape(profile, demand, shape);
    demand.limit = demand.shape;
    demand.verdict = shape;
    if (Ratio(demand.waitingNs, demand.onCpuNs + demand.waitingNs) < STARVED_WAITING ||
        Ratio(demand.waitingNs, profile.ElapsedNs()) < STARVED_OF_ELAPSED)
        return;
    const bool oversubscribed = processors > 0 && demand.oversubscribedPercent >= demand.starvedPercent / 2;
    // While no more of its threads want a processor than it may use, a thread
    // waits for one that another program holds; waits that other programs'
    // time cannot account for by half are the time woken threads take to get
    // onto a processor (a convoy on a quiet machine waits so at every hand-over).
    if (!oversubscribed && processors > 0 && idleNs && 2 * OthersNs(profile, *idleNs, demand.onCpuNs) < demand.waitingNs)
        return;
    demand.limit = Limit::Starved;
    demand.verdict.clear();
    Appendf(demand.verdict, "starved: its threads waited for a processor %.0f %% of their runnable time; ",
            demand.waitingPercent);
    if (oversubscribed)
        Appendf(demand.verdict, "more of them wanted one than its %u processor%s: the limit (one for each: up to "
                                "%.2fx faster)",
                processors, processors == 1 ? "" : "s", BeyondItsProcessors(profile));
    else
        Appendf(demand.verdict, "other programs held the processors (without them: up to %.2fx faster); otherwise %s",
                demand.machineCeiling, shape.c_str());
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

DemandSummary SummarizeDemand(const Profile& profile, bool fromRecords, std::optional<std::uint64_t> idleNs)
{
    DemandSummary demand;
    const Demand& figures = profile.demand;
    const std::uint64_t elapsed = profile.ElapsedNs();
    demand.known = fromRecords && !figures.levelNs.empty();
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
    Judge(profile, idleNs, demand);
    return demand;
}
