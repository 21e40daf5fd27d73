#include "LogFile.h"

LogFile::~LogFile()
{
    Close();
}

bool LogFile::Open(const char* path)
{
    m_file = std::fopen(path, "w+");
    m_failed = false;
    return m_file != nullptr;
}

void LogFile::Write(const CString& text)
{
    if (m_file && std::fputs(text.GetString(), m_file) == EOF)
        m_failed = true;
}

bool LogFile::Close()
{
    if (m_file) {
        if (std::ferror(m_file) || std::fclose(m_file) != 0)
            m_failed = true;
        m_file = nullptr;
    }
    return !m_failed;
}
