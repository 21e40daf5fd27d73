#include "SimulatedCpu.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <numeric>
#include <sstream>
#include <stdexcept>
#include <string>

std::vector<CpuidTable> ReadCpuidTables(const std::filesystem::path& file)
{
    std::ifstream in(file);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    std::vector<CpuidTable> tables;
    for (std::string line; std::getline(in, line);) {
        line = line.substr(0, line.find('#'));
        std::istringstream fields(line);
        std::string processors;
        DWORD leaf, subleaf;
        CpuidResult r;
        if (!(fields >> processors))
            continue;
        if (!(fields >> std::hex >> leaf >> subleaf >> r.eax >> r.ebx >> r.ecx >> r.edx))
            throw std::runtime_error("bad line in " + file.string() + ": " + line);
        for (const unsigned cpu : ParseCpuList(processors)) {
            if (cpu >= tables.size())
                tables.resize(cpu + 1);
            tables[cpu][{leaf, subleaf}] = r;
        }
    }
    return tables;
}

SimulatedCpu::SimulatedCpu(std::vector<CpuidTable> processors, std::optional<std::vector<unsigned>> affinity,
                           std::vector<unsigned> failingPins)
    : m_processors(std::move(processors)), m_failingPins(std::move(failingPins))
{
    if (affinity) {
        m_affinity = std::move(*affinity);
    } else {
        m_affinity.resize(m_processors.size());
        std::iota(m_affinity.begin(), m_affinity.end(), 0u);
    }
    m_threadAffinity = m_affinity;
    m_running = m_affinity.empty() ? 0 : m_affinity.back();
}

CpuidResult SimulatedCpu::Cpuid(DWORD leaf, DWORD subleaf)
{
    const CpuidTable& table = m_processors.at(m_running);
    const auto answer = table.find({leaf, subleaf});
    return answer == table.end() ? CpuidResult{} : answer->second;
}

std::vector<unsigned> SimulatedCpu::ProcessAffinity()
{
    return m_affinity;
}

BOOL SimulatedCpu::SetThreadAffinity(const std::vector<unsigned>& cpus)
{
    m_pins.push_back(cpus);
    const auto listed = [](const std::vector<unsigned>& list, unsigned cpu) {
        return std::find(list.begin(), list.end(), cpu) != list.end();
    };
    if (std::all_of(cpus.begin(), cpus.end(), [&](unsigned cpu) { return listed(m_failingPins, cpu); }))
        return FALSE;
    // Like the kernel, the process's own set bounds the thread's.
    std::vector<unsigned> allowed;
    std::copy_if(cpus.begin(), cpus.end(), std::back_inserter(allowed),
                 [&](unsigned cpu) { return listed(m_affinity, cpu); });
    if (allowed.empty())
        return FALSE;
    m_threadAffinity = allowed;
    return TRUE;
}

void SimulatedCpu::YieldTimeSlice()
{
    if (std::find(m_threadAffinity.begin(), m_threadAffinity.end(), m_running) == m_threadAffinity.end())
        m_running = m_threadAffinity.front();
}
