#pragma once
// The results of a sampling run as numbers, and the formats every front end
// and log shows them in.

#include "CString.h"

#include <vector>

struct ThreadResult {
    float timePercent;  // kept in single precision
    double utilMin;
    double utilAvg;
    double utilMax;
};

struct LevelResult {
    int level;
    float timePercent;
};

struct RunStatistics {
    double cpuMin, cpuMax, cpuAvg;
    double threadsMin, threadsMax, threadsAvg;
    double parallelPercent;
    std::vector<ThreadResult> threads;  // one per watched thread
    std::vector<LevelResult> levels;    // levels 2 and up with a share above 0.001 %
};

// "%6.2f" and "%3.0f".
CString PercentText(double value);
CString ThreadCountText(double value);
