#pragma once
// Runs a program as a user would from a shell, and collects what it wrote.

#include <map>
#include <optional>
#include <string>
#include <vector>

struct ProgramResult {
    std::string out;
    std::string err;
    int exitCode = -1;   // -1 when it did not exit normally
};

struct ProgramOptions {
    std::string input;                                        // all that standard input holds
    bool silentInputPipe = false;                             // instead: a pipe kept open and empty
    std::map<std::string, std::optional<std::string>> env;    // nullopt removes a variable
    std::string workingDirectory;                             // empty: the test's own
    int timeoutSeconds = 120;
    bool closeStdout = false;                                 // start with standard output closed
    bool newSession = false;                                  // no controlling terminal
};

// A program named without a slash is looked for along PATH.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const ProgramOptions& options = {});

// The number after "key": at or after from in a JSON text a program wrote; -1 when there is none.
double Number(const std::string& json, const std::string& key, std::size_t from = 0);
