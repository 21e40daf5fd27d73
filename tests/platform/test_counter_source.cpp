// The /proc counter source measuring real processes of known shape.

#include "../engine/EngineTesting.h"
#include "CpuAccess.h"
#include "ProcThreadActivity.h"
#include "Pdh.h"
#include "StartedTarget.h"
#include "Timing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A query of the given service, or of a service that writes its notices to
// standard error.
class Query {
public:
    explicit Query(CounterService& service = QuietService()) : m_service(service)
    {
        EXPECT_EQ(m_service.OpenQuery(&m_query), ERROR_SUCCESS);
    }
    ~Query() { m_service.CloseQuery(m_query); }

    PDH_STATUS Add(const std::string& path, PDH_HCOUNTER& counter) { return m_service.AddCounter(m_query, path.c_str(), &counter); }
    PDH_HCOUNTER Add(const std::string& path)
    {
        PDH_HCOUNTER counter = nullptr;
        EXPECT_EQ(Add(path, counter), ERROR_SUCCESS) << path;
        return counter;
    }
    void Bind(const StartedTarget& target) { EXPECT_EQ(m_service.BindQuery(m_query, target.Handle()), ERROR_SUCCESS); }
    PDH_STATUS Collect() { return CollectAt(MonotonicNowNs()); }
    PDH_STATUS CollectAt(std::uint64_t instantNs) { return m_service.CollectQueryData(m_query, instantNs); }
    std::optional<double> Value(PDH_HCOUNTER counter)
    {
        double value;
        if (m_service.GetCounterValue(counter, &value) != ERROR_SUCCESS)
            return std::nullopt;
        return value;
    }

private:
    static CounterService& QuietService()
    {
        static ProcCounterService service([](const std::string&) {});
        return service;
    }

    CounterService& m_service;
    PDH_HQUERY m_query = nullptr;
};

using Target = StartedTarget;

// Sleeps and returns the sleep's end, the instant of the collection after it.
std::uint64_t SleepFor(std::uint64_t ms)
{
    const std::uint64_t end = MonotonicNowNs() + ms * 1000000;
    SleepUntilNs(end);
    return end;
}

std::string Demo(const std::string& arguments)
{
    return std::string(QUORVEX_DEMO) + " " + arguments;
}

const std::string kDemo = "quorvex-demo";

// The same measurement with thread states from the context-switch records
// and from /proc (the parameter).
class CounterSourceOfBoth : public testing::TestWithParam<bool> {
protected:
    // Started for the source of the case.
    std::unique_ptr<Target> Start(const std::string& commandLine)
    {
        std::optional<ForcedProc> forced;
        if (GetParam())
            forced.emplace();
        return std::make_unique<Target>(commandLine);
    }

    // After the first collection: where the kernel refuses the records, the
    // notice says why.
    bool Refused() const { return !GetParam() && notices.lines.size() == 1 && notices.lines[0] != EXACT_NOTICE; }

    RecordedNotices notices;
};

INSTANTIATE_TEST_SUITE_P(States, CounterSourceOfBoth, testing::Bool(), [](const testing::TestParamInfo<bool>& info) {
    return info.param ? "Proc" : "ContextSwitchRecords";
});

// A process whose name cannot be read must not pass for an instance without a name.
TEST(CounterSource, FailuresOfQueriesAndCounters)
{
    PDH_HQUERY logQuery;
    EXPECT_EQ(PdhOpenQueryA("some.log", 0, &logQuery), PDH_INVALID_ARGUMENT);
    EXPECT_EQ(PdhCollectQueryData(nullptr), PDH_INVALID_HANDLE);
    Query query;
    PDH_HCOUNTER counter;
    EXPECT_EQ(query.Add("\\Memory(x)\\Thread Count", counter), PDH_CSTATUS_NO_OBJECT);
    PDH_HCOUNTER notYetRunning = query.Add(ThreadPath("quorvex-no-such-program", 7, "Thread State"));
    PDH_HCOUNTER nameless = query.Add(ProcessPath("", "Thread Count"));
    EXPECT_EQ(query.Collect(), PDH_NO_DATA);
    EXPECT_FALSE(query.Value(notYetRunning));
    EXPECT_FALSE(query.Value(nameless));
    PDH_FMT_COUNTERVALUE value;
    EXPECT_EQ(PdhGetFormattedCounterValue(nameless, 0x100, nullptr, &value), PDH_INVALID_ARGUMENT);
    EXPECT_EQ(PdhGetFormattedCounterValue(nullptr, PDH_FMT_DOUBLE, nullptr, &value), PDH_INVALID_HANDLE);
}

