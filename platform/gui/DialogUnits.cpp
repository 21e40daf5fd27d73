#include "DialogUnits.h"

#include <algorithm>

namespace {

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c)
{
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

} // namespace

int AverageCharWidth(int widthOfAlphabet)
{
    return (widthOfAlphabet / 26 + 1) / 2;
}

PixelRect MapDialogRect(int x, int y, int cx, int cy, DialogBaseUnits units)
{
    return {MulDiv(x, units.cx, 4), MulDiv(y, units.cy, 8), MulDiv(cx, units.cx, 4), MulDiv(cy, units.cy, 8)};
}

int DropDownVisibleItems(int listHeight, int closedHeight, int itemHeight)
{
    if (itemHeight <= 0)
        return 1;
    return std::max(1, (listHeight - closedHeight) / itemHeight);
}
