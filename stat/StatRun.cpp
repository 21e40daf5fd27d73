#include "StatRun.h"

#include "Clock.h"
#include "CpuAccess.h"
#include "ClockCheck.h"
#include "ProcFiles.h"
#include "ProcSampler.h"
#include "ProcThreadActivity.h"
#include "ProfileBuilder.h"
#include "Reports.h"
#include "SchedstatFiles.h"
#include "SwitchRecords.h"
#include "Target.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t MS = 1'000'000;
constexpr std::uint64_t PROGRESS_NS = 250 * MS;
// How often the records are taken over: small batches stay in the cache.
constexpr std::uint64_t FEED_NS = 50 * MS;
// How often the kernel's clock of each thread is read: a thread that lives
// at least this long is held against it.
constexpr std::uint64_t CLOCK_CHECK_NS = 250 * MS;
constexpr std::uint64_t KILL_GRACE_NS = 2000 * MS;
constexpr std::size_t COMM_LENGTH = 15;
// SIGINT and SIGTERM arrive through a descriptor the wait polls, so that
// they can be passed on. Blocked before any thread starts, so every thread
// inherits the block; the target's start unblocks them in the child.
class SignalInbox {
public:
    SignalInbox()
    {
        sigemptyset(&m_set);
        sigaddset(&m_set, SIGINT);
        sigaddset(&m_set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &m_set, &m_before);
        m_fd = signalfd(-1, &m_set, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    ~SignalInbox()
    {
        close(m_fd);
        pthread_sigmask(SIG_SETMASK, &m_before, nullptr);
    }
    int Fd() const { return m_fd; }
    // The next signal that arrived, or 0.
    int Take() const
    {
        signalfd_siginfo info{};
        return read(m_fd, &info, sizeof info) == sizeof info ? static_cast<int>(info.ssi_signo) : 0;
    }

private:
    sigset_t m_set;
    sigset_t m_before;
    int m_fd = -1;
};

// The progress line, rewritten in place; only on a terminal.
class Progress {
public:
    explicit Progress(bool shown) : m_shown(shown) {}
    ~Progress()
    {
        if (m_drawn)
            std::fputs("\r\033[K", stderr);
    }
    void Show(std::uint64_t nowNs, std::uint64_t startNs, const ProfileBuilder& builder)
    {
        if (!m_shown || nowNs < m_nextNs)
            return;
        m_nextNs = nowNs + PROGRESS_NS;
        std::fprintf(stderr, "\r%s\033[K",
                     ProgressLine(nowNs - startNs, builder.OnCpuNsSoFar(), builder.LiveThreads(),
                                  builder.ParallelNsSoFar())
                         .c_str());
        std::fflush(stderr);
        m_drawn = true;
    }

private:
    const bool m_shown;
    bool m_drawn = false;
    std::uint64_t m_nextNs = 0;
};

// Where the source hands its records, in time order, as Follow advances it.
struct RecordFeed {
    ProfileBuilder* builder = nullptr;
};

// The kernel's name of a thread that runs program: at most 15 characters
// of its file name, until its exec names it.
std::string CommName(const std::string& program)
{
    return program.substr(program.rfind('/') + 1, COMM_LENGTH);
}

// The timeout's two steps: SIGTERM to the command's process group at the
// deadline, SIGKILL a grace later.
class Timeout {
public:
    Timeout(std::uint64_t startNs, double seconds)
        : m_termNs(seconds > 0 ? startNs + static_cast<std::uint64_t>(seconds * 1e9) : UINT64_MAX)
    {
    }
    std::uint64_t NextNs() const { return m_termSent ? m_killNs : m_termNs; }
    void Keep(std::uint64_t nowNs, Target& target)
    {
        if (!m_termSent && nowNs >= m_termNs) {
            kill(-target.ProcessGroup(), SIGTERM);
            m_termSent = true;
            m_killNs = nowNs + KILL_GRACE_NS;
        } else if (m_termSent && nowNs >= m_killNs) {
            target.End();
            m_killNs = UINT64_MAX;
        }
    }

private:
    const std::uint64_t m_termNs;
    std::uint64_t m_killNs = UINT64_MAX;
    bool m_termSent = false;
};

// A command run from a terminal gets it, as a shell's foreground job would:
// it may read from it, and Ctrl-C reaches it. Given back at the end.
class TerminalHandover {
public:
    void GiveTo(int processGroup)
    {
        m_given = isatty(STDIN_FILENO) && tcgetpgrp(STDIN_FILENO) == getpgrp() &&
                  tcsetpgrp(STDIN_FILENO, processGroup) == 0;
    }
    ~TerminalHandover()
    {
        if (!m_given)
            return;
        // A background group that takes the terminal is sent SIGTTOU.
        sigset_t ttou, before;
        sigemptyset(&ttou);
        sigaddset(&ttou, SIGTTOU);
        pthread_sigmask(SIG_BLOCK, &ttou, &before);
        tcsetpgrp(STDIN_FILENO, getpgrp());
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }

private:
    bool m_given = false;
};

// Waits until one of fds is readable or deadlineNs has come.
void WaitFor(std::initializer_list<int> fds, std::uint64_t deadlineNs)
{
    std::vector<pollfd> polled;
    for (const int fd : fds)
        polled.push_back({fd, POLLIN, 0});
    const std::uint64_t now = MonotonicNowNs();
    poll(polled.data(), polled.size(), deadlineNs <= now ? 0 : static_cast<int>((deadlineNs - now + MS - 1) / MS));
}

bool Readable(int fd)
{
    pollfd polled{fd, POLLIN, 0};
    return poll(&polled, 1, 0) == 1;
}

void Forward(const SignalInbox& signals, int processGroup)
{
    while (const int signal = signals.Take())
        kill(-processGroup, signal);
}

std::uint64_t ChildrenCpuNs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto ns = [](const timeval& t) {
        return static_cast<std::uint64_t>(t.tv_sec) * 1'000'000'000 + static_cast<std::uint64_t>(t.tv_usec) * 1000;
    };
    return ns(usage.ru_utime) + ns(usage.ru_stime);
}

std::uint64_t OwnCpuNs(const Profile& profile, int pid)
{
    std::uint64_t total = 0;
    for (const ThreadProfile& thread : profile.threads)
        total += thread.pid == pid ? thread.onCpuNs : 0;
    return total;
}

struct Measurement {
    std::unique_ptr<SwitchRecordSource> records;
    bool sampled = false;  // the records were refused or stopped: /proc is sampled
    std::unique_ptr<ProcThreadActivity> proc;
    std::string whyNot;
    std::uint64_t heldCpuNs = 0;  // the command's processor time before it was released
};

void FallBackToProc(const Target& target, Measurement& measurement, const StatOptions& options)
{
    std::fprintf(stderr, "quorvex-stat: %s; sampling /proc every %d ms instead%s\n", measurement.whyNot.c_str(),
                 options.intervalMs, options.followChildren ? " (the command's own process only)" : "");
    measurement.sampled = true;
    // Raised only now, so that the command inherits the limit it would have had.
    RaiseDescriptorLimit();
    measurement.proc = ProcThreadActivity::Open(target.Pid(), target.StartTicks());
}

// Compares the kernel's clock read last time with the records up to then.
void CompareClocks(SwitchRecordSource& records, ClockCheck& clock, const ThreadStates& states)
{
    if (const auto readNs = clock.PendingNs()) {
        records.Advance(*readNs);
        clock.Compare(states);
    }
}

// Takes the records over about every FEED_NS, or samples /proc at every
// interval once they are refused or stop (an exec of a set-user-ID program).
Profile Follow(Target& target, Measurement& measurement, RecordFeed& feed, const StatOptions& options,
               const SignalInbox& signals)
{
    const int pid = target.Pid();
    const std::uint64_t start = target.ReleaseNs();
    const std::uint64_t interval = static_cast<std::uint64_t>(options.intervalMs) * MS;
    const auto affinity = ProcessAffinity(pid);
    ProfileBuilder builder(start, interval, pid, options.followChildren, {{pid, pid, CommName(options.command[0])}},
                           affinity ? static_cast<unsigned>(affinity->size()) : 0);
    feed.builder = &builder;
    SchedstatFiles schedstat;
    std::optional<ProcSampler> sampler;
    Progress progress(isatty(STDERR_FILENO));
    Timeout timeout(start, options.timeoutSeconds);
    std::uint64_t nextSampleNs = start + interval;
    ClockCheck clock(measurement.heldCpuNs);
    std::uint64_t nextClockNs = start;
    for (;;) {
        if (measurement.proc && !sampler)
            sampler.emplace(pid, *measurement.proc, false);
        const std::uint64_t tick = sampler ? nextSampleNs : MonotonicNowNs() + FEED_NS;
        WaitFor({target.PidFd(), signals.Fd()}, std::min(tick, timeout.NextNs()));
        Forward(signals, target.ProcessGroup());
        const std::uint64_t now = MonotonicNowNs();
        if (target.Exit())
            break;
        timeout.Keep(now, target);
        if (!measurement.sampled) {
            CompareClocks(*measurement.records, clock, builder.States());
            if (measurement.records->Advance(now) == ThreadActivitySource::Status::Lost) {
                measurement.whyNot = "the kernel stopped the context-switch records";
                FallBackToProc(target, measurement, options);
            } else if (now >= nextClockNs) {
                clock.Read(builder.States());
                // The threads switched in since their last read: at the
                // clock check's pace, a read each costs less than the check.
                builder.ReadRunDelays(schedstat, now);
                nextClockNs = now + CLOCK_CHECK_NS;
            }
        } else if (sampler && now >= nextSampleNs) {
            sampler->Sample(nextSampleNs, builder);
            nextSampleNs += interval * (1 + (now - nextSampleNs) / interval);
        }
        progress.Show(now, start, builder);
    }
    const std::uint64_t end = target.Exit()->exitNs;
    if (!measurement.sampled) {
        measurement.records->Advance(end);
        if (const auto readNs = clock.PendingNs(); readNs && *readNs <= end)
            clock.Compare(builder.States());
    }
    feed.builder = nullptr;
    const ThreadStates& states = builder.States();
    const std::uint64_t switchIns = states.SwitchIns() - states.HandOvers();
    // The reaped command's total, and that of the children it waited for,
    // which are measured only when followed.
    const bool wholeTotal = options.followChildren || states.UnfollowedProcesses() == 0;
    Profile profile = builder.Finish(end);
    if (sampler)
        sampler->PatchOnCpu(profile);
    else
        clock.Finish(wholeTotal ? std::optional<std::uint64_t>(ChildrenCpuNs()) : std::nullopt, switchIns, profile);
    return profile;
}

} // namespace

