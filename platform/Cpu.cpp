#include "Cpu.h"

#include <sched.h>

CpuidResult HostCpu::Cpuid(DWORD leaf, DWORD subleaf)
{
    const CpuidRegisters r = ReadCpuid(leaf, subleaf);
    return {r.eax, r.ebx, r.ecx, r.edx};
}

std::vector<unsigned> HostCpu::ProcessAffinity()
{
    return ::ProcessAffinity().value_or(std::vector<unsigned>{});
}

BOOL HostCpu::SetThreadAffinity(const std::vector<unsigned>& cpus)
{
    return PinCallingThread(cpus) ? TRUE : FALSE;
}

void HostCpu::YieldTimeSlice()
{
    sched_yield();
}
