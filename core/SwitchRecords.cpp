#include "SwitchRecords.h"

#include "Clock.h"
#include "CpuAccess.h"
#include "MachineFiles.h"
#include "ProcFiles.h"
#include "ProcThreadActivity.h"

#include <cerrno>
#include <filesystem>
#include <cstdlib>
#include <cstring>
#include <linux/perf_event.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The drain thread applies records this old as it reads them, so that a
// target left running while nobody collects costs bounded memory. Collect's
// instant is never that old.
constexpr std::uint64_t SETTLE_NS = 2 * MAX_INSTANT_AGE_NS;
// Between a process's last thread ending and the process counting as exited
// lie a few microseconds of kernel work; a live process that lost its events
// is told apart by waiting this long.
constexpr int EXIT_GRACE_MS = 200;
constexpr unsigned MIN_RING_PAGES = 1;
// Two events of one thread write each record twice, a few hundred
// nanoseconds apart.
constexpr std::uint64_t REPEAT_NS = 20'000;
// Of the records asked for: a fork, an exit or a 16-byte command name. A
// mapping's record carries a path and may be larger; one dropped for want
// of room is told by the kernel's count of lost records.
constexpr std::uint64_t LARGEST_RECORD = 64;

// Appended to every record (sample_id_all) for sample_type TID | TIME | CPU.
struct SampleId {
    std::uint32_t pid;
    std::uint32_t tid;
    std::uint64_t time;
    std::uint32_t cpu;
    std::uint32_t reserved;
};

struct TaskBody {  // PERF_RECORD_FORK and PERF_RECORD_EXIT
    std::uint32_t pid;
    std::uint32_t ppid;
    std::uint32_t tid;
    std::uint32_t ptid;
    std::uint64_t time;
};

struct CommBody {  // PERF_RECORD_COMM, up to the name
    std::uint32_t pid;
    std::uint32_t tid;
};

struct MmapBody {  // PERF_RECORD_MMAP, up to the path
    std::uint32_t pid;
    std::uint32_t tid;
    std::uint64_t address;
    std::uint64_t length;
    std::uint64_t offset;
};

struct LostBody {  // PERF_RECORD_LOST
    std::uint64_t id;
    std::uint64_t lost;
};

template <class Body>
bool ReadBody(const unsigned char* bytes, std::size_t size, Body& body)
{
    if (size < sizeof(perf_event_header) + sizeof(Body) + sizeof(SampleId))
        return false;
    std::memcpy(&body, bytes + sizeof(perf_event_header), sizeof body);
    return true;
}

template <class Body>
bool DecodeTask(const unsigned char* bytes, std::size_t size, RecordKind kind, SwitchRecord& record)
{
    Body body;
    if (!ReadBody(bytes, size, body))
        return false;
    record.kind = kind;
    record.pid = static_cast<int>(body.pid);
    record.tid = static_cast<int>(body.tid);
    return true;
}

// The name runs from after the ids to its terminating zero, padded to 8 bytes.
bool DecodeComm(const unsigned char* bytes, std::size_t size, RecordKind kind, SwitchRecord& record)
{
    if (!DecodeTask<CommBody>(bytes, size, kind, record))
        return false;
    const char* name = reinterpret_cast<const char*>(bytes + sizeof(perf_event_header) + sizeof(CommBody));
    const std::size_t room = size - sizeof(perf_event_header) - sizeof(CommBody) - sizeof(SampleId);
    record.name.assign(name, strnlen(name, room));
    return true;
}

std::size_t PageSize()
{
    return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

int ReadParanoidLevel(const std::string& procRoot)
{
    return std::atoi(ReadMachineLine(procRoot, "sys/kernel/perf_event_paranoid").value_or("0").c_str());
}

// The process's threads as /proc lists them now; false when it is gone.
bool ReadThreadList(int pid, std::uint64_t startTicks, const std::string& procRoot, ActivitySnapshot& list)
{
    const auto threads = ProcThreadActivity::Open(pid, startTicks, procRoot);
    return threads && threads->Collect(MonotonicNowNs(), list) == ThreadActivitySource::Status::Ok;
}

std::string RefusalReason(int error, const std::string& procRoot)
{
    const std::string refused = "the kernel refuses context-switch records: ";
    const int paranoid = ReadParanoidLevel(procRoot);
    if ((error == EACCES || error == EPERM) && paranoid > 2)
        return refused + "perf_event_paranoid is " + std::to_string(paranoid) + " (2 or less allows them)";
    return refused + std::strerror(error);
}

} // namespace

