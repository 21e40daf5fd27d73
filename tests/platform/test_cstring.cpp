#include "CString.h"

#include <gtest/gtest.h>

namespace {

TEST(CString, FormatsThroughPrintf)
{
    CString text;
    text.Format("%6.2f|%3.0f|%8d|%.20g|%%", 7.5, 2.5, 42, 98.4375);
    EXPECT_STREQ(text, "  7.50|  2|      42|98.4375|%");
    text.AppendFormat("%s", std::string(5000, 'x').c_str());
    EXPECT_EQ(text.GetLength(), 29 + 5000);
}

TEST(CString, TrimsEveryWhiteSpaceCharacter)
{
    CString text = " \t\n\v\f\r a b \t\n\v\f\r ";
    text.TrimLeft();
    EXPECT_STREQ(text, "a b \t\n\v\f\r ");
    text.TrimRight();
    EXPECT_STREQ(text, "a b");
}

TEST(CString, CutsAndSearchesWithinBounds)
{
    const CString path = "dir/sub/prog.exe";
    EXPECT_EQ(path.ReverseFind('/'), 7);
    EXPECT_STREQ(path.Mid(path.ReverseFind('/') + 1), "prog.exe");
    EXPECT_EQ(path.Find(".exe"), 12);
    EXPECT_EQ(path.Find('x', 14), 14);
    EXPECT_EQ(path.Find('x', 15), -1);
    EXPECT_STREQ(path.Left(100), "dir/sub/prog.exe");
    EXPECT_STREQ(path.Mid(99), "");
    CString cut = path;
    cut.Delete(12, 4);
    EXPECT_STREQ(cut, "dir/sub/prog");
    EXPECT_EQ(cut.Delete(50, 1), 12);
}

} // namespace
