#pragma once
// quorvex-stat's command line, read the way getopt_long reads it: options
// end at the first word that is not one (or at "--"), so the command keeps
// its own options.

#include "Gate.h"

#include <cstddef>
#include <string>
#include <vector>

// GNU's convention for programs that run a command (env, nice, timeout):
// their own failures exit with 125, which no common command status uses.
constexpr int EXIT_USAGE = 125;
constexpr int EXIT_CANNOT_EXECUTE = 126;
constexpr int EXIT_NOT_FOUND = 127;

// The longest timeout: its nanoseconds still fit the clock's 64 bits.
constexpr double MAX_TIMEOUT_SECONDS = 1e10;

struct StatOptions {
    bool followChildren = true;  // false with --no-inherit: the command's own process only
    double timeoutSeconds = 0;  // 0: none
    int intervalMs = 100;
    std::size_t stretches = 5;  // the longest serial stretches shown
    std::string outputFile;  // the human report; "" for standard error
    std::string jsonFile;
    std::string csvFile;
    std::string svgFile;
    int attachPid = 0;
    std::vector<std::string> command;
    int repeat = 1;                  // -r: runs of the command
    std::vector<Condition> failIf;   // any that holds fails the run
    std::string compareFile;         // an earlier JSON report to compare with
    std::string traceFile;           // trace events for a trace viewer
};

struct ParsedCommandLine {
    enum class Action { Measure, Help, Version, Check, Fail } action = Action::Measure;
    StatOptions options;
    std::string error;  // for Fail: the message, without the program's name
};

ParsedCommandLine ParseStatCommandLine(int argc, char* const argv[]);

std::string UsageText();
std::string VersionText();