// Per-processor events are what lets inherited events share a ring.
// Without inherit_thread, processes the target forks inherit the events too.
int OpenSwitchEvent(int pid, int cpu, std::size_t ringBytes, bool followChildren)
{
    perf_event_attr attr{};
    attr.size = sizeof attr;
    attr.type = PERF_TYPE_SOFTWARE;
    attr.config = PERF_COUNT_SW_DUMMY;
    attr.sample_type = PERF_SAMPLE_TID | PERF_SAMPLE_TIME | PERF_SAMPLE_CPU;
    attr.sample_id_all = 1;
    attr.context_switch = 1;
    attr.task = 1;
    attr.comm = 1;
    attr.comm_exec = 1;
    // Code mappings (an exec maps its program before it runs) tell an exec
    // that kept the records from one after which the kernel stopped them.
    attr.mmap = 1;
    attr.inherit = 1;
    attr.inherit_thread = followChildren ? 0 : 1;
    attr.exclude_kernel = 1;  // what perf_event_paranoid 2 allows
    attr.exclude_hv = 1;
    attr.use_clockid = 1;
    attr.clockid = CLOCK_MONOTONIC;
    attr.watermark = 1;
    attr.wakeup_watermark = static_cast<std::uint32_t>(ringBytes / 2);
    return static_cast<int>(syscall(SYS_perf_event_open, &attr, pid, cpu, -1, PERF_FLAG_FD_CLOEXEC));
}

