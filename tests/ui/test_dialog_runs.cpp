// Measurements started from the real dialog, of the real demo workload, with
// the user's clicks reaching the run while it is in progress.

#include "DemoRuns.h"
#include "ScratchFolder.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

namespace {

const std::regex kTwoDecimals(R"( *\d+\.\d\d)");

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Fields(const std::string& row)
{
    std::vector<std::string> fields;
    std::istringstream in(row);
    for (std::string field; in >> field;)
        fields.push_back(field);
    return fields;
}

// The fields of a comma-separated log record, without their quotes.
std::vector<std::string> QuotedFields(const std::string& record)
{
    std::vector<std::string> fields;
    static const std::regex field(R"re("([^"]*)")re");
    for (auto it = std::sregex_iterator(record.begin(), record.end(), field); it != std::sregex_iterator(); ++it)
        fields.push_back((*it)[1]);
    return fields;
}

std::string Format(const char* format, auto... values)
{
    CString text;
    text.Format(format, values...);
    return text.str();
}

// What a run left in the dialog's fields and lists.
struct Results {
    std::map<int, std::string> fields;
    std::vector<std::string> threadRows;
    std::string threadRowShown;
    std::vector<std::string> levelRows;
    std::string levelRowShown;
};

Results ResultsShown(CQuorvexDlg& dlg)
{
    Results shown;
    for (int id : {IDC_EDIT_CPU_MIN, IDC_EDIT_CPU_AVG, IDC_EDIT_CPU_MAX, IDC_EDIT_THREADS_MIN, IDC_EDIT_THREADS_AVG,
                   IDC_EDIT_THREADS_MAX, IDC_EDIT_ELAPSED, IDC_EDIT_PARALLEL_TIME, IDC_EDIT_SAMPLES})
        shown.fields[id] = Edit(dlg, id)->text().toStdString();
    shown.threadRows = Items(Combo(dlg, IDC_COMBO_THREAD_TABLE));
    shown.threadRowShown = Combo(dlg, IDC_COMBO_THREAD_TABLE)->currentText().toStdString();
    shown.levelRows = Items(Combo(dlg, IDC_COMBO_CONCURRENCY));
    shown.levelRowShown = Combo(dlg, IDC_COMBO_CONCURRENCY)->currentText().toStdString();
    return shown;
}

class DialogRunTest : public DemoRunTest {
protected:
    // The dialog fixes its log folder from the current folder when it opens.
    INT_PTR OpenInLogFolder(std::function<void(QWidget*)> act)
    {
        const std::filesystem::path start = std::filesystem::current_path();
        std::filesystem::current_path(logs.Path());
        const INT_PTR result = Open(std::move(act));
        std::filesystem::current_path(start);
        return result;
    }

    // The data log and the summary log of the one run, by their names.
    std::pair<std::string, std::string> LogFiles() const
    {
        std::vector<std::string> names = FilesIn(logs.Path());
        std::sort(names.begin(), names.end());
        static const std::regex dataLog(R"(QV(\d{12})\.txt)");
        std::smatch stamp;
        if (names.size() != 2 || !std::regex_match(names[0], stamp, dataLog) ||
            names[1] != "QVS" + stamp[1].str() + ".txt") {
            ADD_FAILURE() << "expected one QV and one QVS file of the same minute, found "
                          << testing::PrintToString(names);
            return {};
        }
        return {ReadFile(logs.Path() + "/" + names[0]), ReadFile(logs.Path() + "/" + names[1])};
    }

    // The run's boxes are the dialog's.
    void ExpectBoxesOwnedBy(const QWidget* window) const
    {
        for (const Box& box : recorded.boxes)
            EXPECT_EQ(box.owner, window) << box.text;
    }

    ScratchFolder logs;
};

TEST_F(DialogRunTest, StartWithoutATargetAsksForOne)
{
    RunControls after;
    Open([&](QWidget* window) {
        Click(dlg, IDC_START);
        after = ControlsOf(dlg);
        PressKey(window, Qt::Key_Escape);
    });

    EXPECT_EQ(Shown(recorded.boxes),
              std::vector<std::string>{"[Error] Click the button GET APPLICATION NAME to select application!!!"});
    EXPECT_NE(recorded.boxes[0].owner, nullptr);
    EXPECT_EQ(after, kIdle);
    EXPECT_EQ(starts.Count(), 0);
}

// The demo's second phase, two busy threads, is the one sampled: the first
// second of each instance is the run's settling time.
const DemoRun kShortDemoLogged = {"--phases 1,2 --phase-ms 700 --sleepers 1", "10", true};
constexpr int kDemoThreads = 4;  // main, two workers, one sleeper

// The fields of the per-thread rows, which must be in their format and in
// thread order.
std::vector<std::vector<std::string>> ThreadRowFields(const std::vector<std::string>& rows)
{
    std::vector<std::vector<std::string>> fields;
    for (size_t j = 0; j < rows.size(); ++j) {
        fields.push_back(Fields(rows[j]));
        const std::vector<std::string>& f = fields.back();
        if (f.size() != 5) {
            ADD_FAILURE() << rows[j];
            return {};
        }
        EXPECT_EQ(rows[j], Format("%3d%22.2f%16.2f%16.2f%16.2f", static_cast<int>(j), std::stod(f[1]),
                                  std::stod(f[2]), std::stod(f[3]), std::stod(f[4])));
    }
    return fields;
}

// The fields of the concurrency rows, in their format and in level order.
std::vector<std::vector<std::string>> LevelRowFields(const std::vector<std::string>& rows)
{
    std::vector<std::vector<std::string>> fields;
    int previous = 1;
    for (const std::string& row : rows) {
        fields.push_back(Fields(row));
        if (fields.back().size() != 2) {
            ADD_FAILURE() << row;
            return {};
        }
        const int level = std::stoi(fields.back()[0]);
        EXPECT_EQ(row, Format("%3d               %9.2f", level, std::stod(fields.back()[1])));
        EXPECT_GT(level, previous) << "text order is level order";
        EXPECT_LE(level, kDemoThreads);
        previous = level;
    }
    return fields;
}

// What the data log's records say the run saw.
struct SampleRecords {
    std::vector<double> cpu;
    std::vector<int> runningSamples = std::vector<int>(kDemoThreads);
    std::vector<double> threadMin = std::vector<double>(kDemoThreads, 1e9);
    std::vector<double> threadMax = std::vector<double>(kDemoThreads, -1);
    int parallelSamples = 0;
};

SampleRecords ReadRecords(const std::vector<std::string>& records)
{
    static const std::regex record(R"re("\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\.\d{3}"(,"[^",]+"){9})re");
    SampleRecords seen;
    for (const std::string& line : records) {
        EXPECT_TRUE(std::regex_match(line, record)) << line;
        const std::vector<std::string> values = QuotedFields(line);
        if (values.size() != 2 + 2 * kDemoThreads)
            continue;
        seen.cpu.push_back(std::stod(values[1]));
        int running = 0;
        for (int j = 0; j < kDemoThreads; ++j) {
            const std::string& state = values[static_cast<size_t>(3 + 2 * j)];
            EXPECT_TRUE(state == "2" || state == "5" || state == "0") << line;
            // A thread that has already ended as the demo exits cannot be
            // read: it is logged as 0 and left out of its figures.
            if (state == "0")
                continue;
            const double threadCpu = std::stod(values[static_cast<size_t>(2 + 2 * j)]);
            seen.threadMin[j] = std::min(seen.threadMin[j], threadCpu);
            seen.threadMax[j] = std::max(seen.threadMax[j], threadCpu);
            if (state == "2") {
                ++seen.runningSamples[j];
                ++running;
            }
        }
        seen.parallelSamples += running >= 2;
    }
    return seen;
}

// The summary block's lines up to the per-thread table, from the dialog's
// members.
std::vector<std::string> SummaryBlockHead(const CQuorvexDlg& d, const char* params)
{
    return {"[End Data]",
            "[Start Summary]",
            "Processor Information: " + d.m_strProcessorInfo.str(),
            Format("Frequency (MHz)= %s Sockets = %s  Cores = %s  Logicals = %s Multi-processor: %s  Multi_core: %s  "
                   "Twinlane: %s",
                   d.m_strFrequency.GetString(), d.m_strSockets.GetString(), d.m_strCores.GetString(),
                   d.m_strLogicals.GetString(), d.m_strMultiProcessor.GetString(), d.m_strMultiCore.GetString(),
                   d.m_strSmt.GetString()),
            std::string("[Application] ") + QUORVEX_DEMO,
            std::string("Application Parameters: ") + params,
            "Sampling Rate(ms)= 10  Elapsed Time(ms)= " + d.m_strElapsedMs.str() +
                "  Parallel Time(%)= " + d.m_strParallelTime.str(),
            "CPU Utilization (%): Min = " + d.m_strCpuMin.str() + "  Avg = " + d.m_strCpuAvg.str() +
                "  Max = " + d.m_strCpuMax.str(),
            "Thread#   %Time   Thread_CPU_Utilization(%)  Min        Avg       Max"};
}

TEST_F(DialogRunTest, MeasuresTheDemoShowsEveryResultAndWritesBothLogs)
{
    RunControls before, after;
    Results shown;
    const QWidget* dialogWindow = nullptr;
    const INT_PTR result = OpenInLogFolder([&](QWidget* window) {
        dialogWindow = window;
        PrepareDemoRun(dlg, kShortDemoLogged);
        before = ControlsOf(dlg);
        Click(dlg, IDC_START);
        after = ControlsOf(dlg);
        shown = ResultsShown(dlg);
        PressKey(window, Qt::Key_Escape);
    });

    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(starts.Count(), 2) << "the probe's instance, then the measured one";
    EXPECT_EQ(Shown(recorded.boxes), std::vector<std::string>{kMakeSure});
    ExpectBoxesOwnedBy(dialogWindow);
    EXPECT_EQ(before, kIdle);
    EXPECT_EQ(after, kIdle);
    EXPECT_EQ(dlg.m_bCancel, 1);

    // Every result field shows its member, in its format.
    const std::pair<int, const CString*> fields[] = {
        {IDC_EDIT_CPU_MIN, &dlg.m_strCpuMin},         {IDC_EDIT_CPU_AVG, &dlg.m_strCpuAvg},
        {IDC_EDIT_CPU_MAX, &dlg.m_strCpuMax},         {IDC_EDIT_THREADS_MIN, &dlg.m_strThreadsMin},
        {IDC_EDIT_THREADS_AVG, &dlg.m_strThreadsAvg}, {IDC_EDIT_THREADS_MAX, &dlg.m_strThreadsMax},
        {IDC_EDIT_ELAPSED, &dlg.m_strElapsedMs},      {IDC_EDIT_PARALLEL_TIME, &dlg.m_strParallelTime},
        {IDC_EDIT_SAMPLES, &dlg.m_strSamples}};
    for (const auto& [id, member] : fields)
        EXPECT_EQ(shown.fields[id], member->str()) << id;
    for (int id : {IDC_EDIT_CPU_MIN, IDC_EDIT_CPU_AVG, IDC_EDIT_CPU_MAX, IDC_EDIT_PARALLEL_TIME}) {
        EXPECT_TRUE(std::regex_match(shown.fields[id], kTwoDecimals)) << shown.fields[id];
        EXPECT_GE(shown.fields[id].size(), 6u) << shown.fields[id];
    }
    EXPECT_LE(std::stod(dlg.m_strCpuMin.str()), std::stod(dlg.m_strCpuAvg.str()));
    EXPECT_LE(std::stod(dlg.m_strCpuAvg.str()), std::stod(dlg.m_strCpuMax.str()));
    // The last sample may catch the demo joining its threads.
    EXPECT_EQ(shown.fields[IDC_EDIT_THREADS_MAX], "  4");
    for (int id : {IDC_EDIT_THREADS_MIN, IDC_EDIT_THREADS_AVG})
        EXPECT_TRUE(std::regex_match(shown.fields[id], std::regex("  [1-4]"))) << shown.fields[id];
    ASSERT_EQ(dlg.m_strSamples.GetLength(), 8);
    const int samples = std::stoi(dlg.m_strSamples.str());
    ASSERT_GE(samples, 10);
    // The demo ended the run: its own lifetime, well short of the duration.
    EXPECT_GE(std::stoi(dlg.m_strElapsedMs.str()), 1400);
    EXPECT_LT(std::stoi(dlg.m_strElapsedMs.str()), 5000);

    // One row per watched thread; two threads busy throughout the sampled
    // span, so level 2 at least once. Each list shows its first row.
    ASSERT_EQ(shown.threadRows.size(), static_cast<size_t>(kDemoThreads));
    const std::vector<std::vector<std::string>> threadFields = ThreadRowFields(shown.threadRows);
    EXPECT_EQ(shown.threadRowShown, shown.threadRows[0]);
    EXPECT_EQ(dlg.m_strThreadTable.str(), shown.threadRows[0]);
    ASSERT_FALSE(shown.levelRows.empty());
    const std::vector<std::vector<std::string>> levelFields = LevelRowFields(shown.levelRows);
    EXPECT_EQ(shown.levelRowShown, shown.levelRows[0]);
    EXPECT_EQ(dlg.m_strConcurrency.str(), shown.levelRows[0]);
    double levelsTotal = 0;
    for (const std::vector<std::string>& level : levelFields)
        levelsTotal += std::stod(level[1]);
    EXPECT_NEAR(levelsTotal, std::stod(dlg.m_strParallelTime.str()), 0.02);

    const auto [dataLog, summaryLog] = LogFiles();
    const std::vector<std::string> lines = Lines(dataLog);
    ASSERT_GT(lines.size(), static_cast<size_t>(3 + samples));
    std::string header = "\"Time\",\"TOTAL_CPU_Utilization\"";
    for (int j = 0; j < kDemoThreads; ++j)
        header += Format(",\"Thread_%d_CPU_Utilization\",\"Thread_%d_Status\"", j, j);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 3),
              (std::vector<std::string>{"[Quorvex]", "[Start Data]", header}));

    // The dialog's figures follow from what the records say the run saw.
    const SampleRecords seen = ReadRecords({lines.begin() + 3, lines.begin() + 3 + samples});
    ASSERT_EQ(seen.cpu.size(), static_cast<size_t>(samples));
    EXPECT_EQ(dlg.m_strCpuMin.str(), Format("%6.2f", *std::min_element(seen.cpu.begin(), seen.cpu.end())));
    EXPECT_EQ(dlg.m_strCpuMax.str(), Format("%6.2f", *std::max_element(seen.cpu.begin(), seen.cpu.end())));
    EXPECT_NEAR(std::stod(dlg.m_strParallelTime.str()), 100.0 * seen.parallelSamples / samples, 0.006);
    for (int j = 0; j < kDemoThreads; ++j) {
        const std::vector<std::string>& row = threadFields[static_cast<size_t>(j)];
        EXPECT_NEAR(std::stod(row[1]), 100.0 * seen.runningSamples[j] / samples, 0.006) << "thread " << j;
        EXPECT_EQ(row[2], Format("%.2f", seen.threadMin[j])) << "thread " << j;
        EXPECT_EQ(row[4], Format("%.2f", seen.threadMax[j])) << "thread " << j;
    }

    // The summary block ends the data log, with the dialog's figures.
    const std::vector<std::string> head = SummaryBlockHead(dlg, kShortDemoLogged.params);
    auto next = lines.begin() + 3 + samples;
    ASSERT_EQ(lines.end() - next, static_cast<long>(head.size() + kDemoThreads + 1 + levelFields.size() + 1));
    EXPECT_EQ(std::vector<std::string>(next, next + static_cast<long>(head.size())), head);
    next += static_cast<long>(head.size());
    for (const std::vector<std::string>& thread : threadFields)
        EXPECT_EQ(Fields(*next++), thread);
    EXPECT_EQ(*next++, "Concurrent Level   %Time");
    for (const std::vector<std::string>& level : levelFields)
        EXPECT_EQ(Fields(*next++), level);
    EXPECT_EQ(*next, "[End Summary]");
    EXPECT_NE(dataLog.back(), '\n');

    EXPECT_EQ(summaryLog, "\"Quorvex\"\n\"quorvex-demo\"\n\"4\",\"1\"\n"
                          "\"Cores\",\"Logicals\",\"Elapsed Time (ms)\",\"Parallel Time (%)\"\n\"" +
                              dlg.m_strCores.str() + "\",\"" + dlg.m_strLogicals.str() + "\",\"" +
                              dlg.m_strElapsedMs.str() + "\",\"" + dlg.m_strParallelTime.str() + "\"\n");
}

// The probe's one sample at the 100 ms interval is too few: its warning
// comes, then the run's, and the target is not started again. Once the run
// has returned, START starts the next one.
TEST_F(DialogRunTest, CancelDuringTheProbeStartsTheTargetOnlyOnce)
{
    std::vector<RunControls> afterCancel, after;
    std::vector<int> startsAfter;
    Results shown;
    Open([&](QWidget* window) {
        PrepareDemoRun(dlg, {"--phases 1 --phase-ms 3000 --sleepers 1"});
        for (int run = 0; run < 2; ++run) {
            AtNextDispatch([&] {
                Click(dlg, IDC_CANCEL);
                afterCancel.push_back(ControlsOf(dlg));
            });
            Click(dlg, IDC_START);
            after.push_back(ControlsOf(dlg));
            startsAfter.push_back(starts.Count());
            if (run == 0)
                shown = ResultsShown(dlg);
        }
        PressKey(window, Qt::Key_Escape);
    });

    EXPECT_EQ(Shown(recorded.boxes),
              (std::vector<std::string>{kNeedMoreSamples, kMakeSure, kNeedMoreSamples, kMakeSure}));
    EXPECT_EQ(startsAfter, (std::vector<int>{1, 2}));
    EXPECT_EQ(afterCancel, std::vector<RunControls>(2, kIdle));
    EXPECT_EQ(after, std::vector<RunControls>(2, kIdle));
    EXPECT_EQ(dlg.m_bCancel, 1);
    EXPECT_EQ(shown.fields[IDC_EDIT_ELAPSED], " ");
    EXPECT_EQ(shown.fields[IDC_EDIT_SAMPLES], "       0");
    EXPECT_EQ(shown.fields[IDC_EDIT_CPU_AVG], "");
}

// A START that reaches the dialog before the cancelled run has returned (two
// clicks in one batch of events) starts nothing: the run ends as cancelled.
TEST_F(DialogRunTest, CancelDuringSamplingKeepsResultsAndStartsNoSecondRun)
{
    RunControls afterClicks, after;
    Results shown;
    bool clicksPlanned = false;
    recorded.whenShown = [&](const Box& box) {
        // Once: a nested run would show the warning again.
        if (Shown(box) != kMakeSure || clicksPlanned)
            return;
        clicksPlanned = true;
        // About 30 samples after the settling second of the measured instance.
        QTimer::singleShot(1300, qApp, [&] {
            Click(dlg, IDC_CANCEL);
            Click(dlg, IDC_START);
            afterClicks = ControlsOf(dlg);
        });
    };
    OpenInLogFolder([&](QWidget* window) {
        PrepareDemoRun(dlg, {"--phases 1 --phase-ms 2000 --sleepers 1", "10", true});
        Click(dlg, IDC_START);
        after = ControlsOf(dlg);
        shown = ResultsShown(dlg);
        PressKey(window, Qt::Key_Escape);
    });

    EXPECT_EQ(Shown(recorded.boxes), std::vector<std::string>{kMakeSure});
    EXPECT_EQ(starts.Count(), 2);
    EXPECT_EQ(afterClicks, kIdle);
    EXPECT_EQ(after, kIdle);
    EXPECT_EQ(dlg.m_bCancel, 1);
    const int samples = std::stoi(dlg.m_strSamples.str());
    EXPECT_GE(samples, 10);
    EXPECT_EQ(shown.fields[IDC_EDIT_SAMPLES], dlg.m_strSamples.str());
    // Computed into the members, not shown.
    EXPECT_TRUE(std::regex_match(dlg.m_strCpuAvg.str(), kTwoDecimals)) << dlg.m_strCpuAvg.str();
    for (int id : {IDC_EDIT_CPU_MIN, IDC_EDIT_CPU_AVG, IDC_EDIT_CPU_MAX, IDC_EDIT_PARALLEL_TIME, IDC_EDIT_THREADS_MAX})
        EXPECT_EQ(shown.fields[id], "") << id;
    EXPECT_TRUE(shown.threadRows.empty());
    EXPECT_TRUE(shown.levelRows.empty());
    EXPECT_EQ(shown.fields[IDC_EDIT_ELAPSED], " ");

    // The records of the samples taken, and no summary.
    const auto [dataLog, summaryLog] = LogFiles();
    const std::vector<std::string> lines = Lines(dataLog);
    EXPECT_EQ(lines.size(), static_cast<size_t>(3 + samples));
    EXPECT_EQ(lines.back().front(), '"');
    EXPECT_EQ(dataLog.find("[End Data]"), std::string::npos);
    EXPECT_NE(dataLog.back(), '\n');
    EXPECT_EQ(Lines(summaryLog).size(), 4u);
}

// START CAPTURE and STOP CAPTURE open and close one window for the probe and
// one for the measurement; the elapsed time is the measurement's window.
TEST_F(DialogRunTest, ManualCaptureWindowsForTheProbeAndTheMeasurement)
{
    std::vector<std::pair<std::string, RunControls>> steps;
    auto step = [&](const char* name) { steps.emplace_back(name, ControlsOf(dlg)); };
    QElapsedTimer window;
    qint64 windowMs = 0;
    recorded.whenShown = [&](const Box& box) {
        if (Shown(box) != kMakeSure)
            return;
        step("warning before the second start");
        AtNextDispatch([&] {
            step("measurement waits");
            Click(dlg, IDC_START_CAPTURE);
            window.start();
            step("measurement captures");
            QTimer::singleShot(500, qApp, [&] {
                windowMs = window.elapsed();
                Click(dlg, IDC_STOP_CAPTURE);
                step("measurement stopped");
            });
        });
    };
    Results shown;
    Open([&](QWidget* dialogWindow) {
        PrepareDemoRun(dlg, {"--phases 1 --phase-ms 4000 --sleepers 1", "10", false, true});
        step("before START");
        AtNextDispatch([&] {
            step("probe waits");
            Click(dlg, IDC_START_CAPTURE);
            step("probe captures");
            QTimer::singleShot(600, qApp, [&] {
                Click(dlg, IDC_STOP_CAPTURE);
                step("probe stopped");
            });
        });
        Click(dlg, IDC_START);
        step("after the run");
        shown = ResultsShown(dlg);
        PressKey(dialogWindow, Qt::Key_Escape);
    });

    const std::vector<std::pair<std::string, RunControls>> expected = {
        {"before START", kIdle},
        {"probe waits", kRunningWithoutCaptureWindow},
        {"probe captures", kCapturing},
        {"probe stopped", kCaptureStopped},
        {"warning before the second start", kCaptureStopped},
        {"measurement waits", kCaptureStopped},
        {"measurement captures", kCapturing},
        {"measurement stopped", kCaptureStopped},
        {"after the run", kIdle}};
    EXPECT_EQ(steps, expected);
    EXPECT_EQ(Shown(recorded.boxes), std::vector<std::string>{kMakeSure});
    EXPECT_EQ(starts.Count(), 2);
    // From the first sample's start to the last sample's end, inside the
    // span between the two clicks.
    const int elapsed = std::stoi(dlg.m_strElapsedMs.str());
    EXPECT_LE(elapsed, windowMs);
    EXPECT_GE(elapsed, windowMs - 50);
    EXPECT_EQ(shown.fields[IDC_EDIT_ELAPSED], dlg.m_strElapsedMs.str());
    EXPECT_GE(std::stoi(dlg.m_strSamples.str()), 10);
    EXPECT_EQ(shown.fields[IDC_EDIT_CPU_AVG], dlg.m_strCpuAvg.str()) << "a whole run shows its results";
}

} // namespace
