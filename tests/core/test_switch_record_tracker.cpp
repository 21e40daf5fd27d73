#include "SwitchRecordStream.h"
#include "SwitchRecordTracker.h"
#include "SwitchRecords.h"
#include "ThreadStates.h"

#include <gtest/gtest.h>

#include <cstring>
#include <linux/perf_event.h>
#include <ostream>
#include <string>

namespace {

constexpr int PID = 100;

SwitchRecord In(std::uint64_t t, int tid, int cpu)
{
    return {t, RecordKind::SwitchIn, PID, tid, cpu, 0};
}
SwitchRecord Out(std::uint64_t t, int tid, int cpu)
{
    return {t, RecordKind::SwitchOut, PID, tid, cpu, 0};
}
SwitchRecord Task(std::uint64_t t, RecordKind kind, int tid, int cpu = 0, int pid = PID)
{
    return {t, kind, pid, tid, cpu, 0};
}

// The snapshot at the instant as "tid on|off cpuNs, ... | process cpuNs".
std::string At(SwitchRecordTracker& tracker, std::uint64_t instant)
{
    ActivitySnapshot snapshot;
    tracker.Snapshot(instant, snapshot);
    std::string text;
    for (const ThreadActivity& t : snapshot.threads)
        text += std::to_string(t.tid) + (t.onProcessor ? " on " : " off ") + std::to_string(t.cpuNs) + ", ";
    return text + "| " + std::to_string(snapshot.processCpuNs);
}

struct StreamCase {
    const char* name;
    std::vector<SwitchRecord> records;
    std::uint64_t instant;
    const char* snapshot;
};

// Records are added in the order given (processors interleaved at will),
// then the tracker is advanced to the instant and looked at there.
TEST(SwitchRecordTracker, GivesTheThreadsAtTheInstant)
{
    const StreamCase cases[] = {
        // Processor 1's records arrive before processor 0's earlier ones.
        StreamCase{"MergesProcessorsByTime",
                   {In(300, 101, 1), Out(500, 101, 1), In(100, 101, 0), Out(200, 101, 0), In(90000, PID, 0)},
                   90100, "100 on 100, 101 off 300, | 400"},
        StreamCase{"SplitsTheStretchThatSpansTheInstant", {In(1000, PID, 0), Out(1600, PID, 0)}, 1200,
                   "100 on 200, | 200"},
        StreamCase{"KeepsTheTimeOfAThreadThatEnded",
                   {Task(10, RecordKind::Fork, 101), In(20, 101, 1), Task(70, RecordKind::Exit, 101, 1)}, 100,
                   "100 off 0, | 50"},
        StreamCase{"MainThreadEndsFirst",
                   {Task(10, RecordKind::Fork, 101), In(10, PID, 0), Task(40, RecordKind::Exit, PID, 0),
                    In(20, 101, 1)},
                   100, "101 on 80, | 110"},
        // Thread 102 execs: the kernel ends 100 and 101, then 102 becomes 100.
        StreamCase{"ExecFromAnotherThreadKeepsTheExecutingOne",
                   {Task(1, RecordKind::Fork, 101), Task(2, RecordKind::Fork, 102), In(10, 101, 0),
                    In(10, 102, 1), Task(30, RecordKind::Exit, 101, 0), Task(30, RecordKind::Exit, PID, 0),
                    Task(50, RecordKind::Exec, PID, 1), Out(80, PID, 1)},
                   100, "100 off 70, | 90"},
        StreamCase{"ReusedThreadIdStartsAfresh",
                   {Task(1, RecordKind::Fork, 101), In(10, 101, 0), Task(40, RecordKind::Exit, 101, 0),
                    Task(50, RecordKind::Fork, 101), In(60, 101, 1)},
                   100, "100 off 0, 101 on 40, | 70"},
        // Followed across processes, the creator's event and the new
        // thread's both write the fork.
        StreamCase{"AForkWrittenTwiceIsOneThread",
                   {Task(1, RecordKind::Fork, 101), In(10, 101, 0), Task(30, RecordKind::Fork, 101),
                    Out(60, 101, 0)},
                   100, "100 off 0, 101 off 50, | 50"},
        // A record stamped exactly at the instant belongs to it: the thread
        // switched in then is on the processor, one switched out is off.
        StreamCase{"SwitchInExactlyAtTheInstantCounts", {In(100, PID, 0)}, 100, "100 on 0, | 0"},
        StreamCase{"SwitchOutExactlyAtTheInstantCounts", {In(40, PID, 0), Out(100, PID, 0)}, 100,
                   "100 off 60, | 60"},
        StreamCase{"IgnoresProcessesTheTargetForks",
                   {Task(1, RecordKind::Fork, 200, 0, 200), Task(5, RecordKind::Exit, 200, 0, 200)}, 100,
                   "100 off 0, | 0"}};
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(c.name);
        SwitchRecordTracker tracker(PID, 0);
        for (const SwitchRecord& record : c.records)
            tracker.Add(record);
        tracker.AdvanceTo(c.instant);
        EXPECT_EQ(At(tracker, c.instant), c.snapshot);
    }
}

