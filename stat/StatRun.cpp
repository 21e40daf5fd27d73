#include "StatRun.h"

#include "Clock.h"
#include "ClockCheck.h"
#include "CpuAccess.h"
#include "MachineFiles.h"
#include "ProcFiles.h"
#include "ProcSampler.h"
#include "ProcessTree.h"
#include "ProcThreadActivity.h"
#include "Outputs.h"
#include "ProfileBuilder.h"
#include "RecordsAccess.h"
#include "Reports.h"
#include "SchedstatFiles.h"
#include "SwitchRecords.h"
#include "Target.h"
#include "Text.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <unordered_map>
#include <poll.h>
#include <climits>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t MS = 1'000'000;
constexpr std::uint64_t PROGRESS_NS = 250 * MS;
constexpr std::uint64_t PROGRESS_DELAY_NS = 500 * MS;
// How often the records are taken over: small batches stay in the cache.
constexpr std::uint64_t FEED_NS = 50 * MS;
// How often the kernel's clock of each thread is read: a thread that lives
// at least this long is held against it.
constexpr std::uint64_t CLOCK_CHECK_NS = 250 * MS;
constexpr std::uint64_t KILL_GRACE_NS = 2000 * MS;
constexpr std::size_t COMM_LENGTH = 15;
// Signals arrive through a descriptor the wait polls, so that they can be
// passed on. Blocked before any thread starts, so every thread inherits the
// block; the target's start unblocks them in the child.
class SignalInbox {
public:
    explicit SignalInbox(std::initializer_list<int> signals)
    {
        sigemptyset(&m_set);
        for (const int signal : signals)
            sigaddset(&m_set, signal);
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

// What ends the wait of an attached run.
constexpr std::initializer_list<int> ENDING_SIGNALS = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The progress line, on the terminal's last row, kept out of the command's
// way: the rows above it are made the scrolling region, and each drawing
// saves and restores the cursor in the same write, so the command's output
// and prompts are never overwritten or joined. Only on a terminal that
// knows these controls; taken down before the report and while stopped.
class Progress {
public:
    explicit Progress(bool wanted)
    {
        const char* term = std::getenv("TERM");
        m_shown = wanted && isatty(STDERR_FILENO) && term && *term && std::strcmp(term, "dumb") != 0;
    }
    ~Progress() { Hide(); }
    void Show(std::uint64_t nowNs, std::uint64_t startNs, const ProfileBuilder& builder)
    {
        if (m_shown && m_nextNs == 0)
            m_nextNs = startNs + PROGRESS_DELAY_NS;  // a short command goes without
        if (!m_shown || nowNs < m_nextNs)
            return;
        m_nextNs = nowNs + PROGRESS_NS;
        winsize size{};
        if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_row < 3 || size.ws_col < 10)
            return;
        std::string text;
        if (size.ws_row != m_rows)  // first, or the terminal was resized: a free row below the cursor
            Appendf(text, "\033D\033[A\0337\033[1;%dr\0338", size.ws_row - 1);
        m_rows = size.ws_row;
        const std::string line = ProgressLine(nowNs - startNs, builder.OnCpuNsSoFar(), builder.LiveThreads(),
                                              builder.ParallelNsSoFar());
        Appendf(text, "\0337\033[%d;1H\033[2K%s\0338", m_rows, line.substr(0, size.ws_col - 1u).c_str());
        Put(text);
    }
    void Hide()
    {
        if (m_rows == 0)
            return;
        std::string text;
        Appendf(text, "\0337\033[%d;1H\033[2K\033[r\0338", m_rows);
        Put(text);
        m_rows = 0;
    }

private:
    static void Put(const std::string& text)
    {
        [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, text.data(), text.size());
    }

    bool m_shown = false;
    int m_rows = 0;  // the terminal's rows when the region was set; 0: not set
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
// deadline, SIGKILL to the group a grace later.
class Timeout {
public:
    Timeout(std::uint64_t startNs, double seconds)
        : m_termNs(seconds > 0 ? startNs + std::min(static_cast<std::uint64_t>(seconds * 1e9), UINT64_MAX - startNs)
                               : UINT64_MAX)
    {
    }
    std::uint64_t NextNs() const { return m_termSent ? m_killNs : m_termNs; }
    void Keep(std::uint64_t nowNs, int processGroup)
    {
        if (!m_termSent && nowNs >= m_termNs) {
            kill(-processGroup, SIGTERM);
            m_termSent = true;
            m_killNs = nowNs + KILL_GRACE_NS;
        } else if (m_termSent && nowNs >= m_killNs) {
            kill(-processGroup, SIGKILL);
            m_killNs = UINT64_MAX;
        }
    }

private:
    const std::uint64_t m_termNs;
    std::uint64_t m_killNs = UINT64_MAX;
    bool m_termSent = false;
};

// A command run from a terminal gets it, as a shell's foreground job would:
// it may read from it, and Ctrl-C and Ctrl-Z reach it. Taken back while the
// command is stopped and at the end.
class TerminalHandover {
public:
    // Only when this program is in the terminal's foreground now.
    void GiveTo(int processGroup)
    {
        m_given = isatty(STDIN_FILENO) && tcgetpgrp(STDIN_FILENO) == getpgrp() &&
                  tcsetpgrp(STDIN_FILENO, processGroup) == 0;
    }
    bool Given() const { return m_given; }
    void TakeBack()
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
        m_given = false;
    }
    ~TerminalHandover() { TakeBack(); }

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
    const std::uint64_t waitMs = deadlineNs <= now ? 0 : std::min<std::uint64_t>((deadlineNs - now + MS - 1) / MS, INT_MAX);
    poll(polled.data(), polled.size(), static_cast<int>(waitMs));
}

bool Readable(int fd)
{
    pollfd polled{fd, POLLIN, 0};
    return poll(&polled, 1, 0) == 1;
}

// What the command's run signals: passed on to its group, answered when
// it stops (Ctrl-Z), and its adopted orphans reaped.
constexpr std::initializer_list<int> RUN_SIGNALS = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCHLD, SIGCONT};

