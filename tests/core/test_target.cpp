// The core's target with real processes: held start, exit, and an end that
// leaves nothing behind, whatever the target started.

#include "ChildProcesses.h"
#include "Clock.h"
#include "Target.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// A pipe whose write end the target's scripts reach as descriptor 3.
class ReadyPipe {
public:
    ReadyPipe()
    {
        // The write end passes to the target's exec.
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        m_read = ends[0];
        m_write = ends[1];
        fcntl(m_read, F_SETFD, FD_CLOEXEC);
    }
    ~ReadyPipe()
    {
        close(m_read);
        CloseWriteEnd();
    }
    int WriteEnd() const { return m_write; }
    void CloseWriteEnd()
    {
        if (m_write >= 0)
            close(std::exchange(m_write, -1));
    }
    // The pids the scripts wrote, one a line, until count are in.
    std::vector<int> ReadPids(size_t count)
    {
        std::vector<int> pids;
        std::string text;
        char buffer[64];
        while (pids.size() < count) {
            const ssize_t got = read(m_read, buffer, sizeof buffer);
            if (got <= 0)
                break;
            text.append(buffer, static_cast<size_t>(got));
            for (size_t end; (end = text.find('\n')) != std::string::npos; text.erase(0, end + 1))
                pids.push_back(std::stoi(text.substr(0, end)));
        }
        return pids;
    }

private:
    int m_read = -1;
    int m_write = -1;
};

std::unique_ptr<Target> StartScript(const std::string& script)
{
    int error = 0;
    return Target::Start({.program = "/bin/sh", .argv = {"sh", "-c", script}, .keepDescriptors = true}, {}, error);
}

bool Exists(int pid)
{
    std::error_code ignored;
    return std::filesystem::exists("/proc/" + std::to_string(pid), ignored);
}

// The scripts put the write end at 3 before they start anything.
std::string WithPipe(const ReadyPipe& ready, const std::string& body)
{
    const std::string end = std::to_string(ready.WriteEnd());
    return "exec 3>&" + end + " " + end + ">&-; " + body;
}

struct EndCase {
    const char* name;
    const char* script;  // writes one pid a line for each process it leaves
    size_t pids;
    bool targetExitsFirst;
};

void PrintTo(const EndCase& c, std::ostream* os)
{
    *os << c.name;
}

class TargetEnd : public testing::TestWithParam<EndCase> {};

