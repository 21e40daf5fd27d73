#pragma once
// One measured run: the command started held, its switch records attached
// (or /proc sampled), waited for while signals are passed on and the timeout
// kept, then the outputs written.

#include "Profile.h"
#include "StatOptions.h"
#include "Summary.h"

#include <functional>

// Given what one run measured, once it has ended; not called when the
// command could not be started or attached to.
using RunFinished = std::function<void(const Profile& profile, const RunFacts& facts)>;

// quorvex-stat's exit status: the command's, as a shell reports it.
int MeasureCommand(const StatOptions& options, const RunFinished& finished);
// Attaches to options.attachPid until it exits or SIGINT/SIGTERM arrives.
int MeasureAttached(const StatOptions& options, const RunFinished& finished);
