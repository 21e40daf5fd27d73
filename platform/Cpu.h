#pragma once
// The processor services that the topology detection needs: CPUID, the
// process's affinity, pinning the calling thread and giving up its time
// slice. One interface, so the detection runs unchanged on this machine and
// on simulated machines.

#include "CpuAccess.h"
#include "WinTypes.h"

#include <vector>

struct CpuidResult {
    DWORD eax = 0;
    DWORD ebx = 0;
    DWORD ecx = 0;
    DWORD edx = 0;
};

// Processors are the kernel's numbers, as many as the machine has.
class CpuPlatform {
public:
    virtual ~CpuPlatform() = default;

    // Executes on whatever processor the calling thread runs on now.
    virtual CpuidResult Cpuid(DWORD leaf, DWORD subleaf) = 0;
    // The processors this process may run on, in ascending order; empty when
    // they cannot be read.
    virtual std::vector<unsigned> ProcessAffinity() = 0;
    // Restricts the calling thread to these processors; FALSE when it cannot
    // be done (the thread's affinity is then unchanged).
    virtual BOOL SetThreadAffinity(const std::vector<unsigned>& cpus) = 0;
    // Sleep(0): the thread continues on one of its current processors.
    virtual void YieldTimeSlice() = 0;
};

// This machine.
class HostCpu : public CpuPlatform {
public:
    CpuidResult Cpuid(DWORD leaf, DWORD subleaf) override;
    std::vector<unsigned> ProcessAffinity() override;
    BOOL SetThreadAffinity(const std::vector<unsigned>& cpus) override;
    void YieldTimeSlice() override;
};
