// quorvex-exact-levels: the share of samples at each concurrency level (the
// number of a process's threads on a processor at once), as quorvex's counter
// service sees it or as a kernel scheduler trace shows it, so that the two
// can be held side by side (compare_with_perf_sched.sh).
//
//   sample [options] PROGRAM [ARG...]   starts PROGRAM as quorvex starts a
//                                       target and samples the "Thread State"
//                                       counters of its threads
//   trace --pid PID [options]           reads `perf script` sched_switch
//                                       lines of a trace from standard input
//                                       (PID: the process in the trace)
// options:
//   --interval-ms N   sampling interval (default 10)
//   --phase-ms N      also give the shares per span of N ms (the demo's phases)
//   --proc            sample: the /proc estimate instead of the context-switch
//                     records (QUORVEX_THREAD_STATES=proc)
//   --instants FILE   sample: write the process id, each instant and its
//                     level there; trace: sample the trace at those instants
//                     instead, for that process, and count the agreements
//   --weighted        trace: the share of the time at each level from the
//                     process's first to its last appearance, not of samples
//                     (what quorvex-stat gives)

#include "CommandLine.h"
#include "LevelHistogram.h"
#include "Pdh.h"
#include "Process.h"
#include "SwitchRecordTracker.h"
#include "Timing.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string mode;
    int intervalMs = 10;
    int phaseMs = 0;
    bool proc = false;
    bool weighted = false;
    std::string instantsFile;
    int pid = 0;
    std::vector<std::string> program;
};

struct Level {
    std::uint64_t instantNs;
    int level;
};

// Counters for as many thread numbers as the dialog watches; those beyond the
// process's threads fail to read and count as not running.
constexpr int WATCHED_THREADS = 200;

// Levels 0 .. the highest seen, in per cent of the samples, then the share
// at two or more ("Parallel Time").
void PrintTable(const char* title, const std::vector<Level>& levels, std::uint64_t startNs, int phaseMs, int maxLevel)
{
    std::map<int, std::vector<int>> spans;  // -1: the whole run
    for (const Level& l : levels) {
        spans[-1].push_back(l.level);
        if (phaseMs > 0)
            spans[static_cast<int>((l.instantNs - startNs) / (phaseMs * 1'000'000ULL))].push_back(l.level);
    }
    std::printf("%s\n%-6s %6s", title, "span", "n");
    for (int level = 0; level <= maxLevel; ++level)
        std::printf("  L%-5d", level);
    std::printf("  Parallel\n");
    for (const auto& [span, values] : spans) {
        std::printf("%-6s %6zu", span < 0 ? "all" : std::to_string(span + 1).c_str(), values.size());
        const double n = static_cast<double>(values.size());
        for (int level = 0; level <= maxLevel; ++level)
            std::printf("  %6.2f", 100.0 * static_cast<double>(std::count(values.begin(), values.end(), level)) / n);
        std::printf("  %6.2f\n",
                    100.0 * static_cast<double>(std::count_if(values.begin(), values.end(), [](int v) { return v >= 2; })) /
                        n);
    }
    std::printf("\n");
}

int MaxLevel(const std::vector<Level>& levels)
{
    int max = 0;
    for (const Level& l : levels)
        max = std::max(max, l.level);
    return max;
}

// The number of watched threads running at the collection just made.
int RunningThreads(const std::vector<PDH_HCOUNTER>& states)
{
    int running = 0;
    for (PDH_HCOUNTER state : states) {
        PDH_FMT_COUNTERVALUE value;
        running += PdhGetFormattedCounterValue(state, PDH_FMT_DOUBLE, nullptr, &value) == ERROR_SUCCESS &&
                   value.doubleValue == THREAD_STATE_RUNNING;
    }
    return running;
}

bool Start(const std::vector<std::string>& program, PROCESS_INFORMATION& pi)
{
    STARTUPINFOA startupInfo = {};
    startupInfo.cb = sizeof startupInfo;
    std::string commandLine = JoinCommandLine(program);
    return CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startupInfo, &pi);
}

