#include "QuorvexCommandLine.h"

#include "Console.h"
#include "Module.h"
#include "ProcCounterService.h"
#include "Process.h"
#include "SampledRun.h"
#include "SettingText.h"
#include "SystemReport.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Says on standard error why the console log is missing or incomplete.
void ReportLogFailure(const char* doing, const char* fileName, int error)
{
    std::fflush(stdout);
    std::fprintf(stderr, "quorvex: cannot %s the log file %s: %s\n", doing, fileName, std::strerror(error));
}

// Opens the console log named by the option; null when it cannot be opened.
FILE* OpenConsoleLog(const CString& fileName, MessageBoxes& boxes)
{
    std::unique_ptr<char[]> name(new (std::nothrow) char[fileName.GetLength() + 1]);
    if (!name) {
        boxes.Show(nullptr, "Unable to alloc memory for szParams", "App Params", MB_OK);
        return nullptr;
    }
    std::strcpy(name.get(), fileName);
    FILE* stream = std::fopen(name.get(), "w");
    if (!stream) {
        ReportLogFailure("open", name.get(), errno);
        return nullptr;
    }
    std::fputs("Quorvex 1.0 Log\n", stream);
    return stream;
}

// Closes the console log; false when anything written to it was lost.
bool CloseConsoleLog(FILE* stream, const CString& fileName)
{
    errno = 0;
    const bool lost = std::fflush(stream) != 0 || std::ferror(stream);
    int error = lost ? (errno != 0 ? errno : EIO) : 0;
    if (std::fclose(stream) != 0 && error == 0)
        error = errno;
    if (error == 0)
        return true;
    ReportLogFailure("write", fileName, error);
    return false;
}

// A console run has no window: its boxes go to standard error, and nothing
// the user does reaches it but the end of the process.
class ConsoleObserver : public RunObserver {
public:
    ConsoleObserver(std::string arguments, MessageBoxes& boxes) : m_arguments(std::move(arguments)), m_boxes(boxes) {}

    void ShowBox(const char* text, const char* title) override { m_boxes.Show(nullptr, text, title, MB_OK); }
    RunControls Controls() override { return {}; }
    std::string TargetArguments() override { return m_arguments; }
    void SampleTaken(int) override {}
    void WaitForCaptureWindow() override {}
    void CloseProbeCaptureWindow() override {}

private:
    std::string m_arguments;
    MessageBoxes& m_boxes;
};

// What the run did not find prints as empty text.
CString ApplicationReport(const CQuorvexCommandLine& cmdLine, const CString& samplingRate, const RunResult& result)
{
    CString cpuMin, cpuAvg, cpuMax, threadsMin, threadsAvg, threadsMax, elapsedMs, samples;
    if (const std::optional<RunStatistics>& statistics = result.statistics) {
        cpuMin = PercentText(statistics->cpuMin);
        cpuAvg = PercentText(statistics->cpuAvg);
        cpuMax = PercentText(statistics->cpuMax);
        threadsMin = ThreadCountText(statistics->threadsMin);
        threadsAvg = ThreadCountText(statistics->threadsAvg);
        threadsMax = ThreadCountText(statistics->threadsMax);
    }
    if (result.elapsedMs)
        elapsedMs.Format("%u", *result.elapsedMs);
    if (result.end != RunEnd::Abandoned)
        samples.Format("%8d", result.samples);

    CString report = "\n---- Application Detection ----";
    report.AppendFormat("\nApplication Name:%s", cmdLine.m_strTargetName.GetString());
    report.AppendFormat("\nApplication Parameters:%s", cmdLine.m_strTargetParams.GetString());
    report.AppendFormat("\nSampling interval (msec):%s", samplingRate.GetString());
    report += "\nCPU Utilization (percentage)";
    report.AppendFormat("\n\t          Min:%s Avg:%s Max:%s", cpuMin.GetString(), cpuAvg.GetString(), cpuMax.GetString());
    report += "\nNumber of Threads:";
    report.AppendFormat("\n\t          Min:%s   Avg:%s   Max:%s   ", threadsMin.GetString(), threadsAvg.GetString(),
                        threadsMax.GetString());
    report.AppendFormat("\nElapsed Time (ms): %s", elapsedMs.GetString());
    report.AppendFormat("\nNumber of Samples: %s", samples.GetString());
    return report;
}

} // namespace

bool CQuorvexCommandLine::MeasureTarget()
{
    const CString& sampling = m_options[OPT_SAMPLING].m_strValue;
    const CString samplingRate = sampling.IsEmpty() ? CString("100") : sampling;
    m_strTargetPath = ProgramFolder() + m_strTargetName;
    // kept: a run lasts at most 30 seconds.
    const RunSettings settings = {.appPath = m_strTargetPath.str(),
                                  .processName = InstanceName(m_strTargetName.str()),
                                  .interval = std::chrono::milliseconds(LeadingNumber(samplingRate)),
                                  .duration = std::chrono::seconds(30)};
    ConsoleObserver observer(m_strTargetParams.str(), m_boxes);
    ProcCounterService counters;
    const RunResult result = RunSampled(settings, observer, counters);

    const CString report = ApplicationReport(*this, samplingRate, result);
    std::fputs(report, stdout);
    if (m_stream)
        std::fputs(report, m_stream);
    return result.statistics.has_value();
}

int CQuorvexCommandLine::RunConsole()
{
    std::fputs("Quorvex 1.0\n\n", stdout);
    const bool accepted = ParseOptions();
    // A refused command line leaves a file it names as it was.
    if (accepted && m_options[OPT_LOG].m_bSet)
        m_stream = OpenConsoleLog(m_options[OPT_LOG].m_strValue, m_boxes);
    bool logFailed = accepted && m_options[OPT_LOG].m_bSet && !m_stream;

    bool figuresMissing = m_options[OPT_APP].m_bSet;
    if (PrintSystemReport(m_stream)) {
        if (m_options[OPT_APP].m_bSet)
            figuresMissing = !MeasureTarget();
        std::fputs("\n\nPress Enter key to exit... ", stdout);
        std::fflush(stdout);
        WaitForEnter();
    }

    if (m_stream) {
        logFailed = !CloseConsoleLog(m_stream, m_options[OPT_LOG].m_strValue);
        m_stream = nullptr;
    }
    if (!accepted)
        return 2;
    return figuresMissing || logFailed ? 1 : 0;
}
