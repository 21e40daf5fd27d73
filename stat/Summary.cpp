#include "Summary.h"

#include <algorithm>
#include <cstring>
#include <numeric>

double Ms(std::uint64_t ns)
{
    return static_cast<double>(ns) / 1e6;
}

double Percent(std::uint64_t part, std::uint64_t whole)
{
    return whole == 0 ? 0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}

std::string SignalName(int signal)
{
    const char* abbreviation = sigabbrev_np(signal);
    return abbreviation ? std::string("SIG") + abbreviation : std::to_string(signal);
}

std::vector<unsigned> HundredthsOf(const std::vector<std::uint64_t>& parts, std::uint64_t whole)
{
    std::vector<unsigned> shares(parts.size(), 0);
    if (whole == 0) {
        if (!shares.empty())
            shares[0] = 10000;
        return shares;
    }
    std::vector<std::pair<__uint128_t, std::size_t>> remainders;
    unsigned given = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const __uint128_t scaled = static_cast<__uint128_t>(parts[i]) * 10000;
        shares[i] = static_cast<unsigned>(scaled / whole);
        given += shares[i];
        remainders.push_back({scaled % whole, i});
    }
    std::stable_sort(remainders.begin(), remainders.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (std::size_t i = 0; given < 10000 && i < remainders.size(); ++i, ++given)
        ++shares[remainders[i].second];
    return shares;
}

namespace {

// Over every window, the last one over the time it lasted: the average is
// their mean weighted by length, so it lies between the two (the bounds are
// widened to it only where the windows do not cover the span exactly).
void CpuRange(const Profile& profile, Summary& summary)
{
    summary.cpuMin = summary.cpuMax = summary.cpuAvg;
    for (const WindowProfile& window : profile.windows) {
        if (window.lengthNs == 0)
            continue;
        const double cpu = Percent(window.onCpuNs, window.lengthNs);
        summary.cpuMin = std::min(summary.cpuMin, cpu);
        summary.cpuMax = std::max(summary.cpuMax, cpu);
    }
}

} // namespace

Summary Summarize(const Profile& profile, const RunFacts& facts)
{
    Summary summary;
    const std::uint64_t elapsed = profile.ElapsedNs();
    summary.elapsedMs = Ms(elapsed);
    summary.cpuAvg = Percent(profile.OnCpuNs(), elapsed);
    summary.averageConcurrency = summary.cpuAvg / 100;
    CpuRange(profile, summary);
    summary.levelHundredths = HundredthsOf(profile.levelNs, elapsed);
    if (summary.levelHundredths.size() > 2)
        summary.parallelHundredths =
            std::accumulate(summary.levelHundredths.begin() + 2, summary.levelHundredths.end(), 0u);
    summary.exact = facts.fromRecords && profile.lostRecords == 0 && profile.kernelClock.reason.empty();
    summary.demand = SummarizeDemand(profile, facts.fromRecords, facts.idleNs);
    // From /proc the counters are the kernel's own; only the histogram is sampled.
    summary.exactTotals = !facts.fromRecords || summary.exact;
    return summary;
}
