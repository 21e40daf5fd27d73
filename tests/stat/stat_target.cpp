// quorvex-stat-target: commands of known shape for quorvex-stat's tests.
//   busy THREADS MS FILE   THREADS threads spin for MS ms each; each then
//                          writes "tid on-CPU-ns" (its own thread clock) to
//                          FILE; with 0 threads, the first thread spins
//   threads N              N threads start, meet, and end
//   refuse-perf ERRNO PROGRAM ARGS...
//                          runs PROGRAM under a seccomp filter that fails
//                          perf_event_open with ERRNO, as containers do
//   running BUSY IDLE FILE BUSY threads spin and IDLE wait; "ready" on
//                          stdout; each line on stdin starts 100 more idle
//                          threads; at its end every thread writes
//                          "tid on-CPU-ns" to FILE
//   orphans N              N processes each leave a child that ends at once;
//                          exits 0 once this program's parent (that adopts
//                          them) has no other child left, zombies included
//                          (1 after 30 s); says how many were left

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <dirent.h>
#include <fstream>
#include <sys/wait.h>
#include <mutex>
#include <string>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::uint64_t ThreadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<std::uint64_t>(t.tv_sec) * 1'000'000'000 + static_cast<std::uint64_t>(t.tv_nsec);
}

void Busy(int threads, int ms, const char* path)
{
    std::FILE* file = std::fopen(path, "w");
    if (!file)
        std::exit(2);
    std::mutex mutex;
    const auto spin = [&] {
        const std::uint64_t until = ThreadCpuNs() + static_cast<std::uint64_t>(ms) * 1'000'000;
        while (ThreadCpuNs() < until) {
        }
        const std::lock_guard lock(mutex);
        std::fprintf(file, "%d %llu\n", gettid(), static_cast<unsigned long long>(ThreadCpuNs()));
    };
    if (threads == 0)
        spin();
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i)
        workers.emplace_back(spin);
    for (std::thread& worker : workers)
        worker.join();
    std::fclose(file);
}

void Threads(int count)
{
    std::mutex mutex;
    std::vector<std::thread> threads;
    mutex.lock();
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&mutex] { const std::lock_guard lock(mutex); });
    mutex.unlock();
    for (std::thread& thread : threads)
        thread.join();
}

void Running(int busy, int idle, const char* path)
{
    std::FILE* file = std::fopen(path, "w");
    if (!file)
        std::exit(2);
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable stopped;
    std::vector<std::thread> threads;
    const auto report = [&] {
        const std::lock_guard lock(mutex);
        std::fprintf(file, "%d %llu\n", gettid(), static_cast<unsigned long long>(ThreadCpuNs()));
    };
    const auto waiter = [&] {
        std::unique_lock lock(mutex);
        stopped.wait(lock, [&] { return stop.load(); });
        lock.unlock();
        report();
    };
    for (int i = 0; i < busy; ++i)
        threads.emplace_back([&] {
            while (!stop) {
            }
            report();
        });
    for (int i = 0; i < idle; ++i)
        threads.emplace_back(waiter);
    std::puts("ready");
    std::fflush(stdout);
    for (std::string line; std::getline(std::cin, line);)
        for (int i = 0; i < 100; ++i)
            threads.emplace_back(waiter);
    {
        const std::lock_guard lock(mutex);
        stop = true;
    }
    stopped.notify_all();
    for (std::thread& thread : threads)
        thread.join();
    report();
    std::fclose(file);
}

int RefusePerf(int error, char** command)
{
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_perf_event_open, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | static_cast<unsigned>(error)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        return 3;
    execv(command[0], command);
    return 127;
}

// parent's children other than this process, zombies included.
int OtherChildren(pid_t parent)
{
    int others = 0;
    const std::string tasks = "/proc/" + std::to_string(parent) + "/task";
    DIR* folder = opendir(tasks.c_str());
    while (const dirent* task = folder ? readdir(folder) : nullptr) {
        std::ifstream children(tasks + "/" + task->d_name + "/children");
        for (int child; children >> child;)
            others += child != getpid();
    }
    if (folder)
        closedir(folder);
    return others;
}

int Orphans(int count)
{
    for (int i = 0; i < count; ++i) {
        const pid_t child = fork();
        if (child == 0) {
            if (fork() == 0) {
                usleep(20'000);  // orphaned by then
                _exit(0);
            }
            _exit(0);
        }
        waitpid(child, nullptr, 0);
    }
    int left = 0;
    for (int tries = 0; tries < 3000 && (left = OtherChildren(getppid())) > 0; ++tries)
        usleep(10'000);
    std::printf("%d left\n", left);
    return left == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 3 && std::strcmp(argv[1], "refuse-perf") == 0)
        return RefusePerf(std::atoi(argv[2]), argv + 3);
    if (argc == 5 && std::strcmp(argv[1], "busy") == 0)
        Busy(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
    else if (argc == 5 && std::strcmp(argv[1], "running") == 0)
        Running(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
    else if (argc == 3 && std::strcmp(argv[1], "threads") == 0)
        Threads(std::atoi(argv[2]));
    else if (argc == 3 && std::strcmp(argv[1], "orphans") == 0)
        return Orphans(std::atoi(argv[2]));
    else
        return 2;
    return 0;
}
