// The main dialog as a user meets it: its state after opening, its setting
// lists, and the capture buttons outside a run.

#include "DialogDriver.h"
#include "ProcessorInfo.h"
#include "QuorvexDlg.h"
#include "Topology.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <sched.h>
#include <unistd.h>

namespace {

class MainDialogTest : public testing::Test {
protected:
    // Opens the dialog, lets act work it, and returns how it ended; act must
    // end it.
    INT_PTR Run(std::function<void(QWidget*)> act)
    {
        WhenModalShows(std::move(act));
        return dlg.DoModal();
    }

    GuiSessionForTest session;
    RecordedBoxes recorded;
    CQuorvexDlg dlg{nullptr};
};

TEST_F(MainDialogTest, OpensWithDefaultsAndNoTarget)
{
    // Whatever the object held before, the dialog starts from its defaults.
    dlg.m_bRunning = dlg.m_bCancel = dlg.m_bManualCapture = dlg.m_bCapturing = dlg.m_bCaptureStopped = 1;
    dlg.m_strAppParams = "--stale";
    std::memset(dlg.m_szProcessName, 'x', sizeof dlg.m_szProcessName);

    const INT_PTR result = Run([this](QWidget* window) {
        EXPECT_EQ(Items(Combo(dlg, IDC_COMBO_DURATION)),
                  (std::vector<std::string>{"10",   "20",   "30",   "40",    "50",    "60",    "70",   "80",
                                            "90",   "100",  "110",  "120",   "180",   "240",   "300",  "360",
                                            "420",  "480",  "540",  "600",   "1200",  "1800",  "2400", "3000",
                                            "3600", "7200", "14400", "28800", "36000", "72000"}));
        EXPECT_EQ(Combo(dlg, IDC_COMBO_DURATION)->currentText(), "20");
        EXPECT_EQ(Items(Combo(dlg, IDC_COMBO_SAMPLING_RATE)), (std::vector<std::string>{"10", "100", "1000"}));
        EXPECT_EQ(Combo(dlg, IDC_COMBO_SAMPLING_RATE)->currentText(), "100");
        for (int id : {IDC_COMBO_GENERATE_LOG, IDC_COMBO_MANUAL_CAPTURE}) {
            EXPECT_EQ(Items(Combo(dlg, id)), (std::vector<std::string>{"No", "Yes"}));
            EXPECT_EQ(Combo(dlg, id)->currentText(), "No");
        }
        EXPECT_EQ(Combo(dlg, IDC_COMBO_THREAD_TABLE)->count(), 0);
        EXPECT_EQ(Combo(dlg, IDC_COMBO_CONCURRENCY)->count(), 0);

        // The result members are primed, the result fields stay empty.
        for (int id : {IDC_EDIT_CPU_MIN, IDC_EDIT_CPU_AVG, IDC_EDIT_CPU_MAX, IDC_EDIT_PARALLEL_TIME,
                       IDC_EDIT_ELAPSED, IDC_EDIT_APP_PATH})
            EXPECT_EQ(Edit(dlg, id)->text(), "") << id;
        EXPECT_TRUE(Edit(dlg, IDC_EDIT_APP_PATH)->isReadOnly());
        EXPECT_FALSE(Edit(dlg, IDC_EDIT_APP_PARAMS)->isReadOnly());

        const std::pair<int, const char*> buttons[] = {{IDC_START, "START"},
                                                       {IDC_CANCEL, "CANCEL"},
                                                       {IDC_START_CAPTURE, "START CAPTURE"},
                                                       {IDC_STOP_CAPTURE, "STOP CAPTURE"},
                                                       {IDC_CORE_MODE, "Multi-core"}};
        for (const auto& [id, text] : buttons) {
            EXPECT_EQ(Button(dlg, id)->text(), text);
            EXPECT_TRUE(Button(dlg, id)->isCheckable()) << text;
            EXPECT_FALSE(Button(dlg, id)->isChecked()) << text;
        }
        EXPECT_EQ(window->windowTitle(), "Quorvex");
        PressKey(window, Qt::Key_Escape);
    });

    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(dlg.m_strDuration, "20");
    EXPECT_EQ(dlg.m_strSamplingRate, "100");
    EXPECT_EQ(dlg.m_strGenerateLog, "No");
    EXPECT_EQ(dlg.m_strManualCapture, "No");
    EXPECT_EQ(dlg.m_strCpuMin, "0");
    EXPECT_EQ(dlg.m_strCpuAvg, "0");
    EXPECT_EQ(dlg.m_strCpuMax, "0");
    EXPECT_EQ(dlg.m_strParallelTime, "0.00");
    EXPECT_EQ(dlg.m_strAppPath, "");
    EXPECT_EQ(dlg.m_strAppParams, "");
    EXPECT_TRUE(std::all_of(std::begin(dlg.m_szProcessName), std::end(dlg.m_szProcessName),
                            [](char c) { return c == '\0'; }));
    // Escape while idle leaves the run-control flags as the dialog set them.
    EXPECT_EQ(dlg.m_bRunning + dlg.m_bCancel + dlg.m_bManualCapture + dlg.m_bCapturing + dlg.m_bCaptureStopped, 0);
    EXPECT_EQ(dlg.m_nCoreMode, 0);
    char cwd[2048];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_STREQ(dlg.m_szLogFolder, cwd);
    EXPECT_TRUE(recorded.boxes.empty());
    EXPECT_EQ(dlg.GetSafeHwnd(), nullptr);
}

TEST_F(MainDialogTest, SettingListsFeedTheirMembersWhenTheUserChooses)
{
    Run([this](QWidget* window) {
        PressKey(Combo(dlg, IDC_COMBO_DURATION), Qt::Key_Down);
        PressKey(Combo(dlg, IDC_COMBO_SAMPLING_RATE), Qt::Key_Up);
        PressKey(Combo(dlg, IDC_COMBO_GENERATE_LOG), Qt::Key_Down);
        PressKey(Combo(dlg, IDC_COMBO_MANUAL_CAPTURE), Qt::Key_Down);
        PressKey(window, Qt::Key_Escape);
    });

    EXPECT_EQ(dlg.m_strDuration, "30");
    EXPECT_EQ(dlg.m_strSamplingRate, "10");
    EXPECT_EQ(dlg.m_strGenerateLog, "Yes");
    EXPECT_EQ(dlg.m_strManualCapture, "Yes");
    EXPECT_EQ(dlg.m_bManualCapture, 1);
}

TEST_F(MainDialogTest, SortedListsKeepTextOrderAndTheDurationListInsertionOrder)
{
    std::vector<std::string> threads, levels, durations;
    Run([&](QWidget* window) {
        for (int thread : {11, 2, 0, 10, 1}) {
            CString row;
            row.Format("%3d%22.2f%16.2f%16.2f%16.2f", thread, 1.0 * thread, 0.0, 0.5, 1.0);
            dlg.m_comboThreadTable.AddString(row);
        }
        dlg.m_comboConcurrency.AddString(" 12                   1.00");
        dlg.m_comboConcurrency.AddString("  3                  10.00");
        dlg.m_comboDuration.AddString("15");
        threads = Items(Combo(dlg, IDC_COMBO_THREAD_TABLE));
        levels = Items(Combo(dlg, IDC_COMBO_CONCURRENCY));
        durations = Items(Combo(dlg, IDC_COMBO_DURATION));
        PressKey(window, Qt::Key_Escape);
    });

    std::vector<int> threadNumbers;
    for (const std::string& row : threads)
        threadNumbers.push_back(std::stoi(row.substr(0, 3)));
    EXPECT_EQ(threadNumbers, (std::vector<int>{0, 1, 2, 10, 11}));
    EXPECT_EQ(levels, (std::vector<std::string>{"  3                  10.00", " 12                   1.00"}));
    EXPECT_EQ(durations.back(), "15");
    EXPECT_EQ(durations.front(), "10");
}

struct EditBinding {
    int id;
    CEdit CQuorvexDlg::*edit;
    CString CQuorvexDlg::*text;
};

const EditBinding kEditBindings[] = {
    {IDC_EDIT_SOCKETS, &CQuorvexDlg::m_editSockets, &CQuorvexDlg::m_strSockets},
    {IDC_EDIT_CORES, &CQuorvexDlg::m_editCores, &CQuorvexDlg::m_strCores},
    {IDC_EDIT_LOGICALS, &CQuorvexDlg::m_editLogicals, &CQuorvexDlg::m_strLogicals},
    {IDC_EDIT_MULTI_PROCESSOR, &CQuorvexDlg::m_editMultiProcessor, &CQuorvexDlg::m_strMultiProcessor},
    {IDC_EDIT_MULTI_CORE, &CQuorvexDlg::m_editMultiCore, &CQuorvexDlg::m_strMultiCore},
    {IDC_EDIT_SMT, &CQuorvexDlg::m_editSmt, &CQuorvexDlg::m_strSmt},
    {IDC_EDIT_APP_PATH, &CQuorvexDlg::m_editAppPath, &CQuorvexDlg::m_strAppPath},
    {IDC_EDIT_APP_PARAMS, &CQuorvexDlg::m_editAppParams, &CQuorvexDlg::m_strAppParams},
    {IDC_EDIT_CPU_MIN, &CQuorvexDlg::m_editCpuMin, &CQuorvexDlg::m_strCpuMin},
    {IDC_EDIT_CPU_AVG, &CQuorvexDlg::m_editCpuAvg, &CQuorvexDlg::m_strCpuAvg},
    {IDC_EDIT_CPU_MAX, &CQuorvexDlg::m_editCpuMax, &CQuorvexDlg::m_strCpuMax},
    {IDC_EDIT_THREADS_MIN, &CQuorvexDlg::m_editThreadsMin, &CQuorvexDlg::m_strThreadsMin},
    {IDC_EDIT_THREADS_AVG, &CQuorvexDlg::m_editThreadsAvg, &CQuorvexDlg::m_strThreadsAvg},
    {IDC_EDIT_THREADS_MAX, &CQuorvexDlg::m_editThreadsMax, &CQuorvexDlg::m_strThreadsMax},
    {IDC_EDIT_ELAPSED, &CQuorvexDlg::m_editElapsed, &CQuorvexDlg::m_strElapsedMs},
    {IDC_EDIT_PROCESSOR_INFO, &CQuorvexDlg::m_editProcessorInfo, &CQuorvexDlg::m_strProcessorInfo},
    {IDC_EDIT_FREQUENCY, &CQuorvexDlg::m_editFrequency, &CQuorvexDlg::m_strFrequency},
    {IDC_EDIT_L2_CACHE, &CQuorvexDlg::m_editL2Cache, &CQuorvexDlg::m_strL2Cache},
    {IDC_EDIT_SAMPLES, &CQuorvexDlg::m_editSamples, &CQuorvexDlg::m_strSamples},
    {IDC_EDIT_PARALLEL_TIME, &CQuorvexDlg::m_editParallelTime, &CQuorvexDlg::m_strParallelTime},
};

struct ListBinding {
    int id;
    CComboBox CQuorvexDlg::*combo;
    CString CQuorvexDlg::*selection;
};

const ListBinding kListBindings[] = {
    {IDC_COMBO_SAMPLING_RATE, &CQuorvexDlg::m_comboSamplingRate, &CQuorvexDlg::m_strSamplingRate},
    {IDC_COMBO_DURATION, &CQuorvexDlg::m_comboDuration, &CQuorvexDlg::m_strDuration},
    {IDC_COMBO_THREAD_TABLE, &CQuorvexDlg::m_comboThreadTable, &CQuorvexDlg::m_strThreadTable},
    {IDC_COMBO_CONCURRENCY, &CQuorvexDlg::m_comboConcurrency, &CQuorvexDlg::m_strConcurrency},
    {IDC_COMBO_GENERATE_LOG, &CQuorvexDlg::m_comboGenerateLog, &CQuorvexDlg::m_strGenerateLog},
    {IDC_COMBO_MANUAL_CAPTURE, &CQuorvexDlg::m_comboManualCapture, &CQuorvexDlg::m_strManualCapture},
};

TEST_F(MainDialogTest, BindsEveryControlAndTakesTheirValuesWhenClosedWithEnter)
{
    const std::pair<int, CButton CQuorvexDlg::*> buttons[] = {{IDC_START, &CQuorvexDlg::m_btnStart},
                                                              {IDC_CANCEL, &CQuorvexDlg::m_btnCancel},
                                                              {IDC_START_CAPTURE, &CQuorvexDlg::m_btnStartCapture},
                                                              {IDC_STOP_CAPTURE, &CQuorvexDlg::m_btnStopCapture},
                                                              {IDC_CORE_MODE, &CQuorvexDlg::m_btnCoreMode}};
    const INT_PTR result = Run([&](QWidget*) {
        for (const EditBinding& binding : kEditBindings) {
            EXPECT_EQ((dlg.*binding.edit).m_hWnd, Control(dlg, binding.id)) << binding.id;
            Edit(dlg, binding.id)->setText(QString("value %1").arg(binding.id));
        }
        for (const ListBinding& binding : kListBindings) {
            EXPECT_EQ((dlg.*binding.combo).m_hWnd, Control(dlg, binding.id)) << binding.id;
            Combo(dlg, binding.id)->addItem(QString("zz item %1").arg(binding.id));
            Combo(dlg, binding.id)->setCurrentIndex(Combo(dlg, binding.id)->count() - 1);
        }
        for (const auto& [id, button] : buttons)
            EXPECT_EQ((dlg.*button).m_hWnd, Control(dlg, id)) << id;
        Button(dlg, IDC_CORE_MODE)->setChecked(true);
        Edit(dlg, IDC_EDIT_APP_PARAMS)->setFocus();
        PressKey(Edit(dlg, IDC_EDIT_APP_PARAMS), Qt::Key_Return);
    });

    EXPECT_EQ(result, IDOK);
    for (const EditBinding& binding : kEditBindings) {
        EXPECT_EQ(dlg.*binding.text, "value " + std::to_string(binding.id));
        EXPECT_EQ((dlg.*binding.edit).m_hWnd, nullptr) << "unbound when the window is gone";
    }
    for (const ListBinding& binding : kListBindings)
        EXPECT_EQ(dlg.*binding.selection, "zz item " + std::to_string(binding.id));
    EXPECT_EQ(dlg.m_nCoreMode, 1);
    EXPECT_EQ(dlg.m_bCancel, 0) << "Enter is not Exit";
}

const int kProcessorFields[] = {IDC_EDIT_SOCKETS,         IDC_EDIT_CORES,          IDC_EDIT_LOGICALS,
                                IDC_EDIT_MULTI_PROCESSOR, IDC_EDIT_MULTI_CORE,     IDC_EDIT_SMT,
                                IDC_EDIT_PROCESSOR_INFO,  IDC_EDIT_FREQUENCY,      IDC_EDIT_L2_CACHE};

TEST_F(MainDialogTest, ShowsThisMachinesProcessorInItsFormats)
{
    std::map<int, std::string> shown;
    Run([&](QWidget* window) {
        for (int id : kProcessorFields)
            shown[id] = Edit(dlg, id)->text().toStdString();
        PressKey(window, Qt::Key_Escape);
    });

    DWORD logicals = 0, cores = 0, packages = 0;
    const BYTE status = DetectTopology(&logicals, &cores, &packages);
    ASSERT_NE(status, TOPO_AFFINITY_RESTRICTED);
    EXPECT_EQ(shown[IDC_EDIT_SMT], TopologyTwinlaneText(status));
    EXPECT_EQ(shown[IDC_EDIT_MULTI_CORE], TopologyMultiCoreText(status));
    EXPECT_EQ(shown[IDC_EDIT_MULTI_PROCESSOR], packages > 1 ? "Yes" : "No");
    // Counts right-aligned in three characters.
    const std::pair<int, DWORD> counts[] = {
        {IDC_EDIT_SOCKETS, packages}, {IDC_EDIT_CORES, cores}, {IDC_EDIT_LOGICALS, logicals}};
    for (const auto& [id, count] : counts) {
        EXPECT_EQ(shown[id].size(), 3u) << id;
        EXPECT_EQ(std::stoul(shown[id]), count) << id;
    }
    EXPECT_EQ(dlg.m_strSockets, shown[IDC_EDIT_SOCKETS]);

    CProcessorInfo info;
    DWORD mhz = 0;
    char name[CProcessorInfo::VALUE_CAPACITY] = {}, identifier[CProcessorInfo::VALUE_CAPACITY] = {};
    if (info.ReadRegistryInfo(&mhz, name, identifier)) {
        EXPECT_EQ(shown[IDC_EDIT_FREQUENCY].size(), 7u);
        EXPECT_EQ(std::stoul(shown[IDC_EDIT_FREQUENCY]), mhz);
        const std::string prefix = std::string(identifier) + " ";
        EXPECT_EQ(shown[IDC_EDIT_PROCESSOR_INFO].rfind(prefix, 0), 0u);
        EXPECT_NE(shown[IDC_EDIT_PROCESSOR_INFO][prefix.size()], ' ') << "the name's leading blanks are dropped";
    } else {
        EXPECT_EQ(shown[IDC_EDIT_FREQUENCY], "");
        EXPECT_EQ(shown[IDC_EDIT_PROCESSOR_INFO], "");
    }
    // The hidden L2 field gets its value all the same.
    EXPECT_EQ(shown[IDC_EDIT_L2_CACHE].size(), 7u);
    EXPECT_EQ(std::stoul(shown[IDC_EDIT_L2_CACHE]), info.GetL2CacheSize());
}

TEST_F(MainDialogTest, LeavesTheProcessorFieldsEmptyWhenHeldToFewerProcessors)
{
    cpu_set_t all, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    if (CPU_COUNT(&all) < 2)
        GTEST_SKIP() << "needs two processors";
    CPU_ZERO(&one);
    for (int cpu = 0; !CPU_COUNT(&one); ++cpu) {
        if (CPU_ISSET(cpu, &all))
            CPU_SET(cpu, &one);
    }
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);

