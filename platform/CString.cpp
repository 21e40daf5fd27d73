#include "CString.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

bool IsWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One pass into a buffer on the stack for the usual short texts (a sampler
// at 1 ms formats hundreds of fields a sample); a second only when it is
// too small.
std::string VFormat(const char* format, va_list args)
{
    char shortText[256];
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(shortText, sizeof shortText, format, args);
    std::string text;
    if (length > 0 && static_cast<size_t>(length) < sizeof shortText) {
        text.assign(shortText, static_cast<size_t>(length));
    } else if (length > 0) {
        text.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<size_t>(length));
    }
    va_end(again);
    return text;
}

int Position(size_t pos)
{
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

} // namespace

void CString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    m_text = VFormat(format, args);
    va_end(args);
}

void CString::AppendFormat(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    m_text += VFormat(format, args);
    va_end(args);
}

int CString::Find(const char* sub, int start) const
{
    return Position(m_text.find(sub, static_cast<size_t>(std::max(start, 0))));
}

int CString::Find(char c, int start) const
{
    return Position(m_text.find(c, static_cast<size_t>(std::max(start, 0))));
}

int CString::ReverseFind(char c) const
{
    return Position(m_text.rfind(c));
}

CString CString::Left(int count) const
{
    return CString(m_text.substr(0, static_cast<size_t>(std::clamp(count, 0, GetLength()))));
}

CString CString::Mid(int first) const
{
    return Mid(first, GetLength());
}

CString CString::Mid(int first, int count) const
{
    first = std::clamp(first, 0, GetLength());
    return CString(m_text.substr(static_cast<size_t>(first), static_cast<size_t>(std::max(count, 0))));
}

int CString::Delete(int index, int count)
{
    if (index >= 0 && index < GetLength() && count > 0)
        m_text.erase(static_cast<size_t>(index), static_cast<size_t>(count));
    return GetLength();
}

CString& CString::TrimLeft()
{
    m_text.erase(m_text.begin(), std::find_if_not(m_text.begin(), m_text.end(), IsWhiteSpace));
    return *this;
}

CString& CString::TrimRight()
{
    m_text.erase(std::find_if_not(m_text.rbegin(), m_text.rend(), IsWhiteSpace).base(), m_text.end());
    return *this;
}
