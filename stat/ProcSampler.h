#pragma once
// The /proc source, for when the kernel refuses the context-switch records
// or stops them part-way. What the kernel counts is read exactly, at every
// interval: each thread's time on a processor and waiting on a run queue
// (task/<tid>/schedstat), and the process's processor time, ended threads
// included (its CPU clock). Only when, within an interval, the threads ran
// is not known. An interval of L ns in which the process used C ns of
// processor time ran C / L threads on a processor on average; the histogram
// holds that average as the two whole levels around it, k = C / L rounded
// down for L - x ns and k + 1 for x = C - k L ns, so that its mean is the
// exact CPU total and only the spread within an interval is lost.
//
// No level exceeds the processors the command may use. Processor time can
// show late, in lumps: a waited-for child's comes in whole clock ticks, and
// what only the reaped command's total holds comes at its end. It was used
// before it showed: an interval given more than its processors could run is
// booked at that many, and the rest where they had room before, the latest
// windows first, lifting time from the lowest level below them to the next
// (one ns lifted, one ns of processor time). Only what finds no room stays
// above. Each thread's figures are its own counter's, not moved.
//
// A thread's counters go with it when it ends; the process's clock keeps its
// time. What the process used beyond the threads still alive is the last
// stretch of those that ended since the read before: exact when one ended,
// shared by their pace before when several did. Their waiting since that
// read is lost, and a thread born and ended between two reads is in the
// process's total only.

#include "Profile.h"
#include "ThreadActivity.h"

#include <cstdint>
#include <unordered_map>

// How often the counters are read: every 2 ms (a close histogram, short
// unread last stretches), or at the interval when that is shorter; but no
// more often than 400 µs a thread, so that reading them (some 4 µs a
// thread) costs at most 1 % of a processor.
constexpr std::uint64_t PROC_READ_NS = 2'000'000;
std::uint64_t ProcReadPeriodNs(std::uint64_t intervalNs, std::size_t threads);
// The same for a few threads, in milliseconds, as the messages say it.
int ProcReadMs(int intervalMs);

// What an attached process had used before the span: the processor time of
// the source's processes, and of each thread, when it was attached.
struct UsedBefore {
    std::uint64_t processNs = 0;
    std::unordered_map<int, std::uint64_t> threadNs;
};

class ProcSampler {
public:
    // Continues profile from fromNs: one of the command's first thread alone,
    // or the records' profile up to the moment they stopped. Its threads
    // alive then go on here, counted from the processor time the profile
    // gave them (and what they had used before, for an attached process).
    // An attached process counts from the first read, taken here.
    // processors: how many it may use, 0 unknown.
    ProcSampler(int pid, Profile profile, std::uint64_t fromNs, ThreadActivitySource& source, bool fromFirstRead,
                unsigned processors, const UsedBefore& before = {});

    // Reads the counters now (at notAfterNs at the latest: an exited process
    // ran no later); false once the process is gone.
    bool Sample(std::uint64_t notAfterNs = UINT64_MAX);
    // The last stretch of a command reaped before it could be read again:
    // reapedCpuNs is the processor time its parent got from the kernel for it
    // and the children it waited for.
    void Reaped(std::uint64_t exitNs, std::uint64_t reapedCpuNs);
    Profile Finish(std::uint64_t endNs);
    std::size_t LiveThreads() const { return m_threads.size(); }

private:
    struct Seen {
        std::size_t index = 0;  // into m_profile.threads
        std::uint64_t cpuNs = 0;
        std::uint64_t waitingNs = 0;
        std::uint64_t paceNs = 0;   // its processor time over the last interval
        bool waitingKnown = false;  // false until the first read: waiting counts from there
        std::size_t aliveUntil = SIZE_MAX;  // the last window counted as alive in, SIZE_MAX: none
    };
    struct Delta {
        Seen* thread;
        std::uint64_t cpuNs;
        std::uint64_t waitingNs;
    };

    void Read(const ActivitySnapshot& snapshot, std::uint64_t instantNs, bool gone);
    Seen NewThread(int tid, int pid, std::uint64_t bornNs);
    std::uint64_t Unexplained(std::uint64_t processCpuNs, std::uint64_t threadsCpuNs);
    void ShareAmong(const std::vector<Seen*>& ended, std::uint64_t cpuNs, std::vector<Delta>& deltas);
    void Account(std::uint64_t toNs, std::uint64_t processNs, std::uint64_t cpuNs, const std::vector<Delta>& deltas);
    void CountAlive(Seen& thread, std::uint64_t toNs);
    WindowProfile& Window(std::size_t index);
    std::size_t WindowOf(std::uint64_t timeNs) const;
    std::uint64_t LiftEarlier(std::uint64_t fromNs, std::uint64_t excessNs);
    void AddToLevel(std::size_t level, std::uint64_t ns);

    const int m_pid;
    const std::uint64_t m_processors;  // the highest level, 0: unknown
    ThreadActivitySource& m_source;
    Profile m_profile;
    std::unordered_map<int, Seen> m_threads;  // alive at the last read, by tid
    std::uint64_t m_lastNs;          // the last read, or where counting starts
    std::uint64_t m_processCpuNs = 0;  // the process's processor time then
    std::uint64_t m_childrenCpuNs = 0; // of its waited-for children then
    std::uint64_t m_aheadNs = 0;       // what the threads' counters showed beyond the clock
    bool m_fromFirstRead;
    std::size_t m_fullBegin = 0;  // [begin, end): windows found full and whole
    std::size_t m_fullEnd = 0;
};
