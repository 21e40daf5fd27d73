#pragma once
// What quorvex-stat does with a parsed command line: the command run once
// or -r times (or a process attached to), then the outputs written with
// what --compare and --fail-if add, and the exit status decided.

#include "Outputs.h"
#include "StatOptions.h"

int MeasureSession(const StatOptions& options, const OutputFiles& outputs);
