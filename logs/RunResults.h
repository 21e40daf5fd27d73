#pragma once
// The results of a sampling run, as the engine computes them and the logs
// and the dialog show them.

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
    CString cpuMin, cpuMax, cpuAvg;
    CString threadsMin, threadsMax, threadsAvg;
    CString parallelTime;
    std::vector<ThreadResult> threads;  // one per watched thread
    std::vector<LevelResult> levels;    // levels 2 and up with a share above 0.001 %
};
