#pragma once
// A child process started the way the engine starts a target: forked, then
// held on a pipe before its exec until the test has attached what it needs.

#include <string>
#include <sys/types.h>
#include <vector>

struct HeldChildOptions {
    uid_t uid = 0;  // when not 0, the child drops to this user and group before the exec
    int outputFd = -1;  // takes the child's standard output; -1: /dev/null (standard error always goes there)
};

class HeldChild {
public:
    explicit HeldChild(const std::vector<std::string>& argv, const HeldChildOptions& options = {});
    ~HeldChild();  // kills and reaps a child that still runs

    HeldChild(const HeldChild&) = delete;
    HeldChild& operator=(const HeldChild&) = delete;

    pid_t Pid() const { return m_pid; }
    // Lets the child exec; false when the exec failed (the child is reaped).
    bool Release();
    // The exit code, or -1 when it did not exit normally.
    int Wait();

private:
    pid_t m_pid = -1;
    int m_release = -1;   // closing it lets the child go on
    int m_execError = -1; // carries the exec's errno; closed by a successful exec
    bool m_reaped = false;
};
