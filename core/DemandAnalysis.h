#pragma once
// Why not more parallel: an observer of the thread-state machine that keeps,
// beside the threads on a processor (the supply), the threads that wanted
// one (the demand: on a processor, or switched out still runnable), the
// threads alive, and from these the serial stretches, each thread's life
// split into on-CPU, waiting and blocked time, and the speedup ceilings.
// Pure bookkeeping, like the state machine: it runs on synthetic streams.

#include "LevelHistogram.h"
#include "ThreadStates.h"

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

// Where one thread's life went: onCpuNs + waitingNs + blockedNs == lifetimeNs.
struct ThreadDemand {
    std::uint64_t onCpuNs = 0;
    std::uint64_t waitingNs = 0;  // runnable without a processor
    std::uint64_t blockedNs = 0;  // switched out not runnable: sleep, lock, I/O; or not run yet
    std::uint64_t lifetimeNs = 0;
    bool kernelWait = false;      // waitingNs holds the kernel's own run-queue wait
    std::uint64_t blockingSwitchOuts = 0;  // hand-overs: switch-outs that blocked
    std::uint64_t aloneNs = 0;    // the only thread wanting a processor
    std::uint64_t aloneOwnNs = 0; // the same on the command's own time (see Demand)
};

// A stretch of at most one thread on a processor while two or more were alive.
struct SerialStretch {
    std::uint64_t startNs = 0;  // since the span's start
    std::uint64_t endNs = 0;
    bool ran = false;           // some thread ran in it
    std::size_t serial = 0;     // the thread that ran longest in it
    std::size_t others = 0;     // other threads that ran in it too

    std::uint64_t LengthNs() const { return endNs - startNs; }
};

struct WindowDemand {
    std::uint64_t runnableNs = 0;  // thread-nanoseconds runnable: / the window's length = the average
    std::uint64_t blockedNs = 0;   // thread-nanoseconds alive and not runnable
};

struct Demand {
    unsigned processors = 0;               // the command could use; 0 unknown
    std::vector<std::uint64_t> levelNs;    // 0..N runnable threads at once
    std::uint64_t starvedNs = 0;           // more runnable than on a processor
    std::uint64_t oversubscribedNs = 0;    // more runnable than processors
    // The span's length had every runnable thread had a processor at once,
    // and had it had `processors` of them: each moment's work done by the
    // threads that wanted to do it; a moment with none runnable stays.
    std::uint64_t unlimitedNs = 0;
    std::uint64_t machineNs = 0;
    // The runnable levels on the time the run would have taken on its
    // processors with nothing else running (each moment weighted as in
    // machineNs): the command's own shape, whatever else held the processors.
    std::vector<std::uint64_t> ownLevelNs;
    std::vector<SerialStretch> stretches;  // at least a window long, longest first
    std::uint64_t shortStretches = 0;      // shorter than a window
    std::uint64_t shortStretchNs = 0;
    std::vector<ThreadDemand> threads;     // in the threads' order of appearance
    std::vector<WindowDemand> windows;
    std::size_t threadsWithoutKernelWait = 0;  // ended before their wait could be read
};

// The kernel's run-queue wait of a live thread (/proc's schedstat, or a
// stand-in in tests).
class RunDelaySource {
public:
    virtual ~RunDelaySource() = default;
    virtual bool Read(int pid, int tid, std::uint64_t& runDelayNs) = 0;
    virtual void Forget(int tid) = 0;
};

class DemandAnalysis : public ThreadStateObserver {
public:
    // processors: what the command may use (its affinity); 0 unknown.
    DemandAnalysis(std::uint64_t startNs, std::uint64_t intervalNs, unsigned processors);

    // Reads the wait of every thread switched in since its last read: the
    // records see a preempted thread wait, but not the wait from a wake-up
    // to the next switch-in, which the kernel counts. At the instant nowNs.
    void ReadRunDelays(RunDelaySource& source, std::uint64_t nowNs);

    // After the state machine ended every thread at endNs.
    Demand Finish(std::uint64_t endNs);

    void Born(const TrackedThread& thread) override;
    void Entered(const TrackedThread& thread) override;
    void Renamed(const TrackedThread& thread) override;
    void Ended(const TrackedThread& thread, std::uint64_t timeNs) override;
    void Record(const SwitchRecord& record) override;

private:
    struct Thread {
        int tid = 0;
        int pid = 0;
        bool alive = true;
        ThreadState state = ThreadState::Asleep;
        std::uint64_t sinceNs = 0;
        std::uint64_t bornNs = 0;
        bool switchedIn = false;        // since its last read
        bool read = false;
        std::uint64_t readAtNs = 0;
        std::uint64_t readNs = 0;       // the kernel's wait, as of its last read
        std::uint64_t waitedNs = 0;     // the records' waits closed since (or all of them, never read)
    };

    void AccountTo(std::uint64_t timeNs);
    void AccountWindows(std::uint64_t fromNs, std::uint64_t toNs);
    void SerialCheck(std::uint64_t timeNs);
    void CloseStretch(std::uint64_t timeNs);

    const std::uint64_t m_startNs;
    const std::uint64_t m_intervalNs;
    Demand m_demand;
    std::vector<Thread> m_threads;       // by serial
    std::vector<std::size_t> m_onCpu;    // serials of the threads on a processor
    std::vector<std::size_t> m_runnable; // and of those wanting one (on it or waiting)
    LevelHistogram m_runnableLevels;
    std::size_t m_alive = 0;
    std::uint64_t m_accountedNs;
    std::size_t m_windowIndex = 0;  // the window accounted last, which ends at m_windowEndNs
    std::uint64_t m_windowEndNs = 0;
    std::unordered_map<int, std::size_t> m_serialOf;  // live threads by tid
    std::vector<int> m_ended;            // tids to forget at the next read
    // The serial stretch under way, with each thread's time on a processor in it.
    bool m_inStretch = false;
    std::uint64_t m_stretchStartNs = 0;
    std::vector<std::pair<std::size_t, std::uint64_t>> m_stretchRan;
};
