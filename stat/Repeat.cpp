#include "Repeat.h"

#include "Text.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// Every key that any run has, in the order of the run with the most levels.
std::vector<std::string> AllKeys(const std::vector<Figures>& runs)
{
    const auto longest = std::max_element(runs.begin(), runs.end(),
                                          [](const Figures& a, const Figures& b) { return a.size() < b.size(); });
    std::vector<std::string> keys;
    for (const Figure& figure : *longest)
        keys.push_back(figure.key);
    return keys;
}

Spread SpreadOf(const std::string& key, std::vector<double> values)
{
    Spread spread;
    spread.key = key;
    const double n = static_cast<double>(values.size());
    spread.mean = std::accumulate(values.begin(), values.end(), 0.0) / n;
    double squares = 0;
    for (const double value : values)
        squares += (value - spread.mean) * (value - spread.mean);
    spread.stddev = values.size() > 1 ? std::sqrt(squares / (n - 1)) : 0;
    const auto [min, max] = std::minmax_element(values.begin(), values.end());
    spread.min = *min;
    spread.max = *max;
    spread.values = std::move(values);
    return spread;
}

} // namespace

std::vector<Spread> Aggregate(const std::vector<Figures>& runs)
{
    std::vector<Spread> spreads;
    if (runs.empty())
        return spreads;
    for (const std::string& key : AllKeys(runs)) {
        std::vector<double> values;
        for (const Figures& run : runs) {
            const Figure* figure = FindFigure(run, key);
            values.push_back(figure ? figure->value : 0);
        }
        spreads.push_back(SpreadOf(key, std::move(values)));
    }
    return spreads;
}

Figures MeanFigures(const std::vector<Spread>& spreads)
{
    Figures figures;
    for (const Spread& spread : spreads)
        figures.push_back({spread.key, spread.mean, spread.min, spread.max, static_cast<unsigned>(spread.values.size())});
    return figures;
}

std::string RepeatText(const std::vector<Spread>& spreads)
{
    if (spreads.empty())
        return {};
    std::string text;
    Appendf(text, " over %zu runs: mean ± standard deviation (min .. max)\n", spreads.front().values.size());
    for (const Spread& spread : spreads)
        Appendf(text, " %-20s %12.3f ± %-10.3f (%.3f .. %.3f)\n", spread.key.c_str(), spread.mean, spread.stddev,
                spread.min, spread.max);
    return text;
}

std::string RepeatJson(const std::vector<Spread>& spreads)
{
    std::string text;
    Appendf(text, "  \"repeat\": {\"runs\": %zu, \"figures\": {\n", spreads.empty() ? 0 : spreads.front().values.size());
    for (std::size_t i = 0; i < spreads.size(); ++i) {
        const Spread& spread = spreads[i];
        Appendf(text, "    \"%s\": {\"mean\": %.3f, \"stddev\": %.3f, \"min\": %.3f, \"max\": %.3f, \"values\": [",
                spread.key.c_str(), spread.mean, spread.stddev, spread.min, spread.max);
        for (std::size_t run = 0; run < spread.values.size(); ++run)
            Appendf(text, "%s%.3f", run ? ", " : "", spread.values[run]);
        text += i + 1 < spreads.size() ? "]},\n" : "]}\n";
    }
    return text + "  }},\n";
}
