// dialog_snapshot: shows the real main dialog on the display it is given
// (run it under xvfb-run) and saves what the screen shows to a PNG file, for
// a person to look at.
//
//   dialog_snapshot OUTPUT.png [--figures] [--drop-down ID] [--about]
//                   [--measure PROGRAM [--params TEXT] [--rate MS] [--log]]
//
// --figures fills the result fields and lists with values in the engine's
// formats, --drop-down opens the list with that control id, --about opens
// the About box over the dialog. --measure first measures PROGRAM as a user
// would: it is chosen as the target, TEXT typed as its parameters, MS chosen
// as the sampling rate and, with --log, "Yes" under Generate Log File (the
// logs go to the current folder); then START is pressed. Every message box
// of the run is saved next to OUTPUT (OUTPUT-box1.png, ...), printed, and
// answered with OK.

#include "FileDialog.h"
#include "QuorvexApp.h"
#include "QuorvexDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Options {
    std::string output;
    bool figures = false;
    int dropDown = 0;
    bool about = false;
    std::string measure;
    std::string params;
    std::string rate = "100";
    bool log = false;
};

void FillFigures(CQuorvexDlg& dlg)
{
    const char* processor[][2] = {{"  1", nullptr}, {"  4", nullptr}, {"  8", nullptr}};
    CEdit* counts[] = {&dlg.m_editSockets, &dlg.m_editCores, &dlg.m_editLogicals};
    for (int i = 0; i < 3; ++i)
        counts[i]->SetWindowText(processor[i][0]);
    dlg.m_editMultiProcessor.SetWindowText("No");
    dlg.m_editMultiCore.SetWindowText("Yes");
    dlg.m_editSmt.SetWindowText("Enabled");
    dlg.m_editFrequency.SetWindowText("   2400");
    dlg.m_editProcessorInfo.SetWindowText("x86_64 Family 6 Model 85 Stepping 7 Intel(R) Xeon(R) Gold 6248 CPU @ 2.50GHz");
    dlg.m_editAppPath.SetWindowText("/usr/local/bin/quorvex-demo");
    dlg.m_editAppParams.SetWindowText("--phases 1,2,4 --sleepers 2");
    dlg.m_editCpuMin.SetWindowText("  0.00");
    dlg.m_editCpuAvg.SetWindowText("233.33");
    dlg.m_editCpuMax.SetWindowText("400.00");
    dlg.m_editElapsed.SetWindowText("4512");
    dlg.m_editParallelTime.SetWindowText(" 66.67");
    for (int thread = 0; thread < 7; ++thread) {
        CString row;
        row.Format("%3d%22.2f%16.2f%16.2f%16.2f", thread, thread < 5 ? 100.0 / (thread + 1) : 0.0, 0.0,
                   thread < 5 ? 98.5 / (thread + 1) : 0.0, thread < 5 ? 100.0 : 0.0);
        dlg.m_comboThreadTable.AddString(row);
    }
    dlg.m_comboThreadTable.SetCurSel(0);
    for (int level = 2; level <= 4; ++level) {
        CString row;
        row.Format("%3d               %9.2f", level, 100.0 / 3);
        dlg.m_comboConcurrency.AddString(row);
    }
    dlg.m_comboConcurrency.SetCurSel(0);
}

// What the screen shows around the program's visible windows.
bool SaveScreen(const std::string& path)
{
    QRect area;
    for (const QWidget* top : QApplication::topLevelWidgets()) {
        if (top->isVisible())
            area |= top->frameGeometry();
    }
    area.adjust(-8, -8, 8, 8);
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).save(QString::fromStdString(path), "PNG");
}

// Saves and answers each message box once it has had time to be drawn.
void AnswerMessageBoxes(const std::string& output)
{
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [output, seen = static_cast<QWidget*>(nullptr), count = 0]() mutable {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box != seen) {
            seen = box;
            return;
        }
        const std::string path = output.substr(0, output.rfind('.')) + "-box" + std::to_string(++count) + ".png";
        SaveScreen(path);
        std::printf("[%s] %s  (%s)\n", box->windowTitle().toLocal8Bit().constData(),
                    box->text().toLocal8Bit().constData(), path.c_str());
        std::fflush(stdout);
        seen = nullptr;
        box->button(QMessageBox::Ok)->click();
    });
    timer->start(300);
}

