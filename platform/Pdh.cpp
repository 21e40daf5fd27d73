#include "Pdh.h"

#include "Timing.h"

#include <charconv>
#include <strings.h>
#include <string_view>

namespace {

CounterService*& CurrentService()
{
    static CounterService* service = nullptr;
    return service;
}

CounterService& Service()
{
    return CurrentService() ? *CurrentService() : KernelCounterService();
}

bool SameName(std::string_view a, const char* b)
{
    return a.size() == std::string_view(b).size() && strncasecmp(a.data(), b, a.size()) == 0;
}

PDH_STATUS ParseThreadInstance(std::string_view instance, CounterPath& parsed)
{
    const size_t slash = instance.rfind('/');
    if (slash == std::string_view::npos)
        return PDH_CSTATUS_BAD_COUNTERNAME;
    const std::string_view number = instance.substr(slash + 1);
    int thread;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), thread);
    if (number.empty() || error != std::errc() || end != number.data() + number.size() || thread < 0)
        return PDH_CSTATUS_BAD_COUNTERNAME;
    parsed.instance = std::string(instance.substr(0, slash));
    parsed.thread = thread;
    return ERROR_SUCCESS;
}

PDH_STATUS ParseCounterName(std::string_view name, CounterPath& parsed)
{
    if (SameName(name, "% Processor Time"))
        parsed.kind = CounterKind::ProcessorTime;
    else if (parsed.object == CounterObject::Process && SameName(name, "Thread Count"))
        parsed.kind = CounterKind::ThreadCount;
    else if (parsed.object == CounterObject::Thread && SameName(name, "Thread State"))
        parsed.kind = CounterKind::ThreadState;
    else
        return PDH_CSTATUS_NO_COUNTER;
    return ERROR_SUCCESS;
}

} // namespace

PDH_STATUS ParseCounterPath(const char* path, CounterPath& parsed)
{
    const std::string_view text = path ? path : "";
    const size_t counterStart = text.rfind('\\');
    if (text.empty() || text[0] != '\\' || counterStart == 0 || counterStart == std::string_view::npos ||
        text[counterStart - 1] != ')')
        return PDH_CSTATUS_BAD_COUNTERNAME;
    const std::string_view head = text.substr(1, counterStart - 2);
    const size_t open = head.find('(');
    if (open == std::string_view::npos)
        return PDH_CSTATUS_BAD_COUNTERNAME;
    const std::string_view object = head.substr(0, open);
    const std::string_view instance = head.substr(open + 1);
    parsed.thread = -1;
    if (SameName(object, "Process")) {
        parsed.object = CounterObject::Process;
        parsed.instance = std::string(instance);
    } else if (SameName(object, "Thread")) {
        parsed.object = CounterObject::Thread;
        if (const PDH_STATUS status = ParseThreadInstance(instance, parsed))
            return status;
    } else {
        return PDH_CSTATUS_NO_OBJECT;
    }
    return ParseCounterName(text.substr(counterStart + 1), parsed);
}

CounterService* SetCounterService(CounterService* service)
{
    CounterService* previous = CurrentService();
    CurrentService() = service;
    return previous;
}

// Only live data: there is no log file to read counters from.
PDH_STATUS PdhOpenQueryA(LPCSTR dataSource, DWORD_PTR, PDH_HQUERY* query)
{
    if (!query || dataSource)
        return PDH_INVALID_ARGUMENT;
    return Service().OpenQuery(query);
}

PDH_STATUS PdhAddCounterA(PDH_HQUERY query, LPCSTR fullCounterPath, DWORD_PTR, PDH_HCOUNTER* counter)
{
    if (!query)
        return PDH_INVALID_HANDLE;
    if (!fullCounterPath || !counter)
        return PDH_INVALID_ARGUMENT;
    return Service().AddCounter(query, fullCounterPath, counter);
}

PDH_STATUS PdhCollectQueryData(PDH_HQUERY query)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return PdhCollectQueryDataAt(query, now.QuadPart);
}

PDH_STATUS PdhCollectQueryDataAt(PDH_HQUERY query, LONGLONG instant)
{
    return query ? Service().CollectQueryData(query, instant) : PDH_INVALID_HANDLE;
}

PDH_STATUS PdhBindQueryToProcess(PDH_HQUERY query, HANDLE process)
{
    if (!query || !process)
        return PDH_INVALID_HANDLE;
    return Service().BindQuery(query, process);
}

PDH_STATUS PdhGetFormattedCounterValue(PDH_HCOUNTER counter, DWORD format, DWORD* type, PDH_FMT_COUNTERVALUE* value)
{
    if (!counter)
        return PDH_INVALID_HANDLE;
    if (format != PDH_FMT_DOUBLE || !value)
        return PDH_INVALID_ARGUMENT;
    if (type)
        *type = 0;
    double number = 0;
    const PDH_STATUS status = Service().GetCounterValue(counter, &number);
    value->CStatus = static_cast<DWORD>(status);
    value->doubleValue = status == ERROR_SUCCESS ? number : 0;
    return status;
}

PDH_STATUS PdhCloseQuery(PDH_HQUERY query)
{
    return query ? Service().CloseQuery(query) : PDH_INVALID_HANDLE;
}
