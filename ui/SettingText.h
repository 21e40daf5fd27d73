#pragma once
// Settings are held as text; the run reads the number at their start.

// Leading white space skipped, an optional sign, then the digits up to the
// first other character; 0 when there are none. Beyond the range of int the
// value is the nearest end of the range.
int LeadingNumber(const char* text);
