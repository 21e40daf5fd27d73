#pragma once
// A machine of simulated processors, for running the topology detection on
// machines this one is not. CPUID answers come from the processor the
// simulated thread runs on; like a real scheduler, a pinned thread moves to
// a processor of its new set only when it gives up its time slice.

#include "Cpu.h"

#include <filesystem>
#include <map>
#include <optional>
#include <utility>
#include <vector>

// One processor's CPUID answers by (leaf, subleaf); other leaves answer 0.
using CpuidTable = std::map<std::pair<DWORD, DWORD>, CpuidResult>;

// The tables of a fixture machine's cpuid file, indexed by processor. Each
// line is "processors leaf subleaf eax ebx ecx edx": a kernel processor
// list, then hexadecimal numbers; "#" starts a comment.
std::vector<CpuidTable> ReadCpuidTables(const std::filesystem::path& file);

class SimulatedCpu : public CpuPlatform {
public:
    // Processor i answers from processors[i]. The process may run on
    // affinity (nullopt: every processor; empty: its affinity cannot be
    // read); pins to a set of failingPins' processors only fail. The thread
    // starts on the affinity's last processor.
    explicit SimulatedCpu(std::vector<CpuidTable> processors,
                          std::optional<std::vector<unsigned>> affinity = std::nullopt,
                          std::vector<unsigned> failingPins = {});

    CpuidResult Cpuid(DWORD leaf, DWORD subleaf) override;
    std::vector<unsigned> ProcessAffinity() override;
    BOOL SetThreadAffinity(const std::vector<unsigned>& cpus) override;
    void YieldTimeSlice() override;

    const std::vector<unsigned>& ThreadAffinity() const { return m_threadAffinity; }
    // Every set asked for, in order, whether or not the pin succeeded.
    const std::vector<std::vector<unsigned>>& Pins() const { return m_pins; }

private:
    std::vector<CpuidTable> m_processors;
    std::vector<unsigned> m_affinity;
    std::vector<unsigned> m_failingPins;
    std::vector<unsigned> m_threadAffinity;
    unsigned m_running = 0;
    std::vector<std::vector<unsigned>> m_pins;
};
