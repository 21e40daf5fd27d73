#include "DataLog.h"

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
