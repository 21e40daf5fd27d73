// The target chooser, driven through the real file dialog.

#include "DialogDriver.h"
#include "FileDialog.h"
#include "ScratchFolder.h"

#include <QAbstractButton>
#include <QAbstractProxyModel>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace {

std::string OwnTitle()
{
    return FileTitleOf(fs::read_symlink("/proc/self/exe").c_str()).str();
}

bool WaitUntil(const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// The names the file dialog lists in its current folder.
std::set<std::string> Listed(QFileDialog* dialog)
{
    auto* files = dialog->findChild<QFileSystemModel*>();
    QAbstractProxyModel* proxy = dialog->proxyModel();
    const QModelIndex folder = proxy->mapFromSource(files->index(dialog->directory().absolutePath()));
    std::set<std::string> names;
    for (int row = 0; row < proxy->rowCount(folder); ++row)
        names.insert(proxy->index(row, 0, folder).data().toString().toStdString());
    return names;
}

// The chooser's folder holds executables with and without ".exe", this
// program under its Windows name and under its own, a file named ".exe"
// that is not executable, and a folder. The test starts in it.
class ChooserTest : public DialogTest {
protected:
    ChooserTest() : folder(scratch.Path()), startFolder(fs::current_path())
    {
        for (const std::string& name : {std::string("tool"), std::string("a.b.exe"), std::string("Quorvex.exe"),
                                        std::string("quorvex.exe"), OwnTitle()})
            scratch.AddScript(name, "");
        std::ofstream(folder / "notes.exe") << "text\n";
        fs::create_directory(folder / "sub");
        fs::current_path(folder);
    }

    ~ChooserTest() override { fs::current_path(startFolder); }

    // Opens the main dialog and uses the chooser once for each step; a step
    // works the file dialog.
    void UseChooser(std::vector<std::function<void(QFileDialog*)>> steps)
    {
        Inspect([this, steps](QWidget* window) {
            for (const auto& step : steps) {
                WhenFileDialogShows(step, window);
                Button(dlg, IDC_GET_APP_NAME)->click();
            }
            shownPath = Edit(dlg, IDC_EDIT_APP_PATH)->text().toStdString();
        });
    }

    static void WhenFileDialogShows(std::function<void(QFileDialog*)> act, const QWidget* except = nullptr)
    {
        WhenModalShows([act](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            act(dialog);
            if (dialog->isVisible())
                dialog->reject();
        }, except);
    }

    std::function<void(QFileDialog*)> Pick(const std::string& name)
    {
        // The user goes to the folder, waits for the dialog to list it, and
        // types the name.
        return [this, name](QFileDialog* dialog) {
            dialog->setDirectory(QString::fromStdString(folder.string()));
            EXPECT_TRUE(WaitUntil([&] { return Listed(dialog).contains(name); })) << name;
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(name));
            dialog->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Open)->click();
        };
    }

    ScratchFolder scratch;
    fs::path folder;
    fs::path startFolder;
    std::string shownPath;
};

TEST_F(ChooserTest, ListsExecutableFilesAndFoldersUnderItsTitle)
{
    std::set<std::string> listed;
    QString title, filter;
    UseChooser({[&](QFileDialog* dialog) {
        title = dialog->windowTitle();
        filter = dialog->findChild<QComboBox*>("fileTypeCombo")->currentText();
        WaitUntil([&] { return Listed(dialog).size() >= 6; });
        listed = Listed(dialog);
    }});

    EXPECT_EQ(title, "Application File Browser");
    EXPECT_EQ(filter, "Application (*.exe)");
    EXPECT_EQ(listed, (std::set<std::string>{"Quorvex.exe", "a.b.exe", "quorvex.exe", "sub", OwnTitle(), "tool"}));
}

struct ChoiceCase {
    const char* name;
    std::string file;         // empty: the user cancels
    const char* processName;  // null: the earlier choice stays
};

void PrintTo(const ChoiceCase& c, std::ostream* os)
{
    *os << c.name;
}

class ChoiceTest : public ChooserTest, public testing::WithParamInterface<ChoiceCase> {};

// Each case follows an earlier choice of "tool".
TEST_P(ChoiceTest, SetsTheTargetOrKeepsTheEarlierOne)
{
    const ChoiceCase& c = GetParam();
    UseChooser({Pick("tool"), c.file.empty() ? [](QFileDialog* dialog) { dialog->reject(); } : Pick(c.file)});

    const std::string chosen = (folder / (c.processName ? c.file : "tool")).string();
    EXPECT_EQ(dlg.m_strAppPath, chosen);
    EXPECT_EQ(shownPath, chosen);
    EXPECT_STREQ(dlg.m_szProcessName, c.processName ? c.processName : "tool");
    const bool refused = !c.processName && !c.file.empty();
    EXPECT_EQ(Shown(recorded.boxes), refused ? Strings{"[Error] Cannot choose itself to run"} : Strings{});
    if (refused) {
        EXPECT_NE(recorded.boxes.at(0).owner, nullptr);
    }
    // The chosen file's folder becomes the current folder; the log folder
    // stays where the dialog opened.
    EXPECT_EQ(fs::current_path(), folder);
    EXPECT_EQ(fs::path(dlg.m_szLogFolder), folder);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ChoiceTest,
    testing::Values(ChoiceCase{"OnlyTheLastExtensionGoes", "a.b.exe", "a.b"},
                    ChoiceCase{"OtherLetterCase", "quorvex.exe", "quorvex"},
                    ChoiceCase{"WindowsNameOfThisProgram", "Quorvex.exe", nullptr},
                    ChoiceCase{"FileNameOfThisProgram", OwnTitle(), nullptr},
                    ChoiceCase{"Cancelled", "", nullptr}),
    [](const testing::TestParamInfo<ChoiceCase>& info) { return info.param.name; });

TEST_F(ChooserTest, APathLongerThanTheBufferIsNotTaken)
{
    char buffer[8] = "keep";
    CFileDialog fileDlg(TRUE, nullptr, nullptr, OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR, "Application (*.exe)|*.exe||");
    fileDlg.m_ofn.lpstrFile = buffer;
    fileDlg.m_ofn.nMaxFile = sizeof buffer;
    WhenFileDialogShows(Pick("a.b.exe"));

    EXPECT_EQ(fileDlg.DoModal(), IDCANCEL);
    EXPECT_STREQ(buffer, "keep");
}

} // namespace
