#pragma once
// Dialog units: a horizontal unit is a quarter of the dialog font's average
// character width, a vertical unit an eighth of its character height.

struct DialogBaseUnits {
    int cx;  // average character width in pixels
    int cy;  // character height in pixels
};

struct PixelRect {
    int x, y, width, height;
    bool operator==(const PixelRect&) const = default;
};

// The average width as Windows defines it: the width of the 52 letters
// A-Z a-z over 26, halved and rounded.
int AverageCharWidth(int widthOfAlphabet);

// Scales by the base units, rounding each coordinate to the nearest pixel.
PixelRect MapDialogRect(int x, int y, int cx, int cy, DialogBaseUnits units);

// How many items a dropped-down list shows: the list's height in the
// template less the closed box, in item heights; at least one.
int DropDownVisibleItems(int listHeight, int closedHeight, int itemHeight);