int Sample(const Options& options)
{
    if (options.proc)
        setenv("QUORVEX_THREAD_STATES", "proc", 1);
    PDH_HQUERY query;
    PdhOpenQueryA(nullptr, 0, &query);
    std::vector<PDH_HCOUNTER> states(WATCHED_THREADS);
    const std::string instance = InstanceName(options.program[0]);
    for (int i = 0; i < WATCHED_THREADS; ++i) {
        const std::string path = "\\Thread(" + instance + "/" + std::to_string(i) + ")\\Thread State";
        PdhAddCounterA(query, path.c_str(), 0, &states[static_cast<size_t>(i)]);
    }
    PROCESS_INFORMATION pi = {};
    if (!Start(options.program, pi)) {
        std::fprintf(stderr, "cannot start %s\n", options.program[0].c_str());
        PdhCloseQuery(query);
        return 1;
    }
    PdhBindQueryToProcess(query, pi.hProcess);
    const std::uint64_t start = MonotonicNowNs();
    std::vector<Level> levels;
    for (;;) {
        const std::uint64_t instant = MonotonicNowNs() + std::uint64_t(options.intervalMs) * 1000000;
        Sleep(static_cast<DWORD>(options.intervalMs));
        if (PdhCollectQueryDataAt(query, static_cast<LONGLONG>(instant)) != ERROR_SUCCESS)
            break;
        // The records are read just before the sleep's end, /proc at the collection.
        levels.push_back({options.proc ? instant : ReadingInstant(instant), RunningThreads(states)});
    }
    PdhCloseQuery(query);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (levels.empty()) {
        std::fprintf(stderr, "%s ended before the first sample\n", options.program[0].c_str());
        return 1;
    }
    PrintTable(options.proc ? "/proc state R" : "quorvex's thread states", levels, start, options.phaseMs,
               MaxLevel(levels));
    if (!options.instantsFile.empty()) {
        std::ofstream file(options.instantsFile);
        file << start << " " << pi.dwProcessId << "\n";
        for (const Level& l : levels)
            file << l.instantNs << " " << l.level << "\n";
    }
    return 0;
}

// What a trace line tells: from timeNs on, processor cpu runs task tid.
struct Occupant {
    std::uint64_t timeNs;
    int cpu;
    int tid;
};

int FieldAfter(const std::string& line, const char* key)
{
    const size_t at = line.find(key);
    return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + std::strlen(key));
}

// Lines of `perf script --ns -F pid,tid,cpu,time,event,trace`. A line names
// the task current on its processor; a sched_switch line the task switched
// to. Every line counts, not only the switches: a switch made by a task that
// the trace cannot name (one of another pid namespace, in a container) is
// missing, and the next line from that processor mends it. The tids of the
// process are those that appear as its current task.
std::vector<Occupant> ReadOccupants(std::istream& in, int pid, std::set<int>& tids)
{
    std::vector<Occupant> occupants;
    std::string line;
    tids.insert(pid);
    while (std::getline(in, line)) {
        int linePid = 0;
        int lineTid = 0;
        int cpu = 0;
        double seconds = 0;
        if (std::sscanf(line.c_str(), " %d/%d [%d] %lf:", &linePid, &lineTid, &cpu, &seconds) != 4)
            continue;
        if (linePid == pid)
            tids.insert(lineTid);
        const bool isSwitch = line.find("sched:sched_switch:") != std::string::npos;
        occupants.push_back({static_cast<std::uint64_t>(seconds * 1e9 + 0.5), cpu,
                             isSwitch ? FieldAfter(line, " next_pid=") : lineTid});
    }
    std::stable_sort(occupants.begin(), occupants.end(),
                     [](const Occupant& a, const Occupant& b) { return a.timeNs < b.timeNs; });
    return occupants;
}

// Levels weighted by time over [first, last]: between two trace lines the
// processors' occupants stand still.
void PrintWeighted(const std::vector<Occupant>& occupants, const std::set<int>& tids, std::uint64_t first,
                   std::uint64_t last)
{
    std::map<int, int> current;  // by processor
    LevelHistogram levels(first);
    for (const Occupant& o : occupants) {
        current[o.cpu] = o.tid;
        if (o.timeNs >= first && o.timeNs < last)
            levels.Set(static_cast<std::size_t>(std::count_if(current.begin(), current.end(),
                                                              [&](const auto& c) { return tids.count(c.second) > 0; })),
                       o.timeNs);
    }
    levels.AdvanceTo(last);
    std::printf("perf sched trace, time-weighted over %.3f ms\n", static_cast<double>(last - first) / 1e6);
    const auto percent = [&](std::uint64_t ns) { return 100.0 * static_cast<double>(ns) / static_cast<double>(last - first); };
    for (std::size_t level = 0; level < levels.LevelNs().size(); ++level)
        std::printf("  level %zu: %6.2f %%\n", level, percent(levels.LevelNs()[level]));
    std::printf("  Parallel Time: %6.2f %%\n", percent(levels.AtLeastNs(2)));
}

