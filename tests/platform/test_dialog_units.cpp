#include "DialogUnits.h"

#include <gtest/gtest.h>

namespace {

TEST(DialogUnits, AverageWidthIsHalfTheLetterWidthRounded)
{
    EXPECT_EQ(AverageCharWidth(312), 6);  // 312 / 26 = 12 -> 6
    EXPECT_EQ(AverageCharWidth(338), 7);  // 13 rounds up to 7
    EXPECT_EQ(AverageCharWidth(337), 6);  // 12.96 truncates to 12 first
}

struct MapCase {
    int x, y, cx, cy;
    DialogBaseUnits units;
    PixelRect pixels;
};

void PrintTo(const MapCase& c, std::ostream* os)
{
    *os << c.x << ',' << c.y << ',' << c.cx << ',' << c.cy << " at " << c.units.cx << 'x' << c.units.cy;
}

class MapDialogRectTest : public testing::TestWithParam<MapCase> {};

TEST_P(MapDialogRectTest, ScalesAndRoundsToNearest)
{
    const MapCase& c = GetParam();
    EXPECT_EQ(MapDialogRect(c.x, c.y, c.cx, c.cy, c.units), c.pixels);
}

INSTANTIATE_TEST_SUITE_P(
    Rects, MapDialogRectTest,
    testing::Values(MapCase{0, 0, 548, 274, {6, 13}, {0, 0, 822, 445}},      // 445.25 -> 445
                    MapCase{490, 251, 50, 16, {6, 13}, {735, 408, 75, 26}},  // 407.875 -> 408
                    MapCase{1, 1, 1, 1, {6, 13}, {2, 2, 2, 2}},              // 1.5 and 1.625 round up
                    MapCase{15, 17, 76, 14, {7, 16}, {26, 34, 133, 28}}));   // 26.25, 133

TEST(DialogUnits, DroppedDownListShowsWholeItemsBelowTheClosedBox)
{
    EXPECT_EQ(DropDownVisibleItems(137, 22, 13), 8);   // the setting lists: 84 units at 13 pixels
    EXPECT_EQ(DropDownVisibleItems(35, 22, 13), 1);    // exactly one item
    EXPECT_EQ(DropDownVisibleItems(30, 22, 13), 1);    // never fewer than one
    EXPECT_EQ(DropDownVisibleItems(137, 22, 0), 1);
}

} // namespace
