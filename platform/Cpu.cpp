#include "Cpu.h"

#include <sched.h>

namespace {

constexpr unsigned MASK_BITS = sizeof(DWORD_PTR) * 8;

std::vector<unsigned> CpusOf(DWORD_PTR mask)
{
    std::vector<unsigned> cpus;
    for (unsigned cpu = 0; cpu < MASK_BITS; ++cpu)
        if (mask & (DWORD_PTR{1} << cpu))
            cpus.push_back(cpu);
    return cpus;
}

} // namespace

DWORD_PTR CpuMask(const std::vector<unsigned>& cpus)
{
    DWORD_PTR mask = 0;
    for (const unsigned cpu : cpus)
        if (cpu < MASK_BITS)
            mask |= DWORD_PTR{1} << cpu;
    return mask;
}

HostCpu::HostCpu(std::filesystem::path root) : m_root(std::move(root)) {}

CpuidResult HostCpu::Cpuid(DWORD leaf, DWORD subleaf)
{
    const CpuidRegisters r = ReadCpuid(leaf, subleaf);
    return {r.eax, r.ebx, r.ecx, r.edx};
}

BOOL HostCpu::GetProcessAffinityMask(DWORD_PTR* processMask, DWORD_PTR* systemMask)
{
    const std::optional<std::vector<unsigned>> affinity = ProcessAffinity();
    const bool known = affinity.has_value();
    *processMask = known ? CpuMask(*affinity) : 0;

    // Without the list (no /sys in a container) nothing shows a restriction.
    const DWORD_PTR onlineMask = CpuMask(OnlineCpus(m_root));
    *systemMask = onlineMask ? onlineMask : *processMask;
    return known ? TRUE : FALSE;
}

BOOL HostCpu::SetThreadAffinityMask(DWORD_PTR mask)
{
    return PinCallingThread(CpusOf(mask)) ? TRUE : FALSE;
}

void HostCpu::YieldTimeSlice()
{
    sched_yield();
}
