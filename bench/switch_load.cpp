// quorvex-switch-load: workloads that switch often, for bench_stat. Each
// prints the work it did ("work N") when it ends.
//   pingpong PAIRS MS [RATE]  pairs of threads pass a byte back and forth
//                         through pipes: every hop is a switch; work = round
//                         trips. With RATE, the pairs together switch about
//                         RATE times a second (two switches a round trip).
//   ticking THREADS MS    threads wake every 10 ms and spin 20 us;
//                         work = wake-ups
//   spinning THREADS MS   threads count as fast as they can; work = counts,
//                         in thousands

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

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
        threads.emplace_back([&trips, there, back, end, batch] {
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
        });
        threads.emplace_back([there, back] {
            for (char byte = 0; read(there[0], &byte, 1) == 1 && byte == 0;)
                if (write(back[1], &byte, 1) != 1)
                    break;
        });
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
        threads.emplace_back([&total, &body] { total += body(); });
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
    std::uint64_t work = 0;
    if (std::strcmp(argv[1], "pingpong") == 0)
        work = PingPong(count, end, argc == 5 ? std::atof(argv[4]) : 0);
    else if (std::strcmp(argv[1], "ticking") == 0)
        work = Ticking(count, end);
    else if (std::strcmp(argv[1], "spinning") == 0)
        work = Spinning(count, end);
    else
        return 2;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("work %llu switches %ld\n", static_cast<unsigned long long>(work), usage.ru_nvcsw + usage.ru_nivcsw);
    return 0;
}
