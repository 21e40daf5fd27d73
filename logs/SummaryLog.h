#pragma once
// The summary log (one line of key figures per run) and the readable summary
// block that ends the data log.

#include "CString.h"
#include "RunResults.h"
#include "Timing.h"

// The four lines written when the file is created; the program's file name
// is the part of appPath after its last '/'.
CString SummaryLogHead(const CString& appPath);
CString SummaryLogLine(const CString& cores, const CString& logicals, const CString& elapsedMs,
                       const CString& parallelTime);

// The dialog's texts that the summary block shows.
struct SummaryTexts {
    CString processorInfo, frequency, sockets, cores, logicals, multiProcessor, multiCore, smt;
    CString appPath, appParams, samplingRate, elapsedMs, parallelTime, cpuMin, cpuAvg, cpuMax;
};

// From the line feed that ends the last record to "[End Summary]", which has
// no line feed.
CString SummaryBlock(const SummaryTexts& texts, const RunStatistics& statistics);
