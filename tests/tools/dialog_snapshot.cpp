// dialog_snapshot: shows the real main dialog on the display it is given
// (run it under xvfb-run) and saves what the screen shows to a PNG file, for
// a person to look at.
//
//   dialog_snapshot OUTPUT.png [--figures] [--drop-down ID] [--about]
//
// --figures fills the result fields and lists with values in the engine's
// formats, --drop-down opens the list with that control id, --about opens
// the About box over the dialog.

#include "QuorvexApp.h"
#include "QuorvexDlg.h"

#include <QApplication>
#include <QComboBox>
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
        else if (std::strcmp(argv[i], "--drop-down") == 0 && i + 1 < argc)
            options.dropDown = std::atoi(argv[++i]);
        else
            options.output = argv[i];
    }
    if (options.output.empty()) {
        std::fprintf(stderr, "usage: dialog_snapshot OUTPUT.png [--figures] [--drop-down ID] [--about]\n");
        return 2;
    }

    QApplication qt(argc, argv);
    CQuorvexApp app;
    CQuorvexDlg dlg(nullptr);
    app.m_pMainWnd = &dlg;
    bool saved = false;
    WhenShown([&](QWidget* window) {
        window->move(20, 20);
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