// The command runs as a shell's foreground job: signals sent to this
// program reach the command's group, and when the command stops, this
// program stops too with the same signal (with what else runs in its own
// group, as the terminal would have stopped it), so that the shell gets the
// terminal back; continued, it continues the command, and hands it the
// terminal again when it is in the foreground.
class CommandJob {
public:
    CommandJob(const SignalInbox& signals, TerminalHandover& terminal, const Target& target, double timeoutSeconds)
        : m_signals(signals), m_terminal(terminal), m_pid(target.Pid()), m_group(target.ProcessGroup()),
          m_timeout(target.ReleaseNs(), timeoutSeconds)
    {
    }
    int Fd() const { return m_signals.Fd(); }
    std::uint64_t NextNs() const { return m_timeout.NextNs(); }
    void Keep(std::uint64_t nowNs, Progress& progress)
    {
        while (const int signal = m_signals.Take()) {
            if (signal == SIGCHLD)
                ReapOrphans();
            else if (signal == SIGCONT && !m_terminal.Given())
                m_terminal.GiveTo(m_group);  // brought to the foreground: the command takes the terminal
            else if (signal != SIGCONT)
                kill(-m_group, signal);
        }
        if (const int stop = StopSignal())
            StopAlongside(stop, progress);
        m_timeout.Keep(nowNs, m_group);
    }

private:
    // The signal that stopped the command since the last look, or 0.
    int StopSignal() const
    {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(m_pid), &info, WSTOPPED | WNOHANG) == 0 && info.si_pid == m_pid &&
            info.si_code == CLD_STOPPED)
            return info.si_status;
        return StoppedInVfork() ? SIGTSTP : 0;
    }
    // A shell that vforks holds off a stop until its child has exec'd; a
    // Ctrl-Z in between stops only the child, and the command's leader never
    // reports a stop. Its stopped child in the command's group tells instead.
    bool StoppedInVfork() const
    {
        ProcStat leader;
        if (!ReadPidStat(m_pid, leader) || leader.state != 'D')
            return false;
        std::istringstream children(
            ReadMachineLine("/proc", std::to_string(m_pid) + "/task/" + std::to_string(m_pid) + "/children")
                .value_or(""));
        for (pid_t child = 0; children >> child;) {
            ProcStat stat;
            if (ReadPidStat(child, stat) && stat.state == 'T' && stat.processGroup == m_group)
                return true;
        }
        return false;
    }
    // Orphans adopted here are reaped as they end; the command is left to
    // the target's watcher.
    void ReapOrphans() const
    {
        siginfo_t info{};
        while (waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0 && info.si_pid != m_pid) {
            waitpid(info.si_pid, nullptr, WNOHANG);
            info = {};
        }
    }
    void StopAlongside(int stop, Progress& progress)
    {
        // A command stopped by a signal a job-control shell would not send
        // is waited for, as a shell waits for a job it did not stop.
        const bool jobControl = stop == SIGTSTP || stop == SIGTTIN || stop == SIGTTOU || m_terminal.Given();
        if (!jobControl)
            return;
        progress.Hide();
        m_terminal.TakeBack();
        sigset_t own, before;
        sigemptyset(&own);
        sigaddset(&own, stop);
        pthread_sigmask(SIG_UNBLOCK, &own, &before);
        kill(-getpgrp(), stop);  // this thread takes it: the whole program stops here until continued
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        m_terminal.GiveTo(m_group);
        kill(-m_group, SIGCONT);
    }

    const SignalInbox& m_signals;
    TerminalHandover& m_terminal;
    const int m_pid;
    const int m_group;
    Timeout m_timeout;
};

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

