#include "ConsoleText.h"

std::string SystemReportPattern()
{
    return "\n---- System Detection ----"
           "\nTotal Sockets: [0-9]+\nTotal Cores: [0-9]+\nTotal Logicals: [0-9]+"
           "\nMulti-processor: (Yes|No)\nMulti-core: (Yes|No|)\nTwinlane: (Enabled|Disabled|Not capable|)"
           "\nComputername: [^\n]+\n"
           "System information:\n  OEM ID: [0-9]+\n  Processor Architecture:[^\n]+\n(  Processor Level: [0-9]+\n)?"
           "  Processor type: [0-9]+\n  Page size: [0-9]+\n"
           "Hardware Profile:\n  DockInfo: 1\n  Profile Guid: \\{[0-9a-fA-F-]{36}\\}\n  Friendly Name: [^\n]+\n"
           "(CPU Frequency \\(MHz\\): [0-9]+\n)?";
}

std::string ApplicationReportPattern(const std::string& name, const std::string& params, const std::string& interval,
                                     const ReportValues& v)
{
    return RegexLiteral("\n---- Application Detection ----\nApplication Name:" + name + "\nApplication Parameters:" +
                        params + "\nSampling interval (msec):" + interval + "\nCPU Utilization (percentage)") +
           "\n\t          Min:" + v.cpu + " Avg:" + v.cpu + " Max:" + v.cpu + "\nNumber of Threads:\n\t          Min:" +
           v.threadsMin + "   Avg:" + v.threads + "   Max:" + v.threads + "   \nElapsed Time \\(ms\\): " + v.elapsed +
           "\nNumber of Samples: " + v.samples;
}

std::string RegexLiteral(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos)
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}
