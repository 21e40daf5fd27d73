#include "Reports.h"
#include "Text.h"

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

void Threads(std::string& text, const Profile& profile)
{
    text += "  \"threads\": [\n";
    for (std::size_t i = 0; i < profile.threads.size(); ++i) {
        const ThreadProfile& thread = profile.threads[i];
        Appendf(text,
                "    {\"tid\": %d, \"pid\": %d, \"name\": %s, \"on_cpu_ms\": %.3f, \"waiting_ms\": %.3f, "
                "\"lifetime_ms\": %.3f}%s\n",
                thread.tid, thread.pid, Quoted(thread.name).c_str(), Ms(thread.onCpuNs), Ms(thread.waitingNs),
                Ms(thread.LifetimeNs()), i + 1 < profile.threads.size() ? "," : "");
    }
    text += "  ],\n";
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
    Threads(text, profile);
    Appendf(text, "  \"processes\": %u,\n", profile.processes);
    Appendf(text, "  \"processors\": {\"allowed\": %u, \"online\": %u},\n", facts.processorsAllowed,
            facts.processorsOnline);
    Appendf(text, "  \"interval_ms\": %.0f,\n", Ms(profile.intervalNs));
    Appendf(text, "  \"lost_records\": %llu\n", static_cast<unsigned long long>(profile.lostRecords));
    return text + "}\n";
}
