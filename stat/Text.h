#pragma once

#include <string>

// printf into a std::string: every figure of every output goes through the
// C printf family, so a format says exactly what is printed.
[[gnu::format(printf, 2, 3)]] void Appendf(std::string& text, const char* format, ...);

// text with every byte sequence that is not UTF-8 replaced by U+FFFD, so
// that a JSON or XML reader takes it (names may hold any bytes).
std::string ValidUtf8(const std::string& text);
