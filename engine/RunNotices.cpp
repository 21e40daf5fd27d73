#include "RunNotices.h"

#include "Process.h"
#include "RunStatistics.h"
#include "Timing.h"

#include <cstdio>
#include <cstring>

CString TargetEndNotice(const char* processName, const TargetEnd& end)
{
    if (end.signal == 0 && end.exitCode == 0 && !end.beforeFirstSample)
        return {};
    CString notice;
    notice.Format("quorvex: %s ", processName);
    if (end.signal != 0)
        notice.AppendFormat("ended by signal %d (%s)", end.signal, strsignal(end.signal));
    else if (end.exitCode != 0)
        notice.AppendFormat("exited with status %u", static_cast<unsigned>(end.exitCode));
    else
        notice += "exited";
    notice.AppendFormat(" after %llu ms", static_cast<unsigned long long>(end.lifetimeMs));
    // The first sample comes a second after the start: a rate needs a base.
    if (end.beforeFirstSample)
        notice += ", before the first sample (sampling starts 1 s after the start)";
    return notice;
}

CString TooManyThreadsNotice(const char* processName, double threads)
{
    CString notice;
    notice.Format("quorvex: %s has %.0f threads; at most %d are watched", processName, threads,
                  MAX_WATCHED_THREADS);
    return notice;
}

void WriteNotice(const CString& notice)
{
    if (notice.IsEmpty())
        return;
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", notice.GetString());
}

void NoticeTargetEnd(const char* processName, HANDLE process, bool beforeFirstSample)
{
    DWORD exitCode;
    FILETIME creation, exit, kernel, user;
    if (!process || !GetExitCodeProcess(process, &exitCode) || exitCode == STILL_ACTIVE ||
        !GetProcessTimes(process, &creation, &exit, &kernel, &user))
        return;
    const ULONGLONG lifetimeMs = (FileTimeValue(exit) - FileTimeValue(creation)) / 10000;
    WriteNotice(TargetEndNotice(processName, {ProcessEndSignal(process), exitCode, lifetimeMs, beforeFirstSample}));
}