    std::map<int, std::string> shown;
    std::vector<std::string> durations;
    Run([&](QWidget* window) {
        for (int id : kProcessorFields)
            shown[id] = Edit(dlg, id)->text().toStdString();
        durations = Items(Combo(dlg, IDC_COMBO_DURATION));
        PressKey(window, Qt::Key_Escape);
    });
    sched_setaffinity(0, sizeof all, &all);

    for (int id : kProcessorFields)
        EXPECT_EQ(shown[id], "") << id;
    EXPECT_EQ(dlg.m_strSockets, "");
    EXPECT_EQ(dlg.m_strProcessorInfo, "");
    EXPECT_EQ(durations.size(), 30u);
    EXPECT_EQ(dlg.m_strDuration, "20");
}

// Leaves the process in a current folder that cannot be read back, and
// returns to where it was.
class UnreadableCurrentFolder {
public:
    explicit UnreadableCurrentFolder(bool deleted) : m_start(std::filesystem::current_path())
    {
        char pattern[] = "/tmp/quorvex-cwd-XXXXXX";
        m_root = mkdtemp(pattern);
        std::filesystem::path folder = m_root;
        // Longer than the dialog's 2048 characters, or gone.
        if (!deleted) {
            while (folder.native().size() <= 2100)
                folder /= std::string(200, 'd');
        }
        std::filesystem::create_directories(folder);
        std::filesystem::current_path(folder);
        if (deleted)
            std::filesystem::remove(folder);
    }
    ~UnreadableCurrentFolder()
    {
        std::filesystem::current_path(m_start);
        std::filesystem::remove_all(m_root);
    }

private:
    std::filesystem::path m_start;
    std::filesystem::path m_root;
};

