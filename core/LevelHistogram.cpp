#include "LevelHistogram.h"

void LevelHistogram::Set(std::size_t level, std::uint64_t timeNs)
{
    AdvanceTo(timeNs);
    m_level = level;
}

void LevelHistogram::AdvanceTo(std::uint64_t timeNs)
{
    if (timeNs <= m_sinceNs)
        return;
    if (m_levelNs.size() <= m_level)
        m_levelNs.resize(m_level + 1);
    m_levelNs[m_level] += timeNs - m_sinceNs;
    m_sinceNs = timeNs;
}

std::uint64_t LevelHistogram::OnCpuNs() const
{
    std::uint64_t total = 0;
    for (std::size_t level = 1; level < m_levelNs.size(); ++level)
        total += level * m_levelNs[level];
    return total;
}

std::uint64_t LevelHistogram::AtLeastNs(std::size_t level) const
{
    std::uint64_t total = 0;
    for (; level < m_levelNs.size(); ++level)
        total += m_levelNs[level];
    return total;
}