void SelectSetting(CComboBox& combo, const char* item)
{
    if (combo.SelectString(-1, item) == CB_ERR)
        std::fprintf(stderr, "dialog_snapshot: no item %s\n", item);
}

// Chooses the target and the settings as a user would, and presses START;
// returns when the run has.
void Measure(CQuorvexDlg& dlg, const Options& options)
{
    const CString title = FileTitleOf(options.measure.c_str());
    std::snprintf(dlg.m_szProcessName, sizeof dlg.m_szProcessName, "%s", title.GetString());
    dlg.m_strAppPath = options.measure.c_str();
    dlg.m_editAppPath.SetWindowText(dlg.m_strAppPath);
    dlg.m_editAppParams.SetWindowText(options.params.c_str());
    SelectSetting(dlg.m_comboSamplingRate, options.rate.c_str());
    dlg.OnCbnSelchangeSamplingRate();
    if (options.log) {
        SelectSetting(dlg.m_comboGenerateLog, "Yes");
        dlg.OnCbnSelchangeGenerateLog();
    }
    AnswerMessageBoxes(options.output);
    static_cast<QAbstractButton*>(dlg.GetDlgItem(IDC_START)->m_hWnd)->click();
}

void WhenShown(const std::function<void(QWidget*)>& act, QWidget* other = nullptr)
{
    QTimer::singleShot(300, [act, other] {
        QWidget* window = QApplication::activeModalWidget();
        if (window && window != other && window->isVisible())
            act(window);
        else
            WhenShown(act, other);
    });
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--figures") == 0)
            options.figures = true;
        else if (std::strcmp(argv[i], "--about") == 0)
            options.about = true;
        else if (std::strcmp(argv[i], "--log") == 0)
            options.log = true;
        else if (std::strcmp(argv[i], "--drop-down") == 0 && i + 1 < argc)
            options.dropDown = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--measure") == 0 && i + 1 < argc)
            options.measure = argv[++i];
        else if (std::strcmp(argv[i], "--params") == 0 && i + 1 < argc)
            options.params = argv[++i];
        else if (std::strcmp(argv[i], "--rate") == 0 && i + 1 < argc)
            options.rate = argv[++i];
        else
            options.output = argv[i];
    }
    if (options.output.empty()) {
        std::fprintf(stderr, "usage: dialog_snapshot OUTPUT.png [--figures] [--drop-down ID] [--about]\n"
                             "                       [--measure PROGRAM [--params TEXT] [--rate MS] [--log]]\n");
        return 2;
    }

    QApplication qt(argc, argv);
    CQuorvexApp app;
    CQuorvexDlg dlg(nullptr);
    app.m_pMainWnd = &dlg;
    bool saved = false;
    WhenShown([&](QWidget* window) {
        window->move(20, 20);
        if (!options.measure.empty())
            Measure(dlg, options);
        if (options.figures)
            FillFigures(dlg);
        if (options.dropDown)
            static_cast<QComboBox*>(dlg.GetDlgItem(options.dropDown)->m_hWnd)->showPopup();
        auto finish = [&, window] {
            QTimer::singleShot(500, [&, window] {
                saved = SaveScreen(options.output);
                for (QWidget* top : QApplication::topLevelWidgets()) {
                    if (top != window && top->isVisible())
                        top->close();
                }
                dlg.EndDialog(IDCANCEL);
            });
        };
        if (options.about) {
            WhenShown([&](QWidget* about) {
                about->move(300, 200);
                finish();
            }, window);
            dlg.OnSysCommandMessage(IDM_ABOUTBOX);
        } else {
            finish();
        }
    });
    dlg.DoModal();
    app.m_pMainWnd = nullptr;
    return saved ? 0 : 1;
}
