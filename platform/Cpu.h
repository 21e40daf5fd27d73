#pragma once
// The processor services that the topology detection needs: CPUID, the
// process and system affinity masks, pinning the calling thread and giving
// up its time slice. One interface, so the detection runs unchanged on this
// machine and on simulated machines.

#include "CpuAccess.h"
#include "WinTypes.h"

#include <filesystem>
#include <vector>

struct CpuidResult {
    DWORD eax = 0;
    DWORD ebx = 0;
    DWORD ecx = 0;
    DWORD edx = 0;
};

// Masks are the native width: bit i stands for processor i, 0 to 63 on a
// 64-bit machine.
class CpuPlatform {
public:
    virtual ~CpuPlatform() = default;

    // Executes on whatever processor the calling thread runs on now.
    virtual CpuidResult Cpuid(DWORD leaf, DWORD subleaf) = 0;
    virtual BOOL GetProcessAffinityMask(DWORD_PTR* processMask, DWORD_PTR* systemMask) = 0;
    // Restricts the calling thread to the processors of mask; FALSE when it
    // cannot be done (the thread's affinity is then unchanged).
    virtual BOOL SetThreadAffinityMask(DWORD_PTR mask) = 0;
    // Sleep(0): the thread continues on a processor of its current mask.
    virtual void YieldTimeSlice() = 0;
};

// This machine. The system mask is the online processors as the root's
// sys/devices/system/cpu/online lists them.
class HostCpu : public CpuPlatform {
public:
    explicit HostCpu(std::filesystem::path root = "/");

    CpuidResult Cpuid(DWORD leaf, DWORD subleaf) override;
    BOOL GetProcessAffinityMask(DWORD_PTR* processMask, DWORD_PTR* systemMask) override;
    BOOL SetThreadAffinityMask(DWORD_PTR mask) override;
    void YieldTimeSlice() override;

private:
    std::filesystem::path m_root;
};

// Processors beyond the mask's width do not fit and are left out.
DWORD_PTR CpuMask(const std::vector<unsigned>& cpus);
