#include "../engine/EngineTesting.h"
#include "CaptureOutput.h"
#include "LastError.h"
#include "Process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sstream>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

BOOL Start(std::string commandLine, PROCESS_INFORMATION& pi, void* environment = nullptr,
           const char* directory = nullptr, BOOL inheritHandles = FALSE)
{
    STARTUPINFOA startupInfo = {};
    startupInfo.cb = sizeof startupInfo;
    return CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, inheritHandles, 0, environment, directory,
                          &startupInfo, &pi);
}

void End(PROCESS_INFORMATION& pi)
{
    TerminateProcess(pi.hProcess, 0);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

ULONGLONG ExitTime(HANDLE process)
{
    FILETIME creation, exit, kernel, user;
    EXPECT_TRUE(GetProcessTimes(process, &creation, &exit, &kernel, &user));
    return FileTimeValue(exit);
}

void WaitForExit(HANDLE process)
{
    while (ExitTime(process) == 0)
        usleep(1000);
}

class ProcessTest : public testing::Test {
protected:
    ~ProcessTest() override
    {
        EXPECT_EQ(ChildProcesses(), std::vector<int>{});
        EXPECT_EQ(OpenPidfds(), 0);
    }
    ScratchFolder folder;
};

// Missing, not along PATH, not executable, empty: reported at once, the record left alone.
TEST_F(ProcessTest, FailedStartIsReportedAtOnceAndLeavesTheRecordAlone)
{
    const std::string plain = folder.AddScript("plain", "exit 0");
    chmod(plain.c_str(), 0644);
    const std::pair<std::string, DWORD> causes[] = {{folder.Path() + "/missing a b", ENOENT},
                                                    {"quorvex-no-such-program", ENOENT},
                                                    {plain, EACCES},
                                                    {" ", ENOENT}};
    for (const auto& [commandLine, error] : causes) {
        PROCESS_INFORMATION pi;
        std::memset(&pi, 0x5a, sizeof pi);
        const PROCESS_INFORMATION untouched = pi;
        EXPECT_FALSE(Start(commandLine, pi)) << commandLine;
        EXPECT_EQ(GetLastError(), error) << commandLine;
        EXPECT_EQ(std::memcmp(&pi, &untouched, sizeof pi), 0) << commandLine;
    }
}

TEST_F(ProcessTest, TakesTheGivenEnvironmentAndFolder)
{
    const std::string out = folder.Path() + "/out.txt";
    const std::string script = folder.AddScript("show", "printf '%s|' \"$QV_TEST\" \"$(pwd)\" \"$HOME\" > " + out);
    const char environment[] = "QV_TEST=a b\0PATH=/usr/bin:/bin\0";
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(Start(script, pi, const_cast<char*>(environment), "/"));
    WaitForExit(pi.hProcess);
    End(pi);
    EXPECT_EQ(ReadFile(out), "a b|/||");
}

std::set<int> DescriptorsOfAChild(BOOL inheritHandles)
{
    const std::string listing = CaptureStdout([&] {
        PROCESS_INFORMATION pi = {};
        if (Start("/bin/ls -1 /proc/self/fd", pi, nullptr, nullptr, inheritHandles)) {
            WaitForExit(pi.hProcess);
            End(pi);
        }
    });
    std::set<int> fds;
    std::istringstream lines(listing);
    for (int fd; lines >> fd;)
        fds.insert(fd);
    return fds;
}

TEST_F(ProcessTest, ChildGetsOnlyTheStandardDescriptors)
{
    const int opened = open("/dev/null", O_RDONLY);
    const int leaked = dup2(opened, 57);
    close(opened);
    const std::set<int> fds = DescriptorsOfAChild(FALSE);
    const std::set<int> inherited = DescriptorsOfAChild(TRUE);
    close(leaked);
    // ls lists its own open directory too.
    EXPECT_EQ(fds, (std::set<int>{0, 1, 2, 3}));
    EXPECT_TRUE(inherited.count(57));
}

ULONGLONG Now()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return FileTimeValue(now);
}

