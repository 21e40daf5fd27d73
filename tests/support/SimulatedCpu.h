#pragma once
// A machine of identical simulated processors, for running the topology
// detection on machines this one is not. CPUID answers come from the
// processor the simulated thread runs on; like a real scheduler, a pinned
// thread moves to a processor of its new mask only when it gives up its
// time slice.

#include "Cpu.h"

#include <vector>

struct ProcessorShape {
    const char* vendor = "GenuineIntel";  // 12 characters
    DWORD maxLeaf = 4;
    bool multiThreadingFlag = true;
    BYTE logicalPerPackage = 1;
    DWORD coresPerPackage = 1;  // 1 to 64
    DWORD l2CacheKb = 0;
};

class SimulatedCpu : public CpuPlatform {
public:
    // Processors 0, 1, ... with these APIC identifiers, all in the system
    // mask. The process holds those of processMask (0: all). Pins to a mask
    // of failingPins' processors only fail.
    SimulatedCpu(const ProcessorShape& shape, std::vector<BYTE> apicIds, DWORD_PTR processMask = 0,
                 DWORD_PTR failingPins = 0);

    CpuidResult Cpuid(DWORD leaf, DWORD subleaf) override;
    BOOL GetProcessAffinityMask(DWORD_PTR* processMask, DWORD_PTR* systemMask) override;
    BOOL SetThreadAffinityMask(DWORD_PTR mask) override;
    void YieldTimeSlice() override;

    DWORD_PTR ThreadMask() const { return m_threadMask; }
    // Every mask asked for, in order, whether or not the pin succeeded.
    const std::vector<DWORD_PTR>& Pins() const { return m_pins; }

private:
    ProcessorShape m_shape;
    std::vector<BYTE> m_apicIds;
    DWORD_PTR m_systemMask = 0;
    DWORD_PTR m_processMask;
    DWORD_PTR m_failingPins;
    DWORD_PTR m_threadMask;
    unsigned m_running;
    std::vector<DWORD_PTR> m_pins;
};
