#pragma once
// The performance-counter service: queries of counters named by paths such as
// "\\Process(name)\\% Processor Time" or "\\Thread(name/3)\\Thread State",
// collected together and read as formatted values.
//
// A CounterService provides them; the functions below use the kernel's
// (ProcCounterService), while the engine is handed the service it uses.

#include "ThreadActivity.h"
#include "WinTypes.h"

#include <cstdint>
#include <string>

using PDH_STATUS = LONG;
using PDH_HQUERY = void*;
using PDH_HCOUNTER = void*;

constexpr PDH_STATUS PDH_CSTATUS_VALID_DATA = 0;
constexpr PDH_STATUS PDH_CSTATUS_NO_INSTANCE = static_cast<PDH_STATUS>(0x800007D1);
constexpr PDH_STATUS PDH_NO_DATA = static_cast<PDH_STATUS>(0x800007D5);
constexpr PDH_STATUS PDH_CSTATUS_NO_OBJECT = static_cast<PDH_STATUS>(0xC0000BB8);
constexpr PDH_STATUS PDH_CSTATUS_NO_COUNTER = static_cast<PDH_STATUS>(0xC0000BB9);
constexpr PDH_STATUS PDH_MEMORY_ALLOCATION_FAILURE = static_cast<PDH_STATUS>(0xC0000BBB);
constexpr PDH_STATUS PDH_INVALID_HANDLE = static_cast<PDH_STATUS>(0xC0000BBC);
constexpr PDH_STATUS PDH_INVALID_ARGUMENT = static_cast<PDH_STATUS>(0xC0000BBD);
constexpr PDH_STATUS PDH_CSTATUS_BAD_COUNTERNAME = static_cast<PDH_STATUS>(0xC0000BC0);
constexpr PDH_STATUS PDH_INVALID_DATA = static_cast<PDH_STATUS>(0xC0000BC6);

constexpr DWORD PDH_FMT_DOUBLE = 0x00000200;

// "Thread State" values: on a processor at the collection, or waiting.
constexpr int THREAD_STATE_RUNNING = 2;
constexpr int THREAD_STATE_WAITING = 5;

struct PDH_FMT_COUNTERVALUE {
    DWORD CStatus;
    double doubleValue;  // only PDH_FMT_DOUBLE is provided
};

PDH_STATUS PdhOpenQueryA(LPCSTR dataSource, DWORD_PTR userData, PDH_HQUERY* query);
PDH_STATUS PdhAddCounterA(PDH_HQUERY query, LPCSTR fullCounterPath, DWORD_PTR userData, PDH_HCOUNTER* counter);
PDH_STATUS PdhCollectQueryData(PDH_HQUERY query);
// Not in the Windows API, which finds a counter's process by its name alone:
// the query's counters measure the process that this run started, named by
// its handle, and never a stranger of the same name. Until a query is bound,
// its collections find no process (PDH_NO_DATA).
PDH_STATUS PdhBindQueryToProcess(PDH_HQUERY query, HANDLE process);
// PdhCollectQueryData for the sample's instant (QueryPerformanceCounter
// ticks, at most half a second ago), such as the end of the sleep before it:
// the sampler's own wake-up must not displace a thread from the picture.
PDH_STATUS PdhCollectQueryDataAt(PDH_HQUERY query, LONGLONG instant);
// Only PDH_FMT_DOUBLE is provided.
PDH_STATUS PdhGetFormattedCounterValue(PDH_HCOUNTER counter, DWORD format, DWORD* type, PDH_FMT_COUNTERVALUE* value);
PDH_STATUS PdhCloseQuery(PDH_HQUERY query);

enum class CounterObject { Process, Thread };
enum class CounterKind { ProcessorTime, ThreadCount, ThreadState };

struct CounterPath {
    CounterObject object;
    std::string instance;  // the process's instance name
    int thread;            // Thread objects: the thread's number at each collection; else -1
    CounterKind kind;
};

// Any process name parses: it may hold blanks, parentheses, slashes and
// backslashes (the counter name follows the last backslash, a thread number
// the last slash). Object and counter names are matched without regard to case.
PDH_STATUS ParseCounterPath(const char* path, CounterPath& parsed);

// The operations behind the functions above. Handles are the service's own.
class CounterService {
public:
    virtual ~CounterService() = default;
    virtual PDH_STATUS OpenQuery(PDH_HQUERY* query) = 0;
    virtual PDH_STATUS AddCounter(PDH_HQUERY query, const char* path, PDH_HCOUNTER* counter) = 0;
    virtual PDH_STATUS BindQuery(PDH_HQUERY query, HANDLE process) = 0;
    // The collection belongs to instantNs (CLOCK_MONOTONIC), such as the end
    // of the sleep before it, at most MAX_INSTANT_AGE_NS ago: the sampler's
    // own wake-up must not displace a thread from the picture.
    virtual PDH_STATUS CollectQueryData(PDH_HQUERY query, std::uint64_t instantNs) = 0;
    virtual PDH_STATUS GetCounterValue(PDH_HCOUNTER counter, double* value) = 0;
    virtual PDH_STATUS CloseQuery(PDH_HQUERY query) = 0;
};
