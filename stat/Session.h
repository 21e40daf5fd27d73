#pragma once
// What quorvex-stat does with a parsed command line: the command run once
// or -r times (or a process attached to), then the outputs written with
// what --compare and --fail-if add, and the exit status decided.

#include "Compare.h"
#include "Outputs.h"
#include "StatOptions.h"

// What --compare's file holds, read before any output is opened (--json
// may name the same file). False, said on stderr, when it cannot be read or
// is not a report.
bool ReadBaseline(const StatOptions& options, Compared& baseline);
int MeasureSession(const StatOptions& options, const Compared& baseline, const OutputFiles& outputs);
