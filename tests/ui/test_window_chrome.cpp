// What surrounds the measurement: the About box reached from the context
// menu, system commands, the window icons, the icon painted while minimised,
// and the help window.

#include "DialogDriver.h"
#include "QuorvexApp.h"
#include "QuorvexDlg.h"

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QIcon>
#include <QTextBrowser>

#include <gtest/gtest.h>

namespace {

class ChromeTest : public testing::Test {
protected:
    INT_PTR Run(std::function<void(QWidget*)> act)
    {
        WhenModalShows(std::move(act));
        return dlg.DoModal();
    }

    GuiSessionForTest session;
    RecordedBoxes recorded;
    CQuorvexDlg dlg{nullptr};
};

QAbstractButton* ButtonWithText(QWidget* window, const QString& text)
{
    for (auto* button : window->findChildren<QAbstractButton*>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

std::vector<std::string> LabelTexts(QWidget* window)
{
    std::vector<std::string> texts;
    for (const QLabel* label : window->findChildren<QLabel*>()) {
        if (!label->text().isEmpty())
            texts.push_back(label->text().toStdString());
    }
    return texts;
}

TEST_F(ChromeTest, ContextMenuOpensTheAboutBoxAndItsDevelopersMessage)
{
    std::vector<std::string> menu, aboutTexts;
    QString aboutTitle;
    QSize iconSize;
    HWND aboutWindow = nullptr;
    bool mainUsableAgain = false;

    const INT_PTR result = Run([&](QWidget* window) {
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
        PressKey(window, Qt::Key_Escape);
    });

    EXPECT_EQ(menu, (std::vector<std::string>{"&Close", "-", "&About Quorvex..."}));
    EXPECT_EQ(aboutTitle, "About Quorvex");
    EXPECT_EQ(aboutTexts,
              (std::vector<std::string>{"Quorvex Version 1.1", "Measures how much parallelism\na program really uses."}));
    EXPECT_EQ(iconSize, QSize(32, 32));
    ASSERT_EQ(recorded.boxes.size(), 1u);
    EXPECT_EQ(recorded.boxes[0].caption, "Developers");
    EXPECT_EQ(recorded.boxes[0].text,
              "Release 1.0:\nMira Haldane, Tomas Ekberg\n\nRelease 1.1:\nMira Haldane, Priya Natarajan, Jonas Feld");
    EXPECT_EQ(recorded.boxes[0].owner, aboutWindow);
    EXPECT_TRUE(mainUsableAgain);
    EXPECT_EQ(result, IDCANCEL);
}

struct SysCommandCase {
    const char* name;
    UINT command;
    bool opensAbout;
    bool closes;
};

void PrintTo(const SysCommandCase& c, std::ostream* os)
{
    *os << c.name;
}

class SysCommandTest : public ChromeTest, public testing::WithParamInterface<SysCommandCase> {};

TEST_P(SysCommandTest, AboutForItsEntryElseTheFrameworksDefault)
{
    const SysCommandCase& c = GetParam();
    bool aboutShown = false, stillOpen = false;
    const INT_PTR result = Run([&](QWidget* window) {
        // Any other command returns at once; an About box here would be
        // left open until the watchdog ends the test.
        if (c.opensAbout) {
            WhenModalShows([&](QWidget* about) {
                aboutShown = about->windowTitle() == "About Quorvex";
                PressKey(about, Qt::Key_Escape);
            }, window);
        }
        dlg.OnSysCommandMessage(c.command);
        stillOpen = window->isVisible();
        if (stillOpen)
            PressKey(window, Qt::Key_Return);
    });

    EXPECT_EQ(aboutShown, c.opensAbout);
    EXPECT_EQ(stillOpen, !c.closes);
    EXPECT_EQ(result, c.closes ? IDCANCEL : IDOK);
}

INSTANTIATE_TEST_SUITE_P(Commands, SysCommandTest,
                         testing::Values(SysCommandCase{"About", 0x0010, true, false},
                                         SysCommandCase{"AboutWithLowBitsSet", 0x001F, true, false},
                                         SysCommandCase{"NextCommand", 0x0020, false, false},
                                         SysCommandCase{"Close", 0xF060, false, true},
                                         SysCommandCase{"CloseWithLowBitsSet", 0xF062, false, true}),
                         [](const testing::TestParamInfo<SysCommandCase>& info) { return info.param.name; });

TEST_F(ChromeTest, WindowCarriesTheIconInThreeSizesAndHandsItForDragging)
{
    QList<QSize> sizes;
    INT_PTR dragIcon = 0;
    Run([&](QWidget* window) {
        sizes = window->windowIcon().availableSizes();
        dlg.OnWndMsg(WM_QUERYDRAGICON, 0, 0, 0, &dragIcon);
        PressKey(window, Qt::Key_Escape);
    });

    EXPECT_EQ(sizes.size(), 3);
    for (int size : {16, 32, 48})
        EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;
    EXPECT_EQ(dragIcon, IDR_MAINFRAME);
}

// The window as its own painting leaves it, without its controls.
QImage PaintedBackground(QWidget* window)
{
    QImage image(window->size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    window->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    return image;
}

TEST_F(ChromeTest, PaintsTheIconCentredWhileMinimised)
{
    QImage normal, minimised, icon;
    Run([&](QWidget* window) {
        icon = window->windowIcon().pixmap(32).toImage();
        normal = PaintedBackground(window);
        window->setWindowState(Qt::WindowMinimized);
        minimised = PaintedBackground(window);
        window->setWindowState(Qt::WindowNoState);
        PressKey(window, Qt::Key_Escape);
    });

    ASSERT_EQ(icon.size(), QSize(32, 32));
    const int x = (minimised.width() - 32 + 1) / 2;
    const int y = (minimised.height() - 32 + 1) / 2;
    int opaque = 0;
    for (int dy = 0; dy < 32; ++dy) {
        for (int dx = 0; dx < 32; ++dx) {
            if (qAlpha(icon.pixel(dx, dy)) == 255) {
                ++opaque;
                EXPECT_EQ(minimised.pixel(x + dx, y + dy), icon.pixel(dx, dy)) << dx << ',' << dy;
            }
        }
    }
    EXPECT_GT(opaque, 32 * 32 / 2);
    const QRgb background = normal.pixel(2, 2);
    EXPECT_EQ(minimised.pixel(x - 2, y - 2), background) << "nothing drawn around the icon";
    EXPECT_EQ(normal.pixel(x + 16, y + 16), background) << "no icon while not minimised";
}

TEST_F(ChromeTest, HelpButtonShowsTheHelpPageInstalledBesideTheProgram)
{
    CQuorvexApp app;
    app.m_pszHelpFilePath = QUORVEX_BIN ".html";
    app.m_pMainWnd = &dlg;
    QString title, page;
    std::vector<std::string> labels;
    Run([&](QWidget* window) {
        WhenModalShows([&](QWidget* help) {
            title = help->windowTitle();
            page = help->findChild<QTextBrowser*>()->toPlainText();
            labels = LabelTexts(help);
            help->close();
        }, window);
        Button(dlg, ID_HELP)->click();
        PressKey(window, Qt::Key_Escape);
    });
    app.m_pMainWnd = nullptr;

    EXPECT_TRUE(title.endsWith(" Help"));
    for (const char* topic : {"Dialog mode", "Console mode", "The figures", "-app appname params",
                              "The program is looked for relative to Quorvex's own folder", "Parallel Time (%)"})
        EXPECT_TRUE(page.contains(topic)) << topic;
    EXPECT_EQ(labels, (std::vector<std::string>{"Quorvex 1.0 (Quorvex.exe, file version 1.0, internal name Quorvex.exe)"}));
    EXPECT_TRUE(recorded.boxes.empty());
}

TEST_F(ChromeTest, MissingHelpPageIsReported)
{
    CQuorvexApp app;
    app.m_pszHelpFilePath = "/nonexistent/quorvex.html";
    Run([&](QWidget* window) {
        Button(dlg, ID_HELP)->click();
        PressKey(window, Qt::Key_Escape);
    });

    ASSERT_EQ(recorded.boxes.size(), 1u);
    EXPECT_EQ(recorded.boxes[0].text, "Cannot open the help page /nonexistent/quorvex.html.");
    EXPECT_EQ(recorded.boxes[0].caption, app.m_pszAppName.str());
}

} // namespace
