#include "DialogUnits.h"

#include <gtest/gtest.h>

namespace {

TEST(DialogUnits, AverageWidthIsHalfTheLetterWidthRounded)
{
    EXPECT_EQ(AverageCharWidth(312), 6);  // 312 / 26 = 12 -> 6
    EXPECT_EQ(AverageCharWidth(338), 7);  // 13 rounds up to 7
    EXPECT_EQ(AverageCharWidth(337), 6);  // 12.96 truncates to 12 first
}

TEST(DialogUnits, MapDialogRectScalesAndRoundsToNearest)
{
    const DialogBaseUnits units{6, 13};
    EXPECT_EQ(MapDialogRect(0, 0, 548, 274, units), (PixelRect{0, 0, 822, 445}));      // 445.25 -> 445
    EXPECT_EQ(MapDialogRect(490, 251, 50, 16, units), (PixelRect{735, 408, 75, 26}));  // 407.875 -> 408
    EXPECT_EQ(MapDialogRect(1, 1, 1, 1, units), (PixelRect{2, 2, 2, 2}));              // 1.5 and 1.625 round up
}

TEST(DialogUnits, DroppedDownListShowsWholeItemsBelowTheClosedBox)
{
    EXPECT_EQ(DropDownVisibleItems(137, 22, 13), 8);  // the setting lists: 84 units at 13 pixels
    EXPECT_EQ(DropDownVisibleItems(35, 22, 13), 1);   // exactly one item
    EXPECT_EQ(DropDownVisibleItems(30, 22, 13), 1);   // never fewer than one
    EXPECT_EQ(DropDownVisibleItems(137, 22, 0), 1);
}

} // namespace
