#pragma once
// A log file written during a run. A write or close that fails is remembered,
// so that the run can tell the user that the log is incomplete.

#include "CString.h"

#include <cstdio>

class LogFile {
public:
    LogFile() = default;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile();

    // Creates the file, or empties it if it exists.
    bool Open(const char* path);
    bool IsOpen() const { return m_file != nullptr; }
    void Write(const CString& text);
    // Closes the file if it is open; false when anything written was lost.
    bool Close();

private:
    std::FILE* m_file = nullptr;
    bool m_failed = false;
};
