// What quorvex-stat costs the command it measures. Run it on an otherwise
// quiet machine:
//
//     ./build/bench/bench_stat [RUNS [MS]]
//
// For four workloads (200 threads that wake every 10 ms; ping-pong pairs
// that switch 100,000 times a second, and as fast as they can; four threads
// that count as fast as they can), RUNS pairs of runs (default 16) of MS each
// (default 2000): the workload alone, then under `quorvex-stat -c`. Printed:
// quorvex-stat's own processor time in percent of one processor (its user and
// system time, read from its zombie before it is reaped, so the workload's
// time is not in it; 10 ms ticks), the workload's switches per second, the
// records lost, and the workload's throughput under quorvex-stat against
// alone, as the median over the pairs.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct Ran {
    std::string out;
    double ownCpuMs = 0;  // the process itself, without its children
};

// Runs argv with standard output read back; the times are read from the
// process's zombie (fields 14 and 15 of its stat file) before it is reaped.
Ran Run(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0)
        std::exit(1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        std::exit(1);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    Ran ran;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        ran.out.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    siginfo_t info{};
    waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::vector<double> fields;
    std::size_t at = line.rfind(')') + 2;
    for (std::size_t next; (next = line.find(' ', at)) != std::string::npos; at = next + 1)
        fields.push_back(std::atof(line.c_str() + at));
    const double tickMs = 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    // fields[0] is the state, field 14 of the file is fields[11].
    ran.ownCpuMs = (fields[11] + fields[12]) * tickMs;
    waitpid(pid, nullptr, 0);
    return ran;
}

// A figure of the workload's last line: "work N switches M".
double Figure(const std::string& out, const std::string& name)
{
    const std::size_t at = out.rfind(name + " ");
    return at == std::string::npos ? 0 : std::atof(out.c_str() + at + name.size() + 1);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double JsonNumber(const std::string& path, const std::string& key)
{
    std::ifstream file(path);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::size_t at = text.find("\"" + key + "\": ");
    return at == std::string::npos ? -1 : std::atof(text.c_str() + at + key.size() + 4);
}

void Workload(const char* title, const std::vector<std::string>& load, int runs, int ms)
{
    const std::string json = "/tmp/bench_stat." + std::to_string(getpid()) + ".json";
    std::vector<double> ratios, own, switches;
    double lost = 0;
    for (int i = 0; i < runs; ++i) {
        const Ran alone = Run(load);
        std::vector<std::string> measured = {QUORVEX_STAT, "-c", "-o", "/dev/null", "--json", json, "--"};
        measured.insert(measured.end(), load.begin(), load.end());
        const Ran under = Run(measured);
        ratios.push_back(Figure(under.out, "work") / std::max(Figure(alone.out, "work"), 1.0));
        own.push_back(100 * under.ownCpuMs / ms);
        switches.push_back(Figure(under.out, "switches") * 1000 / ms);
        lost += JsonNumber(json, "lost_records");
    }
    std::remove(json.c_str());
    std::printf("%-26s %7.0f switches/s; own CPU %5.2f %% of a processor (max %5.2f %%); throughput %6.2f %% "
                "of alone; %.0f records lost in %d runs\n",
                title, Median(switches), Median(own), *std::max_element(own.begin(), own.end()), 100 * Median(ratios),
                lost, runs);
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 16;
    const int ms = argc > 2 ? std::atoi(argv[2]) : 2000;
    const std::string length = std::to_string(ms);
    Workload("200 threads, 10 ms ticks", {QUORVEX_SWITCH_LOAD, "ticking", "200", length}, runs, ms);
    Workload("ping-pong, 100k/s", {QUORVEX_SWITCH_LOAD, "pingpong", "2", length, "100000"}, runs, ms);
    Workload("ping-pong, flat out", {QUORVEX_SWITCH_LOAD, "pingpong", "1", length}, runs, ms);
    // The rates above are fixed, so only these two show a throughput cost.
    Workload("4 threads counting", {QUORVEX_SWITCH_LOAD, "spinning", "4", length}, runs, ms);
    return 0;
}
