// The exact thread-state source against real processes: the demo workload
// and quorvex-thread-shapes, started by CreateProcessA, which attaches the
// source while the child waits before its exec.

#include "ChildProcesses.h"
#include "ProcCounterService.h"
#include "ProcFiles.h"
#include "ScratchFolder.h"
#include "StartedTarget.h"
#include "SwitchRecords.h"
#include "Timing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <random>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

using Status = ThreadActivitySource::Status;

const char* const REFUSED = "the kernel refuses";

// The default start and the tests' own attach nothing but SwitchRecordSource.
std::unique_ptr<SwitchRecordSource> TakeSource(const StartedTarget& target, std::string& whyNot)
{
    return std::unique_ptr<SwitchRecordSource>(
        static_cast<SwitchRecordSource*>(TakeAttachedThreadStates(target.Handle(), whyNot).release()));
}

// A test that cannot get switch records here says why and skips.
#define TAKE_OR_SKIP(source, started)                                                           \
    std::string whyNot;                                                                        \
    const std::unique_ptr<SwitchRecordSource> source = TakeSource(started, whyNot);            \
    if (!source && whyNot.starts_with(REFUSED))                                                \
        GTEST_SKIP() << whyNot;                                                                \
    ASSERT_TRUE(source) << whyNot

int Processors()
{
    return static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
}

std::vector<std::string> Demo(int busy, int phaseMs, int sleepers)
{
    return {QUORVEX_DEMO, "--phases", std::to_string(busy), "--phase-ms", std::to_string(phaseMs), "--sleepers",
            std::to_string(sleepers)};
}

struct Sample {
    std::uint64_t sinceStartNs;
    std::uint64_t instantNs;  // CLOCK_MONOTONIC
    ActivitySnapshot snapshot;
    bool listsTheKernelsThreads;  // those /proc lists right after the collection, zombies aside
};

int OnProcessors(const ActivitySnapshot& snapshot)
{
    return static_cast<int>(std::count_if(snapshot.threads.begin(), snapshot.threads.end(),
                                          [](const ThreadActivity& t) { return t.onProcessor; }));
}

std::vector<int> ProcTids(int pid)
{
    std::vector<int> tids;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        ProcStat stat;
        if (ParseProcStat(ReadFile(entry.path() / "stat"), stat) && stat.state != 'Z')
            tids.push_back(std::stoi(entry.path().filename()));
    }
    std::sort(tids.begin(), tids.end());
    return tids;
}

