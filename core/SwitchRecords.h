#pragma once
// The switch-record source: exact thread states from the kernel's context-switch records
// (perf_event_open): a thread is on a processor at an instant when its last
// record before that instant switched it in. /proc's state R cannot tell a
// running thread from one waiting for a processor.

#include "SwitchRecordTracker.h"
#include "ThreadActivity.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

// 4 MiB a processor with 4 KiB pages, a third of a second of records at
// 400,000 switches a second; 16 MiB in all.
constexpr unsigned MAX_RING_PAGES = 1024;
constexpr std::size_t MAX_RINGS_BYTES = std::size_t{16} << 20;

struct SwitchRecordOptions {
    // Data pages of each processor's ring, a power of two; 0: as many as the
    // kernel lets this user lock (RingPagesWithin), up to MAX_RING_PAGES and
    // MAX_RINGS_BYTES in all.
    unsigned ringPages = 0;
    bool drainInBackground = true;   // a thread empties rings that reach half full
    std::string procRoot = "/proc";  // read only at attach and after lost records
    // Also the processes the target forks, and theirs (their records carry
    // their own pid; thread states stay those of the target itself).
    bool followChildren = false;
    // Every record, of every processor, in time order as the source advances
    // (each Collect or Advance, on the caller's thread; the background drain
    // then only empties the rings, and the caller advances often enough to
    // keep the queue short): the raw stream of switches, forks, exits, names
    // and losses, hand-overs dated (SwitchRecordStream). Called with the
    // source's lock held: it must not call back into it.
    std::function<void(const SwitchRecord&)> onRecord;
    // False for a consumer of onRecord that keeps its own thread states:
    // the source then keeps none, and Collect says Lost.
    bool keepThreadStates = true;
};

class PerfRing;

class SwitchRecordSource final : public ThreadActivitySource {
public:
    // Follows process pid and every thread it creates from now on (the
    // processes it forks only with followChildren). The process must be single-threaded: CreateProcessA
    // attaches it while the child waits before its exec. Null, with a
    // one-line reason in *whyNot, where the kernel refuses the records or
    // QUORVEX_THREAD_STATES=proc asks for the /proc estimate.
    static std::unique_ptr<SwitchRecordSource> Attach(int pid, std::string* whyNot,
                                                      const SwitchRecordOptions& options = {});
    // Follows a running process as perf record -p does: an event on each of
    // its threads on each processor, inherited by the threads they create
    // from now on (and the processes they fork, with followChildren); one
    // ring a processor takes them all. The thread list is read again until
    // every thread listed is followed, by its own events or its creator's.
    // The threads found, as /proc listed them, go to *threads. Null, with
    // the kernel's answer in *whyNot, where it refuses.
    static std::unique_ptr<SwitchRecordSource> AttachRunning(int pid, std::string* whyNot,
                                                             const SwitchRecordOptions& options,
                                                             std::vector<ThreadActivity>& threads);
    ~SwitchRecordSource() override;

    // The threads at instantNs, at most MAX_INSTANT_AGE_NS before the call
    // (the end of the sleep just finished), read just before it
    // (ReadingInstant). Gone once the process has exited;
    // Lost, for good, when the kernel stopped the records of a live process
    // (an exec of a set-uid or unreadable program).
    Status Collect(std::uint64_t instantNs, ActivitySnapshot& snapshot) override;

    // Hands every record up to instantNs to onRecord: the end of the stream
    // once the process has exited. Lost, for good, as Collect.
    Status Advance(std::uint64_t instantNs);

    // Empties the rings and shows each record queued but not yet handed to
    // onRecord, in no particular order: a look ahead that advances nothing.
    void Queued(const std::function<void(const SwitchRecord&)>& see);

    std::uint64_t LostRecords() const;  // dropped by the kernel when a ring was full
    unsigned Resyncs() const;           // re-reads of /proc that those losses caused

private:
    SwitchRecordSource(int pid, std::uint64_t startTicks, std::uint64_t cpuNs, const SwitchRecordOptions& options);
    bool Open(std::string& whyNot);
    bool OpenRunning(std::string& whyNot, std::vector<ThreadActivity>& threads);
    enum class ThreadOpen { Opened, Ended, Refused };
    ThreadOpen OpenThread(int tid, const std::vector<unsigned>& cpus, std::string& whyNot);
    unsigned RingPages(std::size_t processors) const;
    bool Watch(std::string& whyNot);
    bool Repeated(std::size_t ring, const SwitchRecord& record);
    void DrainRings();
    void DrainInBackground();
    bool HasExited(int timeoutMs) const;

    const int m_pid;
    const std::uint64_t m_startTicks;
    const SwitchRecordOptions m_options;
    int m_pidFd = -1;
    int m_stopFd = -1;
    std::vector<std::unique_ptr<PerfRing>> m_rings;
    // Attached to a running process: the events of its other threads, which
    // write into m_rings; each ring's last record, since a thread that was
    // listed just as its creator's events reached it has two events, whose
    // records come in pairs; and the threads whose creation was recorded
    // while attaching.
    std::vector<int> m_redirected;
    std::vector<SwitchRecord> m_lastOfRing;
    std::unordered_set<int> m_forked;
    mutable std::mutex m_mutex;  // the rings' read positions and the tracker
    SwitchRecordTracker m_tracker;
    std::atomic<bool> m_hungUp{false};  // the kernel closed the events
    bool m_lostForGood = false;
    std::thread m_drainer;
};

// The event that writes thread pid's switch, fork, exit and name records on
// processor cpu into a ring of ringBytes, inherited by the threads it
// creates (and the processes it forks, with followChildren); the ring wakes
// its reader when half full. The descriptor, or -1 with errno.
int OpenSwitchEvent(int pid, int cpu, std::size_t ringBytes, bool followChildren);

// Whether this process may open the records of its own threads here, as a
// run opens them for the command: 0, or perf_event_open's errno.
int ProbeSwitchRecords();

// Decodes one record of the layout Attach asks for (sample_id_all with TID,
// TIME and CPU); false for a record the tracker has no use for.
bool DecodeSwitchRecord(const unsigned char* bytes, std::size_t size, SwitchRecord& record);

// Hands each whole record between tail and head of a ring's data area (size a
// power of two) to take, joining a record that wraps around the end. A
// record that is not 8-byte aligned, or runs past head, damages the ring:
// the rest is skipped (the new tail is head) and damaged is set.
struct RingRead {
    std::uint64_t tail;
    bool damaged;
};
RingRead ReadRing(const unsigned char* data, std::size_t size, std::uint64_t tail, std::uint64_t head,
                  const std::function<void(const unsigned char*, std::size_t)>& take);

// What the kernel lets this user lock for perf rings: perf_event_mlock_kb
// for each online processor, then RLIMIT_MEMLOCK; no bound with
// CAP_IPC_LOCK.
struct RingAllowance {
    std::uint64_t bytes = 0;
    bool unbounded = false;
};
RingAllowance ReadRingAllowance(unsigned processors, const std::string& procRoot = "/proc");
// The largest ring (data pages, a power of two, at most maxPages, at least
// one) of which each of the processors' events can map one, with its
// control page, within the allowance.
unsigned RingPagesWithin(const RingAllowance& allowance, unsigned processors, std::size_t pageSize, unsigned maxPages);

// Whether a ring of ringBytes that held backlog bytes unread may have been
// full: then the kernel may have dropped records that it reports only later.
bool RingMayHaveOverflowed(std::uint64_t backlog, std::size_t ringBytes);
