#pragma once
// --compare OLD.json: the headline figures of an earlier JSON report beside
// this run's, with the change, and a change marked significant only when
// the repeated runs of both sides do not overlap.

#include "Figures.h"

#include <string>

// One side of the comparison: the headline figures and the verdict's limit
// ("serial", "starved", ...; "" when the run or the report has none).
struct Compared {
    Figures figures;
    std::string limit;
};

// What a JSON report that quorvex-stat wrote holds (the means and ranges
// of "repeat" when it has them). False, with a one-line reason in error,
// when json is not such a report. Reports from versions with fewer keys
// give fewer figures, and no limit before the verdict was written.
bool ComparedFromJson(const std::string& json, Compared& compared, std::string& error);

// The table of what both sides have, for the report. before is named by
// beforeName.
std::string CompareText(const Compared& before, const Compared& after, const std::string& beforeName);