// Whether the target still runs or has exited, leaving its children to this
// process, ending it ends every process it started and reaps them: nothing
// runs on, no zombie stays. SIGKILL, so a target that ignores SIGTERM ends
// as quickly.
TEST_P(TargetEnd, LeavesNothingBehind)
{
    ReadyPipe ready;
    const std::unique_ptr<Target> target = StartScript(WithPipe(ready, GetParam().script));
    ASSERT_TRUE(target);
    ready.CloseWriteEnd();
    const std::vector<int> pids = ready.ReadPids(GetParam().pids);
    ASSERT_EQ(pids.size(), GetParam().pids);
    if (GetParam().targetExitsFirst) {
        while (!target->Exit())
            usleep(1000);
    }
    const std::uint64_t before = MonotonicNowNs();
    EXPECT_EQ(target->End(), !GetParam().targetExitsFirst);
    EXPECT_LT(MonotonicNowNs() - before, 2'000'000'000u);
    for (const int pid : pids)
        EXPECT_FALSE(Exists(pid)) << pid;
    EXPECT_EQ(ChildProcesses(), std::vector<int>{});
    ASSERT_TRUE(target->Exit());
    EXPECT_TRUE(WIFSIGNALED(target->Exit()->waitStatus) || GetParam().targetExitsFirst);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, TargetEnd,
    testing::Values(
        EndCase{"ChildrenInItsGroup", "sleep 100 & echo $! >&3; sleep 100 & echo $! >&3; exec 3>&-; wait", 2, false},
        EndCase{"ChildThatCalledSetsid", "setsid sh -c 'echo $$ >&3; exec 3>&-; exec sleep 100' & exec 3>&-; wait", 1,
                false},
        EndCase{"IgnoresSigterm", "trap '' TERM; sleep 100 & echo $! >&3; exec 3>&-; wait", 1, false},
        EndCase{"ExitedLeavingChildren",
                "sleep 100 & echo $! >&3; setsid sh -c 'echo $$ >&3; exec 3>&-; exec sleep 100' & exec 3>&-; "
                "sleep 0.2; exit 0",
                2, true}),
    [](const testing::TestParamInfo<EndCase>& info) { return info.param.name; });

// The program that started the target dies by SIGTERM: the target's guard
// ends the whole group, grandchildren too.
TEST(TargetEnd, ProgramDeathEndsTheGroup)
{
    // The orphans come here, to be reaped, rather than to init.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    ReadyPipe ready;
    const std::string script = WithPipe(ready, "sleep 100 & echo $! >&3; sleep 100 & echo $! >&3; echo $$ >&3; "
                                               "exec 3>&-; wait");
    const pid_t starter = fork();
    if (starter == 0) {
        const std::unique_ptr<Target> target = StartScript(script);
        if (target)
            pause();
        _exit(1);
    }
    ready.CloseWriteEnd();
    const std::vector<int> pids = ready.ReadPids(3);
    ASSERT_EQ(pids.size(), 3u);
    kill(starter, SIGTERM);
    waitpid(starter, nullptr, 0);
    const std::uint64_t giveUp = MonotonicNowNs() + 2'000'000'000;
    for (const int pid : pids) {
        while (Exists(pid) && MonotonicNowNs() < giveUp) {
            waitpid(pid, nullptr, WNOHANG);  // adopted here when the starter died
            usleep(1000);
        }
        EXPECT_FALSE(Exists(pid)) << pid;
    }
    // The starter's guard, adopted here, has ended too.
    while (waitpid(-1, nullptr, 0) > 0) {
    }
}

TEST(TargetStart, FailsWithTheExecsErrnoAndFindsProgramsAlongThePath)
{
    int error = 0;
    EXPECT_FALSE(Target::Start({.program = "/nonexistent/program", .argv = {"program"}}, {}, error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(Target::Start({.program = "/etc", .argv = {"etc"}}, {}, error));
    EXPECT_EQ(error, EACCES);
    EXPECT_EQ(FindProgram("sh", "/nonexistent:/bin"), "/bin/sh");
    EXPECT_EQ(FindProgram("./sh", "/bin"), "./sh");
    EXPECT_EQ(FindProgram("no-such-program-here", "/bin"), std::nullopt);
    EXPECT_EQ(ChildProcesses(), std::vector<int>{});
}

// The exit's instant and status are the kernel's, whatever the caller does meanwhile.
TEST(TargetStart, WatchesTheExit)
{
    int error = 0;
    int heldPid = 0;
    const auto target =
        Target::Start({.program = "sh", .searchPath = true, .argv = {"sh", "-c", "exit 3"}, .workingFolder = "/"},
                      [&](int pid) { heldPid = pid; }, error);
    ASSERT_TRUE(target) << error;
    EXPECT_EQ(heldPid, target->Pid());
    EXPECT_EQ(getpgid(target->Pid()), target->ProcessGroup()) << "its own group";
    while (!target->Exit())
        usleep(1000);
    EXPECT_TRUE(WIFEXITED(target->Exit()->waitStatus));
    EXPECT_EQ(WEXITSTATUS(target->Exit()->waitStatus), 3);
    EXPECT_GE(target->Exit()->exitNs, target->ReleaseNs());
    EXPECT_LE(target->Exit()->exitNs, MonotonicNowNs());
    EXPECT_FALSE(target->End()) << "it had already ended";
}

} // namespace