// A process that ended before /proc could be opened: only its parent's
// figure for it remains.
class EndedProcess : public ThreadActivitySource {
public:
    Status Collect(std::uint64_t, ActivitySnapshot&) override { return Status::Gone; }
};

Profile EmptyProfile(std::uint64_t startNs, std::uint64_t intervalNs)
{
    Profile profile;
    profile.startNs = startNs;
    profile.intervalNs = intervalNs;
    return profile;
}

// The command's first thread at its start, to be sampled from there.
Profile StartedProfile(std::uint64_t startNs, std::uint64_t intervalNs, int pid, const std::string& name)
{
    Profile profile = EmptyProfile(startNs, intervalNs);
    ThreadProfile thread;
    thread.tid = thread.pid = pid;
    thread.name = name;
    thread.bornNs = thread.endedNs = startNs;
    profile.threads.push_back(thread);
    return profile;
}

struct Measurement {
    std::unique_ptr<SwitchRecordSource> records;
    bool sampled = false;  // the records were refused or stopped: /proc is sampled
    std::unique_ptr<ThreadActivitySource> proc;
    std::string whyNot;
    std::uint64_t heldCpuNs = 0;  // the command's processor time before it was released
    // The kernel stopped the records of the command, or of a process it
    // started, at its exec of this set-user-ID program; the process lives
    // on, or ended unseen.
    std::optional<std::string> stoppedAt;
    // It started processes: its parent's figure for it holds theirs too.
    bool forked = false;
};

