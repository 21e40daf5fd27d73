// The main dialog as a user meets it: its state after opening, its setting
// lists, and the capture buttons outside a run.

#include "DialogDriver.h"
#include "Menu.h"
#include "QuorvexDlg.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
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

TEST_F(MainDialogTest, OffersTheAboutEntryAfterTheWindowMenuItems)
{
    std::vector<CMenu::Item> items;
    Run([this, &items](QWidget* window) {
        items = dlg.GetSystemMenu(FALSE)->Items();
        PressKey(window, Qt::Key_Escape);
    });

    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].id, SC_CLOSE);
    EXPECT_EQ(items[1].flags, MF_SEPARATOR);
    EXPECT_EQ(items[2].flags, MF_STRING);
    EXPECT_EQ(items[2].id, 0x0010u);
    EXPECT_EQ(items[2].text, "&About Quorvex...");
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
