#include "EngineTesting.h"

#include <sstream>

std::string Figures(const std::optional<RunStatistics>& s)
{
    if (!s)
        return "none";
    std::ostringstream out;
    out << "cpu " << s->cpuMin << '/' << s->cpuAvg << '/' << s->cpuMax << " threads " << s->threadsMin << '/'
        << s->threadsAvg << '/' << s->threadsMax << " parallel " << s->parallelPercent;
    for (size_t j = 0; j < s->threads.size(); ++j)
        out << " | t" << j << ' ' << s->threads[j].timePercent << ' ' << s->threads[j].utilMin << ' '
            << s->threads[j].utilAvg << ' ' << s->threads[j].utilMax;
    for (const LevelResult& level : s->levels)
        out << " | L" << level.level << ' ' << level.timePercent;
    return out.str();
}

const std::string EXACT_NOTICE = "quorvex: thread states from the kernel's context-switch records";

std::string ProcNotice(const std::string& why)
{
    return "quorvex: thread states from /proc (" + why +
           "); concurrency may be overstated when the machine is oversubscribed";
}
