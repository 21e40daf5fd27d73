// quorvex-thread-shapes: processes whose threads do what the demo's never
// do, for the thread-state tests.
//   exec-from-thread PROGRAM [ARG...]  a second thread execs PROGRAM while
//                                      the main thread and a third one block
//   main-exits-first MS                the main thread ends at once; two
//                                      others spin for MS milliseconds

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

void BlockForever()
{
    for (;;)
        pause();
}

void Spin(int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    volatile unsigned long x = 0;
    while (std::chrono::steady_clock::now() < end)
        x = x + 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "exec-from-thread") == 0) {
        std::thread(BlockForever).detach();
        std::thread([argv] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            execv(argv[2], argv + 2);
            std::_Exit(127);
        }).detach();
        BlockForever();
    }
    if (argc == 3 && std::strcmp(argv[1], "main-exits-first") == 0) {
        const int ms = std::atoi(argv[2]);
        std::thread([ms] { Spin(ms); }).detach();
        std::thread([ms] { Spin(ms); }).detach();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pthread_exit(nullptr);
    }
    return 2;
}