// Creation is stamped while CreateProcessA runs, the exit when the kernel
// reports it, not when someone asks.
TEST_F(ProcessTest, TimesAreStampedWhenThingsHappen)
{
    PROCESS_INFORMATION pi = {};
    const ULONGLONG beforeStart = Now();
    ASSERT_TRUE(Start("/bin/sleep 0.3", pi));
    const ULONGLONG afterStart = Now();
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pi.dwProcessId, 0));
    pollfd exited = {pidfd, POLLIN, 0};
    poll(&exited, 1, -1);
    const ULONGLONG seenExit = Now();
    close(pidfd);
    usleep(200000);

    // The exit is stamped by the watcher the kernel wakes, as this test was
    // woken: on a busy machine either may wait for a processor first, so the
    // stamp is judged by what it must be: after the 0.3 s the target slept,
    // before anyone asked for it (0.2 s after the exit was seen).
    FILETIME creation, exit, kernel, user;
    const ULONGLONG asked = Now();
    ASSERT_TRUE(GetProcessTimes(pi.hProcess, &creation, &exit, &kernel, &user));
    EXPECT_GE(FileTimeValue(creation), beforeStart);
    EXPECT_LE(FileTimeValue(creation), afterStart);
    EXPECT_LT(FileTimeValue(exit), asked);
    EXPECT_LT(FileTimeValue(exit), seenExit + (asked - seenExit) / 2);
    EXPECT_GE(FileTimeValue(exit) - FileTimeValue(creation), 300 * 10000u);
    EXPECT_FALSE(TerminateProcess(pi.hProcess, 0)) << "it had already ended";
    EXPECT_TRUE(CloseHandle(pi.hThread));
    EXPECT_TRUE(CloseHandle(pi.hProcess));
}

// The program is found along PATH.
TEST_F(ProcessTest, TerminateKillsAndReaps)
{
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(Start("sleep 30", pi));
    EXPECT_EQ(ChildProcesses().size(), 2u) << "the target and its guard";
    EXPECT_EQ(ExitTime(pi.hProcess), 0u) << "a running process has no exit time";

    EXPECT_TRUE(TerminateProcess(pi.hProcess, 0));

    EXPECT_EQ(ChildProcesses(), std::vector<int>{}) << "no zombie";
    EXPECT_NE(ExitTime(pi.hProcess), 0u);
    EXPECT_TRUE(CloseHandle(pi.hThread));
    EXPECT_TRUE(CloseHandle(pi.hProcess));
    EXPECT_FALSE(CloseHandle(pi.hProcess));
}

TEST_F(ProcessTest, ArgumentsAndHandlesAreChecked)
{
    PROCESS_INFORMATION pi = {};
    STARTUPINFOA startupInfo = {sizeof startupInfo};
    char commandLine[] = "/bin/true";
    EXPECT_FALSE(CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 4, nullptr, nullptr, &startupInfo, &pi));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EINVAL)) << "creation flags are refused";
    FILETIME times[4];
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_FALSE(TerminateProcess(nullptr, 0));
    EXPECT_FALSE(GetProcessTimes(nullptr, &times[0], &times[1], &times[2], &times[3]));
    int notAHandle = 0;
    EXPECT_FALSE(CloseHandle(&notAHandle));
    ASSERT_TRUE(Start("/bin/sleep 30", pi));
    EXPECT_FALSE(GetProcessTimes(pi.hThread, &times[0], &times[1], &times[2], &times[3]));
    End(pi);
}

TEST_F(ProcessTest, StartHookSeesTheChildBeforeItsExec)
{
    std::string seen;
    int hookedPid = 0;
    STARTUPINFOA startupInfo = {sizeof startupInfo, [&](int pid, std::string& whyNot) -> std::unique_ptr<ThreadActivitySource> {
        char exe[4096] = {};
        hookedPid = pid;
        seen = std::string(exe, readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), exe, sizeof exe));
        whyNot = "seen";
        return nullptr;
    }};
    char commandLine[] = "/bin/sleep 30";
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startupInfo, &pi));
    char self[4096] = {};
    EXPECT_EQ(seen, std::string(self, readlink("/proc/self/exe", self, sizeof self)));
    EXPECT_EQ(hookedPid, static_cast<int>(pi.dwProcessId));
    std::string whyNot;
    EXPECT_FALSE(TakeAttachedThreadStates(pi.hProcess, whyNot));
    EXPECT_EQ(whyNot, "seen") << "what the hook said stays with the process";
    End(pi);
}

} // namespace