int MeasureCommand(const StatOptions& options, const OutputFiles& outputs)
{
    const std::string& name = options.command[0];
    TargetLaunch launch;
    launch.program = name;
    launch.searchPath = true;
    launch.argv = options.command;
    launch.keepDescriptors = true;
    if (name.find('/') == std::string::npos && !FindProgram(name, std::getenv("PATH"))) {
        const StartFailure failure = DescribeStartFailure(name, 0);
        std::fprintf(stderr, "%s\n", failure.message.c_str());
        return failure.status;
    }
    const SignalInbox signals;
    TerminalHandover terminal;
    RecordFeed feed;
    Measurement measurement;
    SwitchRecordOptions recordOptions;
    recordOptions.followChildren = options.followChildren;
    recordOptions.keepThreadStates = false;  // the profile keeps them
    recordOptions.onRecord = [&feed](const SwitchRecord& record) {
        if (feed.builder)
            feed.builder->Add(record);
    };
    int error = 0;
    const auto target = Target::Start(
        launch,
        [&](int pid) {
            measurement.records = SwitchRecordSource::Attach(pid, &measurement.whyNot, recordOptions);
            measurement.heldCpuNs = ClockCheck::ThreadCpuNs(pid, pid);
            terminal.GiveTo(pid);
        },
        error);
    if (!target) {
        const StartFailure failure = DescribeStartFailure(name, error);
        std::fprintf(stderr, "%s\n", failure.message.c_str());
        return failure.status;
    }
    if (!measurement.records)
        FallBackToProc(*target, measurement, options);
    const Profile profile = Follow(*target, measurement, feed, options, signals);
    RunFacts facts;
    facts.command = options.command;
    facts.exitStatus = ShellStatus(target->Exit()->waitStatus, facts.signal);
    facts.fromRecords = !measurement.sampled;
    facts.stretches = options.stretches;
    if (!options.followChildren) {
        // The reaped command's processor time includes that of the children it waited for.
        const std::uint64_t own = OwnCpuNs(profile, target->Pid());
        const std::uint64_t all = ChildrenCpuNs();
        std::fputs(ChildrenNote(name, own, all - std::min(all, own)).c_str(), stderr);
    }
    outputs.Write(profile, facts);
    return facts.exitStatus;
}

