// The exact thread-state source against real processes: the demo workload
// and quorvex-thread-shapes, started by CreateProcessA, which attaches the
// source while the child waits before its exec.

#include "Pdh.h"
#include "ProcCounterService.h"
#include "ProcFiles.h"
#include "Process.h"
#include "StartedTarget.h"
#include "SwitchRecords.h"
#include "Timing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <random>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

using Status = ThreadActivitySource::Status;

const char* const REFUSED = "the kernel refuses";

// What the start attached; the default start hook and the tests' own attach
// nothing but SwitchRecordSource.
std::unique_ptr<SwitchRecordSource> TakeSource(const StartedTarget& target, std::string& whyNot)
{
    return std::unique_ptr<SwitchRecordSource>(
        static_cast<SwitchRecordSource*>(TakeAttachedThreadStates(target.Process(), whyNot).release()));
}

// A test that cannot get switch records here says why and skips.
#define TAKE_OR_SKIP(source, started)                                                           \
    std::string whyNot;                                                                        \
    const std::unique_ptr<SwitchRecordSource> source = TakeSource(started, whyNot);            \
    if (!source && whyNot.starts_with(REFUSED))                                                \
        GTEST_SKIP() << whyNot;                                                                \
    ASSERT_TRUE(source) << whyNot

// While it lives, starts attach the records with these options.
class AttachingWith {
public:
    explicit AttachingWith(const SwitchRecordOptions& options)
    {
        SetProcessStartHook([options](int pid, std::string& whyNot) -> std::unique_ptr<ThreadActivitySource> {
            return SwitchRecordSource::Attach(pid, &whyNot, options);
        });
    }
    ~AttachingWith() { SetProcessStartHook(nullptr); }
};

int Processors()
{
    return static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
}

std::vector<std::string> Demo(const std::string& phases, int phaseMs, int sleepers)
{
    return {QUORVEX_DEMO, "--phases", phases, "--phase-ms", std::to_string(phaseMs), "--sleepers",
            std::to_string(sleepers)};
}

struct Sample {
    std::uint64_t sinceStartNs;
    ActivitySnapshot snapshot;
    std::vector<int> procTids;     // /proc's live threads, read right after the collection
    std::uint64_t processClockNs;  // the kernel's processor time of the process, then too
};

int OnProcessors(const ActivitySnapshot& snapshot)
{
    return static_cast<int>(std::count_if(snapshot.threads.begin(), snapshot.threads.end(),
                                          [](const ThreadActivity& t) { return t.onProcessor; }));
}

std::vector<int> Tids(const ActivitySnapshot& snapshot)
{
    std::vector<int> tids;
    for (const ThreadActivity& thread : snapshot.threads)
        tids.push_back(thread.tid);
    return tids;
}

std::string ReadLine(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

// Alive: listed and not a zombie. Read independently of the source.
bool IsAlive(const std::filesystem::path& dir)
{
    const std::string stat = ReadLine(dir / "stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

std::vector<int> ProcTids(int pid)
{
    std::vector<int> tids;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        if (IsAlive(entry.path()))
            tids.push_back(std::stoi(entry.path().filename()));
    }
    std::sort(tids.begin(), tids.end());
    return tids;
}

std::uint64_t SchedstatNs(int pid, int tid)
{
    return std::strtoull(ReadLine("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/schedstat").c_str(),
                         nullptr, 10);
}

std::uint64_t ProcessClockNs(int pid)
{
    clockid_t clock;
    timespec used{};
    if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &used) != 0)
        return 0;
    return static_cast<std::uint64_t>(used.tv_sec) * 1'000'000'000 + static_cast<std::uint64_t>(used.tv_nsec);
}

