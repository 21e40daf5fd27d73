#include "LogFile.h"

#include <cerrno>

LogFile::~LogFile()
{
    Close();
}

bool LogFile::Create(const char* path)
{
    m_file = std::fopen(path, "w+x");
    m_failed = false;
    return m_file != nullptr;
}

void LogFile::Write(const CString& text)
{
    if (m_file && std::fputs(text.GetString(), m_file) == EOF)
        m_failed = true;
}

bool LogFile::Close()
{
    if (m_file) {
        if (std::ferror(m_file) || std::fclose(m_file) != 0)
            m_failed = true;
        m_file = nullptr;
    }
    return !m_failed;
}

CString RunLogFileName(const char* folder, const char* prefix, const SYSTEMTIME& time, int copy)
{
    CString name;
    name.Format("%s/%s%04d%02d%02d%02d%02d", folder, prefix, time.wYear, time.wMonth, time.wDay, time.wHour,
                time.wMinute);
    if (copy > 1)
        name.AppendFormat("-%d", copy);
    return name + ".txt";
}

RunLogsCreated CreateRunLogs(LogFile& dataLog, LogFile& summaryLog, const char* folder, const SYSTEMTIME& time)
{
    for (int copy = 1;; ++copy) {
        const CString dataName = RunLogFileName(folder, "QV", time, copy);
        if (!dataLog.Create(dataName)) {
            if (errno == EEXIST)
                continue;
            return RunLogsCreated::NoDataLog;
        }
        if (summaryLog.Create(RunLogFileName(folder, "QVS", time, copy)))
            return RunLogsCreated::Both;
        if (errno != EEXIST)
            return RunLogsCreated::NoSummaryLog;
        // Only this copy's summary name was taken: its data log goes, empty.
        dataLog.Close();
        std::remove(dataName);
    }
}