// Said once: what refused the records, what is done instead, and what would
// give exact figures.
void FallBackToProc(const Target& target, Measurement& measurement, const StatOptions& options)
{
    const RecordsAccess access = ProbeRecordsAccess();
    const int everyMs = ProcReadMs(options.intervalMs);
    std::string said = access.error || access.forced ? RefusalText(access, everyMs)
                                                     : "quorvex-stat: " + measurement.whyNot + "; sampling /proc every " +
                                                           std::to_string(everyMs) + " ms instead\n";
    if (measurement.records)  // they stopped part-way
        said = SetUidText(measurement.stoppedAt ? *measurement.stoppedAt
                                                : ReadMachineLine("/proc", std::to_string(target.Pid()) + "/comm")
                                                      .value_or("a program"),
                          everyMs);
    std::fputs(said.c_str(), stderr);
    measurement.sampled = true;
    // Raised only now, so that the command inherits the limit it would have had.
    RaiseDescriptorLimit();
    auto proc = ProcThreadActivity::Open(target.Pid(), target.StartTicks());
    if (options.followChildren && proc)
        measurement.proc = std::make_unique<ProcessTree>(target.Pid(), std::move(proc));
    else
        measurement.proc = std::move(proc);
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
               CommandJob& job, std::uint64_t childrenBefore)
{
    const int pid = target.Pid();
    const std::uint64_t start = target.ReleaseNs();
    const std::uint64_t interval = static_cast<std::uint64_t>(options.intervalMs) * MS;
    const auto affinity = ProcessAffinity(pid);
    const unsigned processors = affinity ? static_cast<unsigned>(affinity->size()) : 0;
    ProfileBuilder builder(start, interval, pid, options.followChildren, {{pid, pid, CommName(options.command[0])}},
                           processors);
    feed.builder = &builder;
    if (!options.traceFile.empty())
        builder.KeepStretches();
    SchedstatFiles schedstat;
    std::optional<ProcSampler> sampler;
    EndedProcess ended;
    bool recorded = false;  // records were taken before /proc
    Progress progress(true);
    std::uint64_t nextSampleNs = start + interval;
    ClockCheck clock(measurement.heldCpuNs);
    std::uint64_t nextClockNs = start;
    // Each thread alive when the records stopped goes on in /proc from the
    // processor time the records gave it.
    const auto switchToProc = [&] {
        progress.Hide();  // its figures were the records'
        feed.builder = nullptr;
        const std::uint64_t from = recorded ? builder.LastTimeNs() : start;
        sampler.emplace(pid, recorded ? builder.Finish(from)
                                 : StartedProfile(start, interval, pid, CommName(options.command[0])),
                        from, measurement.proc ? *measurement.proc : static_cast<ThreadActivitySource&>(ended), false,
                        processors);
        nextSampleNs = MonotonicNowNs();
    };
    for (;;) {
        if (measurement.sampled && !sampler)
            switchToProc();
        const std::uint64_t tick = sampler ? nextSampleNs : MonotonicNowNs() + FEED_NS;
        WaitFor({target.PidFd(), job.Fd()}, std::min(tick, job.NextNs()));
        const std::uint64_t now = MonotonicNowNs();
        if (target.Exit())
            break;
        job.Keep(now, progress);
        if (!measurement.sampled) {
            CompareClocks(*measurement.records, clock, builder.States());
            // A stop shows in the records before the events close.
            if (measurement.records->Advance(now) == ThreadActivitySource::Status::Lost || measurement.stoppedAt) {
                recorded = true;
                FallBackToProc(target, measurement, options);
            } else if (now >= nextClockNs) {
                schedstat.NextRound();
                clock.Read(builder.States(), schedstat);
                // The threads switched in since their last read, from the
                // figures the clock check has just read.
                builder.ReadRunDelays(schedstat, now);
                nextClockNs = now + CLOCK_CHECK_NS;
            }
        } else if (sampler && now >= nextSampleNs) {
            sampler->Sample();
            const std::uint64_t period = ProcReadPeriodNs(interval, sampler->LiveThreads());
            nextSampleNs += period * (1 + (now - nextSampleNs) / period);
        }
        if (!sampler)
            progress.Show(now, start, builder);
    }
    const std::uint64_t end = target.Exit()->exitNs;
    // The reaped command's total, and that of the children it waited for.
    const std::uint64_t reapedNs = ChildrenCpuNs() - childrenBefore;
    if (!measurement.sampled) {
        measurement.records->Advance(end);
        if (!measurement.stoppedAt) {
            if (const auto readNs = clock.PendingNs(); readNs && *readNs <= end)
                clock.Compare(builder.States());
            feed.builder = nullptr;
            const ThreadStates& states = builder.States();
            const std::uint64_t switchIns = states.SwitchIns() - states.DirectSwitchIns();
            // The children it waited for are measured only when followed.
            const bool wholeTotal = options.followChildren || states.UnfollowedProcesses() == 0;
            Profile profile = builder.Finish(end);
            clock.Finish(wholeTotal ? std::optional<std::uint64_t>(reapedNs) : std::nullopt, switchIns, profile);
            return profile;
        }
        // Stopped, and ended before the next look: only its parent's figure is left.
        recorded = true;
        FallBackToProc(target, measurement, options);
        switchToProc();
    }
    sampler->Sample(end);
    // Without its children followed, the reaped total holds theirs too.
    if (options.followChildren || !measurement.forked)
        sampler->Reaped(end, reapedNs);
    return sampler->Finish(end);
}

int FailedStart(const std::string& name, int error)
{
    const StartFailure failure = DescribeStartFailure(name, error);
    std::fprintf(stderr, "%s\n", failure.message.c_str());
    return failure.status;
}

