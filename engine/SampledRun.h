#pragma once
// One whole measurement of a target: a probe run that finds how many threads
// it uses, then the sampled run. Plain values in, numbers out; the front ends
// (the dialog, the console) show them and answer the run's questions through
// a RunObserver. No window is needed: the run dispatches nothing itself.

#include "Pdh.h"
#include "RunResults.h"
#include "SummaryLog.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

struct RunSettings {
    std::string appPath;      // the program, unquoted, first on the command line
    std::string processName;  // the instance name the counters are added under
    std::chrono::milliseconds interval{100};
    std::chrono::seconds duration{30};
    std::string logFolder{};  // where the logs go when logging is on
    MachineTexts machine{};   // the processor texts the summary block shows
};

// What the run's controls say at the moment the run asks. In the dialog they
// change while the run dispatches its messages; the console's never change.
struct RunControls {
    bool cancel = false;
    bool manualCapture = false;
    bool capturing = false;
    bool captureStopped = false;
    bool logging = false;
};

class RunObserver {
public:
    virtual ~RunObserver() = default;
    // The flow's message boxes, each with an OK button.
    virtual void ShowBox(const char* text, const char* title) = 0;
    virtual RunControls Controls() = 0;
    // The target's arguments, read just before each start.
    virtual std::string TargetArguments() = 0;
    // After every sample: the user's clicks reach the run here.
    virtual void SampleTaken(int samples) = 0;
    // Until the capture window opens or the run is cancelled.
    virtual void WaitForCaptureWindow() = 0;
    // The probe ends with its capture window open: close it, so that the
    // measured run waits for a window of its own.
    virtual void CloseProbeCaptureWindow() = 0;
};

enum class RunEnd {
    Abandoned,        // the probe failed or a thread counter could not be added: nothing was measured
    DurationElapsed,
    Cancelled,
    CaptureStopped,
    Other,            // the target ended, a value could not be read, or the run failed before sampling
};

struct RunResult {
    RunEnd end = RunEnd::Other;
    int samples = 0;
    // Only from MINIMUM_SAMPLES samples on.
    std::optional<RunStatistics> statistics;
    // Unknown when the target's times could not be read.
    std::optional<std::uint32_t> elapsedMs;
    PDH_STATUS status = ERROR_SUCCESS;  // the last counter status
};

RunResult RunSampled(const RunSettings& settings, RunObserver& observer, CounterService& counters);
