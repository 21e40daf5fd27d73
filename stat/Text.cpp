#include "Text.h"

#include <cstdarg>
#include <cstdio>

void Appendf(std::string& text, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length > 0) {
        const std::size_t at = text.size();
        text.resize(at + static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data() + at, static_cast<std::size_t>(length) + 1, format, again);
        text.resize(at + static_cast<std::size_t>(length));
    }
    va_end(again);
}

namespace {

// The length of the UTF-8 sequence at text[at], or 0 when it is not one
// (overlong forms, surrogates and code points past U+10FFFF included).
std::size_t SequenceLength(const std::string& text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    const std::size_t length = lead >= 0xc2 && lead <= 0xdf ? 2 : lead >= 0xe0 && lead <= 0xef ? 3
                             : lead >= 0xf0 && lead <= 0xf4                                  ? 4
                                                                                               : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(i) & 0xc0) != 0x80)
            return 0;
    const bool tooLow = (lead == 0xe0 && byte(1) < 0xa0) || (lead == 0xf0 && byte(1) < 0x90);
    const bool tooHigh = (lead == 0xed && byte(1) >= 0xa0) || (lead == 0xf4 && byte(1) >= 0x90);
    return tooLow || tooHigh ? 0 : length;
}

} // namespace

std::string ValidUtf8(const std::string& text)
{
    std::string valid;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = SequenceLength(text, at);
        valid += length ? text.substr(at, length) : "\xef\xbf\xbd";
        at += length ? length : 1;
    }
    return valid;
}
