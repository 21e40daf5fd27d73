#pragma once
// A machine made of CPUID answer tables, for running the topology detection
// on machines this one is not. CPUID answers come from the processor the
// simulated thread runs on; like a real scheduler, a pinned thread moves to
// a processor of its new mask only when it gives up its time slice.

#include "Cpu.h"

#include <map>
#include <set>
#include <utility>
#include <vector>

struct SimulatedProcessor {
    std::map<std::pair<DWORD, DWORD>, CpuidResult> leaves;  // (leaf, sub-leaf); others answer 0
};

struct ProcessorShape {
    const char* vendor = "GenuineIntel";  // 12 characters
    DWORD maxLeaf = 4;
    bool multiThreadingFlag = true;
    BYTE logicalPerPackage = 1;
    DWORD coresPerPackage = 1;  // 1 to 64
    DWORD l2CacheKb = 0;
};

SimulatedProcessor MakeProcessor(const ProcessorShape& shape, BYTE apicId);

class SimulatedCpu : public CpuPlatform {
public:
    // processors by number (= affinity bit); the thread starts on the lowest
    // processor of the process mask.
    SimulatedCpu(std::map<unsigned, SimulatedProcessor> processors, DWORD_PTR processMask, DWORD_PTR systemMask);

    // Pins to exactly this mask fail.
    void FailPinsTo(DWORD_PTR mask) { m_failingPins.insert(mask); }

    CpuidResult Cpuid(DWORD leaf, DWORD subleaf) override;
    BOOL GetProcessAffinityMask(DWORD_PTR* processMask, DWORD_PTR* systemMask) override;
    BOOL SetThreadAffinityMask(DWORD_PTR mask) override;
    void YieldTimeSlice() override;

    DWORD_PTR ThreadMask() const { return m_threadMask; }
    unsigned RunningOn() const { return m_running; }
    // Every mask asked for, in order, whether or not the pin succeeded.
    const std::vector<DWORD_PTR>& Pins() const { return m_pins; }
    int Yields() const { return m_yields; }

private:
    std::map<unsigned, SimulatedProcessor> m_processors;
    DWORD_PTR m_processMask;
    DWORD_PTR m_systemMask;
    DWORD_PTR m_threadMask;
    unsigned m_running;
    std::set<DWORD_PTR> m_failingPins;
    std::vector<DWORD_PTR> m_pins;
    int m_yields = 0;
};

// A machine of identical processors numbered 0, 1, ... with the given APIC
// identifiers; both masks hold exactly those processors.
SimulatedCpu MakeMachine(const ProcessorShape& shape, const std::vector<BYTE>& apicIds);
