#pragma once

#include <string>

// printf into a std::string: every figure of every output goes through the
// C printf family, so a format says exactly what is printed.
[[gnu::format(printf, 2, 3)]] void Appendf(std::string& text, const char* format, ...);
