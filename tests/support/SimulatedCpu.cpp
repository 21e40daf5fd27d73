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

} // namespace

SimulatedCpu::SimulatedCpu(const ProcessorShape& shape, std::vector<BYTE> apicIds, DWORD_PTR processMask,
                           DWORD_PTR failingPins)
    : m_shape(shape), m_apicIds(std::move(apicIds)), m_failingPins(failingPins)
{
    for (unsigned i = 0; i < m_apicIds.size(); ++i)
        m_systemMask |= DWORD_PTR{1} << i;
    m_processMask = processMask ? processMask : m_systemMask;
    m_threadMask = m_processMask;
    m_running = static_cast<unsigned>(std::countr_zero(m_processMask));
}

// Leaves above maxLeaf answer too, so that trusting them would show; the
// low bits of leaves 4 and 0x80000006 are noise the readers must drop.
CpuidResult SimulatedCpu::Cpuid(DWORD leaf, DWORD subleaf)
{
    const ProcessorShape& s = m_shape;
    switch (leaf) {
    case 0:
        return {s.maxLeaf, Word(s.vendor), Word(s.vendor + 8), Word(s.vendor + 4)};
    case 1:
        return {0, DWORD(m_apicIds[m_running]) << 24 | DWORD(s.logicalPerPackage) << 16, 0,
                s.multiThreadingFlag ? 1u << 28 : 0u};
    case 4:
        return {subleaf == 0 ? (s.coresPerPackage - 1) << 26 | 0x121 : 0, 0, 0, 0};
    case 0x80000006:
        return {0, 0, s.l2CacheKb << 16 | 0x7040, 0};
    default:
        return {};
    }
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
    if ((mask & ~m_failingPins) == 0 || (mask & m_processMask) == 0)
        return FALSE;
    m_threadMask = mask & m_processMask;
    return TRUE;
}

void SimulatedCpu::YieldTimeSlice()
{
    if (!(m_threadMask >> m_running & 1))
        m_running = static_cast<unsigned>(std::countr_zero(m_threadMask));
}