// Collects at the end of each sleep, as the engine's loop does, until the
// source says anything but Ok; `after` runs right after each collection.
// The sleeps vary by a quarter either way: other processes on the machine
// that wake periodically (other samplers) must not line up with the
// instants, or the samples would not represent the run.
Status SampleUntilDone(ThreadActivitySource& source, const StartedTarget& child, int intervalMs,
                       std::vector<Sample>& samples, const std::function<void(const Sample&)>& after = {})
{
    std::mt19937 random(12345);
    const std::uint64_t intervalNs = static_cast<std::uint64_t>(intervalMs) * 1'000'000;
    std::uniform_int_distribution<std::uint64_t> sleepNs(intervalNs * 3 / 4, intervalNs * 5 / 4);
    const std::uint64_t start = MonotonicNowNs();
    for (std::uint64_t instant = start + sleepNs(random);; instant += sleepNs(random)) {
        const timespec until{static_cast<time_t>(instant / 1'000'000'000), static_cast<long>(instant % 1'000'000'000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
        Sample sample{instant - start, instant, {}, false};
        if (const Status status = source.Collect(instant, sample.snapshot); status != Status::Ok)
            return status;
        std::vector<int> tids;
        for (const ThreadActivity& thread : sample.snapshot.threads)
            tids.push_back(thread.tid);
        sample.listsTheKernelsThreads = tids == ProcTids(child.Pid());
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

const ThreadActivity* Find(const ActivitySnapshot& snapshot, int tid)
{
    const auto thread = std::find_if(snapshot.threads.begin(), snapshot.threads.end(),
                                     [tid](const ThreadActivity& t) { return t.tid == tid; });
    return thread == snapshot.threads.end() ? nullptr : &*thread;
}

struct ShapeCase {
    const char* name;
    std::vector<std::string> argv;
    int fromMs, toMs;  // while the shape holds
    size_t threads;
};

void PrintTo(const ShapeCase& c, std::ostream* os)
{
    *os << c.name;
}

class ThreadShape : public testing::TestWithParam<ShapeCase> {};

// After an exec from a thread other than the main, the executing thread
// carries the process id and nothing of the old image lingers; a process
// whose main thread ended lives on in its other threads.
TEST_P(ThreadShape, ThreadsAreTheKernelsOwn)
{
    const StartedTarget child(GetParam().argv);
    TAKE_OR_SKIP(source, child);
    std::vector<Sample> samples;
    EXPECT_EQ(SampleUntilDone(*source, child, 20, samples), Status::Gone);
    const std::vector<Sample> settled = Between(samples, GetParam().fromMs, GetParam().toMs);
    ASSERT_FALSE(settled.empty());
    EXPECT_GT(Share(settled, [](const Sample& s) { return s.listsTheKernelsThreads; }), 0.9);
    for (const Sample& sample : settled)
        EXPECT_EQ(sample.snapshot.threads.size(), GetParam().threads);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ThreadShape,
    testing::Values(ShapeCase{"ExecFromAThreadOtherThanTheMain",
                              {QUORVEX_THREAD_SHAPES, "exec-from-thread", QUORVEX_DEMO, "--phases", "1", "--phase-ms",
                               "700", "--sleepers", "1"},
                              450, 900, 3},
                    ShapeCase{"MainThreadEndsFirst", {QUORVEX_THREAD_SHAPES, "main-exits-first", "800"}, 250, 700, 2}));

class OnePageRing : public testing::TestWithParam<bool> {};

// Following children, the raw stream shows the processes the target forks:
// a fork into a new pid, the child's exec with its new name, and its end,
// in time order. Oversubscribed, some switch-outs are preemptions.
TEST(SwitchRecordSource, StreamsTheRecordsOfTheWholeProcessTree)
{
    std::vector<SwitchRecord> records;
    const auto followChildren = [&records](int pid, std::string& whyNot) -> std::unique_ptr<ThreadActivitySource> {
        SwitchRecordOptions options;
        options.followChildren = true;
        options.drainInBackground = false;  // the records come only through Advance, on this thread
        options.onRecord = [&records](const SwitchRecord& record) { records.push_back(record); };
        return SwitchRecordSource::Attach(pid, &whyNot, options);
    };
    StartedTarget tree(std::vector<std::string>{"/bin/sh", "-c", std::string(QUORVEX_DEMO) +
                                                                     " --phases " + std::to_string(4 * Processors()) +
                                                                     " --phase-ms 300 --sleepers 0; exit 0"},
                       followChildren);
    TAKE_OR_SKIP(source, tree);
    tree.WaitForExit();
    source->Advance(MonotonicNowNs());
    const auto child = std::find_if(records.begin(), records.end(), [&](const SwitchRecord& r) {
        return r.kind == RecordKind::Fork && r.pid != tree.Pid() && r.pid == r.tid;
    });
    ASSERT_NE(child, records.end()) << "no fork of a new process among " << records.size() << " records";
    const int demo = child->pid;
    EXPECT_TRUE(std::any_of(child, records.end(), [&](const SwitchRecord& r) {
        return r.kind == RecordKind::Exec && r.pid == demo && r.name == "quorvex-demo";
    }));
    EXPECT_TRUE(std::any_of(records.begin(), records.end(),
                            [&](const SwitchRecord& r) { return r.pid == demo && r.kind == RecordKind::SwitchOut && r.preempted; }));
    EXPECT_TRUE(std::is_sorted(records.begin(), records.end(),
                               [](const SwitchRecord& a, const SwitchRecord& b) { return a.timeNs < b.timeNs; }));
}

// Four times as many busy threads as processors fill a one-page ring within a
// second. The drain thread empties it whenever it is half full, so nothing is
// lost between collections a second apart. Without it the source takes a
// full ring for a gap before the kernel reports it, counts the loss, re-reads
// /proc and goes on exactly once records resume. /proc shows every busy
// thread in state R, always; the records agree with the kernel on the threads
// and their times, never show more running than there are processors, and
// show each thread on a processor in as many samples as its share of
// processor time, however the machine's other load shares it out.
TEST_P(OnePageRing, AgreesWithTheKernelOnEachThreadOfAnOversubscribedProcess)
{
    const bool drained = GetParam();
    const StartedTarget child(Demo(4 * Processors(), 3500, 2),
                              [drained](int pid, std::string& whyNot) -> std::unique_ptr<ThreadActivitySource> {
                                  return SwitchRecordSource::Attach(pid, &whyNot, {1, drained});
                              });
    TAKE_OR_SKIP(source, child);
    usleep(1'000'000);
    ActivitySnapshot ignored;
    ASSERT_EQ(source->Collect(MonotonicNowNs(), ignored), Status::Ok);
    EXPECT_EQ(source->Resyncs(), drained ? 0u : 1u);
    std::vector<Sample> samples;
    int compared = 0, inexact = 0;
    unsigned resyncs = source->Resyncs();
    std::uint64_t lost = source->LostRecords();
    const auto compare = [&](const Sample& sample) {
        // A sample whose stream had a gap, or right after a re-sync, has
        // /proc's guess, by design.
        const bool gap = source->Resyncs() != resyncs || source->LostRecords() != lost;
        resyncs = source->Resyncs();
        lost = source->LostRecords();
        if (sample.sinceStartNs < 100'000'000 || sample.sinceStartNs > 2'200'000'000 || gap)
            return;
        bool exact = sample.listsTheKernelsThreads && OnProcessors(sample.snapshot) <= Processors();
        // Read after the instant: a running thread's schedstat lags by up to
        // a tick, and the thread may have run on for as long as this test
        // took to get here, never longer.
        for (const ThreadActivity& thread : sample.snapshot.threads) {
            std::uint64_t kernelNs = 0;
            ParseSchedstatRuntimeNs(ReadFile("/proc/" + std::to_string(child.Pid()) + "/task/" + std::to_string(thread.tid) + "/schedstat"), kernelNs);
            const double ranOn = static_cast<double>(MonotonicNowNs() - sample.instantNs);
            const double behind = static_cast<double>(kernelNs) - static_cast<double>(thread.cpuNs);
            const double slack = 20e6 + 0.05 * static_cast<double>(kernelNs);
            exact = exact && behind >= -slack && behind <= slack + ranOn;
        }
        ++compared;
        inexact += !exact;
    };
    EXPECT_EQ(SampleUntilDone(*source, child, 20, samples, compare), Status::Gone);
    EXPECT_EQ(source->LostRecords() == 0, drained) << source->LostRecords();
    // Undrained, the ring overflows again whenever the sampler is late, as
    // often as the machine's load makes it late; the samples in between are exact
    // but for the odd one that the gap's own record reaches only later.
    EXPECT_LE(inexact, drained ? 0 : compared / 10) << "of " << compared << " samples";
    const std::vector<Sample> phase = Between(samples, 100, 2200);
    ASSERT_GT(phase.size(), 50u);
    const Sample& first = phase.front();
    const Sample& last = phase.back();
    const double seconds = static_cast<double>(last.sinceStartNs - first.sinceStartNs) / 1e9;
    const std::vector<Sample> counted(phase.begin() + 1, phase.end());
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

INSTANTIATE_TEST_SUITE_P(DrainThread, OnePageRing, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Drained" : "Undrained"; });

// The kernel detaches the events when a process execs a set-uid program (or
// one its user cannot read) and the process runs on unseen: the counter
// service goes on from /proc, and says so.
TEST(SwitchRecordSource, CounterServiceFallsBackToProcWhenTheRecordsStop)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to make a program set-uid to another user";
    const ScratchFolder folder;
    const std::string program = folder.Path() + "/quorvex-suid-demo";
    std::filesystem::copy_file(QUORVEX_DEMO, program);
    ASSERT_EQ(chown(program.c_str(), 65534, 65534), 0) << "to nobody";
    std::filesystem::permissions(program, static_cast<std::filesystem::perms>(04755));
    std::vector<std::string> notices;
    ProcCounterService service([&notices](const std::string& line) { notices.push_back(line); });
    PDH_HQUERY query = nullptr;
    PDH_HCOUNTER threads = nullptr;
    service.OpenQuery(&query);
    service.AddCounter(query, "\\Process(quorvex-suid-demo)\\Thread Count", &threads);
    const StartedTarget child({program, "--phases", "2", "--phase-ms", "3000", "--sleepers", "1"});
    service.BindQuery(query, child.Handle());
    Sleep(300);
    const PDH_STATUS first = service.CollectQueryData(query, static_cast<LONGLONG>(MonotonicNowNs()));
    Sleep(100);
    const PDH_STATUS second = service.CollectQueryData(query, static_cast<LONGLONG>(MonotonicNowNs()));
    double value = 0;
    const PDH_STATUS read = service.GetCounterValue(threads, &value);
    if (!notices.empty() && notices[0].find(REFUSED) != std::string::npos)
        GTEST_SKIP() << notices[0];
    EXPECT_EQ(first, ERROR_SUCCESS);
    EXPECT_EQ(second, ERROR_SUCCESS);
    EXPECT_EQ(read, ERROR_SUCCESS);
    EXPECT_EQ(value, 4);
    EXPECT_EQ(notices, (std::vector<std::string>{
                           "quorvex: thread states from the kernel's context-switch records",
                           "quorvex: thread states from /proc from now on (the kernel stopped the context-switch "
                           "records of process " + std::to_string(child.Pid()) +
                               "); concurrency may be overstated when the machine is oversubscribed"}));
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
// makes it fail; the source gives a one-line reason and leaks nothing. The
// filter binds only the thread that installs it.
TEST_P(Refusal, GivesAOneLineReason)
{
    const RefusalCase c = GetParam();
    const StartedTarget sleeper(std::vector<std::string>{"/bin/sleep", "30"});
    // A /proc of our own: the real process directory, a chosen paranoia.
    const ScratchFolder root;
    std::filesystem::create_directories(root.Path() + "/sys/kernel");
    std::ofstream(root.Path() + "/sys/kernel/perf_event_paranoid") << c.paranoid << "\n";
    const std::string pid = std::to_string(sleeper.Pid());
    std::filesystem::create_directory_symlink("/proc/" + pid, root.Path() + "/" + pid);
    std::string result;
    std::thread([&] {
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_perf_event_open, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | static_cast<unsigned>(c.error)),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
            result = "cannot install the filter";
            return;
        }
        const int descriptors = OpenDescriptors();
        SwitchRecordOptions options;
        options.procRoot = root.Path();
        if (SwitchRecordSource::Attach(sleeper.Pid(), &result, options))
            result = "attached";
        else if (OpenDescriptors() != descriptors)
            result = "leaked descriptors: " + result;
    }).join();
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
        RefusalCase{ENOSYS, "2", "the kernel refuses context-switch records: Function not implemented"}));

// Only "proc" forces the fallback. Threads that exist already would not
// inherit the events. The counter service takes the source of its target
// once: a second query of the same process, or a process whose handles are
// closed, has none.
TEST(SwitchRecordSource, AttachesOnceToASingleThreadedProcess)
{
    setenv("QUORVEX_THREAD_STATES", "exact", 1);
    StartedTarget child(Demo(1, 2000, 2));
    unsetenv("QUORVEX_THREAD_STATES");
    const std::string pid = std::to_string(child.Pid());
    for (int i = 0; i < 200 && ProcTids(child.Pid()).size() < 4; ++i)
        usleep(10'000);
    std::string refused;
    EXPECT_FALSE(SwitchRecordSource::Attach(child.Pid(), &refused));
    EXPECT_EQ(refused, "process " + pid + " is not a single-threaded process");

    TAKE_OR_SKIP(source, child);
    EXPECT_FALSE(TakeSource(child, whyNot));
    EXPECT_EQ(whyNot, "the context-switch records of process " + pid + " serve another query");
    child.Kill();
    EXPECT_FALSE(TakeSource(child, whyNot));
    EXPECT_EQ(whyNot, "no process was started for this handle");
    EXPECT_FALSE(SwitchRecordSource::Attach(child.Pid(), &refused));
    EXPECT_EQ(refused, "process " + pid + " not found");
}

} // namespace
