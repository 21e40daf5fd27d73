#include "Reports.h"
#include "Text.h"

#include <algorithm>

namespace {

std::string Quoted(const std::string& value)
{
    std::string text = "\"";
    for (const unsigned char c : ValidUtf8(value)) {
        if (c == '"' || c == '\\')
            text += {'\\', static_cast<char>(c)};
        else if (c < 0x20)
            Appendf(text, "\\u%04x", c);
        else
            text += static_cast<char>(c);
    }
    return text + "\"";
}

void Command(std::string& text, const RunFacts& facts)
{
    text += "  \"command\": [";
    for (std::size_t i = 0; i < facts.command.size(); ++i)
        text += (i ? ", " : "") + Quoted(facts.command[i]);
    text += "],\n";
}

void Concurrency(std::string& text, const Summary& summary)
{
    text += "  \"concurrency\": [\n";
    for (std::size_t level = 0; level < summary.levelHundredths.size(); ++level)
        Appendf(text, "    {\"level\": %zu, \"percent\": %.2f}%s\n", level, summary.levelHundredths[level] / 100.0,
                level + 1 < summary.levelHundredths.size() ? "," : "");
    text += "  ],\n";
}

// With the records, a thread's waiting includes the kernel's own run-queue
// wait where it could be read, and on-CPU, waiting and blocked add up to the
// lifetime.
void Threads(std::string& text, const Profile& profile, const Summary& summary)
{
    text += "  \"threads\": [\n";
    for (std::size_t i = 0; i < profile.threads.size(); ++i) {
        const ThreadProfile& thread = profile.threads[i];
        const bool known = summary.demand.known && i < profile.demand.threads.size();
        const ThreadDemand& life = known ? profile.demand.threads[i] : ThreadDemand{};
        Appendf(text, "    {\"tid\": %d, \"pid\": %d, \"name\": %s, \"on_cpu_ms\": %.3f, \"waiting_ms\": %.3f, ",
                thread.tid, thread.pid, Quoted(thread.name).c_str(), Ms(thread.onCpuNs),
                Ms(known ? life.waitingNs : thread.waitingNs));
        if (known)
            Appendf(text, "\"blocked_ms\": %.3f, \"waiting_from\": \"%s\", \"hand_overs\": %llu, "
                          "\"hand_overs_per_second\": %.1f, ",
                    Ms(life.blockedNs), life.kernelWait ? "kernel" : "records",
                    static_cast<unsigned long long>(life.blockingSwitchOuts), HandOversPerSecond(life));
        Appendf(text, "\"lifetime_ms\": %.3f}%s\n", Ms(thread.LifetimeNs()), i + 1 < profile.threads.size() ? "," : "");
    }
    text += "  ],\n";
}

void Stretches(std::string& text, const Profile& profile, const RunFacts& facts)
{
    const Demand& demand = profile.demand;
    const std::size_t shown = std::min(facts.stretches, demand.stretches.size());
    text += "  \"serial_stretches\": {\"longest\": [";
    for (std::size_t i = 0; i < shown; ++i) {
        const SerialStretch& stretch = demand.stretches[i];
        Appendf(text, "%s\n    {\"start_ms\": %.3f, \"end_ms\": %.3f, \"length_ms\": %.3f, ", i ? "," : "",
                Ms(stretch.startNs), Ms(stretch.endNs), Ms(stretch.LengthNs()));
        if (stretch.ran)
            Appendf(text, "\"tid\": %d, \"name\": %s, \"others\": %zu}", profile.threads[stretch.serial].tid,
                    Quoted(profile.threads[stretch.serial].name).c_str(), stretch.others);
        else
            text += "\"tid\": null, \"name\": null, \"others\": 0}";
    }
    Appendf(text, "%s], \"more\": %zu, \"shorter_than_interval\": %llu, \"shorter_ms\": %.3f},\n",
            shown ? "\n  " : "", demand.stretches.size() - shown,
            static_cast<unsigned long long>(demand.shortStretches), Ms(demand.shortStretchNs));
}

// Why not more parallel: present only when the records were read.
void WhyNotMore(std::string& text, const Profile& profile, const Summary& summary, const RunFacts& facts)
{
    const DemandSummary& demand = summary.demand;
    if (!demand.known)
        return;
    Appendf(text, "  \"verdict\": {\"limit\": \"%s\", \"shape\": \"%s\", \"text\": %s},\n", LimitName(demand.limit),
            LimitName(demand.shape), Quoted(demand.verdict).c_str());
    text += "  \"runnable\": [\n";
    for (std::size_t level = 0; level < demand.runnableHundredths.size(); ++level)
        Appendf(text, "    {\"level\": %zu, \"percent\": %.2f}%s\n", level, demand.runnableHundredths[level] / 100.0,
                level + 1 < demand.runnableHundredths.size() ? "," : "");
    text += "  ],\n";
    Appendf(text, "  \"starved_percent\": %.2f,\n", demand.starvedPercent);
    Appendf(text, "  \"oversubscribed_percent\": %.2f,\n", demand.oversubscribedPercent);
    Appendf(text, "  \"waiting_percent_of_runnable\": %.2f,\n", demand.waitingPercent);
    Appendf(text, "  \"speedup_ceiling\": {\"unlimited\": %.2f, \"processors\": %.2f},\n", demand.unlimitedCeiling,
            demand.machineCeiling);
    Appendf(text, "  \"usable_processors\": %u,\n", profile.demand.processors);
    Appendf(text,
            "  \"totals\": {\"on_cpu_ms\": %.3f, \"waiting_ms\": %.3f, \"blocked_ms\": %.3f, \"lifetime_ms\": %.3f, "
            "\"hand_overs_per_second\": %.1f, \"threads_waiting_from_records\": %zu},\n",
            Ms(demand.onCpuNs), Ms(demand.waitingNs), Ms(demand.blockedNs), Ms(demand.lifetimeNs),
            demand.handOversPerSecond, profile.demand.threadsWithoutKernelWait);
    Stretches(text, profile, facts);
}

std::string InexactReason(const Profile& profile, const RunFacts& facts)
{
    if (!facts.fromRecords)
        return "sampled from /proc";
    if (profile.lostRecords > 0)
        return std::to_string(profile.lostRecords) + " context-switch records lost";
    return profile.kernelClock.reason;
}

} // namespace

