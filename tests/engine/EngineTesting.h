#pragma once
// What the engine's tests share: recorded message boxes, a scratch folder
// with a target program, and what a finished run must have left behind.

#include "ChildProcesses.h"
#include "ProcCounterService.h"
#include "QuorvexDlg.h"
#include "ScratchFolder.h"

#include <string>
#include <vector>

struct Box {
    std::string text;
    std::string caption;
    bool operator==(const Box&) const = default;
};
void PrintTo(const Box& box, std::ostream* os);

class RecordedBoxes {
public:
    RecordedBoxes();
    ~RecordedBoxes();
    std::vector<Box> boxes;
};

// A dialog as the console run leaves it before CollectData.
void SetUpConsoleRun(CQuorvexDlg& dialog, const std::string& appPath, const std::string& params,
                     const std::string& samplingRate, const std::string& duration);

// The counter service's notices of where thread states come from.
extern const std::string EXACT_NOTICE;
std::string ProcNotice(const std::string& why);

// While it lives, the counter service is one of the test's own, which keeps
// its notices.
class RecordedNotices {
public:
    RecordedNotices();
    ~RecordedNotices();

    std::vector<std::string> lines;

private:
    ProcCounterService m_service;
};

// While it lives, targets are started for the /proc estimate.
class ForcedProc {
public:
    ForcedProc();
    ~ForcedProc();
    ForcedProc(const ForcedProc&) = delete;
    ForcedProc& operator=(const ForcedProc&) = delete;
};