// The processors pid may run on (its affinity; 0: this program's, which
// the command inherits) and those online; returns the former.
cpu_set_t CountProcessors(RunFacts& facts, int pid)
{
    facts.processorsOnline = static_cast<unsigned>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(pid, sizeof allowed, &allowed) != 0)
        for (unsigned cpu = 0; cpu < facts.processorsOnline; ++cpu)
            CPU_SET(cpu, &allowed);
    facts.processorsAllowed = static_cast<unsigned>(CPU_COUNT(&allowed));
    return allowed;
}

// How long the processors were idle since the reading `before`.
std::optional<std::uint64_t> IdleSince(const cpu_set_t& processors, std::optional<std::uint64_t> before)
{
    const std::optional<std::uint64_t> now = ReadIdleNs(processors);
    if (!before || !now)
        return std::nullopt;
    return *now - std::min(*now, *before);
}

// quorvex-stat ends nothing the command leaves running, but says so.
void SayLeftRunning(const Target& target)
{
    const std::size_t left = LiveDescendants({target.Pid()}).size();
    if (left > 0)
        std::fprintf(stderr, "quorvex-stat: %zu process%s the command started %s still running at its exit (left running)\n",
                     left, left == 1 ? "" : "es", left == 1 ? "was" : "were");
}

} // namespace

