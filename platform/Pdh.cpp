#include "Pdh.h"

#include <charconv>
#include <strings.h>
#include <string_view>

namespace {

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
