#include "ClockCheck.h"

#include "Clock.h"
#include "Text.h"

#include <algorithm>
#include <cmath>

namespace {

double PercentApart(std::uint64_t recordsNs, std::uint64_t kernelNs)
{
    return kernelNs ? 100.0 * (static_cast<double>(recordsNs) - static_cast<double>(kernelNs)) /
                          static_cast<double>(kernelNs)
                    : 0;
}

// What the kernel charges and no record shows comes at wake-ups from idle or
// another program's run, and at exits: the shortfall for each tells whether
// that is all of it.
std::string TotalApart(std::uint64_t recordsNs, std::uint64_t kernelNs, std::uint64_t switchIns, std::size_t exits)
{
    const double apart = PercentApart(recordsNs, kernelNs);
    std::string reason;
    Appendf(reason, "the records' processor time is %.2f %% %s the kernel's own clock", std::fabs(apart),
            apart < 0 ? "below" : "above");
    if (recordsNs < kernelNs && switchIns + exits > 0)
        Appendf(reason,
                ", %.1f us for each of its %llu switch-ins not straight from another of its threads and %zu exits",
                static_cast<double>(kernelNs - recordsNs) / 1e3 / static_cast<double>(switchIns + exits),
                static_cast<unsigned long long>(switchIns), exits);
    return reason;
}

} // namespace

bool ClockCheck::Agrees(std::uint64_t recordsNs, std::uint64_t kernelNs, std::uint64_t switchIns,
                        std::uint64_t unseenNs)
{
    const std::uint64_t seenNs = recordsNs < kernelNs ? std::min(kernelNs, recordsNs + unseenNs) : recordsNs;
    const double apart = std::fabs(static_cast<double>(seenNs) - static_cast<double>(kernelNs));
    return apart <= KERNEL_CLOCK_TOLERANCE * static_cast<double>(kernelNs) +
                        static_cast<double>(KERNEL_CLOCK_SLACK_NS * (switchIns + 1));
}

std::uint64_t ClockCheck::ThreadCpuNs(int pid, int tid, const std::string& procRoot)
{
    SchedstatFiles files(procRoot);
    Schedstat figures;
    return files.Read(pid, tid, figures) ? figures.onCpuNs : 0;
}

void ClockCheck::Read(const ThreadStates& states, SchedstatFiles& files)
{
    m_readStartNs = MonotonicNowNs();
    m_readings.clear();
    for (const auto& [tid, thread] : states.Live()) {
        Schedstat figures;
        if (!files.Read(thread.pid, tid, figures))
            continue;
        const std::uint64_t held = thread.serial == 0 ? std::min(figures.onCpuNs, m_heldCpuNs) : 0;
        m_readings.push_back({thread.serial, tid, figures.onCpuNs - held});
    }
    m_readNs = MonotonicNowNs();
}

std::optional<std::uint64_t> ClockCheck::PendingNs() const
{
    return m_readings.empty() ? std::nullopt : std::optional<std::uint64_t>(m_readNs);
}

void ClockCheck::Compare(const ThreadStates& states)
{
    for (const Reading& reading : m_readings) {
        const auto live = states.Live().find(reading.tid);
        if (live == states.Live().end() || live->second.serial != reading.serial ||
            live->second.state == ThreadState::OnCpu || live->second.sinceNs > m_readStartNs)
            continue;
        Compared now{live->second.onCpuNs, reading.kernelNs, live->second.switchIns - live->second.directSwitchIns,
                     live->second.firstRunDelayNs};
        if (reading.serial < m_runningBefore) {
            const auto [baseline, first] = m_baselines.try_emplace(reading.serial, now);
            if (first)
                continue;
            now = {now.recordsNs - baseline->second.recordsNs, now.kernelNs - baseline->second.kernelNs,
                   now.switchIns - baseline->second.switchIns, 0};
        }
        m_compared[reading.serial] = now;
    }
    m_readings.clear();
}

void ClockCheck::Finish(std::optional<std::uint64_t> kernelTotalNs, std::uint64_t switchIns, Profile& profile) const
{
    KernelClockCheck& check = profile.kernelClock;
    check.compared = true;
    for (const auto& [serial, compared] : m_compared) {
        ++check.threads;
        if (Agrees(compared.recordsNs, compared.kernelNs, compared.switchIns, compared.unseenNs))
            continue;
        ++check.threadsApart;
        const double apart = PercentApart(compared.recordsNs, compared.kernelNs);
        if (std::fabs(apart) > std::fabs(check.worstThreadPercent))
            check.worstThreadPercent = apart;
        const std::uint64_t apartNs = std::max(compared.recordsNs, compared.kernelNs) -
                                      std::min(compared.recordsNs, compared.kernelNs);
        check.worstThreadNs = std::max(check.worstThreadNs, apartNs);
    }
    const std::uint64_t recordsNs = profile.OnCpuNs();
    if (kernelTotalNs) {
        const std::uint64_t kernelNs = *kernelTotalNs - std::min(*kernelTotalNs, m_heldCpuNs);
        check.totalCompared = true;
        check.totalPercent = PercentApart(recordsNs, kernelNs);
        if (!Agrees(recordsNs, kernelNs, switchIns))
            check.reason = TotalApart(recordsNs, kernelNs, switchIns, profile.threads.size());
    }
    if (check.reason.empty() && check.threadsApart > 0)
        Appendf(check.reason, "%u of %u threads differ from the kernel's own clock, by up to %.2f %% (%.0f us at most)",
                check.threadsApart, check.threads, check.worstThreadPercent, static_cast<double>(check.worstThreadNs) / 1e3);
}
