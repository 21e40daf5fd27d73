#pragma once
// A log file written during a run. A write or close that fails is remembered,
// so that the run can tell the user that the log is incomplete.

#include "CString.h"
#include "Timing.h"

#include <cstdio>

class LogFile {
public:
    LogFile() = default;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile();

    // Creates the file; fails, with errno EEXIST, when the name is taken, so
    // that no earlier run's log is ever emptied.
    bool Create(const char* path);
    bool IsOpen() const { return m_file != nullptr; }
    void Write(const CString& text);
    // Closes the file if it is open; false when anything written was lost.
    bool Close();

private:
    std::FILE* m_file = nullptr;
    bool m_failed = false;
};

// folder/<prefix>yyyymmddhhmm.txt for the first copy in a minute, then
// folder/<prefix>yyyymmddhhmm-2.txt, -3, ...
CString RunLogFileName(const char* folder, const char* prefix, const SYSTEMTIME& time, int copy);

enum class RunLogsCreated { Both, NoDataLog, NoSummaryLog };

// Creates a run's data log (prefix QV) and summary log (QVS) named for the
// minute, with the first copy number that neither name has taken yet, so that
// both files of one run carry the same name.
RunLogsCreated CreateRunLogs(LogFile& dataLog, LogFile& summaryLog, const char* folder, const SYSTEMTIME& time);