class LogFolderTest : public MainDialogTest, public testing::WithParamInterface<bool> {};

TEST_P(LogFolderTest, FallsBackToTheProgramsFolderWhenTheCurrentOneCannotBeRead)
{
    {
        const UnreadableCurrentFolder unreadable(GetParam());
        Run([](QWidget* window) { PressKey(window, Qt::Key_Escape); });
    }

    ASSERT_EQ(recorded.boxes.size(), 1u);
    EXPECT_EQ(recorded.boxes[0].text,
              "Cannot get current folder\nThe log file will be in the same folder as the application");
    EXPECT_EQ(recorded.boxes[0].caption, "Warning");
    EXPECT_NE(recorded.boxes[0].owner, nullptr);
    EXPECT_EQ(std::filesystem::path(dlg.m_szLogFolder),
              std::filesystem::read_symlink("/proc/self/exe").parent_path());
}

INSTANTIATE_TEST_SUITE_P(Folders, LogFolderTest, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "Deleted" : "LongerThan2048Characters";
                         });

struct CaptureCase {
    const char* name;
    bool manualCapture;
    int button;
    std::vector<std::string> texts;
};

void PrintTo(const CaptureCase& c, std::ostream* os)
{
    *os << c.name;
}

class CaptureOutsideARunTest : public MainDialogTest, public testing::WithParamInterface<CaptureCase> {};

