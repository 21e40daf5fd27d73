#pragma once
// What the engine's tests share: an observer that records what a run asks
// and shows, counter paths, and where thread states come from.

#include "ChildProcesses.h"
#include "ProcCounterService.h"
#include "SampledRun.h"
#include "ScratchFolder.h"
#include "ScriptedCounters.h"

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Answers a run as a front end would, from controls a test sets, and keeps
// every box the run shows as "[title] text".
class RecordingObserver : public RunObserver {
public:
    std::vector<std::string> boxes;
    RunControls controls;
    std::string arguments;
    // Runs after each sample, as a click dispatched by the run would.
    std::function<void(int samples)> afterSample;
    int captureWaits = 0;

    void ShowBox(const char* text, const char* title) override { boxes.push_back(std::string("[") + title + "] " + text); }
    RunControls Controls() override { return controls; }
    std::string TargetArguments() override { return arguments; }
    void SampleTaken(int samples) override
    {
        if (afterSample)
            afterSample(samples);
    }
    void WaitForCaptureWindow() override
    {
        // START CAPTURE opens the window.
        ++captureWaits;
        controls.capturing = true;
        controls.captureStopped = false;
    }
    void CloseProbeCaptureWindow() override
    {
        controls.capturing = false;
        controls.captureStopped = true;
    }
};

// The figures in one line: cpu min/avg/max, threads min/avg/max, parallel
// time, then per thread its time, min, avg, max, then each listed level;
// "none" without figures.
std::string Figures(const std::optional<RunStatistics>& statistics);

// The counter service's notices of where thread states come from.
extern const std::string EXACT_NOTICE;
std::string ProcNotice(const std::string& why);

// A kernel counter service that keeps its notices.
struct RecordedNotices {
    std::vector<std::string> lines;
    ProcCounterService service{[this](const std::string& line) { lines.push_back(line); }};
};

// While it lives, targets are started for the /proc estimate.
struct ForcedProc {
    ForcedProc() { setenv("QUORVEX_THREAD_STATES", "proc", 1); }
    ~ForcedProc() { unsetenv("QUORVEX_THREAD_STATES"); }
    ForcedProc(const ForcedProc&) = delete;
    ForcedProc& operator=(const ForcedProc&) = delete;
};
