// quorvex-demo: a multi-threaded program of known shape, for trying and
// testing quorvex. It runs a sequence of phases; in each, a given number of
// worker threads spin on the processor while the others block. Sleeping
// threads stay blocked for the whole run. Every thread exists from the start
// to the end, so the thread count is 1 + max(phases) + sleepers throughout.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Shape {
    std::vector<int> phases{1, 2, 4};
    int phaseMs = 1500;
    int sleepers = 2;
    bool report = false;
};

// Phase k runs the workers numbered below phases[k].
class Schedule {
public:
    void Start(int phase, int busy, Clock::time_point end)
    {
        std::lock_guard lock(m_mutex);
        m_phase = phase;
        m_busy = busy;
        m_end = end;
        m_changed.notify_all();
    }

    void Finish()
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
        m_changed.notify_all();
    }

    // Blocks until a phase after `seen` gives this worker work; false at the end.
    bool WaitForWork(int worker, int& seen, Clock::time_point& end)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_finished || (m_phase != seen && worker < m_busy); });
        seen = m_phase;
        end = m_end;
        return !m_finished;
    }

    void WaitForFinish()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_finished; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_phase = -1;
    int m_busy = 0;
    Clock::time_point m_end;
    bool m_finished = false;
};

std::atomic<unsigned long long> g_work{0};

void Spin(Clock::time_point end)
{
    unsigned long long iterations = 0;
    volatile double x = 1.0;
    while (Clock::now() < end) {
        for (int i = 0; i < 4096; ++i)
            x = x * 1.0000001 + 0.0000001;
        iterations += 4096;
    }
    g_work += iterations;
}

void Worker(Schedule& schedule, int index)
{
    int seen = -1;
    Clock::time_point end;
    while (schedule.WaitForWork(index, seen, end))
        Spin(end);
}

std::vector<int> ParsePhases(const char* text)
{
    std::vector<int> phases;
    for (const char* p = text; *p;) {
        char* next;
        const long busy = std::strtol(p, &next, 10);
        if (next == p || busy < 0 || busy > 1000)
            return {};
        phases.push_back(static_cast<int>(busy));
        p = *next == ',' ? next + 1 : next;
        if (*next && *next != ',')
            return {};
    }
    return phases;
}

int Usage(const char* program)
{
    std::fprintf(stderr,
                 "usage: %s [--phases N,N,...] [--phase-ms MS] [--sleepers N] [--report]\n"
                 "  --phases    busy threads in each phase (default 1,2,4)\n"
                 "  --phase-ms  length of each phase in milliseconds (default 1500)\n"
                 "  --sleepers  threads that sleep for the whole run (default 2)\n"
                 "  --report    print the shape, the work done and each phase's processor time at the end\n",
                 program);
    return 2;
}

bool ParseArguments(int argc, char** argv, Shape& shape)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--phases" && hasValue) {
            shape.phases = ParsePhases(argv[++i]);
            if (shape.phases.empty())
                return false;
        } else if (arg == "--phase-ms" && hasValue) {
            shape.phaseMs = std::atoi(argv[++i]);
        } else if (arg == "--sleepers" && hasValue) {
            shape.sleepers = std::atoi(argv[++i]);
        } else if (arg == "--report") {
            shape.report = true;
        } else {
            return false;
        }
    }
    return shape.phaseMs >= 0 && shape.sleepers >= 0 && shape.sleepers <= 1000;
}

} // namespace

int main(int argc, char** argv)
{
    Shape shape;
    if (!ParseArguments(argc, argv, shape))
        return Usage(argv[0]);

    Schedule schedule;
    const int workers = *std::max_element(shape.phases.begin(), shape.phases.end());
    std::vector<std::thread> threads;
    for (int i = 0; i < workers; ++i)
        threads.emplace_back(Worker, std::ref(schedule), i);
    for (int i = 0; i < shape.sleepers; ++i)
        threads.emplace_back([&schedule] { schedule.WaitForFinish(); });

    const auto start = Clock::now();
    auto phaseEnd = start;
    // What each phase really got of the processors, whatever else ran.
    std::vector<std::clock_t> phaseCpu{std::clock()};
    for (size_t k = 0; k < shape.phases.size(); ++k) {
        phaseEnd += std::chrono::milliseconds(shape.phaseMs);
        schedule.Start(static_cast<int>(k), shape.phases[k], phaseEnd);
        std::this_thread::sleep_until(phaseEnd);
        phaseCpu.push_back(std::clock());
    }
    schedule.Finish();
    for (std::thread& thread : threads)
        thread.join();

    if (shape.report) {
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("threads %d\nseconds %.3f\nwork %llu\n", 1 + workers + shape.sleepers, seconds, g_work.load());
        for (size_t k = 0; k < shape.phases.size(); ++k)
            std::printf("phase %zu cpu-ms %.0f\n", k,
                        static_cast<double>(phaseCpu[k + 1] - phaseCpu[k]) * 1000 / CLOCKS_PER_SEC);
    }
    return 0;
}