// The observer sees every record once, merged in time order across
// processors, other processes' too, and nothing beyond the instant: equal
// times in the order they arrived, a record of no processor in its place,
// and one that came late on its processor (45) before that processor's
// later ones.
TEST(SwitchRecordTracker, HandsEveryRecordToItsObserverInTimeOrder)
{
    using Seen = std::vector<std::pair<std::uint64_t, int>>;
    SwitchRecordTracker tracker(PID, 0);
    Seen seen;
    tracker.Observe([&seen](const SwitchRecord& record) { seen.push_back({record.timeNs, record.tid}); });
    for (const SwitchRecord& record :
         {In(30, PID, 1), Out(50, PID, 1), In(10, 101, 0), Task(20, RecordKind::Fork, 200, 0, 200), In(30, 102, 0),
          Out(60, 101, 0), Task(25, RecordKind::Comm, 104, -1), Out(45, 106, 1)})
        tracker.Add(record);
    tracker.AdvanceTo(50);
    EXPECT_EQ(seen, (Seen{{10, 101}, {20, 200}, {25, 104}, {30, PID}, {30, 102}, {45, 106}, {50, PID}}));
    tracker.AdvanceTo(100);
    EXPECT_EQ(seen.back(), (std::pair<std::uint64_t, int>{60, 101}));
    EXPECT_EQ(seen.size(), 8u);
}

// No nanosecond of the open stretch is counted twice or dropped, whichever
// instants look at it.
TEST(SwitchRecordTracker, CountsOnFromTheSameSwitchInAtEveryInstant)
{
    SwitchRecordTracker tracker(PID, 1000);
    for (const SwitchRecord& record : {In(100, PID, 0), Out(350, PID, 0), In(400, PID, 1)})
        tracker.Add(record);
    std::vector<std::string> seen;
    for (std::uint64_t instant : {200, 300, 380, 450}) {
        tracker.AdvanceTo(instant);
        seen.push_back(At(tracker, instant));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"100 on 1100, | 1100", "100 on 1200, | 1200", "100 off 1250, | 1250",
                                              "100 on 1300, | 1300"}));
}

