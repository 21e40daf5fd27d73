#pragma once
// The threads of a process as /proc lists them right now: the fallback view
// when the context-switch records have a gap, and the starting point when
// they are attached.

#include "SwitchRecordTracker.h"

#include <string>
#include <vector>

// Live threads (zombies left out) in ascending tid order; empty when the
// process does not exist. procRoot is "/proc" except in tests.
std::vector<TaskReading> ReadTaskCensus(const std::string& procRoot, int pid);
