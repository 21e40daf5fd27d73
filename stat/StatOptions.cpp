#include "StatOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <getopt.h>

namespace {

enum LongOnly { JSON = 256, CSV, SVG, NO_INHERIT, FAIL_IF, COMPARE, TRACE, STRETCHES, CHECK };

const option LONG_OPTIONS[] = {
    {"children", no_argument, nullptr, 'c'},   {"timeout", required_argument, nullptr, 't'},
    {"interval", required_argument, nullptr, 'i'}, {"output", required_argument, nullptr, 'o'},
    {"json", required_argument, nullptr, JSON}, {"csv", required_argument, nullptr, CSV},
    {"svg", required_argument, nullptr, SVG},   {"pid", required_argument, nullptr, 'p'},
    {"no-inherit", no_argument, nullptr, NO_INHERIT},
    {"stretches", required_argument, nullptr, STRETCHES},
    {"help", no_argument, nullptr, 'h'},        {"version", no_argument, nullptr, 'V'},
    {"repeat", required_argument, nullptr, 'r'}, {"fail-if", required_argument, nullptr, FAIL_IF},
    {"compare", required_argument, nullptr, COMPARE}, {"trace", required_argument, nullptr, TRACE},
    {"check", no_argument, nullptr, CHECK},
    {nullptr, 0, nullptr, 0},
};

// "+": stop at the command; ":": report a missing argument as ':'.
constexpr const char* SHORT_OPTIONS = "+:ct:i:o:p:r:hV";
constexpr long MAX_REPEAT = 10'000;

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
    return *text != '\0' && *end == '\0' && value > 0 && value <= MAX_TIMEOUT_SECONDS;
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
        case NO_INHERIT: options.followChildren = false; break;
        case 't':
            if (!ParseSeconds(optarg, options.timeoutSeconds))
                return Fail(std::string("invalid timeout '") + optarg + "': seconds greater than 0, at most 1e10");
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
        case STRETCHES:
            if (!ParseWhole(optarg, 10'000, whole))
                return Fail(std::string("invalid number of stretches '") + optarg + "': from 1 to 10000");
            options.stretches = static_cast<std::size_t>(whole);
            break;
        case 'p':
            if (!ParseWhole(optarg, 4'194'304, whole))
                return Fail(std::string("invalid process id '") + optarg + "'");
            options.attachPid = static_cast<int>(whole);
            break;
        case 'r':
            if (!ParseWhole(optarg, MAX_REPEAT, whole))
                return Fail(std::string("invalid repeat count '") + optarg + "': from 1 to 10000");
            options.repeat = static_cast<int>(whole);
            break;
        case FAIL_IF: {
            std::string error;
            if (!ParseCondition(optarg, options.failIf.emplace_back(), error))
                return Fail(error);
            break;
        }
        case COMPARE: options.compareFile = optarg; break;
        case TRACE: options.traceFile = optarg; break;
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
    if (options.attachPid && options.repeat > 1)
        return Fail("-r repeats a command; it cannot repeat -p PID");
    return parsed;
}

std::string UsageText()
{
    return "Usage: quorvex-stat [options] [--] command [args...]\n"
           "       quorvex-stat [options] -p PID\n"
           "Run a command (once, or -r N times) and report exactly how many of its threads\n"
           "were on a processor at once over its whole life, from the kernel's\n"
           "context-switch records.\n"
           "\n"
           "      --no-inherit      count only the command's own process, not the\n"
           "                        processes it starts (counted by default)\n"
           "  -c, --children        count every descendant process (the default)\n"
           "  -t, --timeout SECONDS end the command's process group after SECONDS\n"
           "                        (SIGTERM, then SIGKILL 2 s later)\n"
           "  -i, --interval MS     window for the CPU minimum and maximum, the CSV and the\n"
           "                        SVG timeline (default 100)\n"
           "  -o, --output FILE     write the report to FILE instead of standard error\n"
           "      --json FILE       write the figures as JSON\n"
           "      --csv FILE        write the timeline, one row per interval\n"
           "      --svg FILE        draw the timeline\n"
           "      --stretches N     show the N longest serial stretches (default 5)\n"
           "  -p, --pid PID         attach to a running process until it exits or Ctrl-C\n"
           "  -r, --repeat N        run the command N times; each figure as its mean,\n"
           "                        standard deviation and range (stops at a failing run)\n"
           "      --fail-if EXPR    exit with 123 when EXPR holds for the figures, e.g.\n"
           "                        'parallel_time<40' (repeatable; KEY OP NUMBER, OP one of\n"
           "                        < <= > >= == !=; KEY one of elapsed_ms cpu_avg cpu_min\n"
           "                        cpu_max parallel_time average_concurrency threads\n"
           "                        processes lost_records level_N)\n"
           "      --compare FILE    compare the figures with an earlier --json FILE\n"
           "      --trace FILE      write the run as trace events for Perfetto and the like\n"
           "      --check           say which source a run would use here, and why; exit 0\n"
           "                        when its figures would be exact, 1 when not\n"
           "  -h, --help            show this help and exit\n"
           "  -V, --version         show the version and exit\n"
           "\n"
           "Exit status: the command's (128 + the signal number when a signal ended it);\n"
           "125 when quorvex-stat itself fails (a bad option, an output it cannot write)\n"
           "and the command succeeded, 126 when the command cannot be executed, 127 when\n"
           "it is not found; 123 when the command succeeded and a --fail-if condition\n"
           "holds. With -r: the first failing run's, else the last's.\n";
}

std::string VersionText()
{
    return "quorvex-stat " QUORVEX_VERSION "\n";
}