TEST_P(CaptureOutsideARunTest, ExplainsAndReleasesTheButton)
{
    const CaptureCase& c = GetParam();
    bool released = false;
    Run([&](QWidget* window) {
        if (c.manualCapture)
            PressKey(Combo(dlg, IDC_COMBO_MANUAL_CAPTURE), Qt::Key_Down);
        Button(dlg, c.button)->click();
        released = !Button(dlg, c.button)->isChecked();
        PressKey(window, Qt::Key_Escape);
    });

    EXPECT_TRUE(released);
    ASSERT_EQ(recorded.boxes.size(), c.texts.size());
    for (size_t i = 0; i < c.texts.size(); ++i) {
        EXPECT_EQ(recorded.boxes[i].text, c.texts[i]);
        EXPECT_EQ(recorded.boxes[i].caption, "Start Capture");
        EXPECT_NE(recorded.boxes[i].owner, nullptr) << "the dialog owns its boxes";
    }
    EXPECT_EQ(dlg.m_bCapturing + dlg.m_bCaptureStopped + dlg.m_bRunning, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, CaptureOutsideARunTest,
    testing::Values(
        CaptureCase{"StartCaptureWithoutManualCapture", false, IDC_START_CAPTURE,
                    {" Click the START button first", " Select Yes at Manual Capture"}},
        CaptureCase{"StartCaptureWithManualCapture", true, IDC_START_CAPTURE, {" Click the START button first"}},
        CaptureCase{"StopCaptureWithoutManualCapture", false, IDC_STOP_CAPTURE, {}},
        CaptureCase{"StopCaptureWithManualCapture", true, IDC_STOP_CAPTURE, {}}),
    [](const testing::TestParamInfo<CaptureCase>& info) { return info.param.name; });

} // namespace