// One processor's event and its mapped ring: a control page, then the data
// pages that the kernel fills and we empty.
class PerfRing {
public:
    // Falls back to smaller rings while the locked-memory limit refuses.
    static std::unique_ptr<PerfRing> Open(int pid, int cpu, unsigned ringPages, const SwitchRecordOptions& options,
                                          std::string& whyNot)
    {
        for (unsigned pages = ringPages; pages >= MIN_RING_PAGES; pages /= 2) {
            const std::size_t dataBytes = pages * PageSize();
            const int fd = OpenSwitchEvent(pid, cpu, dataBytes, options.followChildren);
            if (fd < 0) {
                const int error = errno;  // kept for the caller
                whyNot = RefusalReason(error, options.procRoot);
                errno = error;
                return nullptr;
            }
            void* map = mmap(nullptr, dataBytes + PageSize(), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (map != MAP_FAILED)
                return std::unique_ptr<PerfRing>(new PerfRing(fd, map, dataBytes + PageSize()));
            const int error = errno;
            close(fd);
            if (error != EPERM && error != ENOMEM) {
                whyNot = std::string("cannot map the context-switch records: ") + std::strerror(error);
                return nullptr;
            }
        }
        whyNot = "cannot map the context-switch records: locked-memory limit (perf_event_mlock_kb) reached";
        return nullptr;
    }

    ~PerfRing()
    {
        munmap(m_map, m_mapBytes);
        close(m_fd);
    }

    PerfRing(const PerfRing&) = delete;
    PerfRing& operator=(const PerfRing&) = delete;

    int Fd() const { return m_fd; }

    // True when records may be missing: the ring was full (the kernel has
    // been dropping records, and says so only with its next record, after
    // this drain), or damaged.
    bool Drain(const std::function<void(const unsigned char*, std::size_t)>& take)
    {
        auto* control = static_cast<perf_event_mmap_page*>(m_map);
        const std::uint64_t head = __atomic_load_n(&control->data_head, __ATOMIC_ACQUIRE);
        const std::uint64_t tail = control->data_tail;
        const auto* data = static_cast<const unsigned char*>(m_map) + control->data_offset;
        const RingRead read = ReadRing(data, control->data_size, tail, head, take);
        __atomic_store_n(&control->data_tail, read.tail, __ATOMIC_RELEASE);
        return read.damaged || RingMayHaveOverflowed(head - tail, control->data_size);
    }

private:
    PerfRing(int fd, void* map, std::size_t mapBytes) : m_fd(fd), m_map(map), m_mapBytes(mapBytes) {}

    int m_fd;
    void* m_map;
    std::size_t m_mapBytes;
};

namespace {

bool ProcForced(std::string& reason)
{
    const char* forced = std::getenv("QUORVEX_THREAD_STATES");
    if (forced && std::strcmp(forced, "proc") == 0) {
        reason = "forced by QUORVEX_THREAD_STATES=proc";
        return true;
    }
    return false;
}

// The kernel's refusal to attach: for another user's process, it says whose.
std::string AttachRefusal(int pid, int error, const std::string& procRoot)
{
    struct stat owner {};
    if ((error == EACCES || error == EPERM) &&
        stat((procRoot + "/" + std::to_string(pid)).c_str(), &owner) == 0 && owner.st_uid != geteuid())
        return "process " + std::to_string(pid) + " is another user's (uid " + std::to_string(owner.st_uid) +
               "): the kernel lets only its owner, root or CAP_PERFMON record it (" + std::strerror(error) + ")";
    return RefusalReason(error, procRoot);
}

} // namespace

std::unique_ptr<SwitchRecordSource> SwitchRecordSource::AttachRunning(int pid, std::string* whyNot,
                                                                      const SwitchRecordOptions& options,
                                                                      std::vector<ThreadActivity>& threads)
{
    std::string unread;
    std::string& reason = whyNot ? *whyNot : unread;
    ProcStat stat;
    if (ProcForced(reason))
        return nullptr;
    if (!ReadPidStat(pid, stat, options.procRoot)) {
        reason = "process " + std::to_string(pid) + " not found";
        return nullptr;
    }
    std::unique_ptr<SwitchRecordSource> source(new SwitchRecordSource(pid, stat.startTicks, 0, options));
    if (!source->OpenRunning(reason, threads))
        source.reset();
    return source;
}

// Lists the threads until a listing shows none that is not followed yet.
// The records drained meanwhile tell which threads were created by threads
// already followed.
bool SwitchRecordSource::OpenRunning(std::string& whyNot, std::vector<ThreadActivity>& threads)
{
    const std::vector<unsigned> cpus = OnlineCpus();
    if (cpus.empty()) {
        whyNot = "cannot read the online processors";
        return false;
    }
    m_lastOfRing.resize(cpus.size());
    std::unordered_set<int> followed;
    for (bool added = true; added;) {
        added = false;
        ActivitySnapshot list;
        if (!ReadThreadList(m_pid, m_startTicks, m_options.procRoot, list)) {
            whyNot = "process " + std::to_string(m_pid) + " not found";
            return false;
        }
        if (!m_rings.empty())
            DrainRings();
        for (const ThreadActivity& thread : list.threads) {
            if (followed.count(thread.tid) || m_forked.count(thread.tid))
                continue;
            const ThreadOpen opened = OpenThread(thread.tid, cpus, whyNot);
            if (opened == ThreadOpen::Refused)
                return false;
            if (opened == ThreadOpen::Opened) {
                followed.insert(thread.tid);
                threads.push_back(thread);
                added = true;
            }
        }
    }
    if (m_rings.empty()) {
        whyNot = "process " + std::to_string(m_pid) + " not found";
        return false;
    }
    return Watch(whyNot);
}

// The first thread's events own the rings; the others' write into them.
SwitchRecordSource::ThreadOpen SwitchRecordSource::OpenThread(int tid, const std::vector<unsigned>& cpus,
                                                              std::string& whyNot)
{
    std::vector<int> events;
    const auto gone = [&] {
        const int error = errno;
        for (const int fd : events)
            close(fd);
        if (error == ESRCH)
            return ThreadOpen::Ended;
        whyNot = AttachRefusal(m_pid, error, m_options.procRoot);
        return ThreadOpen::Refused;
    };
    if (m_rings.empty()) {
        const unsigned pages = RingPages(cpus.size());
        for (const unsigned cpu : cpus) {
            m_rings.push_back(PerfRing::Open(tid, static_cast<int>(cpu), pages, m_options, whyNot));
            if (!m_rings.back()) {
                const int error = errno;
                m_rings.clear();
                errno = error;
                return gone();
            }
        }
        return ThreadOpen::Opened;
    }
    for (std::size_t i = 0; i < cpus.size(); ++i) {
        const int fd = OpenSwitchEvent(tid, static_cast<int>(cpus[i]), PageSize(), m_options.followChildren);
        if (fd < 0 || (events.push_back(fd), ioctl(fd, PERF_EVENT_IOC_SET_OUTPUT, m_rings[i]->Fd()) != 0))
            return gone();
    }
    m_redirected.insert(m_redirected.end(), events.begin(), events.end());
    return ThreadOpen::Opened;
}

// One record written twice by two events of one thread, back to back. Also
// notes, while attaching, the threads whose creation the events recorded.
bool SwitchRecordSource::Repeated(std::size_t ring, const SwitchRecord& record)
{
    if (m_lastOfRing.empty())
        return false;
    if (record.kind == RecordKind::Fork && !m_drainer.joinable())
        m_forked.insert(record.tid);
    SwitchRecord& last = m_lastOfRing[ring];
    const bool repeated = last.kind == record.kind && last.tid == record.tid && last.pid == record.pid &&
                          last.cpu == record.cpu && last.preempted == record.preempted && last.name == record.name &&
                          record.timeNs >= last.timeNs && record.timeNs - last.timeNs < REPEAT_NS;
    last = record;
    return repeated;
}

std::unique_ptr<SwitchRecordSource> SwitchRecordSource::Attach(int pid, std::string* whyNot,
                                                               const SwitchRecordOptions& options)
{
    std::string unread;
    std::string& reason = whyNot ? *whyNot : unread;
    if (ProcForced(reason))
        return nullptr;
    ProcStat stat;
    ActivitySnapshot list;
    if (!ReadPidStat(pid, stat, options.procRoot) || !ReadThreadList(pid, stat.startTicks, options.procRoot, list)) {
        reason = "process " + std::to_string(pid) + " not found";
        return nullptr;
    }
    // Threads that exist already would not inherit the events.
    if (list.threads.size() != 1 || list.threads[0].tid != pid) {
        reason = "process " + std::to_string(pid) + " is not a single-threaded process";
        return nullptr;
    }
    std::unique_ptr<SwitchRecordSource> source(
        new SwitchRecordSource(pid, stat.startTicks, list.threads[0].cpuNs, options));
    if (!source->Open(reason))
        source.reset();
    return source;
}

SwitchRecordSource::SwitchRecordSource(int pid, std::uint64_t startTicks, std::uint64_t cpuNs,
                                       const SwitchRecordOptions& options)
    : m_pid(pid), m_startTicks(startTicks), m_options(options), m_tracker(pid, cpuNs)
{
    m_tracker.Observe(options.onRecord, options.keepThreadStates);
}

bool SwitchRecordSource::Open(std::string& whyNot)
{
    const std::vector<unsigned> cpus = OnlineCpus();
    if (cpus.empty()) {
        whyNot = "cannot read the online processors";
        return false;
    }
    const unsigned pages = RingPages(cpus.size());
    for (const unsigned cpu : cpus) {
        m_rings.push_back(PerfRing::Open(m_pid, static_cast<int>(cpu), pages, m_options, whyNot));
        if (!m_rings.back())
            return false;
    }
    return Watch(whyNot);
}

unsigned SwitchRecordSource::RingPages(std::size_t processorCount) const
{
    if (m_options.ringPages)
        return m_options.ringPages;
    const auto processors = static_cast<unsigned>(processorCount);
    unsigned most = 1;
    while (most < MAX_RING_PAGES && 2 * most * PageSize() * processors <= MAX_RINGS_BYTES)
        most *= 2;
    return RingPagesWithin(ReadRingAllowance(processors, m_options.procRoot), processors, PageSize(), most);
}

bool SwitchRecordSource::Watch(std::string& whyNot)
{
    m_pidFd = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
    m_stopFd = eventfd(0, EFD_CLOEXEC);
    if (m_pidFd < 0 || m_stopFd < 0) {
        whyNot = "cannot watch process " + std::to_string(m_pid) + ": " + std::strerror(errno);
        return false;
    }
    if (m_options.drainInBackground)
        m_drainer = std::thread(&SwitchRecordSource::DrainInBackground, this);
    return true;
}

SwitchRecordSource::~SwitchRecordSource()
{
    if (m_drainer.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(m_stopFd, &one, sizeof one);
        m_drainer.join();
    }
    for (const int fd : m_redirected)
        close(fd);
    m_rings.clear();
    if (m_stopFd >= 0)
        close(m_stopFd);
    if (m_pidFd >= 0)
        close(m_pidFd);
}

ThreadActivitySource::Status SwitchRecordSource::Collect(std::uint64_t instantNs, ActivitySnapshot& snapshot)
{
    if (m_lostForGood || !m_options.keepThreadStates)
        return Status::Lost;
    if (HasExited(0))
        return Status::Gone;
    const std::uint64_t readNs = ReadingInstant(instantNs);
    std::lock_guard lock(m_mutex);
    DrainRings();
    m_tracker.AdvanceTo(readNs);
    if (m_tracker.NeedsResync()) {
        // A process that is gone lists no thread.
        const std::uint64_t listedNs = MonotonicNowNs();
        ActivitySnapshot list;
        ReadThreadList(m_pid, m_startTicks, m_options.procRoot, list);
        m_tracker.Resync(list.threads, listedNs);
    }
    // No thread left, or the events closed: the process is exiting right
    // now, or the kernel detached the events at an exec (set-uid or
    // unreadable program) and the process runs on unseen.
    if (m_tracker.LiveThreads() == 0 || m_hungUp) {
        if (HasExited(EXIT_GRACE_MS))
            return Status::Gone;
        m_lostForGood = true;
        return Status::Lost;
    }
    m_tracker.Snapshot(readNs, snapshot);
    return Status::Ok;
}

ThreadActivitySource::Status SwitchRecordSource::Advance(std::uint64_t instantNs)
{
    {
        std::lock_guard lock(m_mutex);
        DrainRings();
        m_tracker.AdvanceTo(instantNs);
    }
    if (m_hungUp && !m_lostForGood && !HasExited(EXIT_GRACE_MS))
        m_lostForGood = true;
    return m_lostForGood ? Status::Lost : Status::Ok;
}

void SwitchRecordSource::Queued(const std::function<void(const SwitchRecord&)>& see)
{
    std::lock_guard lock(m_mutex);
    DrainRings();
    m_tracker.Queued(see);
}

std::uint64_t SwitchRecordSource::LostRecords() const
{
    std::lock_guard lock(m_mutex);
    return m_tracker.LostRecords();
}

unsigned SwitchRecordSource::Resyncs() const
{
    std::lock_guard lock(m_mutex);
    return m_tracker.Resyncs();
}

void SwitchRecordSource::DrainRings()
{
    for (std::size_t i = 0; i < m_rings.size(); ++i) {
        const auto add = [this, i](const unsigned char* bytes, std::size_t size) {
            SwitchRecord record;
            if (DecodeSwitchRecord(bytes, size, record) && !Repeated(i, record))
                m_tracker.Add(std::move(record));
        };
        if (m_rings[i]->Drain(add))
            m_tracker.MarkGap();
    }
}

// Sleeps until a ring is half full, the events close or the source ends.
void SwitchRecordSource::DrainInBackground()
{
    std::vector<pollfd> fds;
    for (const auto& ring : m_rings)
        fds.push_back({ring->Fd(), POLLIN, 0});
    fds.push_back({m_stopFd, POLLIN, 0});
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds.back().revents)
            return;
        for (pollfd& fd : fds) {
            // A closed event keeps reporting POLLHUP; stop watching it.
            if (fd.revents & (POLLHUP | POLLERR)) {
                fd.fd = -1;
                m_hungUp = true;
            }
        }
        std::lock_guard lock(m_mutex);
        DrainRings();
        const std::uint64_t now = MonotonicNowNs();
        if (now > SETTLE_NS && !m_options.onRecord)
            m_tracker.AdvanceTo(now - SETTLE_NS);
    }
}

