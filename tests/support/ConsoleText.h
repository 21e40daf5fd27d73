#pragma once
// Expected console text of the program, for tests of the built binary.

#include <string>

// Inline, so that constants of a test built from them are initialised after them.
inline const std::string kBanner = "Quorvex 1.0\n\n";
inline const std::string kPrompt = "\n\nPress Enter key to exit... ";
inline const std::string kUsage =
    "Usage: Quorvex.exe [-h] [-n sampling] [-f [logname]] -app appname [params] \n"
    "where:\n\n"
    "-h                    Command line usage.\n"
    "-n sampling           Sampling interval in msec (optional),\n"
    "\t              Default value is 100. Valid entry is 1, 10, 100 or 1000.\n"
    "-l logfile            Generate a log file (optional). Default log file named\n"
    "                      Quorvex_Log.txt . Optional argument is logname. \n"
    "-app appname params   Run the application with optional parameters.\n";
inline const std::string kInvalidInstruction = "\nInvalid instruction...\n" + kUsage;
inline const std::string kInvalidSampling = "\nInvalid parameter: entry must be either 1, 10, 100 or 1000\n" + kUsage;

// A regular expression (ECMAScript) for the system report of this machine,
// whatever its measured values.
std::string SystemReportPattern();

// A regular expression for the application report: the name, parameters and
// interval as text, the values as patterns (empty for values not filled).
struct ReportValues {
    std::string cpu;
    std::string threads;
    std::string elapsed;
    std::string samples;
    std::string threadsMin = threads;
};
std::string ApplicationReportPattern(const std::string& name, const std::string& params, const std::string& interval,
                                     const ReportValues& values = {});

// Escapes text for use inside a regular expression.
std::string RegexLiteral(const std::string& text);