// Threads in ascending tid order: the main thread, two spinning workers, three sleepers.
TEST_P(CounterSourceOfBoth, MeasuresEachThreadOfARealProcess)
{
    Query query(notices.service);
    PDH_HCOUNTER cpu = query.Add(ProcessPath(kDemo, "% Processor Time"));
    PDH_HCOUNTER threads = query.Add(ProcessPath(kDemo, "Thread Count"));
    std::vector<PDH_HCOUNTER> threadCpu, threadState;
    for (int i = 0; i < 7; ++i) {
        threadCpu.push_back(query.Add(ThreadPath(kDemo, i, "% Processor Time")));
        threadState.push_back(query.Add(ThreadPath(kDemo, i, "Thread State")));
    }
    const std::unique_ptr<Target> demo = Start(Demo("--phases 2 --phase-ms 5000 --sleepers 3"));
    query.Bind(*demo);
    Sleep(300);
    ASSERT_EQ(query.Collect(), ERROR_SUCCESS);
    if (Refused())
        GTEST_SKIP() << notices.lines[0];
    EXPECT_EQ(notices.lines, std::vector<std::string>{GetParam() ? ProcNotice("forced by QUORVEX_THREAD_STATES=proc")
                                                                      : EXACT_NOTICE});
    EXPECT_FALSE(query.Value(cpu)) << "a rate needs two collections";
    const std::uint64_t cpuBefore = demo->CpuNs();
    const std::uint64_t before = MonotonicNowNs();
    Sleep(500);
    ASSERT_EQ(query.Collect(), ERROR_SUCCESS);
    // The workers share the machine with whatever else runs on it: what the
    // demo really got over the interval is the measure.
    const double got = static_cast<double>(demo->CpuNs() - cpuBefore) / static_cast<double>(MonotonicNowNs() - before) * 100;

    EXPECT_EQ(query.Value(threads), 6);
    const double total = query.Value(cpu).value_or(-1);
    EXPECT_NEAR(total, got, got * 0.15 + 5);
    double sum = 0;
    for (int i = 0; i < 6; ++i)
        sum += query.Value(threadCpu[i]).value_or(-1000);
    EXPECT_NEAR(sum, total, 15);
    EXPECT_GT(*query.Value(threadCpu[1]), got / 4);
    EXPECT_GT(*query.Value(threadCpu[2]), got / 4);
    for (const int sleeping : {0, 3, 4, 5}) {
        EXPECT_LT(*query.Value(threadCpu[sleeping]), 5) << sleeping;
        EXPECT_EQ(query.Value(threadState[sleeping]), 5) << sleeping;
    }
    EXPECT_FALSE(query.Value(threadCpu[6])) << "there is no seventh thread";
    EXPECT_FALSE(query.Value(threadState[6]));
}

// The process's processor time, in percent of one processor, from a
// collection to a late one.
struct LateCollection {
    double toTheSleepsEnd;      // used until the sleep's end, over the time until then
    double untilTheCollection;  // used until the collection, over the time until the sleep's end
    double overItsOwnTime;      // used until the collection, over the time until then
};

// Right after a collection: sleeps, keeps this thread busy until lateNs
// after the sleep's end, then collects.
LateCollection CollectLate(Query& query, const Target& target, DWORD sleepMs, std::uint64_t lateNs)
{
    const std::uint64_t cpuBefore = target.CpuNs();
    const std::uint64_t before = MonotonicNowNs();
    const std::uint64_t sleepEnd = before + std::uint64_t{sleepMs} * 1000000;
    Sleep(sleepMs);
    const std::uint64_t cpuAtTheSleepsEnd = target.CpuNs();
    while (MonotonicNowNs() < sleepEnd + lateNs) {
    }
    EXPECT_EQ(query.CollectAt(sleepEnd), ERROR_SUCCESS);
    const std::uint64_t cpuAtTheCollection = target.CpuNs();
    const std::uint64_t collected = MonotonicNowNs();
    const auto percent = [](std::uint64_t cpuNs, std::uint64_t ns) {
        return static_cast<double>(cpuNs) / static_cast<double>(ns) * 100;
    };
    return {percent(cpuAtTheSleepsEnd - cpuBefore, sleepEnd - before),
            percent(cpuAtTheCollection - cpuBefore, sleepEnd - before),
            percent(cpuAtTheCollection - cpuBefore, collected - before)};
}

