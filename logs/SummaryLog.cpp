#include "SummaryLog.h"

CString SummaryLogHead(const CString& appPath)
{
    CString head = "\"Quorvex\"\n";
    head.AppendFormat("\"%s\"\n", appPath.Mid(appPath.ReverseFind('/') + 1).GetString());
    head += "\"4\",\"1\"\n\"Cores\",\"Logicals\",\"Elapsed Time (ms)\",\"Parallel Time (%)\"\n";
    return head;
}

CString SummaryLogLine(const MachineTexts& machine, unsigned elapsedMs, const RunStatistics& statistics)
{
    CString line;
    line.Format("\"%s\",\"%s\",\"%u\",\"%s\"\n", machine.cores.GetString(), machine.logicals.GetString(), elapsedMs,
                PercentText(statistics.parallelPercent).GetString());
    return line;
}

CString SummaryBlock(const MachineTexts& texts, const SummaryRun& run, const RunStatistics& statistics)
{
    CString block;
    block.Format("\n[End Data]\n[Start Summary]\nProcessor Information: %s\n", texts.processorInfo.GetString());
    block.AppendFormat("Frequency (MHz)= %s Sockets = %s  Cores = %s  Logicals = %s", texts.frequency.GetString(),
                       texts.sockets.GetString(), texts.cores.GetString(), texts.logicals.GetString());
    block.AppendFormat(" Multi-processor: %s  Multi_core: %s  Twinlane: %s\n", texts.multiProcessor.GetString(),
                       texts.multiCore.GetString(), texts.smt.GetString());
    block.AppendFormat("[Application] %s\n", run.appPath.GetString());
    block.AppendFormat("Application Parameters: %s\n", run.appParams.GetString());
    block.AppendFormat("Sampling Rate(ms)= %d  Elapsed Time(ms)= %u  Parallel Time(%%)= %s\n", run.intervalMs,
                       run.elapsedMs, PercentText(statistics.parallelPercent).GetString());
    block.AppendFormat("CPU Utilization (%%): Min = %s  Avg = %s  Max = %s\n", PercentText(statistics.cpuMin).GetString(),
                       PercentText(statistics.cpuAvg).GetString(), PercentText(statistics.cpuMax).GetString());
    block += "Thread#   %Time   Thread_CPU_Utilization(%)  Min        Avg       Max\n";
    for (size_t j = 0; j < statistics.threads.size(); ++j) {
        const ThreadResult& thread = statistics.threads[j];
        block.AppendFormat("%3d   %9.2f   %30.2f   %9.2f   %7.2f\n", static_cast<int>(j), thread.timePercent,
                           thread.utilMin, thread.utilAvg, thread.utilMax);
    }
    block += "Concurrent Level   %Time\n";
    for (const LevelResult& level : statistics.levels)
        block.AppendFormat("%3d  %19.2f\n", level.level, level.timePercent);
    block += "[End Summary]";
    return block;
}