int MeasureCommand(const StatOptions& options, const RunFinished& finished)
{
    const std::string& name = options.command[0];
    TargetLaunch launch;
    launch.program = name;
    launch.searchPath = true;
    launch.argv = options.command;
    launch.keepDescriptors = true;
    launch.guarded = false;
    launch.shellRunsScripts = true;
    if (name.find('/') == std::string::npos && !FindProgram(name, std::getenv("PATH"))) {
        const int error = SearchError(name, std::getenv("PATH"));
        return FailedStart(name, error == ENOENT ? 0 : error);
    }
    RunFacts facts;
    facts.command = options.command;
    const cpu_set_t allowed = CountProcessors(facts, 0);
    const std::optional<std::uint64_t> idleBefore = ReadIdleNs(allowed);
    const SignalInbox signals(RUN_SIGNALS);
    // Earlier runs of -r are children already waited for.
    const std::uint64_t childrenBefore = ChildrenCpuNs();
    TerminalHandover terminal;
    RecordFeed feed;
    Measurement measurement;
    SwitchRecordOptions recordOptions;
    recordOptions.followChildren = options.followChildren;
    recordOptions.keepThreadStates = false;  // the profile keeps them
    int commandPid = 0;
    StoppedExecs stoppedExecs;
    recordOptions.onRecord = [&](const SwitchRecord& record) {
        if (record.kind == RecordKind::Fork && record.pid != commandPid)
            measurement.forked = true;
        if (!feed.builder)
            return;
        feed.builder->Add(record);
        // A stop anywhere hands every thread to /proc from that record on.
        if (const auto stopped = stoppedExecs.See(record)) {
            measurement.stoppedAt = stopped;
            feed.builder = nullptr;
        }
    };
    int error = 0;
    const auto target = Target::Start(
        launch,
        [&](int pid) {
            commandPid = pid;
            measurement.records = SwitchRecordSource::Attach(pid, &measurement.whyNot, recordOptions);
            measurement.heldCpuNs = ClockCheck::ThreadCpuNs(pid, pid);
            terminal.GiveTo(pid);
        },
        error);
    if (!target)
        return FailedStart(name, error);
    if (!measurement.records)
        FallBackToProc(*target, measurement, options);
    CommandJob job(signals, terminal, *target, options.timeoutSeconds);
    const Profile profile = Follow(*target, measurement, feed, options, job, childrenBefore);
    facts.idleNs = IdleSince(allowed, idleBefore);
    terminal.TakeBack();
    facts.exitStatus = ShellStatus(target->Exit()->waitStatus, facts.signal);
    facts.fromRecords = !measurement.sampled;
    facts.stretches = options.stretches;
    if (options.followChildren) {
        SayLeftRunning(*target);
    } else {
        // The reaped command's processor time includes that of the children it waited for.
        const std::uint64_t own = OwnCpuNs(profile, target->Pid());
        const std::uint64_t all = ChildrenCpuNs() - childrenBefore;
        std::fputs(ChildrenNote(name, own, all - std::min(all, own)).c_str(), stderr);
    }
    finished(profile, facts);
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

// How each thread of an attached process stood when the span started: its
// first record tells. A switch-out or an exit before any switch-in: it was
// on a processor; a switch-in: it was not, and waited for one if /proc
// listed it runnable. A thread without a record ran throughout or not at
// all, which its own counter tells. The records wait in the source's queue
// until every thread is settled, at most HOLD_NS.
class AttachedStart {
public:
    AttachedStart(int pid, const std::vector<ThreadActivity>& threads, std::uint64_t startNs)
        : m_pid(pid), m_startNs(startNs)
    {
        for (const ThreadActivity& thread : threads)
            m_unsettled[thread.tid] = thread;
    }
    // Settles the threads whose first record is queued by now.
    void Look(SwitchRecordSource& records)
    {
        std::unordered_map<int, SwitchRecord> first;
        records.Queued([&](const SwitchRecord& record) {
            if (!m_unsettled.count(record.tid) || record.kind == RecordKind::Fork ||
                record.kind == RecordKind::Comm || record.kind == RecordKind::Lost)
                return;
            const auto [earliest, added] = first.try_emplace(record.tid, record);
            if (!added && record.timeNs < earliest->second.timeNs)
                earliest->second = record;
        });
        for (const auto& [tid, record] : first) {
            if (record.kind != RecordKind::SwitchIn)
                m_settled.push_back(At(RecordKind::SwitchIn, tid, record.cpu, false));
            else if (m_unsettled.at(tid).onProcessor)
                m_settled.push_back(At(RecordKind::SwitchOut, tid, -1, true));
            m_unsettled.erase(tid);
        }
    }
    bool Settled(std::uint64_t nowNs) const { return m_unsettled.empty() || nowNs >= m_startNs + HOLD_NS; }
    // The records that set the threads' states at the start.
    std::vector<SwitchRecord> Take(std::uint64_t nowNs)
    {
        for (const auto& [tid, thread] : m_unsettled) {
            const std::uint64_t cpuNs = ClockCheck::ThreadCpuNs(m_pid, tid);
            if (2 * (cpuNs - std::min(cpuNs, thread.cpuNs)) > nowNs - thread.readNs)
                m_settled.push_back(At(RecordKind::SwitchIn, tid, -1, false));
        }
        m_unsettled.clear();
        return std::move(m_settled);
    }

private:
    static constexpr std::uint64_t HOLD_NS = 250 * MS;
    SwitchRecord At(RecordKind kind, int tid, int cpu, bool preempted) const
    {
        SwitchRecord record;
        record.timeNs = m_startNs;
        record.kind = kind;
        record.pid = m_pid;
        record.tid = tid;
        record.cpu = cpu;
        record.preempted = preempted;
        return record;
    }

    const int m_pid;
    const std::uint64_t m_startNs;
    std::unordered_map<int, ThreadActivity> m_unsettled;
    std::vector<SwitchRecord> m_settled;
};

std::vector<InitialThread> Named(int pid, const std::vector<ThreadActivity>& threads)
{
    std::vector<InitialThread> named;
    for (const ThreadActivity& thread : threads) {
        const std::string path = std::to_string(pid) + "/task/" + std::to_string(thread.tid) + "/comm";
        named.push_back({thread.tid, pid, ReadMachineLine("/proc", path).value_or("")});
    }
    return named;
}

// An attached thread's run-queue wait counts from the attachment: what it
// had waited before, read as it was listed, is left out.
class RunDelaysSinceAttach : public RunDelaySource {
public:
    RunDelaysSinceAttach(SchedstatFiles& files, const std::vector<ThreadActivity>& threads) : m_files(files)
    {
        for (const ThreadActivity& thread : threads)
            m_before[thread.tid] = thread.waitingNs;
    }
    bool Read(int pid, int tid, std::uint64_t& runDelayNs) override
    {
        if (!m_files.Read(pid, tid, runDelayNs))
            return false;
        if (const auto before = m_before.find(tid); before != m_before.end())
            runDelayNs -= std::min(runDelayNs, before->second);
        return true;
    }
    void Forget(int tid) override
    {
        m_before.erase(tid);
        m_files.Forget(tid);
    }

private:
    SchedstatFiles& m_files;
    std::unordered_map<int, std::uint64_t> m_before;
};

// Reads /proc at every interval until Ctrl-C, or until the process exits.
Profile SampleUntilEnd(ProcSampler& sampler, const SignalInbox& signals, int pidFd, std::uint64_t intervalNs,
                       bool ended = false)
{
    for (std::uint64_t next = MonotonicNowNs(); !ended;) {
        next += ProcReadPeriodNs(intervalNs, sampler.LiveThreads());
        WaitFor({pidFd, signals.Fd()}, next);
        ended = signals.Take() != 0 || !sampler.Sample();
    }
    sampler.Sample();  // up to the end of the attachment
    return sampler.Finish(MonotonicNowNs());
}

// Where the kernel stops the records part-way (a set-user-ID exec by the
// process, or by a child it started since), /proc takes every thread over,
// from the processor time the records gave it plus what it had used before
// the attachment, read here as the records start.
class AttachedFallback {
public:
    AttachedFallback(int pid, bool children, unsigned processors) : m_processors(processors)
    {
        ProcStat stat;
        auto own = ReadPidStat(pid, stat) ? ProcThreadActivity::Open(pid, stat.startTicks) : nullptr;
        if (own && children) {
            auto tree = std::make_unique<ProcessTree>(pid, std::move(own));
            tree->LeaveOutPresentChildren(MonotonicNowNs());
            m_source = std::move(tree);
        } else {
            m_source = std::move(own);
        }
        ActivitySnapshot before;
        if (m_source)
            m_source->Collect(MonotonicNowNs(), before);
        m_before.processNs = before.processCpuNs;
        for (const ThreadActivity& thread : before.threads)
            m_before.threadNs[thread.tid] = thread.cpuNs;
    }
    // False when the process was gone already.
    bool Readable() const { return m_source != nullptr; }
    // The records' profile up to their stop goes on from /proc.
    ProcSampler TakeOver(int pid, ProfileBuilder& builder) const
    {
        const std::uint64_t from = builder.LastTimeNs();
        return ProcSampler(pid, builder.Finish(from), from, *m_source, false, m_processors, m_before);
    }

private:
    const unsigned m_processors;
    std::unique_ptr<ThreadActivitySource> m_source;
    UsedBefore m_before;
};

// Samples /proc where the kernel refuses the records.
int SampleAttached(const StatOptions& options, const RunFinished& finished, const SignalInbox& signals, int pidFd)
{
    const int pid = options.attachPid;
    ProcStat stat;
    std::unique_ptr<ProcThreadActivity> proc;
    if (!ReadPidStat(pid, stat) || !(proc = ProcThreadActivity::Open(pid, stat.startTicks))) {
        std::fprintf(stderr, "quorvex-stat: cannot attach to process %d: %s\n", pid, std::strerror(errno));
        return EXIT_USAGE;
    }
    std::fputs(RefusalText(ProbeRecordsAccess(), ProcReadMs(options.intervalMs)).c_str(), stderr);
    RunFacts facts;
    facts.command = CommandOf(pid);
    facts.fromRecords = false;
    CountProcessors(facts, pid);
    const std::uint64_t start = MonotonicNowNs();
    const std::uint64_t interval = static_cast<std::uint64_t>(options.intervalMs) * MS;
    ProcSampler sampler(pid, EmptyProfile(start, interval), start, *proc, true, facts.processorsAllowed);
    finished(SampleUntilEnd(sampler, signals, pidFd, interval), facts);
    return 0;
}

} // namespace