// The rate of a collection is worked out to the instant it is given, the end
// of the sleep before it, not to the moment the collection ran: here it runs
// 200 ms late. The records tell the processor time used until the sleep's
// end; /proc only the time used until the collection, which it takes over
// the time until its own reading (over the sleep alone, a busy thread would
// show 200%). An instant too far back to be the sleep just finished gives way to the
// collection's own time (it comes first here: after a late one, /proc's time runs from a reading made
// later than the instant it stands for).
TEST_P(CounterSourceOfBoth, CollectionBelongsToTheEndOfARecentSleep)
{
    Query query(notices.service);
    PDH_HCOUNTER cpu = query.Add(ProcessPath(kDemo, "% Processor Time"));
    const std::unique_ptr<Target> demo = Start(Demo("--phases 1 --phase-ms 5000 --sleepers 0"));
    query.Bind(*demo);
    Sleep(300);
    ASSERT_EQ(query.Collect(), ERROR_SUCCESS);
    if (Refused())
        GTEST_SKIP() << notices.lines[0];

    const LateCollection old = CollectLate(query, *demo, 10, 2 * MAX_INSTANT_AGE_NS);
    ASSERT_GT(old.overItsOwnTime, 5) << "the demo hardly ran";
    EXPECT_NEAR(query.Value(cpu).value_or(0), old.overItsOwnTime, old.overItsOwnTime * 0.1 + 2);

    const LateCollection recent = CollectLate(query, *demo, 200, 200'000'000);
    const double expected = GetParam() ? recent.overItsOwnTime : recent.toTheSleepsEnd;
    EXPECT_NEAR(query.Value(cpu).value_or(0), expected, expected * 0.1 + 2);
}

// The query stays with the process it measured.
TEST_P(CounterSourceOfBoth, EndedTargetGivesNoDataForGood)
{
    Query query(notices.service);
    PDH_HCOUNTER threads = query.Add(ProcessPath(kDemo, "Thread Count"));
    const std::unique_ptr<Target> first = Start(Demo("--phases 1 --phase-ms 300 --sleepers 0"));
    query.Bind(*first);
    Sleep(100);
    ASSERT_EQ(query.Collect(), ERROR_SUCCESS);
    EXPECT_EQ(query.Value(threads), 2);
    first->WaitForExit();
    EXPECT_EQ(query.Collect(), PDH_NO_DATA);
    EXPECT_FALSE(query.Value(threads));
    const std::unique_ptr<Target> second = Start(Demo("--phases 1 --phase-ms 5000 --sleepers 0"));
    Sleep(100);
    EXPECT_EQ(query.Collect(), PDH_NO_DATA);
}

// At 1 ms, a collection of 199 threads from /proc takes longer than the
// interval and may be preempted half way, and the kernel adds a running
// thread's time at its ticks: no figure may show more than the processors
// allow, none less than nothing, and over the run they still tell what the
// demo really got.
TEST(CounterSource, ProcFiguresAtOneMillisecondStayWithinTheProcessors)
{
    RecordedNotices notices;
    Query query(notices.service);
    PDH_HCOUNTER cpu = query.Add(ProcessPath(kDemo, "% Processor Time"));
    std::vector<PDH_HCOUNTER> threadCpu;
    for (int i = 0; i < 199; ++i)
        threadCpu.push_back(query.Add(ThreadPath(kDemo, i, "% Processor Time")));
    std::optional<ForcedProc> forced(std::in_place);
    Target demo(Demo("--phases 4 --phase-ms 20000 --sleepers 194"));
    forced.reset();
    query.Bind(demo);
    const double most = 100.0 * static_cast<double>(ProcessAffinity(demo.Pid()).value().size());
    ASSERT_EQ(query.CollectAt(SleepFor(1)), ERROR_SUCCESS);

    const std::uint64_t cpuBefore = demo.CpuNs();
    const std::uint64_t before = MonotonicNowNs();
    double processSum = 0, processMax = 0, threadMax = 0, least = 0;
    int samples = 0;
    while (MonotonicNowNs() - before < 2'500'000'000) {
        ASSERT_EQ(query.CollectAt(SleepFor(1)), ERROR_SUCCESS);
        const double process = query.Value(cpu).value_or(-1);
        processSum += process;
        processMax = std::max(processMax, process);
        least = std::min(least, process);
        for (PDH_HCOUNTER thread : threadCpu) {
            const double value = query.Value(thread).value_or(0);
            threadMax = std::max(threadMax, value);
            least = std::min(least, value);
        }
        ++samples;
    }
    const double got = static_cast<double>(demo.CpuNs() - cpuBefore) / static_cast<double>(MonotonicNowNs() - before) * 100;

    EXPECT_EQ(notices.lines, std::vector<std::string>{ProcNotice("forced by QUORVEX_THREAD_STATES=proc")});
    EXPECT_LE(processMax, most + 0.005);
    EXPECT_LE(threadMax, 100.005);
    EXPECT_GE(least, 0);
    EXPECT_NEAR(processSum / samples, got, got * 0.25 + 10) << samples << " samples";
}

// Restores this process's limit on open descriptors when it goes.
class DescriptorLimit {
public:
    DescriptorLimit() { getrlimit(RLIMIT_NOFILE, &m_saved); }
    ~DescriptorLimit() { setrlimit(RLIMIT_NOFILE, &m_saved); }
    DescriptorLimit(const DescriptorLimit&) = delete;
    DescriptorLimit& operator=(const DescriptorLimit&) = delete;

