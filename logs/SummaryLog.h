#pragma once
// The summary log (one line of key figures per run) and the readable summary
// block that ends the data log.

#include "CString.h"
#include "RunResults.h"
#include "Timing.h"

// The four lines written when the file is created; the program's file name
// is the part of appPath after its last '/'.
CString SummaryLogHead(const CString& appPath);

// The machine as the dialog describes it, in its own texts.
struct MachineTexts {
    CString processorInfo, frequency, sockets, cores, logicals, multiProcessor, multiCore, smt;
};

CString SummaryLogLine(const MachineTexts& machine, unsigned elapsedMs, const RunStatistics& statistics);

// What the summary block says of the run besides its statistics.
struct SummaryRun {
    CString appPath, appParams;
    int intervalMs;
    unsigned elapsedMs;
};

// From the line feed that ends the last record to "[End Summary]", which has
// no line feed.
CString SummaryBlock(const MachineTexts& machine, const SummaryRun& run, const RunStatistics& statistics);
