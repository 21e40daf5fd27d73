// quorvex-switch-load: workloads that switch often, for bench_stat and the
// exactness tests. Each prints the work it did ("work N") when it ends.
//   pingpong PAIRS MS [RATE]  pairs of threads pass a byte back and forth
//                         through pipes: every hop is a switch; work = round
//                         trips. With RATE, the pairs together switch about
//                         RATE times a second (two switches a round trip).
//   tokens PAIRS MS       pairs of threads hand a token back and forth
//                         through semaphores, with a little work at each
//                         turn; work = hand-overs
//   convoy THREADS MS     threads take turns at one mutex, working while
//                         they hold it; work = turns
//   ticking THREADS MS    threads wake every 10 ms and spin 20 us;
//                         work = wake-ups
//   spinning THREADS MS   threads count as fast as they can; work = counts,
//                         in thousands
// With SWITCH_LOAD_CLOCKS=FILE, each thread writes its own processor time
// (CLOCK_THREAD_CPUTIME_ID) there as it ends ("thread TID NS"), and the
// process its own at the end ("process NS"): what the measurement of the
// run must agree with.

#include <atomic>
#include <chrono>
#include <mutex>
#include <semaphore.h>
#include <sys/syscall.h>
#include <time.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

FILE* g_clocks = nullptr;
std::mutex g_clocksMutex;

std::uint64_t CpuClockNs(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000 + static_cast<std::uint64_t>(now.tv_nsec);
}

// The calling thread's own processor time, into the clocks file.
void ReportThreadClock()
{
    if (!g_clocks)
        return;
    const std::uint64_t ns = CpuClockNs(CLOCK_THREAD_CPUTIME_ID);
    const std::lock_guard lock(g_clocksMutex);
    std::fprintf(g_clocks, "thread %ld %llu\n", static_cast<long>(syscall(SYS_gettid)),
                 static_cast<unsigned long long>(ns));
}

// Runs a thread that reports its clock when body returns.
template <class Body>
std::thread Clocked(Body body)
{
    return std::thread([body] {
        body();
        ReportThreadClock();
    });
}

void Work(int units)
{
    for (int i = 0; i < units; ++i)
        asm volatile("");  // a loop the compiler keeps
}

std::uint64_t PingPong(int pairs, Clock::time_point end, double rate)
{
    // Each pair keeps to its share of the rate in batches of 100 round trips.
    const auto batch = rate > 0 ? std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(100 * 2 * pairs / rate))
                                : Clock::duration::zero();
    std::atomic<std::uint64_t> trips{0};
    std::vector<std::thread> threads;
    for (int p = 0; p < pairs; ++p) {
        int there[2], back[2];
        if (pipe(there) != 0 || pipe(back) != 0)
            std::exit(2);
        threads.push_back(Clocked([&trips, there, back, end, batch] {
            char byte = 0;
            std::uint64_t done = 0;
            for (auto next = Clock::now(); Clock::now() < end; ++done) {
                if (write(there[1], &byte, 1) != 1 || read(back[0], &byte, 1) != 1)
                    break;
                if (done % 100 == 99 && batch.count() > 0)
                    std::this_thread::sleep_until(next += batch);
            }
            byte = 1;  // tells the partner to stop
            (void)!write(there[1], &byte, 1);
            trips += done;
        }));
        threads.push_back(Clocked([there, back] {
            for (char byte = 0; read(there[0], &byte, 1) == 1 && byte == 0;)
                if (write(back[1], &byte, 1) != 1)
                    break;
        }));
    }
    for (std::thread& thread : threads)
        thread.join();
    return trips;
}

// Runs body on count threads; the sum of what they return.
template <class Body>
std::uint64_t OnThreads(int count, const Body& body)
{
    std::atomic<std::uint64_t> total{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t)
        threads.push_back(Clocked([&total, &body] { total += body(); }));
    for (std::thread& thread : threads)
        thread.join();
    return total;
}

std::uint64_t Ticking(int count, Clock::time_point end)
{
    return OnThreads(count, [end] {
        std::uint64_t wakeups = 0;
        for (auto next = Clock::now(); next < end; ++wakeups) {
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
            const auto spinUntil = Clock::now() + std::chrono::microseconds(20);
            while (Clock::now() < spinUntil) {
            }
        }
        return wakeups;
    });
}

// Each pair: one thread posts the token to the other and waits for it back.
std::uint64_t Tokens(int pairs, Clock::time_point end)
{
    struct Pair {
        sem_t turn[2];
        std::atomic<bool> stop{false};
    };
    std::vector<Pair> pair(static_cast<std::size_t>(pairs));
    std::atomic<std::uint64_t> handed{0};
    std::vector<std::thread> threads;
    for (Pair& p : pair) {
        sem_init(&p.turn[0], 0, 1);
        sem_init(&p.turn[1], 0, 0);
        for (int side = 0; side < 2; ++side)
            threads.push_back(Clocked([&p, &handed, side, end] {
                std::uint64_t done = 0;
                for (;;) {
                    sem_wait(&p.turn[side]);
                    if (p.stop || Clock::now() >= end) {
                        p.stop = true;
                        sem_post(&p.turn[1 - side]);
                        break;
                    }
                    Work(500);
                    ++done;
                    sem_post(&p.turn[1 - side]);
                }
                handed += done;
            }));
    }
    for (std::thread& thread : threads)
        thread.join();
    return handed;
}

std::uint64_t Convoy(int count, Clock::time_point end)
{
    std::mutex lock;
    return OnThreads(count, [&lock, end] {
        std::uint64_t turns = 0;
        while (Clock::now() < end) {
            const std::lock_guard held(lock);
            Work(20'000);
            ++turns;
        }
        return turns;
    });
}

std::uint64_t Spinning(int count, Clock::time_point end)
{
    return OnThreads(count, [end] {
        std::uint64_t thousands = 0;
        for (volatile std::uint64_t n = 0; Clock::now() < end; ++thousands)
            for (int i = 0; i < 1000; ++i)
                n = n + 1;
        return thousands;
    });
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5)
        return 2;
    const auto end = Clock::now() + std::chrono::milliseconds(std::atoi(argv[3]));
    const int count = std::atoi(argv[2]);
    if (const char* clocks = std::getenv("SWITCH_LOAD_CLOCKS"))
        g_clocks = std::fopen(clocks, "w");
    std::uint64_t work = 0;
    if (std::strcmp(argv[1], "pingpong") == 0)
        work = PingPong(count, end, argc == 5 ? std::atof(argv[4]) : 0);
    else if (std::strcmp(argv[1], "ticking") == 0)
        work = Ticking(count, end);
    else if (std::strcmp(argv[1], "tokens") == 0)
        work = Tokens(count, end);
    else if (std::strcmp(argv[1], "convoy") == 0)
        work = Convoy(count, end);
    else if (std::strcmp(argv[1], "spinning") == 0)
        work = Spinning(count, end);
    else
        return 2;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("work %llu switches %ld\n", static_cast<unsigned long long>(work), usage.ru_nvcsw + usage.ru_nivcsw);
    if (g_clocks) {
        ReportThreadClock();
        std::fprintf(g_clocks, "process %llu\n",
                     static_cast<unsigned long long>(CpuClockNs(CLOCK_PROCESS_CPUTIME_ID)));
        std::fclose(g_clocks);
    }
    return 0;
}
