// The main dialog as a user meets it: its state after opening, its setting
// lists, its processor fields, its log folder, the capture buttons outside a
// run, and what surrounds the measurement (About box, system commands,
// icons, help).

#include "DialogDriver.h"
#include "ProcessorInfo.h"
#include "QuorvexApp.h"
#include "SettingText.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <unistd.h>

namespace {

Strings Settings(const CQuorvexDlg& d)
{
    return {d.m_strDuration.str(), d.m_strSamplingRate.str(), d.m_strGenerateLog.str(), d.m_strManualCapture.str()};
}

TEST_F(DialogTest, OpensWithDefaultsAndTheSettingListsFeedTheirMembers)
{
    // Whatever the object held before, the dialog starts from its defaults.
    dlg.m_bRunning = dlg.m_bCancel = dlg.m_bManualCapture = dlg.m_bCapturing = dlg.m_bCaptureStopped = 1;
    dlg.m_strAppParams = "--stale";
    std::memset(dlg.m_szProcessName, 'x', sizeof dlg.m_szProcessName);
    Strings selected, settings, buttons;
    int flags = -1;

    Inspect([&](QWidget* window) {
        EXPECT_EQ(Items(Combo(dlg, IDC_COMBO_DURATION)),
                  (Strings{"10",   "20",   "30",   "40",   "50",   "60",   "70",    "80",    "90",    "100",
                           "110",  "120",  "180",  "240",  "300",  "360",  "420",   "480",   "540",   "600",
                           "1200", "1800", "2400", "3000", "3600", "7200", "14400", "28800", "36000", "72000"}));
        EXPECT_EQ(Items(Combo(dlg, IDC_COMBO_SAMPLING_RATE)), (Strings{"10", "100", "1000"}));
        for (int id : {IDC_COMBO_GENERATE_LOG, IDC_COMBO_MANUAL_CAPTURE})
            EXPECT_EQ(Items(Combo(dlg, id)), (Strings{"No", "Yes"}));
        EXPECT_EQ(Combo(dlg, IDC_COMBO_THREAD_TABLE)->count() + Combo(dlg, IDC_COMBO_CONCURRENCY)->count(), 0);
        settings = Settings(dlg);
        flags = dlg.m_bRunning + dlg.m_bCancel + dlg.m_bManualCapture + dlg.m_bCapturing + dlg.m_bCaptureStopped;
        // The members are primed, the result fields stay empty.
        for (int id : {IDC_EDIT_CPU_MIN, IDC_EDIT_CPU_AVG, IDC_EDIT_CPU_MAX, IDC_EDIT_PARALLEL_TIME, IDC_EDIT_ELAPSED,
                       IDC_EDIT_APP_PATH})
            EXPECT_EQ(Edit(dlg, id)->text(), "") << id;
        EXPECT_TRUE(Edit(dlg, IDC_EDIT_APP_PATH)->isReadOnly() && !Edit(dlg, IDC_EDIT_APP_PARAMS)->isReadOnly());
        for (int id : {IDC_START, IDC_CANCEL, IDC_START_CAPTURE, IDC_STOP_CAPTURE, IDC_CORE_MODE}) {
            const QAbstractButton* button = Button(dlg, id);
            const bool released = button->isCheckable() && !button->isChecked();
            buttons.push_back((released ? "" : "not released: ") + button->text().toStdString());
        }
        EXPECT_EQ(window->windowTitle(), "Quorvex");
        for (int id : {IDC_COMBO_DURATION, IDC_COMBO_SAMPLING_RATE, IDC_COMBO_GENERATE_LOG, IDC_COMBO_MANUAL_CAPTURE}) {
            selected.push_back(Combo(dlg, id)->currentText().toStdString());
            PressKey(Combo(dlg, id), Qt::Key_Down);
        }
    });

    EXPECT_EQ(buttons, (Strings{"START", "CANCEL", "START CAPTURE", "STOP CAPTURE", "Multi-core"}));
    EXPECT_EQ(selected, (Strings{"20", "100", "No", "No"}));
    EXPECT_EQ(settings, selected);
    EXPECT_EQ(flags, 0);
    EXPECT_EQ(Settings(dlg), (Strings{"30", "1000", "Yes", "Yes"}));
    EXPECT_EQ(dlg.m_bManualCapture, 1);
    EXPECT_EQ(Strings({dlg.m_strCpuMin.str(), dlg.m_strCpuAvg.str(), dlg.m_strCpuMax.str(), dlg.m_strParallelTime.str(),
                       dlg.m_strAppPath.str(), dlg.m_strAppParams.str()}),
              (Strings{"0", "0", "0", "0.00", "", ""}));
    EXPECT_TRUE(std::all_of(std::begin(dlg.m_szProcessName), std::end(dlg.m_szProcessName),
                            [](char c) { return c == '\0'; }));
    EXPECT_EQ(std::filesystem::path(dlg.m_szLogFolder), std::filesystem::current_path());
    EXPECT_TRUE(recorded.boxes.empty());
}

// The topology fields are the simulated machines' (sysinfo); here the
// processor's own: its frequency in seven characters, its name without its
// leading blanks after the identifier and one blank, and the hidden L2 field
// filled all the same.
TEST_F(DialogTest, ProcessorFieldsShowThisMachinesProcessorInTheirFormats)
{
    Strings shown;
    Inspect([&](QWidget*) {
        for (int id : {IDC_EDIT_FREQUENCY, IDC_EDIT_PROCESSOR_INFO, IDC_EDIT_L2_CACHE})
            shown.push_back(Edit(dlg, id)->text().toStdString());
    });

    CProcessorInfo info;
    DWORD mhz = 0;
    char name[CProcessorInfo::VALUE_CAPACITY] = {}, identifier[CProcessorInfo::VALUE_CAPACITY] = {};
    const bool identified = info.ReadRegistryInfo(&mhz, name, identifier);
    EXPECT_EQ(shown, (Strings{identified ? Format("%7u", mhz) : "",
                              identified ? Format("%s %s", identifier, name + std::strspn(name, " ")) : "",
                              Format("%7u", info.GetL2CacheSize())}));
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
        while (!deleted && folder.native().size() <= 2100)
            folder /= std::string(200, 'd');
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

TEST_F(DialogTest, LogFolderFallsBackToTheProgramsFolderWhenTheCurrentOneCannotBeRead)
{
    for (const bool deleted : {true, false}) {
        SCOPED_TRACE(deleted ? "deleted" : "longer than 2048 characters");
        recorded.boxes.clear();
        {
            const UnreadableCurrentFolder unreadable(deleted);
            Inspect([](QWidget*) {});
        }
        EXPECT_EQ(Shown(recorded.boxes), Strings{"[Warning] Cannot get current folder\n"
                                                 "The log file will be in the same folder as the application"});
        EXPECT_NE(recorded.boxes.at(0).owner, nullptr);
        EXPECT_EQ(std::filesystem::path(dlg.m_szLogFolder),
                  std::filesystem::read_symlink("/proc/self/exe").parent_path());
    }
}

TEST_F(DialogTest, CaptureButtonsOutsideARunExplainAndRelease)
{
    const std::string clickStart = "[Start Capture]  Click the START button first";
    const std::tuple<int, bool, Strings> cases[] = {
        {IDC_START_CAPTURE, false, {clickStart, "[Start Capture]  Select Yes at Manual Capture"}},
        {IDC_START_CAPTURE, true, {clickStart}},
        {IDC_STOP_CAPTURE, false, {}},
        {IDC_STOP_CAPTURE, true, {}}};
    for (const auto& [button, manualCapture, texts] : cases) {
        SCOPED_TRACE(Format("button %d, manual capture %d", button, manualCapture));
        recorded.boxes.clear();
        bool released = false;
        Inspect([&](QWidget*) {
            if (manualCapture)
                PressKey(Combo(dlg, IDC_COMBO_MANUAL_CAPTURE), Qt::Key_Down);
            Button(dlg, button)->click();
            released = !Button(dlg, button)->isChecked();
        });
        EXPECT_TRUE(released);
        EXPECT_EQ(Shown(recorded.boxes), texts);
        EXPECT_EQ(dlg.m_bCapturing + dlg.m_bCaptureStopped + dlg.m_bRunning, 0);
    }
}

QAbstractButton* ButtonWithText(QWidget* window, const QString& text)
{
    for (auto* button : window->findChildren<QAbstractButton*>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

Strings LabelTexts(QWidget* window)
{
    Strings texts;
    for (const QLabel* label : window->findChildren<QLabel*>()) {
        if (!label->text().isEmpty())
            texts.push_back(label->text().toStdString());
    }
    return texts;
}

TEST_F(DialogTest, ContextMenuOpensTheAboutBoxAndItsDevelopersMessage)
{
    Strings menu, aboutTexts;
    QString aboutTitle;
    QSize iconSize;
    HWND aboutWindow = nullptr;
    bool mainUsableAgain = false;
    Inspect([&](QWidget* window) {
        WhenMenuShows([&](QMenu* popup) {
            for (const QAction* action : popup->actions())
                menu.push_back(action->isSeparator() ? "-" : action->text().toStdString());
            WhenModalShows([&](QWidget* about) {
                aboutWindow = about;
                aboutTitle = about->windowTitle();
                aboutTexts = LabelTexts(about);
                for (const QLabel* label : about->findChildren<QLabel*>()) {
                    if (!label->pixmap().isNull())
                        iconSize = label->pixmap().size();
                }
                ButtonWithText(about, "Developers")->click();
                ButtonWithText(about, "OK")->click();
            }, window);
            ChooseMenuItem(popup, "&About Quorvex...");
        });
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(5, 5), window->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(window, &rightClick);
        mainUsableAgain = QApplication::activeModalWidget() == window && window->isEnabled();
    });

    EXPECT_EQ(menu, (Strings{"&Close", "-", "&About Quorvex..."}));
    EXPECT_EQ(aboutTitle, "About Quorvex");
    EXPECT_EQ(aboutTexts, (Strings{"Quorvex Version 1.1", "Measures how much parallelism\na program really uses."}));
    EXPECT_EQ(iconSize, QSize(32, 32));
    EXPECT_EQ(Shown(recorded.boxes), Strings{"[Developers] Release 1.0:\nMira Haldane, Tomas Ekberg\n\n"
                                             "Release 1.1:\nMira Haldane, Priya Natarajan, Jonas Feld"});
    EXPECT_EQ(recorded.boxes.at(0).owner, aboutWindow);
    EXPECT_TRUE(mainUsableAgain);
}

// Only the low four bits of a system command are its own: the About entry's
// code with them set, the next code, and Close with them set.
TEST_F(DialogTest, SystemCommandsOpenTheAboutBoxForItsEntryElseDoTheDefault)
{
    for (const auto& [command, opensAbout, result] :
         {std::tuple{0x001Fu, true, IDOK}, std::tuple{0x0020u, false, IDOK}, std::tuple{0xF062u, false, IDCANCEL}}) {
        SCOPED_TRACE(command);
        bool aboutShown = false;
        EXPECT_EQ(Open([&, command = command, opensAbout = opensAbout](QWidget* window) {
                      if (opensAbout) {
                          WhenModalShows([&](QWidget* about) {
                              aboutShown = about->windowTitle() == "About Quorvex";
                              PressKey(about, Qt::Key_Escape);
                          }, window);
                      }
                      dlg.OnSysCommandMessage(command);
                      if (window->isVisible())
                          PressKey(window, Qt::Key_Return);
                  }),
                  result);
        EXPECT_EQ(aboutShown, opensAbout);
    }
}

// The window as its own painting leaves it, without its controls.
QImage PaintedBackground(QWidget* window)
{
    QImage image(window->size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    window->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    return image;
}

TEST_F(DialogTest, WindowCarriesItsIconAndPaintsItCentredWhileMinimised)
{
    QList<QSize> sizes;
    INT_PTR dragIcon = 0;
    QImage normal, minimised, icon;
    Inspect([&](QWidget* window) {
        sizes = window->windowIcon().availableSizes();
        dlg.OnWndMsg(WM_QUERYDRAGICON, 0, 0, 0, &dragIcon);
        icon = window->windowIcon().pixmap(32).toImage();
        normal = PaintedBackground(window);
        window->setWindowState(Qt::WindowMinimized);
        minimised = PaintedBackground(window);
        window->setWindowState(Qt::WindowNoState);
    });

    std::sort(sizes.begin(), sizes.end(), [](QSize a, QSize b) { return a.width() < b.width(); });
    EXPECT_EQ(sizes, (QList<QSize>{{16, 16}, {32, 32}, {48, 48}}));
    EXPECT_EQ(dragIcon, IDR_MAINFRAME);
    const QRect centre((minimised.width() - 32 + 1) / 2, (minimised.height() - 32 + 1) / 2, 32, 32);
    QImage expected = normal.copy(centre);
    QPainter(&expected).drawImage(0, 0, icon);
    EXPECT_TRUE(minimised.copy(centre) == expected);
    EXPECT_FALSE(normal.copy(centre) == expected) << "no icon while not minimised";
    EXPECT_EQ(minimised.pixel(centre.topLeft() - QPoint(2, 2)), normal.pixel(2, 2)) << "nothing drawn around the icon";
}

TEST_F(DialogTest, HelpButtonShowsTheHelpPageInstalledBesideTheProgram)
{
    CQuorvexApp app(recorded);
    app.m_pszHelpFilePath = QUORVEX_BIN ".html";
    app.m_pMainWnd = &dlg;
    bool helpButtonShown = false;
    QString title, page;
    Strings labels;
    Inspect([&](QWidget* window) {
        helpButtonShown = Control(dlg, ID_HELP)->isVisible();
        WhenModalShows([&](QWidget* help) {
            title = help->windowTitle();
            page = help->findChild<QTextBrowser*>()->toPlainText();
            labels = LabelTexts(help);
            help->close();
        }, window);
        Button(dlg, ID_HELP)->click();
    });
    app.m_pMainWnd = nullptr;

    EXPECT_TRUE(helpButtonShown) << "the application handles help";
    EXPECT_TRUE(title.endsWith(" Help"));
    for (const char* topic : {"Dialog mode", "Console mode", "Parallel Time (%)"})
        EXPECT_TRUE(page.contains(topic)) << topic;
    EXPECT_EQ(labels, Strings{"Quorvex 1.0 (Quorvex.exe, file version 1.0, internal name Quorvex.exe)"});
    EXPECT_TRUE(recorded.boxes.empty());
}

TEST_F(DialogTest, MissingHelpPageIsReported)
{
    CQuorvexApp app(recorded);
    app.m_pszHelpFilePath = "/nonexistent/quorvex.html";
    Inspect([&](QWidget*) { Button(dlg, ID_HELP)->click(); });

    EXPECT_EQ(Shown(recorded.boxes),
              Strings{"[" + app.m_pszAppName.str() + "] Cannot open the help page /nonexistent/quorvex.html."});
}

// The settings are read from their texts: the number at the start.
TEST(LeadingNumber, ReadsTheNumberAtTheStart)
{
    const std::pair<const char*, int> cases[] = {{"  30", 30}, {"\t7x", 7},  {"-5", -5},
                                                 {"+12", 12},  {"abc", 0},   {"- 5", 0},
                                                 {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(LeadingNumber(text), value) << '"' << text << '"';
}

} // namespace
