#pragma once
// Where a run's outputs go: opened before the command starts, so that a
// file that cannot be written costs no run, and written once it has ended.

#include "Profile.h"
#include "StatOptions.h"
#include "Summary.h"

#include <cstdio>
#include <memory>
#include <string>

class OutputFiles {
public:
    // False, with "cannot write 'FILE': reason" in error, when one cannot be
    // created. The report goes to reportDefault without -o.
    bool Open(const StatOptions& options, std::FILE* reportDefault, std::string& error);
    void Write(const Profile& profile, const RunFacts& facts) const;

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    using File = std::unique_ptr<std::FILE, Closer>;

    std::FILE* m_report = nullptr;
    File m_reportFile, m_json, m_csv, m_svg;
    File m_trace;
};

// How a shell reports a command that ended with this wait status: its exit
// code, or 128 + the signal (then also given in *signal, else 0).
int ShellStatus(int waitStatus, int& signal);

// A command that could not be started, in the shell's words and status.
struct StartFailure {
    int status;           // 127 not found, 126 found but not executable
    std::string message;  // "quorvex-stat: xz2: command not found"
};
// error: the errno of the exec, or 0 when PATH holds no such name.
StartFailure DescribeStartFailure(const std::string& name, int error);