    bool LowerTo(rlim_t soft)
    {
        rlimit lowered = m_saved;
        lowered.rlim_cur = soft;
        return setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }

private:
    rlimit m_saved{};
};

// As with "ulimit -n 64": the threads whose files cannot be kept open are
// read through descriptors of the moment, and descriptors stay free for the
// rest of the program (its logs). Raised to the hard limit, every thread's
// files are kept open.
TEST(ThreadActivity, ReadsEveryThreadWhateverTheDescriptorLimit)
{
    Target demo(Demo("--phases 1 --phase-ms 20000 --sleepers 148"));
    ProcStat stat;
    for (const std::uint64_t deadline = MonotonicNowNs() + 10'000'000'000;
         !(ReadPidStat(demo.Pid(), stat) && stat.numThreads == 150) && MonotonicNowNs() < deadline;)
        Sleep(10);
    ASSERT_EQ(stat.numThreads, 150) << "the demo did not start its threads";

    DescriptorLimit limit;
    ASSERT_TRUE(limit.LowerTo(64));
    for (const bool raised : {false, true}) {
        if (raised) {
            ASSERT_TRUE(RaiseDescriptorLimit());
        }
        const int openBefore = OpenDescriptors();
        const std::unique_ptr<ProcThreadActivity> source = ProcThreadActivity::Open(demo.Pid(), demo.Process().startTicks);
        ASSERT_TRUE(source);
        ActivitySnapshot snapshot;
        ASSERT_EQ(source->Collect(MonotonicNowNs(), snapshot), ThreadActivitySource::Status::Ok);
        EXPECT_EQ(snapshot.threads.size(), 150u) << raised;
        // Read, and as the kernel counts it: on a busy machine a sleeper
        // may not have run yet, and then 0 is its true figure.
        const auto asTheKernelSays = [&](const ThreadActivity& thread) {
            std::ifstream file("/proc/" + std::to_string(demo.Pid()) + "/task/" + std::to_string(thread.tid) + "/schedstat");
            std::uint64_t kernelNs = 0;
            return thread.readNs > 0 && file >> kernelNs && thread.cpuNs <= kernelNs;
        };
        EXPECT_TRUE(std::all_of(snapshot.threads.begin(), snapshot.threads.end(), asTheKernelSays))
            << "every thread read";
        const UniqueFd log(open("/dev/null", O_WRONLY | O_CLOEXEC));
        EXPECT_TRUE(log.IsOpen()) << raised;
        if (raised) {
            EXPECT_GE(OpenDescriptors() - openBefore, 2 * 150);
        }
    }
}

// A process of the name that this program did not start.
class Stranger {
public:
    explicit Stranger(std::vector<std::string> argv)
    {
        std::vector<char*> pointers;
        for (std::string& arg : argv)
            pointers.push_back(arg.data());
        pointers.push_back(nullptr);
        posix_spawn(&m_pid, pointers[0], nullptr, nullptr, pointers.data(), environ);
    }
    ~Stranger()
    {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }

private:
    pid_t m_pid = 0;
};

// A query measures the process its handle names: never a stranger of the
// same name, whether the start failed or another target of that name runs.
TEST(CounterSource, MeasuresOnlyTheProcessItIsBoundTo)
{
    ScratchFolder folder;
    const std::string demo = folder.Path() + "/qv-own-demo";
    std::filesystem::copy_file(QUORVEX_DEMO, demo);
    RecordedNotices notices;
    Stranger stranger({demo, "--phases", "1", "--phase-ms", "5000", "--sleepers", "4"});
    Query unbound(notices.service);
    PDH_HCOUNTER threads = unbound.Add(ProcessPath("qv-own-demo", "Thread Count"));
    EXPECT_EQ(PdhBindQueryToProcess(nullptr, nullptr), PDH_INVALID_HANDLE);
    Sleep(100);
    EXPECT_EQ(unbound.Collect(), PDH_NO_DATA) << "a failed start binds nothing";
    EXPECT_FALSE(unbound.Value(threads));
    EXPECT_EQ(notices.lines, std::vector<std::string>{});

    Query own(notices.service);
    threads = own.Add(ProcessPath("qv-own-demo", "Thread Count"));
    Target earlier(demo + " --phases 1 --phase-ms 5000 --sleepers 2");
    Target latest(demo + " --phases 1 --phase-ms 5000 --sleepers 1");
    own.Bind(earlier);
    Sleep(300);
    ASSERT_EQ(own.Collect(), ERROR_SUCCESS);
    EXPECT_EQ(own.Value(threads), 4);
}

} // namespace
