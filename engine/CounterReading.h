#pragma once
// Reading a counter's value the way both runs do.

#include "Pdh.h"

inline bool ReadCounterValue(PDH_HCOUNTER counter, double& value)
{
    PDH_FMT_COUNTERVALUE formatted;
    if (PdhGetFormattedCounterValue(counter, PDH_FMT_DOUBLE, nullptr, &formatted) != ERROR_SUCCESS)
        return false;
    value = formatted.doubleValue;
    return true;
}
