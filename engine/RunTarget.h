#pragma once
// A started target, owned: it is ended and its handles closed when the
// owner lets go of it, however the run ends.

#include "Process.h"

#include <cstdint>
#include <optional>
#include <string>

class RunTarget {
public:
    RunTarget() = default;
    RunTarget(const RunTarget&) = delete;
    RunTarget& operator=(const RunTarget&) = delete;
    ~RunTarget() { End(); }

    // The command line is the path, one blank, then the arguments: the path
    // goes unquoted, and the blank is there even without arguments.
    bool Start(const std::string& appPath, const std::string& arguments);
    bool Started() const { return m_process.hProcess != nullptr; }
    HANDLE Process() const { return m_process.hProcess; }
    // What it was last started with.
    const std::string& Arguments() const { return m_arguments; }
    // From its start to its exit, or to now while it runs; unknown when
    // nothing was started.
    std::optional<std::uint64_t> LifetimeMs() const;
    // Ends the process if it still runs and closes its handles.
    void End();

private:
    PROCESS_INFORMATION m_process = {};
    std::string m_arguments;
};
