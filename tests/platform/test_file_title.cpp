#include "FileDialog.h"

#include <gtest/gtest.h>

namespace {

struct TitleCase {
    const char* path;
    const char* title;
};

void PrintTo(const TitleCase& c, std::ostream* os)
{
    *os << c.path;
}

class FileTitleTest : public testing::TestWithParam<TitleCase> {};

TEST_P(FileTitleTest, IsTheNameWithoutFolderAndTrailingExe)
{
    EXPECT_EQ(FileTitleOf(GetParam().path), GetParam().title);
}

INSTANTIATE_TEST_SUITE_P(Paths, FileTitleTest,
                         testing::Values(TitleCase{"/opt/demo/demo.exe", "demo"},
                                         TitleCase{"/opt/demo/a.b.exe", "a.b"},
                                         TitleCase{"/usr/bin/xz", "xz"},
                                         TitleCase{"/usr/bin/python3.11", "python3.11"},
                                         TitleCase{"/opt/Quorvex.exe", "Quorvex"},
                                         TitleCase{"/opt/tool.EXE", "tool.EXE"},
                                         TitleCase{"/opt/tool.exe.gz", "tool.exe.gz"},
                                         TitleCase{"/opt/.exe", ".exe"},
                                         TitleCase{"relative.exe", "relative"},
                                         TitleCase{"/opt/dir.exe/", ""}));

} // namespace
