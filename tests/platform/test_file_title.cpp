#include "FileDialog.h"

#include <gtest/gtest.h>

namespace {

TEST(FileTitleOf, IsTheNameWithoutFolderAndTrailingExe)
{
    const std::pair<const char*, const char*> rows[] = {
        {"/opt/demo/a.b.exe", "a.b"}, {"/usr/bin/python3.11", "python3.11"}, {"/opt/tool.EXE", "tool.EXE"},
        {"/opt/tool.exe.gz", "tool.exe.gz"}, {"/opt/.exe", ".exe"}, {"relative.exe", "relative"}, {"/opt/dir.exe/", ""},
    };
    for (const auto& [path, title] : rows)
        EXPECT_EQ(FileTitleOf(path), title) << path;
}

} // namespace
