#include "RunResults.h"

CString PercentText(double value)
{
    CString text;
    text.Format("%6.2f", value);
    return text;
}

CString ThreadCountText(double value)
{
    CString text;
    text.Format("%3.0f", value);
    return text;
}
