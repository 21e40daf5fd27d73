#pragma once
// The captured machine trees under tests/sysinfo/fixtures, and what a report
// printed from them gives.

#include "CaptureOutput.h"
#include "WinTypes.h"

#include <cstdio>
#include <functional>
#include <string>

inline std::string Fixture(const char* name)
{
    return std::string(QUORVEX_SYSINFO_FIXTURES "/") + name;
}

struct PrintedReport {
    BOOL result = FALSE;
    std::string console;
    std::string log;
};

// What a report printer wrote to the console and to its log file.
inline PrintedReport PrintReport(const std::function<BOOL(FILE*)>& print)
{
    FILE* log = std::tmpfile();
    PrintedReport printed;
    printed.console = CaptureStdout([&] { printed.result = print(log); });
    std::rewind(log);
    for (int c; (c = std::fgetc(log)) != EOF;)
        printed.log += static_cast<char>(c);
    std::fclose(log);
    return printed;
}
