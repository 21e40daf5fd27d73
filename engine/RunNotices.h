#pragma once
// One-line notices on standard error for what a run's message boxes leave
// unsaid: how a target ended by itself, and threads beyond the watched ones.

#include "CString.h"
#include "WinTypes.h"

// How a target process ended without being ended by the run.
struct TargetEnd {
    int signal;               // the signal that killed it; 0 when it exited
    DWORD exitCode;           // its exit status when it exited
    ULONGLONG lifetimeMs;     // from its start to its end
    bool beforeFirstSample;   // it ended before the run could take a sample
};

// "quorvex: <name> ended by signal 11 (Segmentation fault) after 2997 ms" and
// the like; empty for a clean exit once sampling had begun, the sound end.
CString TargetEndNotice(const char* processName, const TargetEnd& end);
CString TooManyThreadsNotice(const char* processName, double threads);

// Writes a notice, if any, after what standard output holds so far.
void WriteNotice(const CString& notice);

// Says how a started target ended, if it has ended by itself: a signal, a
// non-zero status, or an end before the run could sample it. Nothing for a
// null process.
void NoticeTargetEnd(const char* processName, HANDLE process, bool beforeFirstSample);
