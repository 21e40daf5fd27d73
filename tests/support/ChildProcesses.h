#pragma once
// What a test can see of the processes this process started.

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

// Child processes of this process (zombies included), and its open pidfds.
std::vector<int> ChildProcesses();
int OpenPidfds();
int OpenDescriptors();

// Counts the child processes started while it lives, targets' guards aside.
// Every target of a run lives at least a second, so polling every few milliseconds misses none.
class ChildStarts {
public:
    ChildStarts();
    ~ChildStarts();
    int Count();

private:
    void Watch();

    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::set<std::pair<int, unsigned long long>> m_seen;  // pid and start time
    std::thread m_thread;
};
