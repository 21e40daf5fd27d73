#pragma once
// What the engine's tests share: recorded message boxes, a scratch folder
// with a target program, and what a finished run must have left behind.

#include "ChildProcesses.h"
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
