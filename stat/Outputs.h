#pragma once
// Where a run's outputs go. Each is checked before the command starts, so
// that a file that cannot be written costs no run, and written once it has
// ended: completely or not at all. A file is written beside its target and
// renamed over it only when whole; a FIFO, a device or standard output
// ("-") is written directly.

#include "Profile.h"
#include "StatOptions.h"
#include "Summary.h"

#include <string>
#include <vector>

class OutputFiles {
public:
    // False, with the one line to say in error, when two options name one
    // file or one cannot be written.
    bool Check(const StatOptions& options, std::string& error);
    // Writes every output; each that fails is said in one line on standard
    // error ("cannot write 'FILE': reason"). False when one failed. The
    // report on standard error is best effort: where it cannot go, nothing
    // can be said.
    bool Write(const Profile& profile, const RunFacts& facts) const;

private:
    struct Output {
        std::string option;  // "--json"
        std::string path;    // "" for standard error
        std::string (*text)(const Profile&, const Summary&, const RunFacts&);
    };
    std::vector<Output> m_outputs;
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

// Descriptors 0, 1 and 2 are held open (on /dev/null, closed on exec) when
// this program was started without them, so that no file it opens takes
// their place and receives what is meant for them.
void HoldStandardDescriptors();
