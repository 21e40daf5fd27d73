#pragma once
// The exact concurrency histogram: how long each number of threads was on
// processors at once, from the moments that number changed.

#include <cstddef>
#include <cstdint>
#include <vector>

class LevelHistogram {
public:
    explicit LevelHistogram(std::uint64_t startNs = 0) : m_sinceNs(startNs) {}

    // From timeNs on (not before the last change), level threads are on processors.
    void Set(std::size_t level, std::uint64_t timeNs);
    // Counts the level in force up to timeNs.
    void AdvanceTo(std::uint64_t timeNs);

    std::size_t Level() const { return m_level; }
    std::uint64_t SinceNs() const { return m_sinceNs; }
    const std::vector<std::uint64_t>& LevelNs() const { return m_levelNs; }  // 0..the highest reached
    // Processor time: each level weighted by its number of threads.
    std::uint64_t OnCpuNs() const;
    // Time at level or more (2: "Parallel Time").
    std::uint64_t AtLeastNs(std::size_t level) const;

private:
    std::vector<std::uint64_t> m_levelNs;
    std::size_t m_level = 0;
    std::uint64_t m_sinceNs;
};