bool SwitchRecordSource::HasExited(int timeoutMs) const
{
    pollfd exited{m_pidFd, POLLIN, 0};
    return poll(&exited, 1, timeoutMs) > 0;
}

int ProbeSwitchRecords()
{
    const std::vector<unsigned> cpus = OnlineCpus();
    const int fd = OpenSwitchEvent(0, cpus.empty() ? -1 : static_cast<int>(cpus[0]), PageSize(), false);
    if (fd < 0)
        return errno;
    close(fd);
    return 0;
}

bool DecodeSwitchRecord(const unsigned char* bytes, std::size_t size, SwitchRecord& record)
{
    perf_event_header header;
    SampleId id;
    if (size < sizeof header + sizeof id)
        return false;
    std::memcpy(&header, bytes, sizeof header);
    std::memcpy(&id, bytes + size - sizeof id, sizeof id);
    record = SwitchRecord{};
    record.timeNs = id.time;
    record.pid = static_cast<int>(id.pid);
    record.tid = static_cast<int>(id.tid);
    record.cpu = static_cast<int>(id.cpu);
    switch (header.type) {
    case PERF_RECORD_SWITCH:
        record.kind = header.misc & PERF_RECORD_MISC_SWITCH_OUT ? RecordKind::SwitchOut : RecordKind::SwitchIn;
        record.preempted = record.kind == RecordKind::SwitchOut && (header.misc & PERF_RECORD_MISC_SWITCH_OUT_PREEMPT);
        return true;
    case PERF_RECORD_FORK:
        return DecodeTask<TaskBody>(bytes, size, RecordKind::Fork, record);
    case PERF_RECORD_EXIT:
        return DecodeTask<TaskBody>(bytes, size, RecordKind::Exit, record);
    case PERF_RECORD_COMM:
        // A rename (prctl) changes only the name; an exec changes the threads.
        return DecodeComm(bytes, size, header.misc & PERF_RECORD_MISC_COMM_EXEC ? RecordKind::Exec : RecordKind::Comm,
                          record);
    case PERF_RECORD_MMAP:
        return DecodeTask<MmapBody>(bytes, size, RecordKind::Mapped, record);
    case PERF_RECORD_LOST: {
        LostBody body;
        if (!ReadBody(bytes, size, body))
            return false;
        record.kind = RecordKind::Lost;
        record.lost = body.lost;
        return true;
    }
    default:
        return false;
    }
}