// The sampler's timer fires at the sleep's end, in the middle of a hand-over
// from 101 to 102 that the scheduler made 2 us before: 101's switch-out is
// recorded 1.3 us before the end, 102's switch-in only 7 us after it (the
// interrupt came first), too late to count as a hand-over (the fastest one,
// PID to 101, took 0.5 us), so it is dated back by that 0.5 us alone. Read at
// the end, no thread was on a processor; read just before, 101 was, as the
// scheduler had it.
TEST(SwitchRecordTracker, ReadsBeforeTheSamplersOwnTimer)
{
    constexpr std::uint64_t END = 1'000'000;
    SwitchRecordTracker tracker(PID, 0);
    for (const SwitchRecord& record :
         {In(800'000, PID, 0), Out(899'500, PID, 0), In(900'000, 101, 0), Out(END - 1'300, 101, 0), In(END + 7'000, 102, 0)})
        tracker.Add(record);
    tracker.AdvanceTo(ReadingInstant(END));
    EXPECT_EQ(At(tracker, ReadingInstant(END)), "100 off 99500, 101 on 50500, | 150000");
}

// The drain thread may have reached past a collection's instant; the
// collection then sees the threads as they were there, never a mix.
TEST(SwitchRecordTracker, AnInstantBeforeOneReachedCountsAsThatOne)
{
    SwitchRecordTracker tracker(PID, 0);
    tracker.Add(In(100, PID, 0));
    tracker.Add(Out(300, PID, 0));
    tracker.AdvanceTo(400);
    tracker.AdvanceTo(200);
    EXPECT_EQ(At(tracker, 200), "100 off 200, | 200");
    tracker.Add(In(500, PID, 0));
    tracker.AdvanceTo(600);
    EXPECT_EQ(At(tracker, 550), "100 on 300, | 300");
}

TEST(SwitchRecordTracker, LostRecordsAskForAResyncThatReplacesTheThreadList)
{
    SwitchRecordTracker tracker(PID, 0);
    tracker.Add(In(10, PID, 0));
    tracker.Add(Task(20, RecordKind::Fork, 101));
    tracker.Add(In(25, 101, 1));
    tracker.Add({30, RecordKind::Lost, 0, 0, 0, 7});
    tracker.Add({35, RecordKind::Lost, 0, 0, 1, 5});  // every loss counts, not only the last
    tracker.Add(Out(90, 103, 1));   // before the census: superseded by it
    tracker.Add(In(150, 103, 1));   // after it
    tracker.AdvanceTo(50);
    ASSERT_TRUE(tracker.NeedsResync());
    EXPECT_EQ(tracker.LostRecords(), 12u);

    tracker.Resync({{PID, false, 5000, 100}, {103, true, 300, 100}}, 100);
    EXPECT_FALSE(tracker.NeedsResync());
    // Thread 101 ended unseen; the total still covers what it was seen to use.
    EXPECT_EQ(At(tracker, 100), "100 off 5000, 103 on 300, | 5375");
    tracker.AdvanceTo(200);
    EXPECT_EQ(At(tracker, 200), "100 off 5000, 103 on 350, | 5425") << "records resume after the census";
}

TEST(SwitchRecordTracker, TimesNeverGoBackAfterAResync)
{
    SwitchRecordTracker tracker(PID, 0);
    tracker.Add(In(0, PID, 0));
    tracker.AdvanceTo(1000);
    At(tracker, 1000);
    tracker.Resync({{PID, true, 900, 1001}}, 1001);  // /proc lags by up to a tick
    EXPECT_EQ(At(tracker, 1002), "100 on 1000, | 1000");
}

// Each thread's on-CPU time and the time at each level, as "101 1000, 102
// 900 | 0:100 1:1900", once the records have gone through the queue and the
// state machine.
class Levels : public ThreadStateObserver {
public:
    void Level(std::size_t onCpu, std::uint64_t timeNs) override
    {
        if (m_levelNs.size() <= m_level)
            m_levelNs.resize(m_level + 1);
        m_levelNs[m_level] += timeNs - m_sinceNs;
        m_level = onCpu;
        m_sinceNs = timeNs;
    }
    void Ended(const TrackedThread& thread, std::uint64_t) override
    {
        m_text += std::to_string(thread.tid) + " " + std::to_string(thread.onCpuNs) + ", ";
    }
    std::string Text() const
    {
        std::string text = m_text + "|";
        for (std::size_t level = 0; level < m_levelNs.size(); ++level)
            text += " " + std::to_string(level) + ":" + std::to_string(m_levelNs[level]);
        return text;
    }

private:
    std::string m_text;
    std::vector<std::uint64_t> m_levelNs;
    std::size_t m_level = 0;
    std::uint64_t m_sinceNs = 0;
};

std::string Streamed(const std::vector<SwitchRecord>& records, std::uint64_t endNs)
{
    SwitchRecordStream stream;
    ThreadStates states(PID, false, 0);
    Levels levels;
    states.Observe(&levels);
    for (const SwitchRecord& record : records)
        stream.Add(record);
    stream.ReleaseTo(endNs, [&states](const SwitchRecord& record) { states.Apply(record); });
    states.EndAll(endNs);
    levels.Level(states.OnCpu(), endNs);
    return levels.Text();
}

// A switch-in record is written after the switch, a switch-out as it
// begins. Threads 101 and 102 take turns on processor 0; the first gap
// between them (100 ns) is a hand-over and shows the switch's cost.
TEST(SwitchRecordStream, DatesSwitchInsToWhenTheThreadWasPicked)
{
    const std::vector<SwitchRecord> handOver = {In(0, 101, 0), Out(1000, 101, 0), In(1100, 102, 0)};
    auto then = [&handOver](std::vector<SwitchRecord> more) {
        more.insert(more.begin(), handOver.begin(), handOver.end());
        return more;
    };
    const struct {
        const char* name;
        std::vector<SwitchRecord> records;
        std::uint64_t endNs;
        const char* expected;
    } cases[] = {
        // The processor stays occupied: 102 counts from 101's switch-out.
        {"DirectHandOver", then({Out(2000, 102, 0)}), 2000, "101 1000, 102 1000, | 0:0 1:2000"},
        // 101 comes back after another program ran 800 ns (more than four
        // hand-overs): dated back by the cost, 100, not to 102's switch-out.
        {"ThroughAnotherProgram", then({Out(2000, 102, 0), In(2900, 101, 0), Out(3000, 101, 0)}), 3000,
         "101 1200, 102 1000, | 0:800 1:2200"},
        // After a long idle gap the same.
        {"ThroughIdle", then({Out(2000, 102, 0), In(90'000, 101, 0), Out(91'000, 101, 0)}), 91'000,
         "101 2100, 102 1000, | 0:87900 1:3100"},
        // A processor's first gap, 37 us (another program ran, say just
        // after an attachment), is longer than any hand-over: not dated back.
        {"FirstGapThroughAnotherProgram", {In(0, 101, 0), Out(1000, 101, 0), In(38'000, 102, 0), Out(39'000, 102, 0)},
         39'000, "101 1000, 102 1000, | 0:37000 1:2000"},
        // A loss between the two records: the order cannot tell.
        {"LostRecordBetween", {In(0, 101, 0), Out(1000, 101, 0), {1050, RecordKind::Lost, 0, 0, 0, 3}, In(1100, 102, 0),
                               Out(2000, 102, 0)},
         2000, "101 1000, 102 900, | 0:100 1:1900"},
        // 102 is handed processor 0 while it still runs on processor 1:
        // it moves when it leaves there, and never runs on both.
        {"MovedFromAnotherProcessor",
         {In(0, 101, 0), In(0, 102, 1), Out(1000, 101, 0), Out(1050, 102, 1), In(1100, 102, 0), Out(2000, 102, 0)},
         2000, "101 1000, 102 2000, | 0:0 1:1000 2:1000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Streamed(c.records, c.endNs), c.expected);
    }
}

// Raw records as the kernel lays them out, with the TID, TIME and CPU trailer.
std::vector<unsigned char> RawRecord(std::uint32_t type, std::uint16_t misc, std::vector<std::uint32_t> body,
                                     std::uint32_t tid, std::uint64_t time, std::uint32_t cpu)
{
    const std::uint32_t trailer[6] = {PID, tid, static_cast<std::uint32_t>(time), static_cast<std::uint32_t>(time >> 32),
                                      cpu, 0};
    body.insert(body.end(), std::begin(trailer), std::end(trailer));
    perf_event_header header{type, misc, static_cast<std::uint16_t>(sizeof header + body.size() * 4)};
    std::vector<unsigned char> bytes(header.size);
    std::memcpy(bytes.data(), &header, sizeof header);
    std::memcpy(bytes.data() + sizeof header, body.data(), body.size() * 4);
    return bytes;
}

struct DecodeCase {
    const char* name;
    std::vector<unsigned char> bytes;
    bool decoded;
    SwitchRecord expected;
};

SwitchRecord Preempted(SwitchRecord record)
{
    record.preempted = true;
    return record;
}

SwitchRecord Named(SwitchRecord record, const char* name)
{
    record.name = name;
    return record;
}

constexpr std::uint64_t T = 0x123456789abcULL;

TEST(DecodeSwitchRecord, ReadsTheKernelLayout)
{
    const DecodeCase cases[] = {
        DecodeCase{"SwitchIn", RawRecord(PERF_RECORD_SWITCH, 0, {}, 101, T, 1), true, In(T, 101, 1)},
        DecodeCase{"SwitchOut", RawRecord(PERF_RECORD_SWITCH, PERF_RECORD_MISC_SWITCH_OUT, {}, 101, T, 1), true,
                   Out(T, 101, 1)},
        DecodeCase{"SwitchOutPreempted",
                   RawRecord(PERF_RECORD_SWITCH, PERF_RECORD_MISC_SWITCH_OUT | PERF_RECORD_MISC_SWITCH_OUT_PREEMPT, {},
                             101, T, 0),
                   true, Preempted(Out(T, 101, 0))},
        // The new thread is in the body; the trailer names its parent.
        DecodeCase{"Fork", RawRecord(PERF_RECORD_FORK, 0, {PID, PID, 102, PID, 0, 0}, PID, T, 0), true,
                   Task(T, RecordKind::Fork, 102)},
        DecodeCase{"Exit", RawRecord(PERF_RECORD_EXIT, 0, {PID, PID, 102, 102, 0, 0}, 102, T, 1), true,
                   Task(T, RecordKind::Exit, 102, 1)},
        DecodeCase{"Exec", RawRecord(PERF_RECORD_COMM, PERF_RECORD_MISC_COMM_EXEC, {PID, PID, 0x6f6d6564, 0}, PID, T, 1),
                   true, Named(Task(T, RecordKind::Exec, PID, 1), "demo")},
        DecodeCase{"Rename", RawRecord(PERF_RECORD_COMM, 0, {PID, 101, 0x6f6d6564, 0x00327a}, 101, T, 1), true,
                   Named(Task(T, RecordKind::Comm, 101, 1), "demoz2")},
        DecodeCase{"Lost", RawRecord(PERF_RECORD_LOST, 0, {5, 0, 42, 0}, 0, T, 0), true,
                   {T, RecordKind::Lost, PID, 0, 0, 42}},
        DecodeCase{"TruncatedExit", RawRecord(PERF_RECORD_EXIT, 0, {PID}, 102, T, 1), false, {}}};
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        SwitchRecord record;
        ASSERT_EQ(DecodeSwitchRecord(c.bytes.data(), c.bytes.size(), record), c.decoded);
        if (!c.decoded)
            continue;
        const SwitchRecord& e = c.expected;
        EXPECT_EQ(record.timeNs, e.timeNs);
        EXPECT_EQ(record.kind, e.kind);
        EXPECT_EQ(record.pid, e.pid);
        EXPECT_EQ(record.tid, e.tid);
        EXPECT_EQ(record.cpu, e.cpu);
        EXPECT_EQ(record.lost, e.lost);
        EXPECT_EQ(record.preempted, e.preempted);
        EXPECT_EQ(record.name, e.name);
    }
}

// A 64-byte ring holding two 32-byte switch records from tail on; the
// first begins `before` bytes before the ring's end.
struct Ring {
    std::vector<unsigned char> first = RawRecord(PERF_RECORD_SWITCH, 0, {}, 101, 1, 0);
    std::vector<unsigned char> second = RawRecord(PERF_RECORD_SWITCH, PERF_RECORD_MISC_SWITCH_OUT, {}, 102, 2, 1);
    std::vector<unsigned char> bytes = std::vector<unsigned char>(64);
    std::uint64_t tail;
    std::uint64_t head;
    std::vector<std::vector<unsigned char>> taken;

    explicit Ring(std::uint64_t before) : tail(64 * 3 + 64 - before), head(tail + 64)
    {
        for (size_t i = 0; i < 32; ++i) {
            bytes[(tail + i) % 64] = first[i];
            bytes[(tail + 32 + i) % 64] = second[i];
        }
    }
    RingRead Read(std::uint64_t upTo)
    {
        return ReadRing(bytes.data(), bytes.size(), tail, upTo,
                        [this](const unsigned char* record, size_t size) { taken.emplace_back(record, record + size); });
    }
    void SetFirstSize(std::uint16_t size)
    {
        const unsigned char* raw = reinterpret_cast<const unsigned char*>(&size);
        bytes[(tail + 6) % 64] = raw[0];
        bytes[(tail + 7) % 64] = raw[1];
    }
};

class RingSplit : public testing::TestWithParam<std::uint64_t> {};

// A record that wraps, split 24/8, 16/16 or 8/24 bytes, or not at all,
// comes out whole, byte for byte.
TEST_P(RingSplit, JoinsARecordThatWraps)
{
    Ring ring(GetParam());
    const RingRead read = ring.Read(ring.head);
    EXPECT_EQ(read.tail, ring.head);
    EXPECT_FALSE(read.damaged);
    EXPECT_EQ(ring.taken, (std::vector<std::vector<unsigned char>>{ring.first, ring.second}));
}

INSTANTIATE_TEST_SUITE_P(BytesBeforeTheEnd, RingSplit, testing::Values(24, 16, 8, 64));

// The kernel never writes these; a damaged ring is never read out of bounds
// and counts as lost: everything up to head is skipped.
TEST(ReadRing, SkipsADamagedRingAndSaysSo)
{
    const struct {
        const char* name;
        std::uint16_t firstSize;  // 0: as written
        std::int64_t headMoved;   // bytes from the written head
    } cases[] = {{"NotAligned", 36, 0},     {"SmallerThanAHeader", 4, 0}, {"RunsPastHead", 0, -8},
                 {"PastTheWholeRing", 200, 0}, {"HeadInsideAHeader", 0, -36}, {"MoreThanTheRingHolds", 0, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Ring ring(24);
        if (c.firstSize)
            ring.SetFirstSize(c.firstSize);
        const std::uint64_t head = ring.head + static_cast<std::uint64_t>(c.headMoved);
        const RingRead read = ring.Read(head);
        EXPECT_TRUE(read.damaged);
        EXPECT_EQ(read.tail, head);
        EXPECT_LE(ring.taken.size(), 1u);
    }
}

// The drain may have come too late when less room was left than the largest
// record the kernel writes (64 bytes).
// With perf_event_mlock_kb at 516 (Debian's default) on 2 processors, each
// ring takes 128 data pages and its control page: 516 KiB.
TEST(RingPagesWithin, TakesTheLargestRingTheAllowanceHolds)
{
    EXPECT_EQ(RingPagesWithin({516 * 1024 * 2, false}, 2, 4096, 1024), 128u);
    EXPECT_EQ(RingPagesWithin({516 * 1024 * 2 - 1, false}, 2, 4096, 1024), 64u);
    EXPECT_EQ(RingPagesWithin({0, true}, 2, 4096, 1024), 1024u);
    EXPECT_EQ(RingPagesWithin({0, false}, 2, 4096, 1024), 1u);
}

TEST(ReadRing, FullWhenLessThanTheLargestRecordWasLeft)
{
    EXPECT_FALSE(RingMayHaveOverflowed(4032, 4096));
    EXPECT_TRUE(RingMayHaveOverflowed(4040, 4096));
    EXPECT_FALSE(RingMayHaveOverflowed(0, 4096));
}

} // namespace