namespace {

// The process's command line as its words, or its pid when unreadable.
std::vector<std::string> CommandOf(int pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline");
    std::vector<std::string> words;
    for (std::string word; std::getline(file, word, '\0');)
        words.push_back(word);
    return words.empty() ? std::vector<std::string>{std::to_string(pid)} : words;
}

} // namespace

// The switch records follow only threads created after they are attached,
// so a running process's threads are sampled from /proc.
int MeasureAttached(const StatOptions& options, const OutputFiles& outputs)
{
    const int pid = options.attachPid;
    RaiseDescriptorLimit();
    ProcStat stat;
    const UniqueFd pidFd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    std::unique_ptr<ProcThreadActivity> proc;
    if (!pidFd.IsOpen() || kill(pid, 0) != 0 || !ReadPidStat(pid, stat) ||
        !(proc = ProcThreadActivity::Open(pid, stat.startTicks))) {
        std::fprintf(stderr, "quorvex-stat: cannot attach to process %d: %s\n", pid, std::strerror(errno));
        return EXIT_USAGE;
    }
    std::fprintf(stderr, "quorvex-stat: attached to process %d; sampling /proc every %d ms (not exact)\n", pid,
                 options.intervalMs);
    const SignalInbox signals;
    RunFacts facts;
    facts.command = CommandOf(pid);
    facts.fromRecords = false;
    const std::uint64_t start = MonotonicNowNs();
    const std::uint64_t interval = static_cast<std::uint64_t>(options.intervalMs) * MS;
    ProfileBuilder builder(start, interval, pid, false, {{pid, pid, CommName(facts.command[0])}});
    ProcSampler sampler(pid, *proc, true);
    Progress progress(isatty(STDERR_FILENO));
    for (std::uint64_t next = start; sampler.Sample(next, builder); next += interval) {
        WaitFor({pidFd.Get(), signals.Fd()}, next + interval);
        if (signals.Take() != 0 || Readable(pidFd.Get()))
            break;  // Ctrl-C, or the process exited
        progress.Show(next + interval, start, builder);
    }
    Profile profile = builder.Finish(MonotonicNowNs());
    sampler.PatchOnCpu(profile);
    outputs.Write(profile, facts);
    return 0;
}