RingRead ReadRing(const unsigned char* data, std::size_t size, std::uint64_t tail, std::uint64_t head,
                  const std::function<void(const unsigned char*, std::size_t)>& take)
{
    std::vector<unsigned char> joined;
    // The kernel writes whole records, 8-byte aligned, so a header never
    // straddles the end, and never more than the ring holds; anything else
    // is a damaged ring, and nothing in it can be trusted any more.
    if (head - tail > size)
        return {head, true};
    while (head != tail) {
        const std::size_t offset = tail & (size - 1);
        perf_event_header header;
        if (head - tail < sizeof header || offset + sizeof header > size)
            return {head, true};
        std::memcpy(&header, data + offset, sizeof header);
        if (header.size < sizeof header || header.size % 8 != 0 || header.size > head - tail)
            return {head, true};
        if (offset + header.size <= size) {
            take(data + offset, header.size);
        } else {
            joined.assign(data + offset, data + size);
            joined.insert(joined.end(), data, data + (offset + header.size - size));
            take(joined.data(), joined.size());
        }
        tail += header.size;
    }
    return {tail, false};
}

RingAllowance ReadRingAllowance(unsigned processors, const std::string& procRoot)
{
    RingAllowance allowance;
    // CAP_IPC_LOCK is bit 14 of the effective capabilities.
    const std::string status = ReadMachineFile(procRoot, "self/status").value_or("");
    const std::size_t caps = status.find("CapEff:\t");
    allowance.unbounded = caps != std::string::npos && (std::strtoull(status.c_str() + caps + 8, nullptr, 16) >> 14) & 1;
    const std::uint64_t perCpuKb =
        std::strtoull(ReadMachineLine(procRoot, "sys/kernel/perf_event_mlock_kb").value_or("0").c_str(), nullptr, 10);
    rlimit memlock{};
    getrlimit(RLIMIT_MEMLOCK, &memlock);
    allowance.bytes = perCpuKb * 1024 * processors +
                      (memlock.rlim_cur == RLIM_INFINITY ? 0 : static_cast<std::uint64_t>(memlock.rlim_cur));
    allowance.unbounded = allowance.unbounded || memlock.rlim_cur == RLIM_INFINITY;
    return allowance;
}

unsigned RingPagesWithin(const RingAllowance& allowance, unsigned processors, std::size_t pageSize, unsigned maxPages)
{
    unsigned pages = 1;
    while (pages * 2 <= maxPages &&
           (allowance.unbounded || (pages * 2 + 1) * pageSize * std::max(processors, 1u) <= allowance.bytes))
        pages *= 2;
    return pages;
}

bool RingMayHaveOverflowed(std::uint64_t backlog, std::size_t ringBytes)
{
    return backlog + LARGEST_RECORD > ringBytes;
}
