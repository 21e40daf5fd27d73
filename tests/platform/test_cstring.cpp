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
    CString path = "dir/prog.exe";
    EXPECT_EQ(path.Find('x', 10), 10);
    EXPECT_EQ(path.Find('x', 11), -1);
    EXPECT_EQ(path.Find('x', 50), -1);
    EXPECT_STREQ(path.Left(100), "dir/prog.exe");
    EXPECT_STREQ(path.Mid(99), "");
    EXPECT_EQ(path.Delete(50, 1), 12);
    EXPECT_EQ(path.Delete(8, 50), 8);
}

} // namespace
