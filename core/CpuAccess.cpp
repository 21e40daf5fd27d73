#include "CpuAccess.h"

#include "MachineFiles.h"

#include <charconv>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {

// The kernel numbers processors below a few thousand; a larger number is
// no processor, and must not make the list huge.
constexpr unsigned MAX_CPU_NUMBER = 1u << 16;

bool ParseNumber(std::string_view text, unsigned& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value < MAX_CPU_NUMBER;
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

} // namespace

CpuidRegisters ReadCpuid(std::uint32_t leaf, std::uint32_t subleaf)
{
    CpuidRegisters r;
#if defined(__i386__) || defined(__x86_64__)
    __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
#else
    (void)leaf;
    (void)subleaf;
#endif
    return r;
}

std::optional<std::vector<unsigned>> ProcessAffinity(int pid)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(pid ? pid : getpid(), sizeof set, &set) != 0)
        return std::nullopt;
    std::vector<unsigned> cpus;
    for (unsigned cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &set))
            cpus.push_back(cpu);
    return cpus;
}

bool PinCallingThread(const std::vector<unsigned>& cpus)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    for (const unsigned cpu : cpus)
        if (cpu < CPU_SETSIZE)
            CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

std::vector<unsigned> ParseCpuList(std::string_view list)
{
    while (!list.empty() && (list.back() == '\n' || list.back() == ' '))
        list.remove_suffix(1);
    std::vector<unsigned> cpus;
    if (list.empty())
        return cpus;
    while (true) {
        const size_t comma = list.find(',');
        unsigned first = 0;
        unsigned last = 0;
        if (!ParseRange(list.substr(0, comma), first, last))
            return {};
        for (unsigned cpu = first; cpu <= last; ++cpu)
            cpus.push_back(cpu);
        if (comma == std::string_view::npos)
            return cpus;
        list.remove_prefix(comma + 1);
    }
}

std::vector<unsigned> OnlineCpus(const std::filesystem::path& root)
{
    return ParseCpuList(ReadMachineFile(root, "sys/devices/system/cpu/online").value_or(""));
}
