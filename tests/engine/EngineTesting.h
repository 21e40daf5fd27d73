#pragma once
// What the engine's tests share: recorded message boxes, scratch folders,
// the dialog of a console run, and where thread states come from.

#include "ChildProcesses.h"
#include "DialogDriver.h"
#include "ProcCounterService.h"
#include "QuorvexDlg.h"
#include "ScratchFolder.h"

#include <cstdlib>
#include <string>
#include <vector>

// The boxes shown, each as "[title] text".
std::vector<std::string> BoxTexts(const RecordedBoxes& recorded);

// A dialog as the console run leaves it before CollectData.
void SetUpConsoleRun(CQuorvexDlg& dialog, const std::string& appPath, const std::string& params,
                     const std::string& samplingRate, const std::string& duration);

// Counter paths of a process, and of one of its threads by its index.
inline std::string ProcessPath(const std::string& instance, const char* counter)
{
    return "\\Process(" + instance + ")\\" + counter;
}
inline std::string ThreadPath(const std::string& instance, int thread, const char* counter)
{
    return "\\Thread(" + instance + "/" + std::to_string(thread) + ")\\" + counter;
}

// The counter service's notices of where thread states come from.
extern const std::string EXACT_NOTICE;
std::string ProcNotice(const std::string& why);

// While it lives, the counter service is one of the test's own, which keeps
// its notices.
class RecordedNotices {
public:
    RecordedNotices() { SetCounterService(&m_service); }
    ~RecordedNotices() { SetCounterService(nullptr); }

    std::vector<std::string> lines;

private:
    ProcCounterService m_service{[this](const std::string& line) { lines.push_back(line); }};
};

// While it lives, targets are started for the /proc estimate.
struct ForcedProc {
    ForcedProc() { setenv("QUORVEX_THREAD_STATES", "proc", 1); }
    ~ForcedProc() { unsetenv("QUORVEX_THREAD_STATES"); }
    ForcedProc(const ForcedProc&) = delete;
    ForcedProc& operator=(const ForcedProc&) = delete;
};
