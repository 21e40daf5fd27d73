#include "SimulatedCpu.h"

#include <bit>
#include <cstring>

namespace {

DWORD Word(const char* four)
{
    DWORD word;
    std::memcpy(&word, four, 4);  // x86 is little-endian, as CPUID's registers
    return word;
}

bool Holds(DWORD_PTR mask, unsigned processor)
{
    return processor < 64 && (mask >> processor & 1) != 0;
}

unsigned Lowest(DWORD_PTR mask)
{
    return static_cast<unsigned>(std::countr_zero(mask));
}

} // namespace

SimulatedProcessor MakeProcessor(const ProcessorShape& shape, BYTE apicId)
{
    SimulatedProcessor p;
    p.leaves[{0, 0}] = {shape.maxLeaf, Word(shape.vendor), Word(shape.vendor + 8), Word(shape.vendor + 4)};
    // Leaves above maxLeaf answer too, so that trusting them would show.
    p.leaves[{1, 0}] = {0, DWORD(apicId) << 24 | DWORD(shape.logicalPerPackage) << 16, 0,
                        shape.multiThreadingFlag ? 1u << 28 : 0u};
    p.leaves[{4, 0}] = {(shape.coresPerPackage - 1) << 26 | 0x121, 0, 0, 0};
    p.leaves[{0x80000006, 0}] = {0, 0, shape.l2CacheKb << 16 | 0x7040, 0};
    return p;
}

SimulatedCpu::SimulatedCpu(std::map<unsigned, SimulatedProcessor> processors, DWORD_PTR processMask,
                           DWORD_PTR systemMask)
    : m_processors(std::move(processors)), m_processMask(processMask), m_systemMask(systemMask),
      m_threadMask(processMask), m_running(Lowest(processMask))
{
}

CpuidResult SimulatedCpu::Cpuid(DWORD leaf, DWORD subleaf)
{
    const auto processor = m_processors.find(m_running);
    if (processor == m_processors.end())
        return {};
    const auto answer = processor->second.leaves.find({leaf, subleaf});
    return answer == processor->second.leaves.end() ? CpuidResult{} : answer->second;
}

BOOL SimulatedCpu::GetProcessAffinityMask(DWORD_PTR* processMask, DWORD_PTR* systemMask)
{
    *processMask = m_processMask;
    *systemMask = m_systemMask;
    return TRUE;
}

BOOL SimulatedCpu::SetThreadAffinityMask(DWORD_PTR mask)
{
    m_pins.push_back(mask);
    if (m_failingPins.count(mask) || (mask & m_processMask) == 0)
        return FALSE;
    m_threadMask = mask & m_processMask;
    return TRUE;
}

void SimulatedCpu::YieldTimeSlice()
{
    ++m_yields;
    if (!Holds(m_threadMask, m_running))
        m_running = Lowest(m_threadMask);
}

SimulatedCpu MakeMachine(const ProcessorShape& shape, const std::vector<BYTE>& apicIds)
{
    std::map<unsigned, SimulatedProcessor> processors;
    DWORD_PTR mask = 0;
    for (unsigned i = 0; i < apicIds.size(); ++i) {
        processors[i] = MakeProcessor(shape, apicIds[i]);
        mask |= DWORD_PTR{1} << i;
    }
    return SimulatedCpu(std::move(processors), mask, mask);
}
