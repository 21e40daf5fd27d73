// The build installed into a scratch prefix, and run from there as a user
// runs it.

#include "ConsoleText.h"
#include "RunProgram.h"
#include "ScratchFolder.h"
#include "WinApp.h"

#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

namespace {

std::vector<std::string> SortedFilesIn(const std::string& folder)
{
    std::vector<std::string> names = FilesIn(folder);
    std::sort(names.begin(), names.end());
    return names;
}

class InstalledTree : public testing::Test {
protected:
    void SetUp() override
    {
        const ProgramResult install =
            RunProgram(QUORVEX_CMAKE, {"--install", QUORVEX_BUILD_DIR, "--prefix", m_prefix.Path()});
        ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
    }

    std::string Installed(const std::string& path) const { return m_prefix.Path() + "/" + path; }

private:
    ScratchFolder m_prefix;
};

TEST_F(InstalledTree, ConsoleRunsAndFindsTheDemoBesideItself)
{
    const ProgramResult usage = RunProgram(Installed("bin/quorvex"), {"-h"});
    EXPECT_TRUE(std::regex_match(
        usage.out, std::regex(RegexLiteral(kBanner + kUsage) + SystemReportPattern() + RegexLiteral(kPrompt))))
        << usage.out;
    EXPECT_EQ(usage.exitCode, 0);

    const ProgramResult run =
        RunProgram(Installed("bin/quorvex"), {"-app", "quorvex-demo", "--phases", "1", "--phase-ms", "200"});
    EXPECT_EQ(run.err.find("Error starting"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("Application Name:quorvex-demo\n"), std::string::npos) << run.out;
    // Found and started, but ended before the first sample: no figures.
    EXPECT_NE(run.err.find("quorvex: quorvex-demo exited after "), std::string::npos) << run.err;
    EXPECT_EQ(run.exitCode, 1);
}

TEST_F(InstalledTree, StatRunsACommand)
{
    if (!QUORVEX_STAT_BUILT)
        GTEST_SKIP() << "quorvex-stat is not built";
    const ProgramResult result = RunProgram(Installed("bin/quorvex-stat"), {"true"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_FALSE(result.err.empty());
}

TEST_F(InstalledTree, HelpPageIsFoundInTheDocFolderBesideTheBinFolder)
{
    EXPECT_EQ(HelpPagePath(Installed("bin/quorvex").c_str()).str(), Installed("share/doc/quorvex/quorvex.html"));
    // The build tree keeps it beside the program; with no page anywhere, the
    // message names the place beside the program.
    EXPECT_EQ(HelpPagePath(QUORVEX_BIN).str(), QUORVEX_BIN ".html");
    EXPECT_EQ(HelpPagePath(Installed("bin/quorvex-demo").c_str()).str(), Installed("bin/quorvex-demo.html"));
}

TEST_F(InstalledTree, ManPagesAndDesktopEntryPassTheirCheckers)
{
    std::vector<std::string> pages{"quorvex-demo.1.gz", "quorvex.1.gz"};
    if (QUORVEX_STAT_BUILT)
        pages.insert(pages.begin() + 1, "quorvex-stat.1.gz");
    ASSERT_EQ(SortedFilesIn(Installed("share/man/man1")), pages);
    for (const std::string& page : pages) {
        const ProgramResult check = RunProgram("man", {"--warnings", "-l", Installed("share/man/man1/" + page)},
                                               {.env = {{"MANWIDTH", "80"}, {"MANPAGER", "cat"}}});
        EXPECT_EQ(check.exitCode, 0) << page;
        EXPECT_EQ(check.err, "") << page;
    }
    const ProgramResult desktop = RunProgram("desktop-file-validate", {Installed("share/applications/quorvex.desktop")});
    EXPECT_EQ(desktop.exitCode, 0);
    EXPECT_EQ(desktop.out + desktop.err, "");
}

TEST_F(InstalledTree, IconIsInstalledAtEachSizeItsFolderNames)
{
    const std::vector<std::string> folders{"16x16", "22x22", "24x24", "32x32", "48x48"};
    ASSERT_EQ(SortedFilesIn(Installed("share/icons/hicolor")), folders);
    for (const std::string& folder : folders) {
        const int size = std::stoi(folder);
        const QImage icon(QString::fromStdString(Installed("share/icons/hicolor/" + folder + "/apps/quorvex.png")));
        EXPECT_EQ(icon.size(), QSize(size, size)) << folder;
    }
}

} // namespace
