#include "StatOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <getopt.h>

namespace {

enum LongOnly { JSON = 256, CSV, SVG, CHECK };

const option LONG_OPTIONS[] = {
    {"children", no_argument, nullptr, 'c'},   {"timeout", required_argument, nullptr, 't'},
    {"interval", required_argument, nullptr, 'i'}, {"output", required_argument, nullptr, 'o'},
    {"json", required_argument, nullptr, JSON}, {"csv", required_argument, nullptr, CSV},
    {"svg", required_argument, nullptr, SVG},   {"pid", required_argument, nullptr, 'p'},
    {"check", no_argument, nullptr, CHECK},    {"help", no_argument, nullptr, 'h'},        {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// "+": stop at the command; ":": report a missing argument as ':'.
constexpr const char* SHORT_OPTIONS = "+:ct:i:o:p:hV";

bool ParseWhole(const char* text, long max, long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return *text != '\0' && *end == '\0' && errno == 0 && value >= 1 && value <= max;
}

bool ParseSeconds(const char* text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text, &end);
    return *text != '\0' && *end == '\0' && std::isfinite(value) && value > 0;
}

ParsedCommandLine Fail(std::string error)
{
    ParsedCommandLine parsed;
    parsed.action = ParsedCommandLine::Action::Fail;
    parsed.error = std::move(error);
    return parsed;
}

// The option as it was written: "--interval" or "-i" (which may stand in "-ci").
std::string OptionName(int option, const char* word)
{
    return std::string(word).starts_with("--") ? word : std::string("-") + static_cast<char>(option);
}

} // namespace

ParsedCommandLine ParseStatCommandLine(int argc, char* const argv[])
{
    ParsedCommandLine parsed;
    StatOptions& options = parsed.options;
    opterr = 0;
    optind = 0;  // glibc: start afresh, for a second parse in the same process
    for (int option; (option = getopt_long(argc, argv, SHORT_OPTIONS, LONG_OPTIONS, nullptr)) != -1;) {
        long whole = 0;
        switch (option) {
        case 'c': options.followChildren = true; break;
        case 't':
            if (!ParseSeconds(optarg, options.timeoutSeconds))
                return Fail(std::string("invalid timeout '") + optarg + "': seconds greater than 0");
            break;
        case 'i':
            if (!ParseWhole(optarg, 3'600'000, whole))
                return Fail(std::string("invalid interval '") + optarg + "': milliseconds from 1 to 3600000");
            options.intervalMs = static_cast<int>(whole);
            break;
        case 'o': options.outputFile = optarg; break;
        case JSON: options.jsonFile = optarg; break;
        case CSV: options.csvFile = optarg; break;
        case SVG: options.svgFile = optarg; break;
        case 'p':
            if (!ParseWhole(optarg, 4'194'304, whole))
                return Fail(std::string("invalid process id '") + optarg + "'");
            options.attachPid = static_cast<int>(whole);
            break;
        case CHECK: parsed.action = ParsedCommandLine::Action::Check; return parsed;
        case 'h': parsed.action = ParsedCommandLine::Action::Help; return parsed;
        case 'V': parsed.action = ParsedCommandLine::Action::Version; return parsed;
        case ':': return Fail("option '" + OptionName(optopt, argv[optind - 1]) + "' requires an argument");
        default:
            return Fail(optopt ? std::string("invalid option -- '") + static_cast<char>(optopt) + "'"
                               : "unrecognized option '" + std::string(argv[optind - 1]) + "'");
        }
    }
    options.command.assign(argv + optind, argv + argc);
    if (options.attachPid && !options.command.empty())
        return Fail("give either a command or -p PID, not both");
    if (!options.attachPid && options.command.empty())
        return Fail("no command given");
    return parsed;
}

std::string UsageText()
{
    return "Usage: quorvex-stat [options] [--] command [args...]\n"
           "       quorvex-stat [options] -p PID\n"
           "Run a command once and report exactly how many of its threads were on a\n"
           "processor at once over its whole life, from the kernel's context-switch records.\n"
           "\n"
           "  -c, --children        count the threads of every descendant process too\n"
           "  -t, --timeout SECONDS end the command after SECONDS (SIGTERM, then SIGKILL)\n"
           "  -i, --interval MS     window for the CPU minimum and maximum, the CSV and the\n"
           "                        SVG timeline (default 100)\n"
           "  -o, --output FILE     write the report to FILE instead of standard error\n"
           "      --json FILE       write the figures as JSON\n"
           "      --csv FILE        write the timeline, one row per interval\n"
           "      --svg FILE        draw the timeline\n"
           "  -p, --pid PID         attach to a running process until it exits or Ctrl-C\n"
           "      --check           say which source a run would use here, and why; exit 0\n"
           "                        when its figures would be exact, 1 when not\n"
           "  -h, --help            show this help and exit\n"
           "  -V, --version         show the version and exit\n"
           "\n"
           "Exit status: the command's (128 + the signal number when a signal ended it);\n"
           "125 when quorvex-stat itself fails (a bad option), 126 when the command cannot\n"
           "be executed, 127 when it is not found.\n";
}

std::string VersionText()
{
    return "quorvex-stat " QUORVEX_VERSION "\n";
}
