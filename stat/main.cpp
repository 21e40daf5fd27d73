// quorvex-stat: runs a command once and reports exactly how parallel it was.

#include "Outputs.h"
#include "ProcSampler.h"
#include "RecordsAccess.h"
#include "Session.h"
#include "StatOptions.h"

#include <csignal>
#include <cstdio>

int main(int argc, char* argv[])
{
    HoldStandardDescriptors();
    // A closed reader of standard error or of an output is said as an
    // error of that output; the command's status still stands.
    std::signal(SIGPIPE, SIG_IGN);
    const ParsedCommandLine parsed = ParseStatCommandLine(argc, argv);
    switch (parsed.action) {
    case ParsedCommandLine::Action::Help:
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    case ParsedCommandLine::Action::Version:
        std::fputs(VersionText().c_str(), stdout);
        return 0;
    case ParsedCommandLine::Action::Check: {
        bool exact = false;
        std::fputs(CheckText(ProbeRecordsAccess(), ProcReadMs(parsed.options.intervalMs), exact).c_str(), stdout);
        return exact ? 0 : 1;
    }
    case ParsedCommandLine::Action::Fail:
        std::fprintf(stderr, "quorvex-stat: %s\nTry 'quorvex-stat --help' for more information.\n",
                     parsed.error.c_str());
        return EXIT_USAGE;
    case ParsedCommandLine::Action::Measure:
        break;
    }
    Compared baseline;
    if (!ReadBaseline(parsed.options, baseline))
        return EXIT_USAGE;
    OutputFiles outputs;
    std::string error;
    if (!outputs.Check(parsed.options, error)) {
        std::fprintf(stderr, "quorvex-stat: %s\n", error.c_str());
        return EXIT_USAGE;
    }
    return MeasureSession(parsed.options, baseline, outputs);
}
