#include "QuorvexCommandLine.h"

void CQuorvexCommandLine::RunConsole()
{
    std::fputs("Quorvex 1.0\n\n", stdout);
    ParseOptions();

    std::fputs("\n\nPress Enter key to exit... ", stdout);
    std::fflush(stdout);
    std::getchar();
}
