#include "Figures.h"

#include <algorithm>
#include <cctype>

const std::vector<std::string>& FixedFigureKeys()
{
    static const std::vector<std::string> keys = {"elapsed_ms",  "cpu_avg", "cpu_min",   "cpu_max",
                                                  "parallel_time", "average_concurrency", "threads",
                                                  "processes",   "lost_records"};
    return keys;
}

bool IsFigureKey(const std::string& key)
{
    const std::vector<std::string>& fixed = FixedFigureKeys();
    if (std::find(fixed.begin(), fixed.end(), key) != fixed.end())
        return true;
    constexpr std::string_view LEVEL = "level_";
    return key.starts_with(LEVEL) && key.size() > LEVEL.size() && key.size() <= LEVEL.size() + 4 &&
           std::all_of(key.begin() + LEVEL.size(), key.end(), [](unsigned char c) { return std::isdigit(c); });
}

Figures HeadlineFigures(const Profile& profile, const Summary& summary)
{
    const auto one = [](std::string key, double value) { return Figure{std::move(key), value, value, value, 1}; };
    Figures figures = {
        one("elapsed_ms", summary.elapsedMs),
        one("cpu_avg", summary.cpuAvg),
        one("cpu_min", summary.cpuMin),
        one("cpu_max", summary.cpuMax),
        one("parallel_time", summary.parallelHundredths / 100.0),
        one("average_concurrency", summary.averageConcurrency),
        one("threads", static_cast<double>(profile.threads.size())),
        one("processes", profile.processes),
        one("lost_records", static_cast<double>(profile.lostRecords)),
    };
    for (std::size_t level = 0; level < summary.levelHundredths.size(); ++level)
        figures.push_back(one("level_" + std::to_string(level), summary.levelHundredths[level] / 100.0));
    return figures;
}

const Figure* FindFigure(const Figures& figures, const std::string& key)
{
    const auto found = std::find_if(figures.begin(), figures.end(), [&](const Figure& f) { return f.key == key; });
    return found != figures.end() ? &*found : nullptr;
}