// Follows every thread of the process from its switch records, until it
// exits or SIGINT/SIGTERM ends the attachment; the process is not touched.
int MeasureAttached(const StatOptions& options, const RunFinished& finished)
{
    const int pid = options.attachPid;
    RaiseDescriptorLimit();  // an event per thread and processor
    const SignalInbox signals(ENDING_SIGNALS);
    const UniqueFd pidFd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    if (!pidFd.IsOpen()) {
        std::fprintf(stderr, "quorvex-stat: cannot attach to process %d: %s\n", pid, std::strerror(errno));
        return EXIT_USAGE;
    }
    RecordFeed feed;
    SwitchRecordOptions recordOptions;
    recordOptions.followChildren = options.followChildren;
    recordOptions.keepThreadStates = false;  // the profile keeps them
    StoppedExecs stoppedExecs;
    std::optional<std::string> stoppedAt;
    recordOptions.onRecord = [&](const SwitchRecord& record) {
        if (!feed.builder)
            return;
        feed.builder->Add(record);
        // A stop anywhere hands every thread to /proc from that record on.
        if (const auto stopped = stoppedExecs.See(record)) {
            stoppedAt = stopped;
            feed.builder = nullptr;
        }
    };
    RunFacts facts;
    facts.command = CommandOf(pid);
    const cpu_set_t allowed = CountProcessors(facts, pid);
    std::vector<ThreadActivity> threads;
    std::string whyNot;
    const auto records = SwitchRecordSource::AttachRunning(pid, &whyNot, recordOptions, threads);
    const std::uint64_t start = MonotonicNowNs();
    if (!records) {
        const RecordsAccess access = ProbeRecordsAccess();
        if (access.error || access.forced)
            return SampleAttached(options, finished, signals, pidFd.Get());
        std::fprintf(stderr, "quorvex-stat: cannot attach to process %d: %s\n", pid, whyNot.c_str());
        return EXIT_USAGE;
    }
    const AttachedFallback fallback(pid, options.followChildren, facts.processorsAllowed);
    if (!fallback.Readable()) {
        std::fprintf(stderr, "quorvex-stat: cannot attach to process %d: %s\n", pid, std::strerror(ESRCH));
        return EXIT_USAGE;
    }
    AttachedStart starts(pid, threads, start);
    std::fprintf(stderr, "quorvex-stat: following the %zu thread%s of process %d and those they start%s\n",
                 threads.size(), threads.size() == 1 ? "" : "s", pid,
                 options.followChildren ? ", and its new child processes" : "");
    const std::optional<std::uint64_t> idleBefore = ReadIdleNs(allowed);
    const std::uint64_t interval = static_cast<std::uint64_t>(options.intervalMs) * MS;
    ProfileBuilder builder(start, interval, pid, options.followChildren, Named(pid, threads));
    if (!options.traceFile.empty())
        builder.KeepStretches();
    // The threads found running had used time before the span.
    ClockCheck clock(0);
    clock.CountFromFirstReading(threads.size());
    SchedstatFiles schedstat;
    RunDelaysSinceAttach runDelays(schedstat, threads);
    std::uint64_t nextClockNs = start;
    Progress progress(isatty(STDERR_FILENO));
    for (bool settled = false;;) {
        WaitFor({pidFd.Get(), signals.Fd()}, MonotonicNowNs() + FEED_NS);
        const std::uint64_t now = MonotonicNowNs();
        const bool ended = signals.Take() != 0 || Readable(pidFd.Get());  // Ctrl-C, or the process exited
        if (!settled) {
            starts.Look(*records);
            if ((settled = ended || starts.Settled(now))) {
                for (const SwitchRecord& record : starts.Take(now))
                    builder.Add(record);
                feed.builder = &builder;
            }
        }
        if (feed.builder) {
            CompareClocks(*records, clock, builder.States());
            records->Advance(now);
            // Ended by a signal, the threads are still there to be read once more.
            if (ended || now >= nextClockNs) {
                schedstat.NextRound();
                if (!ended)
                    clock.Read(builder.States(), schedstat);
                builder.ReadRunDelays(runDelays, now);
                nextClockNs = now + CLOCK_CHECK_NS;
            }
        }
        if (stoppedAt) {
            progress.Hide();
            std::fputs(SetUidText(*stoppedAt, ProcReadMs(options.intervalMs)).c_str(), stderr);
            ProcSampler sampler = fallback.TakeOver(pid, builder);
            facts.fromRecords = false;
            const Profile profile = SampleUntilEnd(sampler, signals, pidFd.Get(), interval, ended);
            facts.idleNs = IdleSince(allowed, idleBefore);
            finished(profile, facts);
            return 0;
        }
        if (ended) {
            feed.builder = nullptr;
            Profile profile = builder.Finish(now);
            clock.Finish(std::nullopt, 0, profile);
            facts.idleNs = IdleSince(allowed, idleBefore);
            finished(profile, facts);
            return 0;
        }
        if (feed.builder)
            progress.Show(now, start, builder);
    }
}