// Collects at the end of each sleep, as the engine's loop does, until the
// source says anything but Ok; `after` runs right after each collection.
// The sleeps vary by a quarter either way: other processes on the machine
// that wake periodically (other samplers) must not line up with the
// instants, or the samples would not represent the run.
Status SampleUntilDone(ThreadActivitySource& source, int pid, int intervalMs, std::vector<Sample>& samples,
                       const std::function<void(const Sample&)>& after = {})
{
    std::mt19937 random(12345);
    const std::uint64_t intervalNs = static_cast<std::uint64_t>(intervalMs) * 1'000'000;
    std::uniform_int_distribution<std::uint64_t> sleepNs(intervalNs * 3 / 4, intervalNs * 5 / 4);
    const std::uint64_t start = MonotonicNowNs();
    std::uint64_t instant = start;
    for (;;) {
        instant += sleepNs(random);
        const timespec until{static_cast<time_t>(instant / 1'000'000'000), static_cast<long>(instant % 1'000'000'000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
        Sample sample{instant - start, {}, {}, 0};
        const Status status = source.Collect(instant, sample.snapshot);
        if (status != Status::Ok)
            return status;
        sample.procTids = ProcTids(pid);
        sample.processClockNs = ProcessClockNs(pid);
        if (after)
            after(sample);
        samples.push_back(std::move(sample));
    }
}

double Share(const std::vector<Sample>& samples, const std::function<bool(const Sample&)>& holds)
{
    return samples.empty() ? 0.0
                           : static_cast<double>(std::count_if(samples.begin(), samples.end(), holds)) /
                                 static_cast<double>(samples.size());
}

std::vector<Sample> Between(const std::vector<Sample>& samples, int fromMs, int toMs)
{
    std::vector<Sample> chosen;
    std::copy_if(samples.begin(), samples.end(), std::back_inserter(chosen), [&](const Sample& s) {
        return s.sinceStartNs >= fromMs * 1'000'000ULL && s.sinceStartNs <= toMs * 1'000'000ULL;
    });
    return chosen;
}

struct BusyCase {
    int busy;
};

void PrintTo(const BusyCase& c, std::ostream* os)
{
    *os << c.busy << " busy threads";
}

class BusyDemo : public testing::TestWithParam<BusyCase> {};

double SecondsBetween(const Sample& first, const Sample& last)
{
    return static_cast<double>(last.sinceStartNs - first.sinceStartNs) / 1e9;
}

const ThreadActivity* Find(const ActivitySnapshot& snapshot, int tid)
{
    const auto thread = std::find_if(snapshot.threads.begin(), snapshot.threads.end(),
                                     [tid](const ThreadActivity& t) { return t.tid == tid; });
    return thread == snapshot.threads.end() ? nullptr : &*thread;
}

// /proc shows every busy thread in state R, always. The records show a
// thread on a processor in as many samples as its share of processor time,
// however the machine's other load (other users' builds) shares it out.
TEST_P(BusyDemo, ThreadsAreOnProcessorsAsOftenAsTheyRun)
{
    const StartedTarget child(Demo(std::to_string(GetParam().busy), 2500, 2));
    TAKE_OR_SKIP(source, child);
    std::vector<Sample> samples;
    EXPECT_EQ(SampleUntilDone(*source, child.Pid(), 20, samples), Status::Gone);
    for (const Sample& sample : samples)
        ASSERT_LE(OnProcessors(sample.snapshot), Processors()) << "at " << sample.sinceStartNs << " ns";

    const std::vector<Sample> phase = Between(samples, 200, 2300);
    ASSERT_GT(phase.size(), 50u);
    const Sample& first = phase.front();
    const Sample& last = phase.back();
    const double seconds = SecondsBetween(first, last);
    const std::vector<Sample> counted(phase.begin() + 1, phase.end());

    double onSum = 0;
    for (const Sample& sample : counted)
        onSum += OnProcessors(sample.snapshot);
    const double processors = static_cast<double>(last.processClockNs - first.processClockNs) / 1e9 / seconds;
    EXPECT_NEAR(onSum / static_cast<double>(counted.size()), processors, 0.2) << "mean level against the kernel's CPU time";

    for (const ThreadActivity& thread : last.snapshot.threads) {
        const ThreadActivity* before = Find(first.snapshot, thread.tid);
        ASSERT_NE(before, nullptr);
        const double used = static_cast<double>(thread.cpuNs - before->cpuNs) / 1e9 / seconds;
        const double on = Share(counted, [&](const Sample& s) {
            const ThreadActivity* t = Find(s.snapshot, thread.tid);
            return t && t->onProcessor;
        });
        EXPECT_NEAR(on, used, 0.15) << "thread " << thread.tid;
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, BusyDemo, testing::Values(BusyCase{4}, BusyCase{2}));

// The kernel's own accounting is read a little after the instant, and a
// running thread's schedstat lags by up to a scheduler tick.
void ExpectNear(std::uint64_t records, std::uint64_t kernel, const char* what)
{
    const double margin = 20e6 + 0.05 * static_cast<double>(kernel);
    EXPECT_NEAR(static_cast<double>(records), static_cast<double>(kernel), margin) << what;
}

TEST(SwitchRecordSource, AgreesWithTheKernelOnThreadsAndTimes)
{
    const StartedTarget child(Demo("2", 1500, 2));
    TAKE_OR_SKIP(source, child);
    std::vector<Sample> samples;
    int compared = 0;
    const auto compare = [&](const Sample& sample) {
        if (sample.sinceStartNs < 200'000'000 || sample.sinceStartNs > 1'300'000'000)
            return;
        EXPECT_EQ(Tids(sample.snapshot), sample.procTids);
        ExpectNear(sample.snapshot.processCpuNs, sample.processClockNs, "process");
        for (const ThreadActivity& thread : sample.snapshot.threads)
            ExpectNear(thread.cpuNs, SchedstatNs(child.Pid(), thread.tid), "thread");
        ++compared;
    };
    EXPECT_EQ(SampleUntilDone(*source, child.Pid(), 50, samples, compare), Status::Gone);
    EXPECT_GE(compared, 10);
    EXPECT_EQ(source->LostRecords(), 0u);
}

TEST(SwitchRecordSource, FollowsAnExecFromAThreadOtherThanTheMain)
{
    const StartedTarget child({QUORVEX_THREAD_SHAPES, "exec-from-thread", QUORVEX_DEMO, "--phases", "1", "--phase-ms", "700",
                         "--sleepers", "1"});
    TAKE_OR_SKIP(source, child);
    std::vector<Sample> samples;
    EXPECT_EQ(SampleUntilDone(*source, child.Pid(), 20, samples), Status::Gone);
    const std::vector<Sample> before = Between(samples, 100, 250);
    const std::vector<Sample> after = Between(samples, 450, 900);
    ASSERT_FALSE(before.empty());
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(Tids(before.back().snapshot).size(), 3u);
    // The executing thread now carries the process id; nothing of the old
    // image lingers.
    EXPECT_GT(Share(after, [](const Sample& s) { return Tids(s.snapshot) == s.procTids; }), 0.9);
    EXPECT_EQ(Tids(after.back().snapshot).front(), child.Pid());
    EXPECT_EQ(Tids(after.back().snapshot).size(), 3u);
}

TEST(SwitchRecordSource, KeepsTheThreadsOfAProcessWhoseMainThreadEnded)
{
    const StartedTarget child({QUORVEX_THREAD_SHAPES, "main-exits-first", "800"});
    TAKE_OR_SKIP(source, child);
    std::vector<Sample> samples;
    EXPECT_EQ(SampleUntilDone(*source, child.Pid(), 20, samples), Status::Gone);
    const std::vector<Sample> spinning = Between(samples, 250, 700);
    ASSERT_FALSE(spinning.empty());
    EXPECT_GT(Share(spinning, [](const Sample& s) { return Tids(s.snapshot) == s.procTids; }), 0.9);
    for (const Sample& sample : spinning)
        EXPECT_EQ(Tids(sample.snapshot).size(), 2u);
}

// Without the drain thread a one-page ring overflows within a second; the
// source counts the loss, re-reads /proc and goes on exactly once records
// resume.
TEST(SwitchRecordSource, LostRecordsAreCountedAndResynced)
{
    const AttachingWith oneUndrainedPage({1, false});
    const StartedTarget child(Demo("8", 4000, 2));
    TAKE_OR_SKIP(source, child);
    ActivitySnapshot ignored;
    usleep(1'000'000);
    ASSERT_EQ(source->Collect(MonotonicNowNs(), ignored), Status::Ok);
    EXPECT_EQ(source->Resyncs(), 1u) << "a full ring is a gap before the kernel reports it";
    std::vector<Sample> samples;
    EXPECT_EQ(SampleUntilDone(*source, child.Pid(), 20, samples), Status::Gone);
    EXPECT_GT(source->LostRecords(), 0u);
    const std::vector<Sample> later = Between(samples, 100, 1300);
    ASSERT_FALSE(later.empty());
    for (const Sample& sample : later)
        EXPECT_LE(OnProcessors(sample.snapshot), Processors());
    EXPECT_GT(Share(later, [](const Sample& s) { return Tids(s.snapshot) == s.procTids; }), 0.9);
}

// The same ring and target, with the drain thread emptying the ring
// whenever it is half full, loses nothing between collections a second apart.
TEST(SwitchRecordSource, DrainThreadLosesNothingAtOneSecond)
{
    const AttachingWith onePage({1, true});
    const StartedTarget child(Demo("8", 3500, 2));
    TAKE_OR_SKIP(source, child);
    std::vector<Sample> samples;
    EXPECT_EQ(SampleUntilDone(*source, child.Pid(), 1000, samples), Status::Gone);
    EXPECT_GE(samples.size(), 3u);
    EXPECT_EQ(source->LostRecords(), 0u);
    for (const Sample& sample : samples)
        EXPECT_LE(OnProcessors(sample.snapshot), Processors());
}

// A directory of the test's own, removed with its contents at the end.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& name)
        : m_path(testing::TempDir() + name + "_" + std::to_string(getpid()))
    {
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
        std::filesystem::permissions(m_path, static_cast<std::filesystem::perms>(0755));
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

constexpr uid_t NOBODY = 65534;

// A copy of the demo that runs as nobody whoever starts it.
std::string CopySetUidNobody(const ScratchDir& dir)
{
    const std::filesystem::path copy = dir.Path() / "quorvex-suid-demo";
    std::filesystem::copy_file(QUORVEX_DEMO, copy);
    if (chown(copy.c_str(), NOBODY, NOBODY) != 0)
        return "";
    std::filesystem::permissions(copy, static_cast<std::filesystem::perms>(04755));
    return copy;
}

// The kernel detaches the events when a process execs a set-uid program (or
// one its user cannot read), and the process runs on unseen.
TEST(SwitchRecordSource, LostWhenASetUidTargetDropsTheRecords)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to make a program set-uid to another user";
    const ScratchDir dir("quorvex_suid");
    const std::string program = CopySetUidNobody(dir);
    ASSERT_NE(program, "");
    const StartedTarget child({program, "--phases", "1", "--phase-ms", "2000", "--sleepers", "0"});
    TAKE_OR_SKIP(source, child);
    std::vector<Sample> samples;
    EXPECT_EQ(SampleUntilDone(*source, child.Pid(), 20, samples), Status::Lost);
    EXPECT_TRUE(IsAlive("/proc/" + std::to_string(child.Pid()))) << "the process itself runs on";
    ActivitySnapshot snapshot;
    EXPECT_EQ(source->Collect(MonotonicNowNs(), snapshot), Status::Lost) << "lost for good";
}

// The counter service goes on from /proc when the records stop, and says so.
TEST(SwitchRecordSource, CounterServiceFallsBackToProcWhenTheRecordsStop)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to make a program set-uid to another user";
    const ScratchDir dir("quorvex_suid_service");
    const std::string program = CopySetUidNobody(dir);
    ASSERT_NE(program, "");
    std::vector<std::string> notices;
    ProcCounterService service([&notices](const std::string& line) { notices.push_back(line); });
    SetCounterService(&service);
    PDH_HQUERY query = nullptr;
    PDH_HCOUNTER threads = nullptr;
    PdhOpenQueryA(nullptr, 0, &query);
    PdhAddCounterA(query, "\\Process(quorvex-suid-demo)\\Thread Count", 0, &threads);
    const StartedTarget child({program, "--phases", "2", "--phase-ms", "3000", "--sleepers", "1"});
    Sleep(300);
    const PDH_STATUS first = PdhCollectQueryData(query);
    Sleep(100);
    const PDH_STATUS second = PdhCollectQueryData(query);
    PDH_FMT_COUNTERVALUE value = {};
    const PDH_STATUS read = PdhGetFormattedCounterValue(threads, PDH_FMT_DOUBLE, nullptr, &value);
    PdhCloseQuery(query);
    SetCounterService(nullptr);

    if (!notices.empty() && notices[0].find(REFUSED) != std::string::npos)
        GTEST_SKIP() << notices[0];
    EXPECT_EQ(first, ERROR_SUCCESS);
    EXPECT_EQ(second, ERROR_SUCCESS);
    EXPECT_EQ(read, ERROR_SUCCESS);
    EXPECT_EQ(value.doubleValue, 4);
    EXPECT_EQ(notices, (std::vector<std::string>{
                           "quorvex: thread states from the kernel's context-switch records",
                           "quorvex: thread states from /proc from now on (the kernel stopped the context-switch "
                           "records of process " + std::to_string(child.Pid()) +
                               "); concurrency may be overstated when the machine is oversubscribed"}));
}

// Runs `body` in a forked process and returns what it wrote, so that the
// test can install a system-call filter there.
std::string InChildProcess(const std::function<std::string()>& body)
{
    int out[2];
    if (pipe(out) != 0)
        return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        const std::string text = body();
        [[maybe_unused]] const ssize_t n = write(out[1], text.data(), text.size());
        _exit(0);
    }
    close(out[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    waitpid(pid, nullptr, 0);
    return text;
}

int OpenDescriptors()
{
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                          std::filesystem::directory_iterator()));
}

struct RefusalCase {
    int error;
    const char* paranoid;  // what the source reads as perf_event_paranoid
    const char* reason;
};

void PrintTo(const RefusalCase& c, std::ostream* os)
{
    *os << std::strerror(c.error) << ", paranoid " << c.paranoid;
}

class Refusal : public testing::TestWithParam<RefusalCase> {};

// perf_event_open fails the way a locked-down kernel or a seccomp policy
// makes it fail; the source gives a one-line reason and leaks nothing.
TEST_P(Refusal, GivesAOneLineReason)
{
    const RefusalCase c = GetParam();
    const StartedTarget sleeper(std::vector<std::string>{"/bin/sleep", "30"});
    const std::string result = InChildProcess([&c, &sleeper] {
        // A /proc of our own: the real process directory, a chosen paranoia.
        const ScratchDir root("refusal_proc");
        std::filesystem::create_directories(root.Path() / "sys/kernel");
        std::ofstream(root.Path() / "sys/kernel/perf_event_paranoid") << c.paranoid << "\n";
        std::filesystem::create_directory_symlink("/proc/" + std::to_string(sleeper.Pid()),
                                                  root.Path() / std::to_string(sleeper.Pid()));

        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_perf_event_open, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | static_cast<unsigned>(c.error)),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            return std::string("cannot install the filter");
        const int descriptors = OpenDescriptors();
        std::string whyNot;
        SwitchRecordOptions options;
        options.procRoot = root.Path();
        const bool attached = SwitchRecordSource::Attach(sleeper.Pid(), &whyNot, options) != nullptr;
        if (attached)
            return std::string("attached");
        return OpenDescriptors() == descriptors ? whyNot : "leaked descriptors: " + whyNot;
    });
    EXPECT_EQ(result, c.reason);
}

INSTANTIATE_TEST_SUITE_P(
    Kernels, Refusal,
    testing::Values(
        RefusalCase{EACCES, "3",
                    "the kernel refuses context-switch records: perf_event_paranoid is 3 (2 or less allows them)"},
        RefusalCase{EACCES, "2", "the kernel refuses context-switch records: Permission denied"},
        RefusalCase{EPERM, "4",
                    "the kernel refuses context-switch records: perf_event_paranoid is 4 (2 or less allows them)"},
        RefusalCase{ENOSYS, "2", "the kernel refuses context-switch records: Function not implemented"},
        RefusalCase{ENOENT, "1", "the kernel refuses context-switch records: No such file or directory"}));

TEST(SwitchRecordSource, ProcInTheEnvironmentForcesTheFallback)
{
    setenv("QUORVEX_THREAD_STATES", "proc", 1);
    const StartedTarget forced(Demo("1", 100, 0));
    setenv("QUORVEX_THREAD_STATES", "exact", 1);
    const StartedTarget other(Demo("1", 100, 0));
    unsetenv("QUORVEX_THREAD_STATES");
    std::string whyNot;
    EXPECT_FALSE(TakeSource(forced, whyNot));
    EXPECT_EQ(whyNot, "forced by QUORVEX_THREAD_STATES=proc");
    std::string otherWhyNot;
    const bool otherAttached = TakeSource(other, otherWhyNot) != nullptr;
    if (!otherAttached && otherWhyNot.starts_with(REFUSED))
        GTEST_SKIP() << otherWhyNot;
    EXPECT_TRUE(otherAttached) << otherWhyNot;
}

// The counter service takes the source of its target once; a second query
// of the same process, or a process whose handles are closed, has none.
TEST(SwitchRecordSource, AttachedSourceIsHandedOverOnce)
{
    StartedTarget child(Demo("1", 2000, 0));
    TAKE_OR_SKIP(source, child);
    const std::string pid = std::to_string(child.Pid());
    EXPECT_FALSE(TakeSource(child, whyNot));
    EXPECT_EQ(whyNot, "the context-switch records of process " + pid + " serve another query");
    child.Kill();
    EXPECT_FALSE(TakeSource(child, whyNot));
    EXPECT_EQ(whyNot, "no context-switch records were attached to process " + pid);
}

TEST(SwitchRecordSource, RefusesAProcessThatHasThreadsOrIsGone)
{
    StartedTarget child(Demo("1", 2000, 2));
    for (int i = 0; i < 200 && ProcTids(child.Pid()).size() < 4; ++i)
        usleep(10'000);
    std::string whyNot;
    EXPECT_EQ(SwitchRecordSource::Attach(child.Pid(), &whyNot), nullptr);
    EXPECT_EQ(whyNot, "process " + std::to_string(child.Pid()) + " is not a single-threaded process");

    child.Kill();
    EXPECT_EQ(SwitchRecordSource::Attach(child.Pid(), &whyNot), nullptr);
    EXPECT_EQ(whyNot, "process " + std::to_string(child.Pid()) + " not found");
}

} // namespace
