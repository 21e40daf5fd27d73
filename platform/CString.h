#pragma once
// A text value with the operations the program uses: printf-style formatting
// (every quoted format goes through the C printf family), searching, cutting.

#include <string>

class CString {
public:
    CString() = default;
    CString(const char* text) : m_text(text ? text : "") {}
    CString(std::string text) : m_text(std::move(text)) {}

    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void AppendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));

    int GetLength() const { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    const char* GetString() const { return m_text.c_str(); }
    operator const char*() const { return m_text.c_str(); }
    const std::string& str() const { return m_text; }

    // Positions are 0-based; -1 means "not found".
    int Find(const char* sub, int start = 0) const;
    int Find(char c, int start = 0) const;
    int ReverseFind(char c) const;
    CString Left(int count) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    int Delete(int index, int count = 1);
    CString& TrimLeft();   // removes leading white space
    CString& TrimRight();  // removes trailing white space

    CString& operator+=(const CString& other) { m_text += other.m_text; return *this; }
    CString& operator+=(const char* other) { m_text += other; return *this; }
    CString& operator+=(char c) { m_text += c; return *this; }

    friend CString operator+(const CString& a, const CString& b) { return CString(a.m_text + b.m_text); }
    friend CString operator+(const CString& a, const char* b) { return CString(a.m_text + b); }
    friend bool operator==(const CString& a, const CString& b) { return a.m_text == b.m_text; }
    friend bool operator==(const CString& a, const char* b) { return a.m_text == b; }

private:
    std::string m_text;
};
