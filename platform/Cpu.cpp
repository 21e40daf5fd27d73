#include "Cpu.h"

#include "MachineFiles.h"

#include <charconv>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {

constexpr unsigned MASK_BITS = sizeof(DWORD_PTR) * 8;

DWORD_PTR MaskOf(const cpu_set_t& set)
{
    DWORD_PTR mask = 0;
    for (unsigned cpu = 0; cpu < MASK_BITS; ++cpu)
        if (CPU_ISSET(cpu, &set))
            mask |= DWORD_PTR{1} << cpu;
    return mask;
}

bool ParseNumber(std::string_view text, unsigned& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// "a" or "a-b"; false for anything else.
bool ParseRange(std::string_view range, unsigned& first, unsigned& last)
{
    const size_t dash = range.find('-');
    if (dash == std::string_view::npos) {
        if (!ParseNumber(range, first))
            return false;
        last = first;
        return true;
    }
    return ParseNumber(range.substr(0, dash), first) && ParseNumber(range.substr(dash + 1), last) && first <= last;
}

DWORD_PTR RangeMask(unsigned first, unsigned last)
{
    DWORD_PTR mask = 0;
    for (unsigned cpu = first; cpu <= last && cpu < MASK_BITS; ++cpu)
        mask |= DWORD_PTR{1} << cpu;
    return mask;
}

} // namespace

DWORD_PTR CpuListMask(std::string_view list)
{
    while (!list.empty() && (list.back() == '\n' || list.back() == ' '))
        list.remove_suffix(1);
    if (list.empty())
        return 0;
    DWORD_PTR mask = 0;
    while (true) {
        const size_t comma = list.find(',');
        unsigned first = 0;
        unsigned last = 0;
        if (!ParseRange(list.substr(0, comma), first, last))
            return 0;
        mask |= RangeMask(first, last);
        if (comma == std::string_view::npos)
            return mask;
        list.remove_prefix(comma + 1);
    }
}

HostCpu::HostCpu(std::filesystem::path root) : m_root(std::move(root)) {}

CpuidResult HostCpu::Cpuid(DWORD leaf, DWORD subleaf)
{
    CpuidResult r;
#if defined(__i386__) || defined(__x86_64__)
    __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
#else
    (void)leaf;
    (void)subleaf;
#endif
    return r;
}

BOOL HostCpu::GetProcessAffinityMask(DWORD_PTR* processMask, DWORD_PTR* systemMask)
{
    // Affinity is per thread on Linux; the process's is its main thread's,
    // which every thread it starts inherits.
    cpu_set_t set;
    CPU_ZERO(&set);
    const bool known = sched_getaffinity(getpid(), sizeof set, &set) == 0;
    *processMask = known ? MaskOf(set) : 0;

    // Without the list (no /sys in a container) nothing shows a restriction.
    const DWORD_PTR onlineMask = CpuListMask(ReadMachineFile(m_root, "sys/devices/system/cpu/online").value_or(""));
    *systemMask = onlineMask ? onlineMask : *processMask;
    return known ? TRUE : FALSE;
}

BOOL HostCpu::SetThreadAffinityMask(DWORD_PTR mask)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    for (unsigned cpu = 0; cpu < MASK_BITS; ++cpu)
        if (mask & (DWORD_PTR{1} << cpu))
            CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0 ? TRUE : FALSE;
}

void HostCpu::YieldTimeSlice()
{
    sched_yield();
}