std::string JsonQuoted(const std::string& value)
{
    return Quoted(value);
}

std::string JsonReport(const Profile& profile, const Summary& summary, const RunFacts& facts)
{
    std::string text = "{\n";
    Command(text, facts);
    text += facts.jsonMembers;
    Appendf(text, "  \"exit_status\": %d,\n", facts.exitStatus);
    text += "  \"signal\": " + (facts.signal ? Quoted(SignalName(facts.signal)) : std::string("null")) + ",\n";
    Appendf(text, "  \"exact\": %s,\n", summary.exact ? "true" : "false");
    text += "  \"inexact_reason\": " + (summary.exact ? std::string("null") : Quoted(InexactReason(profile, facts))) + ",\n";
    Appendf(text, "  \"exact_totals\": %s,\n", summary.exactTotals ? "true" : "false");
    Appendf(text, "  \"elapsed_ms\": %.3f,\n", summary.elapsedMs);
    Appendf(text, "  \"cpu_percent\": {\"avg\": %.2f, \"min\": %.2f, \"max\": %.2f},\n", summary.cpuAvg,
            summary.cpuMin, summary.cpuMax);
    Appendf(text, "  \"parallel_time_percent\": %.2f,\n", summary.parallelHundredths / 100.0);
    Appendf(text, "  \"average_concurrency\": %.3f,\n", summary.averageConcurrency);
    Concurrency(text, summary);
    Threads(text, profile, summary);
    WhyNotMore(text, profile, summary, facts);
    Appendf(text, "  \"processes\": %u,\n", profile.processes);
    Appendf(text, "  \"processors\": {\"allowed\": %u, \"online\": %u", facts.processorsAllowed,
            facts.processorsOnline);
    if (facts.idleNs)
        Appendf(text, ", \"idle_ms\": %.3f", Ms(*facts.idleNs));
    text += "},\n";
    Appendf(text, "  \"interval_ms\": %.0f,\n", Ms(profile.intervalNs));
    Appendf(text, "  \"lost_records\": %llu\n", static_cast<unsigned long long>(profile.lostRecords));
    return text + "}\n";
}
