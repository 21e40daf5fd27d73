#pragma once
// The headline figures of a run under the keys that --fail-if names and
// --compare lines up: one flat list, whether it comes from a run just
// measured, from several repeated runs or from an earlier JSON report.

#include "Profile.h"
#include "Summary.h"

#include <string>
#include <vector>

struct Figure {
    std::string key;  // "parallel_time", "level_2"
    double value = 0; // over repeated runs: their mean
    double min = 0;   // over repeated runs: their range; else the value
    double max = 0;
    unsigned runs = 1;
};
using Figures = std::vector<Figure>;

// In a fixed order: the run-wide figures, then the levels 0..N.
Figures HeadlineFigures(const Profile& profile, const Summary& summary);
const Figure* FindFigure(const Figures& figures, const std::string& key);

// Whether key names a figure: one of the fixed names or "level_N".
bool IsFigureKey(const std::string& key);
// The fixed names, for messages and --help.
const std::vector<std::string>& FixedFigureKeys();
