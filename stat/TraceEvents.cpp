#include "Reports.h"
#include "Text.h"

#include <cstdio>
#include <cstdlib>
#include <map>

// The trace event format that Perfetto, chrome://tracing and speedscope
// read: one event a line, times in microseconds from the command's start.
// Each thread is a track of slices (on CPU with its processor, waiting for
// a processor, asleep); two counters give the threads on a processor and
// the runnable threads, averaged over each interval window; a track of its
// own holds the serial stretches.

namespace {

const char* StateName(ThreadState state)
{
    switch (state) {
    case ThreadState::OnCpu: return "on CPU";
    case ThreadState::Waiting: return "waiting for a processor";
    case ThreadState::Asleep: return "asleep";
    }
    return "";
}

double Us(std::uint64_t ns)
{
    return static_cast<double>(ns) / 1e3;
}

// As a viewer reads "%.3f" microseconds back.
double ReadBack(std::uint64_t ns)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", Us(ns));
    return std::strtod(text, nullptr);
}

// Viewers add ts and dur in doubles: where that overshoots the stretch's
// end, the thread's next stretch would look nested in this one, so the
// duration is given 1 ns short.
std::uint64_t DurationNs(std::uint64_t startNs, std::uint64_t endNs)
{
    const std::uint64_t ns = endNs - startNs;
    return ReadBack(startNs) + ReadBack(ns) > ReadBack(endNs) ? ns - 1 : ns;
}

void Names(std::string& text, const Profile& profile)
{
    std::map<int, std::string> processes;  // by pid: its leader's name, else its first thread's
    for (const ThreadProfile& thread : profile.threads)
        if (thread.tid == thread.pid || !processes.count(thread.pid))
            processes[thread.pid] = thread.name;
    for (const auto& [pid, name] : processes)
        Appendf(text, "{\"ph\":\"M\",\"name\":\"process_name\",\"pid\":%d,\"tid\":%d,\"ts\":0,\"args\":{\"name\":%s}},\n",
                pid, pid, JsonQuoted(name).c_str());
    for (const ThreadProfile& thread : profile.threads)
        Appendf(text, "{\"ph\":\"M\",\"name\":\"thread_name\",\"pid\":%d,\"tid\":%d,\"ts\":0,\"args\":{\"name\":%s}},\n",
                thread.pid, thread.tid, JsonQuoted(thread.name).c_str());
}

void Slices(std::string& text, const Profile& profile)
{
    for (const ThreadStretch& s : profile.stretches.stretches) {
        Appendf(text, "{\"ph\":\"X\",\"name\":\"%s\",\"pid\":%d,\"tid\":%d,\"ts\":%.3f,\"dur\":%.3f", StateName(s.state),
                s.pid, s.tid, Us(s.startNs - profile.startNs),
                Us(DurationNs(s.startNs - profile.startNs, s.endNs - profile.startNs)));
        text += s.cpu >= 0 ? ",\"args\":{\"cpu\":" + std::to_string(s.cpu) + "}},\n" : "},\n";
    }
}

// Where the trace stops holding every stretch, as a marker across all tracks.
void Markers(std::string& text, const Profile& profile)
{
    if (profile.stretches.leftOut > 0)
        Appendf(text, "{\"ph\":\"i\",\"s\":\"g\",\"name\":\"trace full: %llu later stretches left out\",\"pid\":0,"
                      "\"tid\":0,\"ts\":%.3f},\n",
                static_cast<unsigned long long>(profile.stretches.leftOut),
                Us(profile.stretches.completeUntilNs - profile.startNs));
}

// The serial stretches, a slice each on a track of their own in the first
// process (tid 0, which no thread has), named after the thread that ran
// longest in each. They never overlap, so the track stays flat.
void SerialStretches(std::string& text, const Profile& profile, int pid)
{
    if (profile.demand.stretches.empty())
        return;
    Appendf(text, "{\"ph\":\"M\",\"name\":\"thread_name\",\"pid\":%d,\"tid\":0,\"ts\":0,"
                  "\"args\":{\"name\":\"serial stretches\"}},\n",
            pid);
    for (const SerialStretch& stretch : profile.demand.stretches) {
        Appendf(text, "{\"ph\":\"X\",\"name\":\"serial stretch\",\"pid\":%d,\"tid\":0,\"ts\":%.3f,\"dur\":%.3f", pid,
                Us(stretch.startNs), Us(DurationNs(stretch.startNs, stretch.endNs)));
        if (stretch.ran) {
            const ThreadProfile& serial = profile.threads[stretch.serial];
            Appendf(text, ",\"args\":{\"tid\":%d,\"name\":%s,\"others\":%zu}", serial.tid,
                    JsonQuoted(serial.name).c_str(), stretch.others);
        }
        text += "},\n";
    }
}

void Counters(std::string& text, const Profile& profile, int pid)
{
    std::vector<std::uint64_t> waiting(profile.windows.size(), 0);
    for (const ThreadProfile& thread : profile.threads)
        for (const WindowShare& share : thread.windows)
            waiting[share.window] += share.waitingNs;
    const auto counter = [&](const char* name, std::uint64_t atNs, double value) {
        Appendf(text, "{\"ph\":\"C\",\"name\":\"%s\",\"pid\":%d,\"tid\":%d,\"ts\":%.3f,\"args\":{\"threads\":%.3f}},\n",
                name, pid, pid, Us(atNs), value);
    };
    for (std::size_t i = 0; i < profile.windows.size(); ++i) {
        const WindowProfile& window = profile.windows[i];
        const double length = static_cast<double>(window.lengthNs);
        counter("threads on a processor", window.startNs, static_cast<double>(window.onCpuNs) / length);
        counter("runnable threads", window.startNs, static_cast<double>(window.onCpuNs + waiting[i]) / length);
    }
    counter("threads on a processor", profile.ElapsedNs(), 0);
    counter("runnable threads", profile.ElapsedNs(), 0);
}

} // namespace

std::string TraceEvents(const Profile& profile, const RunFacts& facts)
{
    std::string text = "{\"displayTimeUnit\":\"ms\",\"otherData\":{\"command\":" + JsonQuoted(CommandText(facts));
    Appendf(text, ",\"exact\":%s,\"stretches_left_out\":%llu", Summarize(profile, facts).exact ? "true" : "false",
            static_cast<unsigned long long>(profile.stretches.leftOut));
    if (profile.stretches.leftOut > 0)
        Appendf(text, ",\"complete_until_us\":%.3f", Us(profile.stretches.completeUntilNs - profile.startNs));
    text += "},\n";
    text += "\"traceEvents\":[\n";
    Names(text, profile);
    Slices(text, profile);
    Markers(text, profile);
    const int root = profile.threads.empty() ? 0 : profile.threads.front().pid;
    SerialStretches(text, profile, root);
    Counters(text, profile, root);
    text.resize(text.size() - 2);  // the last event's ",\n"
    return text + "\n]}\n";
}