int Trace(const Options& options)
{
    std::vector<std::uint64_t> instants;
    std::vector<int> recorded;
    std::uint64_t start = 0;
    int pid = options.pid;
    if (!options.instantsFile.empty()) {
        std::ifstream file(options.instantsFile);
        file >> start >> pid;
        std::uint64_t instant;
        int level;
        while (file >> instant >> level) {
            instants.push_back(instant);
            recorded.push_back(level);
        }
    }
    std::set<int> tids;
    const std::vector<Occupant> occupants = ReadOccupants(std::cin, pid, tids);
    const auto ofProcess = [&](const Occupant& o) { return tids.count(o.tid) > 0; };
    if (instants.empty()) {
        const auto first = std::find_if(occupants.begin(), occupants.end(), ofProcess);
        const auto last = std::find_if(occupants.rbegin(), occupants.rend(), ofProcess);
        if (first == occupants.end()) {
            std::fprintf(stderr, "process %d does not run in the trace\n", pid);
            return 1;
        }
        start = first->timeNs;
        if (options.weighted) {
            PrintWeighted(occupants, tids, first->timeNs, last->timeNs);
            return 0;
        }
        for (std::uint64_t t = start + options.intervalMs * 1'000'000ULL; t < last->timeNs; t += options.intervalMs * 1'000'000ULL)
            instants.push_back(t);
    }
    std::vector<Level> levels;
    std::map<int, int> current;  // by processor
    auto next = occupants.begin();
    for (std::uint64_t instant : instants) {
        for (; next != occupants.end() && next->timeNs <= instant; ++next)
            current[next->cpu] = next->tid;
        levels.push_back({instant, static_cast<int>(std::count_if(current.begin(), current.end(), [&](const auto& c) {
                              return tids.count(c.second) > 0;
                          }))});
    }
    PrintTable("perf sched trace", levels, start, options.phaseMs, MaxLevel(levels));
    if (!recorded.empty()) {
        size_t same = 0;
        for (size_t i = 0; i < levels.size(); ++i)
            same += levels[i].level == recorded[i];
        std::printf("same level at the same instant: %zu of %zu (%.2f%%)\n", same, levels.size(),
                    100.0 * static_cast<double>(same) / static_cast<double>(levels.size()));
    }
    return 0;
}

int Usage()
{
    std::fprintf(stderr, "usage: quorvex-exact-levels sample [--interval-ms N] [--phase-ms N] [--proc] "
                         "[--instants FILE] PROGRAM [ARG...]\n"
                         "       quorvex-exact-levels trace {--pid PID | --instants FILE} [--interval-ms N] "
                         "[--phase-ms N] [--weighted] < perf-script-output\n");
    return 2;
}

bool Parse(int argc, char** argv, Options& options)
{
    if (argc < 2)
        return false;
    options.mode = argv[1];
    int i = 2;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--interval-ms" && hasValue)
            options.intervalMs = std::atoi(argv[++i]);
        else if (arg == "--phase-ms" && hasValue)
            options.phaseMs = std::atoi(argv[++i]);
        else if (arg == "--instants" && hasValue)
            options.instantsFile = argv[++i];
        else if (arg == "--pid" && hasValue)
            options.pid = std::atoi(argv[++i]);
        else if (arg == "--proc")
            options.proc = true;
        else if (arg == "--weighted")
            options.weighted = true;
        else
            return false;
    }
    options.program.assign(argv + i, argv + argc);
    if (options.intervalMs <= 0)
        return false;
    return options.mode == "sample" ? !options.program.empty()
                                    : options.mode == "trace" && (options.pid > 0 || !options.instantsFile.empty());
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!Parse(argc, argv, options))
        return Usage();
    return options.mode == "sample" ? Sample(options) : Trace(options);
}
