#include "DataLog.h"

CString DataLogFileName(const char* folder, const SYSTEMTIME& time)
{
    CString name;
    name.Format("%s/QV%04d%02d%02d%02d%02d.txt", folder, time.wYear, time.wMonth, time.wDay, time.wHour,
                time.wMinute);
    return name;
}

CString DataLogHeader(int watchedThreads)
{
    CString header = "\"Time\",\"TOTAL_CPU_Utilization\"";
    for (int j = 0; j < watchedThreads; ++j)
        header.AppendFormat(",\"Thread_%d_CPU_Utilization\",\"Thread_%d_Status\"", j, j);
    return header;
}

CString DataLogRecord(const SYSTEMTIME& stamp)
{
    CString record;
    record.Format("\n\"%2.2d/%2.2d/%4.4d %2.2d:%2.2d:%2.2d.%3.3d\"", stamp.wMonth, stamp.wDay, stamp.wYear,
                  stamp.wHour, stamp.wMinute, stamp.wSecond, stamp.wMilliseconds);
    return record;
}

void AppendProcessCpu(CString& record, double cpu)
{
    record.AppendFormat(",\"%.20g\"", cpu);
}

void AppendThread(CString& record, double cpu, int state)
{
    record.AppendFormat(",\"%.20g\",\"%d\"", cpu, state);
}
