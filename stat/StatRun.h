#pragma once
// One measured run: the command started held, its switch records attached
// (or /proc sampled), waited for while signals are passed on and the timeout
// kept, then the outputs written.

#include "Outputs.h"
#include "StatOptions.h"

// quorvex-stat's exit status: the command's, as a shell reports it.
int MeasureCommand(const StatOptions& options, const OutputFiles& outputs);
// Attaches to options.attachPid until it exits or SIGINT/SIGTERM arrives.
int MeasureAttached(const StatOptions& options, const OutputFiles& outputs);
