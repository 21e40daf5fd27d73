#include "ConsoleText.h"

std::string SystemReportPattern()
{
    return "\n---- System Detection ----"
           "\nTotal Sockets: [0-9]+\nTotal Cores: [0-9]+\nTotal Logicals: [0-9]+"
           "\nMulti-processor: (Yes|No)\nMulti-core: (Yes|No|)\nTwinlane: (Enabled|Disabled|Not capable|)"
           "(\nComputername: [^\n]*\n)?"
           "System information:\n  OEM ID: [0-9]+\n  Processor Architecture:[^\n]+\n(  Processor Level: [0-9]+\n)?"
           "  Processor type: [0-9]+\n  Page size: [0-9]+\n"
           "Hardware Profile:\n  DockInfo: 1\n  Profile Guid: \\{[0-9a-fA-F-]{36}\\}\n  Friendly Name: [^\n]+\n"
           "(CPU Frequency \\(MHz\\): [0-9]+\n)?";
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
