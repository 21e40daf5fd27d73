#pragma once
// -r N: the figures of N runs of one command, as each figure's mean, sample
// standard deviation and range, with every run's value kept.

#include "Figures.h"

#include <string>
#include <vector>

struct Spread {
    std::string key;
    double mean = 0;
    double stddev = 0;  // the sample standard deviation (n - 1); 0 for one run
    double min = 0;
    double max = 0;
    std::vector<double> values;  // one per run, in run order
};

// Runs that reached different levels count the missing levels as 0 %.
std::vector<Spread> Aggregate(const std::vector<Figures>& runs);

// The spreads as figures (mean, range, runs) for --fail-if and --compare.
Figures MeanFigures(const std::vector<Spread>& spreads);

// The report's section on the runs, and the JSON member "repeat".
std::string RepeatText(const std::vector<Spread>& spreads);
std::string RepeatJson(const std::vector<Spread>& spreads);
