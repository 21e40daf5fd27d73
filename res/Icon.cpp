// Icon 128, the application icon: lanes of thread activity on a dark tile.
// XPM images, one per size.

#include "Resource.h"
#include "Resources.h"

namespace {

// The eight colours every size uses.
#define ICON_PALETTE \
    "  c None", "r c #5b7fa8", "b c #1d3557", "t c #34506f", "g c #2ec4b6", "a c #ffb703", "c c #f4845f", \
        "l c #8ecae6",

const char* const kIcon48[] = {
    "48 48 8 1",
    ICON_PALETTE
    "     rrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrr     ",
    "   rrbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbrr   ",
    "  rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr  ",
    " rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr ",
    " rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr ",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbggggggggggggggggggggggggggggggggggbbbbbbr",
    "rbbbbbbggggggggggggggggggggggggggggggggggbbbbbbr",
    "rbbbbbbggggggggggggggggggggggggggggggggggbbbbbbr",
    "rbbbbbbggggggggggggggggggggggggggggggggggbbbbbbr",
    "rbbbbbbggggggggggggggggggggggggggggggggggbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbttttttllllllllllllllllllllltttttttbbbbbbr",
    "rbbbbbbttttttllllllllllllllllllllltttttttbbbbbbr",
    "rbbbbbbttttttllllllllllllllllllllltttttttbbbbbbr",
    "rbbbbbbttttttllllllllllllllllllllltttttttbbbbbbr",
    "rbbbbbbttttttllllllllllllllllllllltttttttbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbttttttttttttaaaaaaaaaaaaaaaaaaaaaabbbbbbr",
    "rbbbbbbttttttttttttaaaaaaaaaaaaaaaaaaaaaabbbbbbr",
    "rbbbbbbttttttttttttaaaaaaaaaaaaaaaaaaaaaabbbbbbr",
    "rbbbbbbttttttttttttaaaaaaaaaaaaaaaaaaaaaabbbbbbr",
    "rbbbbbbttttttttttttaaaaaaaaaaaaaaaaaaaaaabbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbccccccccccctttttttccccccccccctttttbbbbbbr",
    "rbbbbbbccccccccccctttttttccccccccccctttttbbbbbbr",
    "rbbbbbbccccccccccctttttttccccccccccctttttbbbbbbr",
    "rbbbbbbccccccccccctttttttccccccccccctttttbbbbbbr",
    "rbbbbbbccccccccccctttttttccccccccccctttttbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    " rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr ",
    " rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr ",
    "  rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr  ",
    "   rrbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbrr   ",
    "     rrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrrr     ",
};

const char* const kIcon32[] = {
    "32 32 8 1",
    ICON_PALETTE
    "   rrrrrrrrrrrrrrrrrrrrrrrrrr   ",
    " rrbbbbbbbbbbbbbbbbbbbbbbbbbbrr ",
    " rbbbbbbbbbbbbbbbbbbbbbbbbbbbbr ",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbggggggggggggggggggggggbbbbr",
    "rbbbbggggggggggggggggggggggbbbbr",
    "rbbbbggggggggggggggggggggggbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbttttllllllllllllllttttbbbbr",
    "rbbbbttttllllllllllllllttttbbbbr",
    "rbbbbttttllllllllllllllttttbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbttttttttaaaaaaaaaaaaaabbbbr",
    "rbbbbttttttttaaaaaaaaaaaaaabbbbr",
    "rbbbbttttttttaaaaaaaaaaaaaabbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbccccccctttttccccccctttbbbbr",
    "rbbbbccccccctttttccccccctttbbbbr",
    "rbbbbccccccctttttccccccctttbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbr",
    " rbbbbbbbbbbbbbbbbbbbbbbbbbbbbr ",
    " rrbbbbbbbbbbbbbbbbbbbbbbbbbbrr ",
    "   rrrrrrrrrrrrrrrrrrrrrrrrrr   ",
};

const char* const kIcon16[] = {
    "16 16 8 1",
    ICON_PALETTE
    " rrrrrrrrrrrrrr ",
    "rrbbbbbbbbbbbbrr",
    "rbbbbbbbbbbbbbbr",
    "rbbggggggggggbbr",
    "rbbggggggggggbbr",
    "rbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbr",
    "rbbttllllllttbbr",
    "rbbttllllllttbbr",
    "rbbbbbbbbbbbbbbr",
    "rbbbbbbbbbbbbbbr",
    "rbbcccctaaaaabbr",
    "rbbcccctaaaaabbr",
    "rbbbbbbbbbbbbbbr",
    "rrbbbbbbbbbbbbrr",
    " rrrrrrrrrrrrrr ",
};
const IconImage kMainIcon[] = {{48, kIcon48}, {32, kIcon32}, {16, kIcon16}};

} // namespace

std::span<const IconImage> AfxFindIconImages(HICON icon)
{
    if (icon == IDR_MAINFRAME)
        return kMainIcon;
    return {};
}
