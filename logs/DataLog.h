#pragma once
// The data log: a comma-separated file with one record per sample, every
// field in double quotes. Each record begins with the line feed that ends the
// line before it.

#include "CString.h"
#include "Timing.h"

inline constexpr char DATA_LOG_HEAD[] = "[Quorvex]\n[Start Data]\n";

// The column names, without a line feed.
CString DataLogHeader(int watchedThreads);
// A record so far: its time stamp.
CString DataLogRecord(const SYSTEMTIME& stamp);
void AppendProcessCpu(CString& record, double cpu);
void AppendThread(CString& record, double cpu, int state);
