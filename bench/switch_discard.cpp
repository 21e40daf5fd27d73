// quorvex-switch-discard: runs a command under the context-switch events
// quorvex-stat opens (same rings, same wake-ups), read by a reader that
// discards every record: what the kernel's writing of the records costs
// the command, apart from what reading them costs.
//
// usage: quorvex-switch-discard COMMAND [ARG...]   (exits as the command did)

#include "CpuAccess.h"
#include "SwitchRecords.h"

#include <cstdio>
#include <linux/perf_event.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs("usage: quorvex-switch-discard COMMAND [ARG...]\n", stderr);
        return 2;
    }
    int go[2];
    if (pipe(go) != 0)
        return 1;
    const pid_t pid = fork();
    if (pid == 0) {  // waits for its events before it runs the command
        char byte;
        close(go[1]);
        if (read(go[0], &byte, 1) < 0)
            _exit(127);
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t ringBytes = MAX_RING_PAGES * page;
    std::vector<pollfd> fds;
    std::vector<perf_event_mmap_page*> rings;
    for (const unsigned cpu : OnlineCpus()) {
        const int fd = OpenSwitchEvent(pid, static_cast<int>(cpu), ringBytes, false);
        void* map = fd < 0 ? MAP_FAILED : mmap(nullptr, ringBytes + page, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (map == MAP_FAILED) {
            std::perror("quorvex-switch-discard: context-switch events");
            return 1;
        }
        fds.push_back({fd, POLLIN, 0});
        rings.push_back(static_cast<perf_event_mmap_page*>(map));
    }
    close(go[0]);
    close(go[1]);  // the command runs
    for (int status = 0;;) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        poll(fds.data(), fds.size(), 50);
        for (perf_event_mmap_page* ring : rings)
            __atomic_store_n(&ring->data_tail, __atomic_load_n(&ring->data_head, __ATOMIC_ACQUIRE), __ATOMIC_RELEASE);
    }
}
